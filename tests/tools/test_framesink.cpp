// PNG encoding, the PNG folder and the ffmpeg pipe of the recorder.
#include "framesink.h"
#include "recordfiles.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The pixels of a PNG file as another decoder (ImageMagick) reads them: RGB, rows from the top.
std::string DecodeElsewhere(const fs::path& Png) {
    return CommandOutput("convert '" + Png.string() + "' -depth 8 rgb:-");
}

std::vector<uint8_t> Noise(size_t Count, unsigned Seed) {
    std::mt19937 Generator(Seed);
    std::vector<uint8_t> Bytes(Count);
    for (auto& Byte : Bytes) Byte = static_cast<uint8_t>(Generator());
    return Bytes;
}

using FrameSink = ScratchTest;

TEST_F(FrameSink, PngFilesDecodeToTheFramesPixels) {
    struct TSize {
        int32_t Width, Height;
    } Sizes[] = {{1, 1}, {2, 3}, {17, 5}, {64, 36}};
    for (const TSize& Size : Sizes) {
        const auto Rgb =
            Noise(static_cast<size_t>(Size.Width * Size.Height * 3), static_cast<unsigned>(Size.Width));
        std::string Problem;
        auto Sink = OpenPngFolder((Directory / "png").string(), Size.Width, Size.Height, Problem);
        ASSERT_TRUE(Sink) << Problem;
        ASSERT_TRUE(Sink->Write(Rgb.data(), Problem)) << Problem;
        ASSERT_TRUE(Sink->Finish(Problem));
        EXPECT_EQ(DecodeElsewhere(Directory / "png" / "frame-000000.png"), std::string(Rgb.begin(), Rgb.end()))
            << Size.Width << " x " << Size.Height;
    }
}

TEST_F(FrameSink, PngFolderNumbersTheFramesAndLeavesNoPartialFiles) {
    std::string Problem;
    const fs::path Nested = Directory / "a" / "b";
    auto Sink = OpenPngFolder(Nested.string(), 4, 4, Problem);
    ASSERT_TRUE(Sink) << Problem;
    const auto Rgb = Noise(48, 1);
    for (int I = 0; I < 3; I++) ASSERT_TRUE(Sink->Write(Rgb.data(), Problem)) << Problem;
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Nested))
        Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    EXPECT_EQ(Names, (std::vector<std::string>{"frame-000000.png", "frame-000001.png", "frame-000002.png"}));
    EXPECT_EQ(PngFrameName(1234567), "frame-1234567.png");
}

TEST_F(FrameSink, PngFolderThatCannotBeMadeIsRefused) {
    std::ofstream(Directory / "file") << "x";
    std::string Problem;
    EXPECT_FALSE(OpenPngFolder((Directory / "file" / "sub").string(), 4, 4, Problem));
    EXPECT_EQ(Problem.rfind("cannot make the folder ", 0), 0u) << Problem;
}

TEST_F(FrameSink, VideoAppearsOnlyWhenFinished) {
    const std::string Music = std::string(TEST_DATA_DIR) + "/beat3s.mp3";
    const fs::path Video = Directory / "v.mp4";
    std::string Problem;
    auto Sink = OpenVideo(Video.string(), 16, 16, 10, Music, Problem);
    ASSERT_TRUE(Sink) << Problem;
    const auto Rgb = Noise(16 * 16 * 3, 2);
    for (int I = 0; I < 5; I++) ASSERT_TRUE(Sink->Write(Rgb.data(), Problem)) << Problem;
    EXPECT_FALSE(fs::exists(Video));
    ASSERT_TRUE(Sink->Finish(Problem)) << Problem;
    EXPECT_TRUE(fs::exists(Video));
    EXPECT_FALSE(fs::exists(Directory / "v.mp4.part"));

    // Given up: nothing is left, and an existing file keeps its contents.
    std::ofstream(Directory / "old.mp4") << "old";
    auto Abandoned = OpenVideo((Directory / "old.mp4").string(), 16, 16, 10, Music, Problem);
    ASSERT_TRUE(Abandoned) << Problem;
    ASSERT_TRUE(Abandoned->Write(Rgb.data(), Problem)) << Problem;
    Abandoned->Abandon();
    EXPECT_FALSE(fs::exists(Directory / "old.mp4.part"));
    EXPECT_EQ(ReadFile(Directory / "old.mp4"), "old");
}

TEST_F(FrameSink, FfmpegFailingIsReported) {
    // Not MP3 audio: ffmpeg gives up on its input.
    std::ofstream(Directory / "junk.mp3") << std::string(4000, 'j');
    std::string Problem;
    auto Sink = OpenVideo((Directory / "v.mp4").string(), 16, 16, 10, (Directory / "junk.mp3").string(), Problem);
    ASSERT_TRUE(Sink) << Problem;
    const auto Rgb = Noise(16 * 16 * 3, 3);
    bool Written = true;
    for (int I = 0; I < 200 && Written; I++) Written = Sink->Write(Rgb.data(), Problem);
    if (Written) {
        EXPECT_FALSE(Sink->Finish(Problem));
    }
    EXPECT_EQ(Problem.rfind("ffmpeg ", 0), 0u) << Problem;
    EXPECT_FALSE(fs::exists(Directory / "v.mp4"));
    EXPECT_FALSE(fs::exists(Directory / "v.mp4.part"));
}

TEST_F(FrameSink, FindsProgramsOnThePath) {
    const std::string Saved = std::getenv("PATH") ? std::getenv("PATH") : "";
    fs::create_directories(Directory / "bin");
    std::ofstream(Directory / "bin" / "tool") << "#!/bin/sh\n";
    std::ofstream(Directory / "bin" / "plain") << "";
    fs::permissions(Directory / "bin" / "tool", fs::perms::owner_all);
    fs::create_directories(Directory / "bin" / "folder");
    fs::permissions(Directory / "bin" / "folder", fs::perms::owner_all);
    setenv("PATH", ("/nonexistent::" + (Directory / "bin").string()).c_str(), 1);
    EXPECT_TRUE(FindProgram("tool"));
    EXPECT_FALSE(FindProgram("plain"));  // not executable
    EXPECT_FALSE(FindProgram("folder")); // not a file
    EXPECT_FALSE(FindProgram("ffmpeg"));
    setenv("PATH", Saved.c_str(), 1);
    EXPECT_TRUE(FindProgram("ffmpeg"));
}

} // namespace

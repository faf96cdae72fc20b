// A recorded frame is the frame the show draws for the same audio: the scripted audio
// calls are fed the file positions and spectra the recording's trace lists, and every frame
// drawn here, encoded the same way, matches the recorded file byte for byte.
#include "bass_script.h"
#include "effect.h"
#include "framesink.h"
#include "offscreen.h"
#include "recordfiles.h"
#include "xrandom.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TTraceLine {
    int64_t Frame;
    QWORD Position;
    float Spectrum[BassScript::SpectrumSize];
};

std::vector<TTraceLine> ReadTrace(const fs::path& Path) {
    std::vector<TTraceLine> Lines;
    std::ifstream In(Path);
    for (std::string Text; std::getline(In, Text);) {
        std::istringstream Fields(Text);
        TTraceLine Line{};
        Fields >> Line.Frame >> Line.Position;
        for (float& Bin : Line.Spectrum) Fields >> Bin;
        if (Fields) Lines.push_back(Line);
    }
    return Lines;
}

TEST(RecordedFrame, IsWhatTheShowDrawsForTheSameAudio) {
    constexpr int32_t Width = 96, Height = 54;
    const TTempFolder Scratch("record-frame");
    const fs::path& Folder = Scratch.Path();
    const std::string Music = std::string(TEST_DATA_DIR) + "/beat3s.mp3";
    const std::string Command = std::string("'") + RECORD_PATH +
                                "' --width 96 --height 54 --fps 25 --seed 5 " + "--seconds 2.4 --out '" +
                                (Folder / "frames/").string() + "' --trace '" +
                                (Folder / "trace.txt").string() + "' '" + Music + "' 2>/dev/null";
    ASSERT_EQ(std::system(Command.c_str()), 0);
    const auto Trace = ReadTrace(Folder / "trace.txt");
    ASSERT_EQ(Trace.size(), 60u);

    TOffscreenShow Show;
    std::string Problem;
    ASSERT_TRUE(Show.Create(Width, Height, Problem)) << Problem;
    BassScript::SetFileLength(fs::file_size(Music));
    SetRandomSeed(5);
    Show.StartShow(Music.c_str());
    EXPECT_EQ(BassScript::Calls().StreamPath, Music);

    std::vector<uint8_t> Rgb(Width * Height * 3), Png;
    int32_t Lit = 0;
    for (const TTraceLine& Line : Trace) {
        BassScript::SetPositions({Line.Position});
        BassScript::SetSpectrum(Line.Spectrum);
        ASSERT_TRUE(Show.RenderFrame(Rgb.data(), Problem)) << Problem;
        EncodePng(Rgb.data(), Width, Height, Png);
        const std::string Recorded = ReadFile(Folder / "frames" / PngFrameName(Line.Frame));
        ASSERT_EQ(std::string(Png.begin(), Png.end()), Recorded) << "frame " << Line.Frame;
        if (std::any_of(Rgb.begin(), Rgb.end(), [](uint8_t Byte) { return Byte > 64; })) Lit++;
    }
    EXPECT_GT(Lit, 30); // the frames compared show something
}

} // namespace

// build/bin/record run as a program: its output files, progress, interruption and failures.
#include "bass_offline.h"
#include "recordfiles.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string Beat = std::string(TEST_DATA_DIR) + "/beat3s.mp3";

struct TRun {
    std::string Errors; // standard error
    int Status = -1;
};

std::string Quote(const std::string& Text) {
    return "'" + Text + "'";
}

// Runs record through the shell with Arguments; Prefix goes in front (such as "env PATH=x").
TRun RunRecord(const std::string& Arguments, const std::string& Prefix = "") {
    TRun Run;
    const std::string Command = Prefix + " " + Quote(RECORD_PATH) + " " + Arguments + " 2>&1 >/dev/null";
    std::FILE* Pipe = popen(Command.c_str(), "r");
    if (!Pipe) return Run;
    char Chunk[4096];
    size_t Read;
    while ((Read = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0) Run.Errors.append(Chunk, Read);
    const int Status = pclose(Pipe);
    Run.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return Run;
}

std::vector<std::string> Lines(const std::string& Text) {
    std::vector<std::string> Result;
    std::istringstream In(Text);
    for (std::string Line; std::getline(In, Line);) Result.push_back(Line);
    return Result;
}

std::vector<std::string> FilesIn(const fs::path& Folder) {
    std::vector<std::string> Names;
    for (const auto& Entry : fs::directory_iterator(Folder))
        Names.push_back(Entry.path().filename().string());
    std::sort(Names.begin(), Names.end());
    return Names;
}

// ffprobe's value of one entry, such as "format=duration".
std::string Probe(const fs::path& File, const std::string& Entry, const std::string& Streams = "") {
    const std::string Command = "ffprobe -v error " + Streams + " -show_entries " + Entry +
                                " -of default=noprint_wrappers=1:nokey=1 " + Quote(File.string());
    return CommandOutput(Command);
}

using Record = ScratchTest;

TEST_F(Record, SameSeedGivesTheSameFramesByteForByte) {
    const std::string Common = "--width 64 --height 36 --fps 20 --seconds 2 " + Quote(Beat);
    ASSERT_EQ(RunRecord("--seed 7 --out " + Quote(In("a/")) + " " + Common).Status, 0);
    ASSERT_EQ(RunRecord("--seed 7 --out " + Quote(In("b/")) + " " + Common).Status, 0);
    ASSERT_EQ(RunRecord("--seed 8 --out " + Quote(In("c/")) + " " + Common).Status, 0);
    const auto Names = FilesIn(Directory / "a");
    ASSERT_EQ(Names.size(), 40u);
    EXPECT_EQ(Names.front(), "frame-000000.png");
    EXPECT_EQ(Names.back(), "frame-000039.png");
    ASSERT_EQ(FilesIn(Directory / "b"), Names);
    bool SeedMatters = false;
    for (const std::string& Name : Names) {
        const std::string First = ReadFile(Directory / "a" / Name);
        EXPECT_EQ(First, ReadFile(Directory / "b" / Name)) << Name;
        if (First != ReadFile(Directory / "c" / Name)) SeedMatters = true;
    }
    EXPECT_TRUE(SeedMatters);
}

TEST_F(Record, VideoLastsAsLongAsTheMusic) {
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    const HSTREAM Stream = BASS_StreamCreateFile(FALSE, Beat.c_str(), 0, 0, 0);
    const double Music = static_cast<double>(BassOffline::GetMusicSamples(Stream)) / BassOffline::Rate;
    const TRun Run = RunRecord("--width 64 --height 36 --fps 30 --seed 1 --out " + Quote(In("beat.mp4")) +
                               " " + Quote(Beat));
    ASSERT_EQ(Run.Status, 0) << Run.Errors;
    EXPECT_FALSE(fs::exists(In("beat.mp4.part")));
    EXPECT_NEAR(std::stod(Probe(In("beat.mp4"), "format=duration")), Music, 1.0 / 30);
    EXPECT_EQ(Probe(In("beat.mp4"), "stream=codec_name", "-select_streams v"), "h264\n");
    EXPECT_EQ(Probe(In("beat.mp4"), "stream=codec_name", "-select_streams a"), "mp3\n");
    EXPECT_EQ(Probe(In("beat.mp4"), "stream=nb_frames", "-select_streams v"), "90\n");
}

TEST_F(Record, OddSizesArePaddedForTheVideo) {
    const TRun Run = RunRecord("--width 33 --height 17 --fps 10 --seconds 0.5 --seed 1 --out " +
                               Quote(In("odd.mp4")) + " " + Quote(Beat));
    ASSERT_EQ(Run.Status, 0) << Run.Errors;
    EXPECT_EQ(Probe(In("odd.mp4"), "stream=width,height", "-select_streams v"), "34\n18\n");
}

TEST_F(Record, ProgressEndsWithTheFinalFrameCount) {
    const TRun Run = RunRecord("--width 32 --height 18 --fps 20 --seed 2 --seconds 3 --out " +
                               Quote(In("p/")) + " " + Quote(Beat));
    ASSERT_EQ(Run.Status, 0) << Run.Errors;
    const auto All = Lines(Run.Errors);
    ASSERT_GE(All.size(), 3u);
    EXPECT_EQ(All.front().rfind("record: recording ", 0), 0u) << All.front();
    EXPECT_NE(All.front().find("seed 2"), std::string::npos);
    EXPECT_EQ(All[All.size() - 2].rfind("frame 60 of 60 [", 0), 0u) << All[All.size() - 2];
    EXPECT_EQ(All.back(), "record: " + In("p/") + " written: 60 frames");
}

TEST_F(Record, CtrlCKeepsTheFramesSoFar) {
    const std::string Errors = In("errors.txt");
    const pid_t Child = fork();
    ASSERT_GE(Child, 0);
    if (Child == 0) {
        std::freopen(Errors.c_str(), "w", stderr);
        execl(RECORD_PATH, RECORD_PATH, "--width", "32", "--height", "18", "--seed", "3", "--out",
              In("frames/").c_str(), MUSIC_FILE, nullptr);
        _exit(127);
    }
    const auto Deadline = std::chrono::steady_clock::now() + 60s;
    while (!fs::exists(Directory / "frames" / "frame-000010.png") && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(10ms);
    kill(Child, SIGINT);
    int Status = 0;
    waitpid(Child, &Status, 0);
    ASSERT_TRUE(WIFEXITED(Status));
    EXPECT_EQ(WEXITSTATUS(Status), 130);
    const auto Names = FilesIn(Directory / "frames");
    ASSERT_GE(Names.size(), 11u);
    EXPECT_LT(Names.size(), 2000u); // the whole music would be about 2900
    for (const std::string& Name : Names) EXPECT_EQ(Name.find(".part"), std::string::npos) << Name;
    const auto All = Lines(ReadFile(Errors));
    ASSERT_FALSE(All.empty());
    EXPECT_EQ(All.back(), "record: stopped: " + In("frames/") + " holds the first " +
                              std::to_string(Names.size()) + " frames");
}

TEST_F(Record, BadInputGetsAMessageAndStatus1) {
    const std::string Out = " --out " + Quote(In("x/")) + " ";
    std::ofstream(In("junk.mp3")) << std::string(5000, 'x');
    struct TCase {
        std::string Arguments, Message;
    } Cases[] = {
        {Out + Quote(In("missing.mp3")),
         "record: cannot open " + In("missing.mp3") + ": No such file or directory"},
        {Out + Quote(In("junk.mp3")),
         "record: " + In("junk.mp3") + " holds no MP3 audio that can be decoded"},
        {"--width 15" + Out + Quote(Beat),
         "record: --width must be a whole number from 16 to 8192, not '15'"},
        {"--height 8193" + Out + Quote(Beat),
         "record: --height must be a whole number from 16 to 8192, not '8193'"},
        {"--width 2x" + Out + Quote(Beat),
         "record: --width must be a whole number from 16 to 8192, not '2x'"},
        {"--fps 0" + Out + Quote(Beat), "record: --fps must be a whole number from 1 to 1000, not '0'"},
        {"--seed -1" + Out + Quote(Beat),
         "record: --seed must be a whole number from 0 to 4294967295, not '-1'"},
        {"--seconds 0" + Out + Quote(Beat), "record: --seconds must be a number of seconds above 0, not '0'"},
        {"--out /dev/null/x.mp4 " + Quote(Beat), "record: cannot write /dev/null/x.mp4: Not a directory"},
        {"--out /dev/null/frames/ " + Quote(Beat),
         "record: cannot make the folder /dev/null/frames/: Not a directory"},
    };
    for (const TCase& Case : Cases) {
        const TRun Run = RunRecord(Case.Arguments);
        EXPECT_EQ(Run.Status, 1) << Case.Arguments;
        EXPECT_EQ(Run.Errors, Case.Message + "\n") << Case.Arguments;
    }
    EXPECT_FALSE(fs::exists(In("x")));
}

TEST_F(Record, Mp4NeedsFfmpegButPngFramesDoNot) {
    const std::string NoFfmpeg = "env PATH=" + In("empty");
    const TRun Video = RunRecord("--out " + Quote(In("v.mp4")) + " " + Quote(Beat), NoFfmpeg);
    EXPECT_EQ(Video.Status, 1);
    EXPECT_EQ(Video.Errors.rfind("record: ffmpeg is not installed", 0), 0u) << Video.Errors;
    EXPECT_FALSE(fs::exists(In("v.mp4")));
    const TRun Frames = RunRecord(
        "--width 16 --height 16 --fps 5 --seconds 1 --out " + Quote(In("f/")) + " " + Quote(Beat), NoFfmpeg);
    EXPECT_EQ(Frames.Status, 0) << Frames.Errors;
    EXPECT_EQ(FilesIn(Directory / "f").size(), 5u);
}

TEST_F(Record, UsageErrorsGetStatus2) {
    EXPECT_EQ(RunRecord("").Status, 2);
    EXPECT_EQ(RunRecord("--bogus 1 " + Quote(Beat)).Status, 2);
    EXPECT_EQ(RunRecord(Quote(Beat) + " " + Quote(Beat)).Status, 2);
    EXPECT_EQ(RunRecord(Quote(Beat) + " --width").Status, 2);
    EXPECT_EQ(RunRecord("--help").Status, 0);
}

} // namespace

// record: renders the show off-screen, frame by frame at exact times, to an MP4 or to
// numbered PNG files. The audio calls run offline on the recorder's clock, so a frame
// depends only on the music file, its time and the random seed.

#include "bass_offline.h"
#include "effect.h"
#include "framesink.h"
#include "offscreen.h"
#include "xrandom.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

constexpr std::string_view Usage = "usage: record [--width W] [--height H] [--fps N] [--seed S] [--seconds "
                                   "T] [--out FILE.mp4 | --out DIR/]\n"
                                   "              [--trace FILE] MUSIC.mp3\n"
                                   "       record --help\n";

constexpr std::string_view Help =
    "\n"
    "Renders the show for MUSIC.mp3 off-screen, every frame at its exact time, and writes an\n"
    "MP4 (H.264 with the music's audio, made by ffmpeg) or numbered PNG files.\n"
    "\n"
    "  --width W      screen width in pixels, 16 to 8192 (default 1280)\n"
    "  --height H     screen height in pixels, 16 to 8192 (default 720)\n"
    "  --fps N        frames a second, 1 to 1000 (default 60)\n"
    "  --seed S       the random generator's seed, 0 to 4294967295; the same seed gives the\n"
    "                 same frames (default: a new one, printed)\n"
    "  --seconds T    only the first T seconds (default: the whole music)\n"
    "  --out FILE     the MP4 to write (default: the music's name with .mp4, here)\n"
    "  --out DIR/     PNG files DIR/frame-000000.png, ... instead; a name ending in '/'\n"
    "                 or an existing folder means a folder\n"
    "  --trace FILE   one line a frame: its number, the file position and the 128\n"
    "                 spectrum values the show reads\n"
    "\n"
    "Progress goes to standard error. Ctrl-C stops after the current frame and keeps the\n"
    "frames so far (exit status 130). Bad input gives a message and exit status 1.\n";

constexpr int ExitBadInput = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;
constexpr int32_t MinSize = 16, MaxSize = 8192;

volatile std::sig_atomic_t Interrupted = 0;

void OnInterrupt(int) {
    Interrupted = 1;
}

struct TOptions {
    int32_t Width = 1280, Height = 720, Fps = 60;
    std::optional<uint32_t> Seed;
    std::optional<double> Seconds;
    std::string Out, Trace, Music;
};

void Report(const std::string& Text) {
    std::fprintf(stderr, "record: %s\n", Text.c_str());
}

int Fail(const std::string& Problem) {
    Report(Problem);
    return ExitBadInput;
}

template <typename T> bool ParseWhole(std::string_view Text, T Low, T High, T& Value) {
    T Parsed{};
    const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Parsed);
    if (Error != std::errc() || End != Text.data() + Text.size() || Parsed < Low || Parsed > High)
        return false;
    Value = Parsed;
    return true;
}

// Nullopt when the arguments are not understood (a usage error, already reported); status
// set for values out of range.
std::optional<TOptions> ParseOptions(int Count, char** Arguments, int& Status) {
    TOptions Options;
    auto UsageError = [&](const std::string& Problem) {
        std::fprintf(stderr, "record: %s\n%.*s", Problem.c_str(), static_cast<int>(Usage.size()),
                     Usage.data());
        Status = ExitUsage;
        return std::nullopt;
    };
    auto BadValue = [&](const std::string& Problem) {
        Report(Problem);
        Status = ExitBadInput;
        return std::nullopt;
    };
    for (int I = 1; I < Count; I++) {
        const std::string_view Argument = Arguments[I];
        if (Argument.empty() || Argument[0] != '-' || Argument == "-") {
            if (!Options.Music.empty())
                return UsageError("unexpected argument '" + std::string(Argument) + "'");
            Options.Music = Argument;
            continue;
        }
        if (I + 1 >= Count) return UsageError(std::string(Argument) + " needs a value");
        const std::string_view Value = Arguments[++I];
        const std::string Quoted = "'" + std::string(Value) + "'";
        if (Argument == "--width" || Argument == "--height") {
            int32_t& Size = Argument == "--width" ? Options.Width : Options.Height;
            if (!ParseWhole(Value, MinSize, MaxSize, Size))
                return BadValue(std::string(Argument) + " must be a whole number from 16 to 8192, not " +
                                Quoted);
        } else if (Argument == "--fps") {
            if (!ParseWhole(Value, 1, 1000, Options.Fps))
                return BadValue("--fps must be a whole number from 1 to 1000, not " + Quoted);
        } else if (Argument == "--seed") {
            uint32_t Seed = 0;
            if (!ParseWhole(Value, 0u, 4294967295u, Seed))
                return BadValue("--seed must be a whole number from 0 to 4294967295, not " + Quoted);
            Options.Seed = Seed;
        } else if (Argument == "--seconds") {
            double Seconds = 0;
            const auto [End, Error] = std::from_chars(Value.data(), Value.data() + Value.size(), Seconds);
            if (Error != std::errc() || End != Value.data() + Value.size() || !(Seconds > 0) ||
                !std::isfinite(Seconds))
                return BadValue("--seconds must be a number of seconds above 0, not " + Quoted);
            Options.Seconds = Seconds;
        } else if (Argument == "--out") {
            if (Value.empty()) return BadValue("--out needs a file or folder name");
            Options.Out = Value;
        } else if (Argument == "--trace") {
            if (Value.empty()) return BadValue("--trace needs a file name");
            Options.Trace = Value;
        } else {
            return UsageError("unknown option '" + std::string(Argument) + "'");
        }
    }
    if (Options.Music.empty()) return UsageError("no music file given");
    return Options;
}

// "music.mp4" for ".../music.mp3", in the current folder.
std::string DefaultOutput(const std::string& Music) {
    return std::filesystem::path(Music).filename().replace_extension(".mp4").string();
}

bool IsFolder(const std::string& Out) {
    std::error_code Ignored;
    return Out.back() == '/' || std::filesystem::is_directory(Out, Ignored);
}

std::string FormatDuration(double Seconds) {
    const long Whole = std::lround(Seconds < 0 ? 0 : Seconds);
    char Text[32];
    if (Whole >= 3600)
        std::snprintf(Text, sizeof Text, "%ld:%02ld:%02ld", Whole / 3600, Whole / 60 % 60, Whole % 60);
    else
        std::snprintf(Text, sizeof Text, "%ld:%02ld", Whole / 60, Whole % 60);
    return Text;
}

// The progress bar: redrawn in place on a terminal at most ten times a second, otherwise a
// line every five seconds; always once more at the end.
class TProgress {
public:
    TProgress(int64_t Total, int32_t Fps) : Total(Total), Fps(Fps), Terminal(isatty(STDERR_FILENO) == 1) {}

    void Update(int64_t Done, bool Last = false) {
        const auto Now = TClock::now();
        if (!Last &&
            Now - Shown < (Terminal ? std::chrono::milliseconds(100) : std::chrono::milliseconds(5000)))
            return;
        Shown = Now;
        const double Elapsed = std::chrono::duration<double>(Now - Begin).count();
        const double Speed = Elapsed > 0 ? static_cast<double>(Done) / Fps / Elapsed : 0;
        const double Left =
            Done > 0 ? Elapsed / static_cast<double>(Done) * static_cast<double>(Total - Done) : 0;
        constexpr int Width = 30;
        const int Filled = Total > 0 ? static_cast<int>(Width * Done / Total) : Width;
        char Line[160];
        std::snprintf(Line, sizeof Line, "frame %lld of %lld [%s%s] %3d%%  %.2fx real time  %s left",
                      static_cast<long long>(Done), static_cast<long long>(Total),
                      std::string(static_cast<size_t>(Filled), '#').c_str(),
                      std::string(static_cast<size_t>(Width - Filled), '.').c_str(),
                      Total > 0 ? static_cast<int>(100 * Done / Total) : 100, Speed,
                      FormatDuration(Left).c_str());
        if (Terminal)
            std::fprintf(stderr, "\r%s\x1b[K%s", Line, Last ? "\n" : "");
        else
            std::fprintf(stderr, "%s\n", Line);
        std::fflush(stderr);
    }

private:
    int64_t Total;
    int32_t Fps;
    bool Terminal;
    TClock::time_point Begin = TClock::now(), Shown{};
};

// One trace line: what the show reads at this frame, which the offline calls answer the same
// however often they are asked.
void WriteTrace(std::FILE* Trace, int64_t Frame) {
    float Bins[SpectrumBins] = {};
    const QWORD Position = BASS_StreamGetFilePosition(MusicStream, BASS_FILEPOS_CURRENT);
    BASS_ChannelGetData(MusicStream, Bins, BASS_DATA_FFT256);
    std::string Line = std::to_string(Frame) + " " + std::to_string(Position);
    for (float Bin : Bins) {
        char Text[32];
        const auto Result = std::to_chars(Text, Text + sizeof Text, Bin);
        Line += ' ';
        Line.append(Text, Result.ptr);
    }
    Line += '\n';
    std::fputs(Line.c_str(), Trace);
}

int Record(const TOptions& Options) {
    const std::string Out = Options.Out.empty() ? DefaultOutput(Options.Music) : Options.Out;
    const bool Folder = IsFolder(Out);
    if (std::FILE* Music = std::fopen(Options.Music.c_str(), "rb"))
        std::fclose(Music);
    else
        return Fail("cannot open " + Options.Music + ": " + std::strerror(errno));
    if (!Folder && !FindProgram("ffmpeg"))
        return Fail("ffmpeg is not installed (MP4 output needs it: apt-get install ffmpeg); "
                    "PNG frames need no ffmpeg (--out DIR/)");

    std::string Problem;
    TOffscreenShow Show;
    if (!Show.Create(Options.Width, Options.Height, Problem)) return Fail("no off-screen OpenGL: " + Problem);
    if (Options.Seed)
        SetRandomSeed(*Options.Seed);
    else
        Randomize();
    const uint32_t Seed = GetRandomSeed();
    Show.StartShow(Options.Music.c_str());
    if (MusicStream == 0) return Fail(Options.Music + " holds no MP3 audio that can be decoded");

    const uint64_t Samples = BassOffline::GetMusicSamples(MusicStream);
    const int64_t Fps = Options.Fps;
    int64_t Total = static_cast<int64_t>((Samples * Fps + BassOffline::Rate - 1) / BassOffline::Rate);
    if (Options.Seconds && *Options.Seconds * Fps < static_cast<double>(Total))
        Total = static_cast<int64_t>(std::ceil(*Options.Seconds * Fps));

    std::unique_ptr<TFrameSink> Sink =
        Folder ? OpenPngFolder(Out, Options.Width, Options.Height, Problem)
               : OpenVideo(Out, Options.Width, Options.Height, Options.Fps, Options.Music, Problem);
    if (!Sink) return Fail(Problem);
    std::FILE* Trace = nullptr;
    if (!Options.Trace.empty() && !(Trace = std::fopen(Options.Trace.c_str(), "w"))) {
        Sink->Abandon();
        return Fail("cannot write " + Options.Trace + ": " + std::strerror(errno));
    }

    Report("recording " + Options.Music + " (" +
           FormatDuration(static_cast<double>(Samples) / BassOffline::Rate) + ") at " +
           std::to_string(Options.Width) + " x " + std::to_string(Options.Height) + ", " +
           std::to_string(Fps) + " fps, seed " + std::to_string(Seed) + ", to " + Out);
    struct sigaction Action = {};
    Action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &Action, nullptr);
    sigaction(SIGTERM, &Action, nullptr);

    std::vector<uint8_t> Frame(static_cast<size_t>(Options.Width) * static_cast<size_t>(Options.Height) * 3);
    TProgress Progress(Total, Options.Fps);
    int64_t Done = 0;
    bool Failed = false;
    for (; Done < Total && !Interrupted; Done++) {
        // Frame k shows the moment k / fps of the playback.
        BassOffline::SetPlaybackTime(static_cast<uint64_t>(Done) * BassOffline::Rate /
                                     static_cast<uint64_t>(Fps));
        if (Trace) WriteTrace(Trace, Done);
        if (!Show.RenderFrame(Frame.data(), Problem) || !Sink->Write(Frame.data(), Problem)) {
            Failed = true;
            break;
        }
        Progress.Update(Done + 1);
    }
    Progress.Update(Done, true);
    if (Trace && std::fclose(Trace) != 0 && !Failed) {
        Problem = "cannot write " + Options.Trace + ": " + std::strerror(errno);
        Failed = true;
    }
    if (!Failed && Done == 0) {
        Sink->Abandon();
        Report("stopped before the first frame; nothing written");
        return ExitInterrupted;
    }
    if (Failed || !Sink->Finish(Problem)) {
        Sink->Abandon();
        return Fail(Problem);
    }
    if (Interrupted) {
        Report("stopped: " + Out + " holds the first " + std::to_string(Done) + " frames");
        return ExitInterrupted;
    }
    Report(Out + " written: " + std::to_string(Done) + " frames");
    return 0;
}

} // namespace

int main(int ArgumentCount, char** Arguments) {
    std::setlocale(LC_NUMERIC, "C");
    if (ArgumentCount == 2 && std::string_view(Arguments[1]) == "--help") {
        std::printf("%.*s%.*s", static_cast<int>(Usage.size()), Usage.data(), static_cast<int>(Help.size()),
                    Help.data());
        return 0;
    }
    int Status = 0;
    const std::optional<TOptions> Options = ParseOptions(ArgumentCount, Arguments, Status);
    if (!Options) return Status;
    return Record(*Options);
}

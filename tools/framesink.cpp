#include "framesink.h"

#include <zlib.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::string ErrorText(int Error) {
    return std::strerror(Error);
}

void AppendBigEndian(std::vector<uint8_t>& Bytes, uint32_t Value) {
    for (int Shift = 24; Shift >= 0; Shift -= 8) Bytes.push_back(static_cast<uint8_t>(Value >> Shift));
}

// Length, type, data, and the CRC of type and data.
void AppendChunk(std::vector<uint8_t>& Png, const char* Type, const uint8_t* Data, size_t Size) {
    AppendBigEndian(Png, static_cast<uint32_t>(Size));
    const size_t TypeAt = Png.size();
    Png.insert(Png.end(), Type, Type + 4);
    Png.insert(Png.end(), Data, Data + Size);
    const uLong Crc = crc32(0L, Png.data() + TypeAt, static_cast<uInt>(Size + 4));
    AppendBigEndian(Png, static_cast<uint32_t>(Crc));
}

// Writes all of Bytes to File, again after interruptions; false with errno set otherwise.
bool WriteAll(int File, const uint8_t* Bytes, size_t Count) {
    while (Count > 0) {
        const ssize_t Written = write(File, Bytes, Count);
        if (Written < 0 && errno == EINTR) continue;
        if (Written <= 0) return false;
        Bytes += Written;
        Count -= static_cast<size_t>(Written);
    }
    return true;
}

std::string DescribeStatus(int Status) {
    if (WIFEXITED(Status)) return "exit status " + std::to_string(WEXITSTATUS(Status));
    if (WIFSIGNALED(Status)) return "signal " + std::to_string(WTERMSIG(Status));
    return "status " + std::to_string(Status);
}

class TPngFolder : public TFrameSink {
public:
    TPngFolder(std::string Folder, int32_t Width, int32_t Height)
        : Folder(std::move(Folder)), Width(Width), Height(Height) {}

    bool Write(const uint8_t* Rgb, std::string& Problem) override {
        EncodePng(Rgb, Width, Height, Png);
        const std::string Path = Folder + "/" + PngFrameName(Index);
        Partial = Path + ".part";
        const int File = open(Partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        int Error = File < 0 ? errno : 0;
        if (File >= 0) {
            if (!WriteAll(File, Png.data(), Png.size())) Error = errno;
            if (close(File) != 0 && Error == 0) Error = errno;
        }
        if (Error == 0 && std::rename(Partial.c_str(), Path.c_str()) != 0) Error = errno;
        if (Error != 0) {
            Problem = "cannot write " + Path + ": " + ErrorText(Error);
            Abandon();
            return false;
        }
        Partial.clear();
        Index++;
        return true;
    }

    bool Finish(std::string&) override { return true; }

    void Abandon() override {
        if (!Partial.empty()) unlink(Partial.c_str());
        Partial.clear();
    }

private:
    std::string Folder;
    int32_t Width, Height;
    int64_t Index = 0;
    std::vector<uint8_t> Png;
    std::string Partial; // the file being written
};

class TVideo : public TFrameSink {
public:
    TVideo(std::string Path, size_t FrameBytes) : Path(std::move(Path)), FrameBytes(FrameBytes) {
        Partial = this->Path + ".part";
    }
    ~TVideo() override {
        if (Process > 0) Abandon();
    }

    bool Start(const std::vector<std::string>& Arguments, std::string& Problem);

    bool Write(const uint8_t* Rgb, std::string& Problem) override {
        if (WriteAll(Pipe, Rgb, FrameBytes)) return true;
        const int Error = errno;
        const int Status = Wait();
        Problem = Error == EPIPE ? "ffmpeg stopped (" + DescribeStatus(Status) + ")"
                                 : "cannot feed ffmpeg: " + ErrorText(Error);
        unlink(Partial.c_str());
        return false;
    }

    bool Finish(std::string& Problem) override {
        const int Status = Wait();
        if (Status != 0) {
            Problem = "ffmpeg failed (" + DescribeStatus(Status) + ")";
            unlink(Partial.c_str());
            return false;
        }
        if (std::rename(Partial.c_str(), Path.c_str()) != 0) {
            Problem = "cannot move " + Partial + " to " + Path + ": " + ErrorText(errno);
            unlink(Partial.c_str());
            return false;
        }
        return true;
    }

    void Abandon() override {
        if (Process > 0) kill(Process, SIGTERM);
        Wait();
        unlink(Partial.c_str());
    }

    const std::string& PartialPath() const { return Partial; }

private:
    std::string Path, Partial;
    size_t FrameBytes;
    int Pipe = -1;
    pid_t Process = 0;

    // Ends the input and waits for ffmpeg; its wait status (0 once it has been waited for).
    int Wait() {
        if (Pipe >= 0) close(Pipe);
        Pipe = -1;
        int Status = 0;
        if (Process > 0) {
            while (waitpid(Process, &Status, 0) < 0 && errno == EINTR) {
            }
            Process = 0;
        }
        return Status;
    }
};

// ffmpeg runs in a process group of its own, so that Ctrl-C reaches the recorder alone, which
// then ends ffmpeg's input and lets it finish the file.
bool TVideo::Start(const std::vector<std::string>& Arguments, std::string& Problem) {
    int Ends[2];
    if (pipe2(Ends, O_CLOEXEC) != 0) {
        Problem = "no pipe to ffmpeg: " + ErrorText(errno);
        return false;
    }
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Ends[0], 0);
    posix_spawn_file_actions_addopen(&Actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t Attributes;
    posix_spawnattr_init(&Attributes);
    posix_spawnattr_setflags(&Attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&Attributes, 0);
    std::vector<char*> Argv;
    for (const std::string& Argument : Arguments) Argv.push_back(const_cast<char*>(Argument.c_str()));
    Argv.push_back(nullptr);
    const int Error = posix_spawnp(&Process, Argv[0], &Actions, &Attributes, Argv.data(), environ);
    posix_spawn_file_actions_destroy(&Actions);
    posix_spawnattr_destroy(&Attributes);
    close(Ends[0]);
    if (Error != 0) {
        close(Ends[1]);
        Process = 0;
        Problem = "cannot start ffmpeg: " + ErrorText(Error);
        return false;
    }
    Pipe = Ends[1];
    return true;
}

} // namespace

std::string PngFrameName(int64_t Index) {
    char Name[32];
    std::snprintf(Name, sizeof Name, "frame-%06lld.png", static_cast<long long>(Index));
    return Name;
}

void EncodePng(const uint8_t* Rgb, int32_t Width, int32_t Height, std::vector<uint8_t>& Png) {
    static constexpr uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    static constexpr uint8_t FilterSub = 1;
    const size_t RowBytes = static_cast<size_t>(Width) * 3;
    thread_local std::vector<uint8_t> Filtered, Deflated;
    Filtered.resize((RowBytes + 1) * static_cast<size_t>(Height));
    uint8_t* Out = Filtered.data();
    for (int32_t Y = 0; Y < Height; Y++) {
        const uint8_t* Row = Rgb + RowBytes * static_cast<size_t>(Y);
        *Out++ = FilterSub;
        for (size_t X = 0; X < RowBytes; X++)
            *Out++ = static_cast<uint8_t>(Row[X] - (X >= 3 ? Row[X - 3] : 0));
    }
    uLongf Size = compressBound(static_cast<uLong>(Filtered.size()));
    Deflated.resize(Size);
    compress2(Deflated.data(), &Size, Filtered.data(), static_cast<uLong>(Filtered.size()), 3);

    std::vector<uint8_t> Header;
    AppendBigEndian(Header, static_cast<uint32_t>(Width));
    AppendBigEndian(Header, static_cast<uint32_t>(Height));
    Header.insert(Header.end(), {8, 2, 0, 0, 0}); // 8 bits, RGB, deflate, adaptive filters, no interlace
    Png.assign(std::begin(Signature), std::end(Signature));
    AppendChunk(Png, "IHDR", Header.data(), Header.size());
    AppendChunk(Png, "IDAT", Deflated.data(), Size);
    AppendChunk(Png, "IEND", nullptr, 0);
}

bool FindProgram(const char* Program) {
    const char* Path = std::getenv("PATH");
    if (!Path) return false;
    for (const char* Start = Path;; Start++) {
        const char* End = std::strchr(Start, ':');
        std::string Folder(Start, End ? static_cast<size_t>(End - Start) : std::strlen(Start));
        const std::string File = (Folder.empty() ? "." : Folder) + "/" + Program;
        struct stat Info;
        if (stat(File.c_str(), &Info) == 0 && S_ISREG(Info.st_mode) && access(File.c_str(), X_OK) == 0)
            return true;
        if (!End) return false;
        Start = End;
    }
}

std::unique_ptr<TFrameSink> OpenPngFolder(const std::string& Folder, int32_t Width, int32_t Height,
                                          std::string& Problem) {
    std::error_code Error;
    std::filesystem::create_directories(Folder, Error);
    if (!std::filesystem::is_directory(Folder)) {
        Problem = "cannot make the folder " + Folder + (Error ? ": " + Error.message() : "");
        return nullptr;
    }
    if (access(Folder.c_str(), W_OK) != 0) {
        Problem = "cannot write to the folder " + Folder + ": " + ErrorText(errno);
        return nullptr;
    }
    return std::make_unique<TPngFolder>(Folder, Width, Height);
}

std::unique_ptr<TFrameSink> OpenVideo(const std::string& Path, int32_t Width, int32_t Height, int32_t Fps,
                                      const std::string& MusicFile, std::string& Problem) {
    auto Video = std::make_unique<TVideo>(Path, static_cast<size_t>(Width) * static_cast<size_t>(Height) * 3);
    const int Probe = open(Video->PartialPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (Probe < 0) {
        Problem = "cannot write " + Path + ": " + ErrorText(errno);
        return nullptr;
    }
    close(Probe);
    // A reader gone away shows as a failed write, not as a signal.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> Arguments = {"ffmpeg",
                                          "-nostdin",
                                          "-hide_banner",
                                          "-loglevel",
                                          "error",
                                          "-y",
                                          "-f",
                                          "rawvideo",
                                          "-pixel_format",
                                          "rgb24",
                                          "-video_size",
                                          std::to_string(Width) + "x" + std::to_string(Height),
                                          "-framerate",
                                          std::to_string(Fps),
                                          "-i",
                                          "pipe:0",
                                          "-f",
                                          "mp3",
                                          "-i",
                                          "file:" + MusicFile,
                                          "-map",
                                          "0:v:0",
                                          "-map",
                                          "1:a:0"};
    if (Width % 2 != 0 || Height % 2 != 0)
        Arguments.insert(Arguments.end(), {"-vf", "pad=ceil(iw/2)*2:ceil(ih/2)*2"});
    Arguments.insert(Arguments.end(), {"-c:v", "libx264", "-preset", "medium", "-crf", "18", "-pix_fmt",
                                       "yuv420p", "-c:a", "copy", "-shortest", "-movflags", "+faststart",
                                       "-f", "mp4", "file:" + Video->PartialPath()});
    if (!Video->Start(Arguments, Problem)) {
        unlink(Video->PartialPath().c_str());
        return nullptr;
    }
    return Video;
}

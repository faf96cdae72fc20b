#include "xlogging.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

namespace {

std::mutex ConsoleLock;
// The console capture, guarded by ConsoleLock.
bool Capturing = false;
std::string Captured;
constexpr int32_t LevelCount = 10;
std::atomic<int64_t> LinesAtLevel[LevelCount];

int32_t LevelIndex(int32_t Level) {
    return Level < 0 ? 0 : Level >= LevelCount ? LevelCount - 1 : Level;
}
#ifdef SIGPIPE
std::once_flag PipeSignalOnce;
#endif

[[noreturn]] void FailConsole(int Error) {
    std::fprintf(stderr, "console output failed: %s\n", std::strerror(Error));
    std::fflush(stderr);
    std::_Exit(74); // EX_IOERR
}

void WriteLocked(const char* Data, size_t Size) {
    if (Capturing) {
        Captured.append(Data, Size);
        return;
    }
#ifdef SIGPIPE
    // A closed pipe must show up as a failed write, not as a signal.
    std::call_once(PipeSignalOnce, [] { std::signal(SIGPIPE, SIG_IGN); });
#endif
    errno = 0;
    if (Size > 0 && std::fwrite(Data, 1, Size, stdout) != Size) FailConsole(errno ? errno : EIO);
    if (std::fflush(stdout) != 0) FailConsole(errno ? errno : EIO);
}

} // namespace

void LogLine(int32_t Level, std::string_view Text) {
    LinesAtLevel[LevelIndex(Level)].fetch_add(1, std::memory_order_relaxed);
    std::string Line;
    Line.reserve(Text.size() + 2);
    Line.append(Text);
    Line.append("\r\n");
    std::lock_guard Guard(ConsoleLock);
    WriteLocked(Line.data(), Line.size());
}

int64_t LogLinesAtOrAbove(int32_t Level) {
    int64_t Count = 0;
    for (int32_t Index = LevelIndex(Level); Index < LevelCount; Index++)
        Count += LinesAtLevel[Index].load(std::memory_order_relaxed);
    return Count;
}

void WriteConsole(std::string_view Text) {
    std::lock_guard Guard(ConsoleLock);
    WriteLocked(Text.data(), Text.size());
}

void StartConsoleCapture() {
    std::lock_guard Guard(ConsoleLock);
    Capturing = true;
    Captured.clear();
}

std::string EndConsoleCapture() {
    std::lock_guard Guard(ConsoleLock);
    Capturing = false;
    return std::exchange(Captured, std::string());
}

#ifdef _WIN32
void WriteConsoleA(std::string_view Text) {
    WriteConsole(Text);
}
#endif

#include "xlogging.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex ConsoleLock;
std::once_flag PipeSignalOnce;

[[noreturn]] void FailConsole(int Error) {
    std::fprintf(stderr, "console output failed: %s\n", std::strerror(Error));
    std::fflush(stderr);
    std::_Exit(74); // EX_IOERR
}

void WriteLocked(const char* Data, size_t Size) {
    // A closed pipe must show up as a failed write, not as a signal.
    std::call_once(PipeSignalOnce, [] { std::signal(SIGPIPE, SIG_IGN); });
    errno = 0;
    if (Size > 0 && std::fwrite(Data, 1, Size, stdout) != Size) FailConsole(errno ? errno : EIO);
    if (std::fflush(stdout) != 0) FailConsole(errno ? errno : EIO);
}

} // namespace

void LogLine(int32_t Level, std::string_view Text) {
    (void)Level;
    std::string Line;
    Line.reserve(Text.size() + 2);
    Line.append(Text);
    Line.append("\r\n");
    std::lock_guard Guard(ConsoleLock);
    WriteLocked(Line.data(), Line.size());
}

void WriteConsole(std::string_view Text) {
    std::lock_guard Guard(ConsoleLock);
    WriteLocked(Text.data(), Text.size());
}

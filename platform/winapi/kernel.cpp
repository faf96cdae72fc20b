// The kernel32 calls of windows.h that the framework and the show use beside the window layer:
// module name and path, the clocks and Sleep. No window system: console tools link this alone.

#include "windows.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <sched.h>
#include <strings.h>
#include <unistd.h>

namespace {

const HMODULE ProgramModule = reinterpret_cast<HMODULE>(0x400000);

uint64_t MonotonicNanoseconds() {
    timespec Now{};
    clock_gettime(CLOCK_MONOTONIC, &Now);
    return static_cast<uint64_t>(Now.tv_sec) * 1000000000u + static_cast<uint64_t>(Now.tv_nsec);
}

} // namespace

extern "C" {

HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName) {
    if (lpModuleName == nullptr) return ProgramModule;
    char Path[PATH_MAX];
    DWORD Length = GetModuleFileNameA(nullptr, Path, sizeof Path);
    if (Length == 0 || Length >= sizeof Path) return nullptr;
    const char* Name = std::strrchr(Path, '/');
    Name = Name ? Name + 1 : Path;
    return strcasecmp(Name, lpModuleName) == 0 ? ProgramModule : nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize) {
    if ((hModule != nullptr && hModule != ProgramModule) || lpFilename == nullptr || nSize == 0) return 0;
    char Path[PATH_MAX];
    ssize_t Length = readlink("/proc/self/exe", Path, sizeof Path);
    if (Length <= 0 || static_cast<size_t>(Length) >= sizeof Path) return 0;
    if (static_cast<DWORD>(Length) >= nSize) {
        std::memcpy(lpFilename, Path, nSize - 1);
        lpFilename[nSize - 1] = '\0';
        return nSize;
    }
    std::memcpy(lpFilename, Path, static_cast<size_t>(Length));
    lpFilename[Length] = '\0';
    return static_cast<DWORD>(Length);
}

BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount) {
    if (lpPerformanceCount == nullptr) return FALSE;
    lpPerformanceCount->QuadPart = static_cast<LONGLONG>(MonotonicNanoseconds());
    return TRUE;
}

DWORD WINAPI GetTickCount(void) {
    return static_cast<DWORD>(MonotonicNanoseconds() / 1000000u);
}

VOID WINAPI Sleep(DWORD dwMilliseconds) {
    if (dwMilliseconds == 0) {
        sched_yield();
        return;
    }
    timespec Wait{static_cast<time_t>(dwMilliseconds / 1000),
                  static_cast<long>(dwMilliseconds % 1000) * 1000000L};
    while (nanosleep(&Wait, &Wait) != 0 && errno == EINTR) {
    }
}

} // extern "C"

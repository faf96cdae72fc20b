// The kernel calls, the records' sizes, and starting the window layer without a display.

#include "windowlayer.h"

#include <cstdio>
#include <cstring>
#include <sys/wait.h>

namespace {

// ---- Kernel calls ----

TEST(KernelCalls, ModuleFileNameIsTheRunningExecutable) {
    char Expected[PATH_MAX] = {};
    ASSERT_GT(readlink("/proc/self/exe", Expected, sizeof Expected - 1), 0);
    char Path[PATH_MAX] = {};
    DWORD Length = GetModuleFileNameA(NULL, Path, sizeof Path);
    EXPECT_STREQ(Path, Expected);
    EXPECT_EQ(Length, std::strlen(Expected));
    EXPECT_EQ(Path[0], '/');
    EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(NULL), Path, sizeof Path), Length);

    char Short[5];
    EXPECT_EQ(GetModuleFileNameA(NULL, Short, sizeof Short), sizeof Short);
    EXPECT_EQ(std::string(Short), std::string(Expected, 4));
    EXPECT_EQ(GetModuleFileNameA(reinterpret_cast<HMODULE>(0x1234), Path, sizeof Path), 0u);
}

TEST(KernelCalls, ModuleHandleIsTheProgramsOnly) {
    EXPECT_NE(GetModuleHandleA(NULL), nullptr);
    EXPECT_EQ(GetModuleHandleA("test_win32"), GetModuleHandleA(NULL));
    EXPECT_EQ(GetModuleHandleA("bass.dll"), nullptr);
}

TEST(KernelCalls, ClocksRunForwardAcrossSleep) {
    LARGE_INTEGER Before;
    LARGE_INTEGER After;
    ASSERT_TRUE(QueryPerformanceCounter(&Before));
    DWORD Ticks = GetTickCount();
    Sleep(20);
    ASSERT_TRUE(QueryPerformanceCounter(&After));
    EXPECT_GE(GetTickCount() - Ticks, 20u);
    EXPECT_GE(After.QuadPart - Before.QuadPart, 20000000);
    EXPECT_FALSE(QueryPerformanceCounter(NULL));
}

TEST(KernelCalls, CursorCountGoesDownAndUp) {
    EXPECT_EQ(ShowCursor(FALSE), -1);
    EXPECT_EQ(ShowCursor(FALSE), -2);
    EXPECT_EQ(ShowCursor(TRUE), -1);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(LoadCursorA(NULL, IDC_ARROW) != NULL, true);
    EXPECT_EQ(LoadCursorA(NULL, MAKEINTRESOURCEA(32513)), nullptr);
}

TEST(Records, HaveTheirWindowsSizes) {
    EXPECT_EQ(sizeof(PIXELFORMATDESCRIPTOR), 40u);
    EXPECT_EQ(sizeof(POINT), 8u);
    EXPECT_EQ(sizeof(LARGE_INTEGER), 8u);
    LPARAM Size = MAKELPARAM(1286, 1049);
    EXPECT_EQ(LOWORD(Size), 1286);
    EXPECT_EQ(HIWORD(Size), 1049);
}

// ---- No display ----

struct TProbeResult {
    std::string Output;
    int Status;
};

TProbeResult RunProbeWithoutDisplay(const std::string& Environment, const char* Mode) {
    std::string Command =
        "env -u DISPLAY -u WAYLAND_DISPLAY " + Environment + " " + WIN32_PROBE + " " + Mode + " 2>/dev/null";
    FILE* Pipe = popen(Command.c_str(), "r");
    if (Pipe == nullptr) return {"", -1};
    std::string Output;
    char Buffer[256];
    while (size_t Count = std::fread(Buffer, 1, sizeof Buffer, Pipe)) Output.append(Buffer, Count);
    int Status = pclose(Pipe);
    return {Output, WIFEXITED(Status) ? WEXITSTATUS(Status) : -1};
}

void ExpectNoDisplayLine(const TProbeResult& Result) {
    const std::string Prefix = "no display: SDL video could not start: ";
    EXPECT_EQ(Result.Status, 1);
    ASSERT_GT(Result.Output.size(), Prefix.size() + 2) << Result.Output;
    EXPECT_EQ(Result.Output.substr(0, Prefix.size()), Prefix);
    EXPECT_EQ(Result.Output.substr(Result.Output.size() - 2), "\r\n");
    EXPECT_EQ(Result.Output.find('\n'), Result.Output.size() - 1) << "one line only";
}

TEST(NoDisplay, ScreenSizeQueryEndsTheProgramWithOneLine) {
    ExpectNoDisplayLine(RunProbeWithoutDisplay("SDL_VIDEODRIVER=x11", "metrics"));
}

TEST(NoDisplay, ClassRegistrationEndsTheProgramWithOneLine) {
    ExpectNoDisplayLine(RunProbeWithoutDisplay("SDL_VIDEODRIVER=x11", "class"));
}

// SDL would start its offscreen driver here; a show nobody can see must not run.
TEST(NoDisplay, DriversThatShowNothingDoNotCount) {
    ExpectNoDisplayLine(RunProbeWithoutDisplay("-u SDL_VIDEODRIVER", "metrics"));
}

TEST(NoDisplay, DriverAskedForByNameIsUsed) {
    TProbeResult Result = RunProbeWithoutDisplay("SDL_VIDEODRIVER=offscreen", "metrics");
    EXPECT_EQ(Result.Status, 0);
    EXPECT_EQ(Result.Output, "video started\r\n");
}

} // namespace

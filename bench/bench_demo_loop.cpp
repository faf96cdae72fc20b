// Frames per second of the show's real loop (window, OpenGL and audio layer, 1024 x 768)
// over 10 s, next to a bare loop in the same window that only clears, draws one quad,
// copies a texture of the same size and swaps. Needs a display (Xvfb will do); plays the
// bundled music.
#include "effect.h"
#include "oglwin.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>

namespace {

constexpr int32_t Width = 1024;
constexpr int32_t Height = 768;
constexpr double Seconds = 10.0;

using Clock = std::chrono::steady_clock;

double Elapsed(Clock::time_point Start) {
    return std::chrono::duration<double>(Clock::now() - Start).count();
}

// The main block's loop, counting passes; stops early if the music ends.
double ShowFramesPerSecond() {
    int64_t Frames = 0;
    auto Start = Clock::now();
    while (Elapsed(Start) < Seconds) {
        if (!PumpMessages()) break;
        Frames++;
        if (MusicEnded()) break;
        Sleep(1);
    }
    return static_cast<double>(Frames) / Elapsed(Start);
}

double BareFramesPerSecond(HDC DeviceContext) {
    int64_t Frames = 0;
    auto Start = Clock::now();
    glBindTexture(GL_TEXTURE_2D, FeedbackTexture);
    while (Elapsed(Start) < Seconds) {
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glColor4f(1, 1, 1, 0.4f);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0);
        glVertex2i(0, Height);
        glTexCoord2f(1, 0);
        glVertex2i(Width, Height);
        glTexCoord2f(1, 1);
        glVertex2i(Width, 0);
        glTexCoord2f(0, 1);
        glVertex2i(0, 0);
        glEnd();
        glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, TextureWidth, TextureHeight, 0);
        SwapBuffers(DeviceContext);
        Frames++;
    }
    return static_cast<double>(Frames) / Elapsed(Start);
}

void ShowLoopAgainstBareLoop(benchmark::State& State) {
    if (chdir(DEMO_DATA_DIR) != 0) { // where "music.mp3" is
        State.SkipWithError("no data directory");
        return;
    }
    CreateGLWindow(Width, Height, true);
    InitDemo(GetWindowHandle(), Width, Height);
    HDC DeviceContext = GetDC(GetWindowHandle());
    double Show = 0, Bare = 0;
    for (auto _ : State) {
        Show = ShowFramesPerSecond();
        Bare = BareFramesPerSecond(DeviceContext);
    }
    ReleaseDC(GetWindowHandle(), DeviceContext);
    DestroyGLWindow();
    State.counters["show_fps"] = Show;
    State.counters["bare_fps"] = Bare;
    State.counters["show_over_bare"] = Bare > 0 ? Show / Bare : 0;
}
BENCHMARK(ShowLoopAgainstBareLoop)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

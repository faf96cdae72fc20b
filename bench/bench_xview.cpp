// The viewer: frames per second drawing a generated tree of 1,000 objects off-screen (EGL,
// 1024 x 768), rounds interleaved with a bare OpenGL loop that draws the same rectangles,
// borders and text quads directly; and the processor use of an idle xview window once drawn
// (needs a display: run under scripts/with-display).
#include "glcanvas.h"
#include "xlogging.h"
#include "xviewer.h"

#include <GL/gl.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t Width = 1024;
constexpr int32_t Height = 768;
constexpr int32_t Panels = 40;        // under the root
constexpr int32_t ItemsPerPanel = 24; // under each panel: 40 + 960 = 1,000 objects
constexpr int32_t FramesPerRound = 20;
constexpr int32_t Rounds = 9;

using Clock = std::chrono::steady_clock;

struct TRectangle {
    int32_t Left, Top, Width, Height;
};

// The tree's file, and the absolute rectangles of its objects (the root first).
std::string WriteTree(std::vector<TRectangle>& Rectangles) {
    std::filesystem::path File = std::filesystem::temp_directory_path() / "bench-xview-tree.txt";
    std::ofstream Out(File, std::ios::binary);
    Out << "SELF.WIDTH = " << Width << ";\nSELF.HEIGHT = " << Height
        << ";\nSELF.CAPTION : STRING = \"Root\";\n";
    Rectangles.push_back({0, 0, Width, Height});
    for (int32_t Panel = 0; Panel < Panels; Panel++) {
        const int32_t Left = 4 + (Panel % 8) * 127, Top = 4 + (Panel / 8) * 152;
        Out << "NEW P" << Panel << " = OBJECT: LEFT = " << Left << "; TOP = " << Top
            << "; WIDTH = 124; HEIGHT = 148; CAPTION : STRING = \"Panel " << Panel << "\";\n";
        Rectangles.push_back({Left, Top, 124, 148});
        for (int32_t Item = 0; Item < ItemsPerPanel; Item++) {
            const int32_t ItemLeft = 2 + (Item % 2) * 61, ItemTop = 16 + (Item / 2) * 11;
            Out << "  NEW I" << Item << " = OBJECT: LEFT = " << ItemLeft << "; TOP = " << ItemTop
                << "; WIDTH = 59; HEIGHT = 10; CAPTION : STRING = \"Item " << Item << "\"; END;\n";
            Rectangles.push_back({Left + ItemLeft, Top + ItemTop, 59, 10});
        }
        Out << "END;\n";
    }
    Out << "END.\n";
    return File.string();
}

double Median(std::vector<double> Values) {
    std::sort(Values.begin(), Values.end());
    return Values[Values.size() / 2];
}

// The yardstick: per rectangle one fill and four border quads, and one textured quad.
void DrawBare(const std::vector<TRectangle>& Rectangles, GLuint Texture) {
    glViewport(0, 0, Width, Height);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, Width, Height, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    for (const TRectangle& R : Rectangles) {
        glDisable(GL_TEXTURE_2D);
        glBegin(GL_QUADS);
        glColor4f(0.2f, 0.3f, 0.4f, 1.0f);
        glVertex2i(R.Left, R.Top), glVertex2i(R.Left + R.Width, R.Top);
        glVertex2i(R.Left + R.Width, R.Top + R.Height), glVertex2i(R.Left, R.Top + R.Height);
        glColor4f(0.4f, 0.5f, 0.6f, 1.0f);
        for (int32_t Side = 0; Side < 4; Side++) {
            glVertex2i(R.Left, R.Top + Side), glVertex2i(R.Left + R.Width, R.Top + Side);
            glVertex2i(R.Left + R.Width, R.Top + Side + 1), glVertex2i(R.Left, R.Top + Side + 1);
        }
        glEnd();
        glEnable(GL_TEXTURE_2D);
        glBindTexture(GL_TEXTURE_2D, Texture);
        glColor4f(1, 1, 1, 1);
        glBegin(GL_QUADS);
        glTexCoord2f(0, 0), glVertex2i(R.Left + 3, R.Top);
        glTexCoord2f(1, 0), glVertex2i(R.Left + 40, R.Top);
        glTexCoord2f(1, 1), glVertex2i(R.Left + 40, R.Top + 10);
        glTexCoord2f(0, 1), glVertex2i(R.Left + 3, R.Top + 10);
        glEnd();
    }
    glDisable(GL_TEXTURE_2D);
}

double FramesPerSecond(const auto& Draw) {
    auto Start = Clock::now();
    for (int32_t Frame = 0; Frame < FramesPerRound; Frame++) Draw();
    glFinish();
    return FramesPerRound / std::chrono::duration<double>(Clock::now() - Start).count();
}

void DrawThousandObjects(benchmark::State& State) {
    TGLCanvas Canvas;
    std::string Problem;
    if (!Canvas.Create(Width, Height, Problem)) {
        State.SkipWithError(Problem.c_str());
        return;
    }
    std::vector<TRectangle> Rectangles;
    std::string File = WriteTree(Rectangles);
    TXViewer Viewer;
    Viewer.OpenObject(File);
    Viewer.Resize(Width, Height);
    std::vector<uint8_t> Pixels(40 * 10 * 4, 200);
    GLuint Texture = 0;
    glGenTextures(1, &Texture);
    glBindTexture(GL_TEXTURE_2D, Texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 40, 10, 0, GL_RGBA, GL_UNSIGNED_BYTE, Pixels.data());
    Viewer.DrawFrame(); // the text textures are made once
    std::vector<double> Tree, Bare;
    for (auto _ : State) {
        for (int32_t Round = 0; Round < Rounds; Round++) {
            Tree.push_back(FramesPerSecond([&] { Viewer.DrawFrame(); }));
            Bare.push_back(FramesPerSecond([&] { DrawBare(Rectangles, Texture); }));
        }
    }
    glDeleteTextures(1, &Texture);
    State.counters["objects"] = double(Rectangles.size() - 1);
    State.counters["tree_fps"] = Median(Tree);
    State.counters["bare_fps"] = Median(Bare);
    State.counters["tree_over_bare"] = Median(Tree) / Median(Bare);
    std::filesystem::remove(File);
}
BENCHMARK(DrawThousandObjects)->Iterations(1)->Unit(benchmark::kSecond);

// Processor seconds (user and system) the process has used so far.
double ProcessorSeconds(pid_t Process) {
    std::ifstream Stat("/proc/" + std::to_string(Process) + "/stat");
    std::string Text((std::istreambuf_iterator<char>(Stat)), std::istreambuf_iterator<char>());
    size_t After = Text.rfind(')');
    if (After == std::string::npos) return -1;
    std::vector<std::string> Fields;
    std::string Field;
    for (char Character : Text.substr(After + 2)) {
        if (Character == ' ') {
            Fields.push_back(Field);
            Field.clear();
        } else
            Field += Character;
    }
    // utime and stime are fields 14 and 15 of the whole line; 11 and 12 after the name.
    if (Fields.size() < 13) return -1;
    return double(std::stoll(Fields[11]) + std::stoll(Fields[12])) / double(sysconf(_SC_CLK_TCK));
}

void IdleWindow(benchmark::State& State, bool Thousand) {
    if (!std::getenv("DISPLAY")) {
        State.SkipWithError("no display (run under scripts/with-display)");
        return;
    }
    std::vector<TRectangle> Rectangles;
    std::string File = Thousand ? WriteTree(Rectangles) : "";
    double Percent = 0, Drawn = 0;
    for (auto _ : State) {
        pid_t Process = fork();
        if (Process == 0) {
            std::freopen("/dev/null", "w", stdout);
            if (Thousand)
                execl(XVIEW_PATH, "xview", File.c_str(), nullptr);
            else
                execl(XVIEW_PATH, "xview", SOURCE_DIR "/data/types/window.txt",
                      SOURCE_DIR "/data/testapp.txt", nullptr);
            _exit(127);
        }
        // Loaded and drawn well within this; then nothing happens for five seconds.
        std::this_thread::sleep_for(std::chrono::seconds(3));
        Drawn = ProcessorSeconds(Process);
        auto Start = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(5));
        double Used = ProcessorSeconds(Process) - Drawn;
        Percent = 100.0 * Used / std::chrono::duration<double>(Clock::now() - Start).count();
        kill(Process, SIGTERM);
        waitpid(Process, nullptr, 0);
    }
    State.counters["startup_cpu_s"] = Drawn;
    State.counters["idle_cpu_percent"] = Percent;
    if (Thousand) std::filesystem::remove(File);
}
BENCHMARK_CAPTURE(IdleWindow, shipped_application, false)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK_CAPTURE(IdleWindow, thousand_objects, true)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

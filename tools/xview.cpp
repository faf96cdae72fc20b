// xview: shows a GUI object or an application in a window, or draws it to a PNG file.

#include "framesink.h"
#include "glcanvas.h"
#include "sdldisplay.h"
#include "xguiapp.h"
#include "xlogging.h"
#include "xviewer.h"

#include <SDL.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Usage = "usage: xview [OPTIONS] FILE\n"
                                   "       xview [OPTIONS] TYPEFILE CONTENTSFILE\n"
                                   "       xview --help\n";

constexpr std::string_view Help =
    "\n"
    "  FILE           show the definition file FILE as a GUI object named MAIN, its\n"
    "                 scripts run, in a window of its WIDTH x HEIGHT\n"
    "  TYPEFILE CONTENTSFILE\n"
    "                 show an application named MAIN built from the window type file\n"
    "                 and the contents file (as xrun --app builds it); the contents are\n"
    "                 shown in the window's CLIENT\n"
    "\n"
    "  --png OUT      draw one picture off-screen after loading, running the scripts and\n"
    "                 laying out, write it to OUT as PNG and end (no display needed)\n"
    "  --size WxH     the window's or picture's size (16 to 8192; default the root's\n"
    "                 WIDTH x HEIGHT)\n"
    "  --click X,Y    a click at X, Y (pixels from the top-left corner) once loaded,\n"
    "                 before the first picture; may be given several times\n"
    "  --help         print this text\n"
    "\n"
    "In the window: a click on an object runs the script function its ONCLICK (or the\n"
    "nearest one above it) names; Escape or closing the window ends the program.\n";

constexpr int ExitUsage = 2;
constexpr int ExitFailure = 1;

struct TPoint {
    int32_t X = 0, Y = 0;
};

struct TOptions {
    std::vector<std::string> Files;
    std::string PngFile;
    bool Png = false;
    bool SizeGiven = false;
    int32_t Width = 0, Height = 0;
    std::vector<TPoint> Clicks;
};

int UsageError(const std::string& Problem) {
    std::fprintf(stderr, "xview: %s\n%.*s", Problem.c_str(), static_cast<int>(Usage.size()), Usage.data());
    return ExitUsage;
}

int Failure(const std::string& Problem) {
    LogLine(9, "xview: " + Problem);
    return ExitFailure;
}

bool ParseInteger(std::string_view Text, int32_t& Value) {
    const char* End = Text.data() + Text.size();
    auto [Stop, Error] = std::from_chars(Text.data(), End, Value);
    return Error == std::errc() && Stop == End && !Text.empty();
}

// "AxB" (Separator 'x') or "A,B" (Separator ',').
bool ParsePair(std::string_view Text, char Separator, int32_t& First, int32_t& Second) {
    size_t At = Text.find(Separator);
    return At != std::string_view::npos && ParseInteger(Text.substr(0, At), First) &&
           ParseInteger(Text.substr(At + 1), Second);
}

bool CanOpen(const std::string& FileName) {
    std::FILE* File = std::fopen(NativeFileName(FileName).c_str(), "rb");
    if (!File) return false;
    std::fclose(File);
    return true;
}

// Whether OUT can be written, before the work of drawing it.
bool CanWrite(const std::string& Path, std::string& Problem) {
    std::error_code Error;
    std::filesystem::path Target(Path);
    if (std::filesystem::is_directory(Target, Error)) {
        Problem = "cannot write " + Path + ": it is a folder";
        return false;
    }
    std::filesystem::path Folder = Target.parent_path();
    if (Folder.empty()) Folder = ".";
    bool Writable = std::filesystem::exists(Target, Error) ? access(Path.c_str(), W_OK) == 0
                                                           : access(Folder.c_str(), W_OK) == 0;
    if (!Writable) Problem = "cannot write " + Path + ": " + std::strerror(errno);
    return Writable;
}

void Open(TXViewer& Viewer, const TOptions& Options) {
    if (Options.Files.size() == 1)
        Viewer.OpenObject(Options.Files[0]);
    else
        Viewer.OpenApplication(Options.Files[0], Options.Files[1]);
}

// Waits for an application's contents (however long its worker takes), as xrun --app does.
void WaitForContents(TXViewer& Viewer) {
    while (Viewer.ContentsPending() && !Viewer.CheckContents())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// The clicks asked for, in order; false once the shown object is gone.
bool SendClicks(TXViewer& Viewer, const TOptions& Options) {
    for (const TPoint& Point : Options.Clicks) {
        Viewer.Click(Point.X, Point.Y);
        if (Viewer.Ended()) return false;
    }
    return true;
}

bool ClicksInside(const TOptions& Options, int32_t Width, int32_t Height, std::string& Problem) {
    for (const TPoint& Point : Options.Clicks)
        if (Point.X < 0 || Point.Y < 0 || Point.X >= Width || Point.Y >= Height) {
            Problem = "--click " + std::to_string(Point.X) + "," + std::to_string(Point.Y) +
                      " is outside the " + std::to_string(Width) + "x" + std::to_string(Height) + " picture";
            return false;
        }
    return true;
}

int DrawPng(const TOptions& Options) {
    std::string Problem;
    if (!CanWrite(Options.PngFile, Problem)) return Failure(Problem);
    TGLCanvas Canvas;
    TXViewer Viewer;
    Open(Viewer, Options);
    int32_t Width = Options.Width, Height = Options.Height;
    if (!Options.SizeGiven) Viewer.PreferredSize(Width, Height);
    if (!ClicksInside(Options, Width, Height, Problem)) return Failure(Problem);
    if (!Canvas.Create(Width, Height, Problem)) return Failure("no picture: " + Problem);
    Viewer.Resize(Width, Height);
    WaitForContents(Viewer);
    if (Viewer.Ended() || !SendClicks(Viewer, Options)) {
        LogLine(0, "xview: the application ended on a click; no picture written");
        return 0;
    }
    Viewer.DrawFrame();
    std::vector<uint8_t> Rgb, Png;
    if (!Canvas.Read(Rgb, Problem)) return Failure("no picture: " + Problem);
    EncodePng(Rgb.data(), Width, Height, Png);
    std::FILE* File = std::fopen(Options.PngFile.c_str(), "wb");
    bool Written = File && std::fwrite(Png.data(), 1, Png.size(), File) == Png.size();
    if (File && std::fclose(File) != 0) Written = false;
    if (!Written) {
        std::remove(Options.PngFile.c_str());
        return Failure("cannot write " + Options.PngFile);
    }
    return 0;
}

uint8_t HeldButton(uint32_t State) {
    if (State & SDL_BUTTON_LMASK) return 1;
    if (State & SDL_BUTTON_MMASK) return 2;
    if (State & SDL_BUTTON_RMASK) return 3;
    return 0;
}

// One event; false when it ends the program.
bool HandleEvent(TXViewer& Viewer, SDL_Window* Window, const SDL_Event& Event) {
    switch (Event.type) {
    case SDL_QUIT: return false;
    case SDL_KEYDOWN: return Event.key.keysym.sym != SDLK_ESCAPE;
    case SDL_WINDOWEVENT:
        switch (Event.window.event) {
        case SDL_WINDOWEVENT_SIZE_CHANGED: {
            int Width = 0, Height = 0;
            SDL_GL_GetDrawableSize(Window, &Width, &Height);
            Viewer.Resize(std::max(Width, 1), std::max(Height, 1));
            break;
        }
        case SDL_WINDOWEVENT_LEAVE: Viewer.PointerLeft(); break;
        case SDL_WINDOWEVENT_EXPOSED: Viewer.Invalidate(); break;
        default: break;
        }
        return true;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP:
        if (Event.button.button < 1 || Event.button.button > 3) return true;
        if (Event.type == SDL_MOUSEBUTTONDOWN)
            Viewer.PointerDown(Event.button.x, Event.button.y, Event.button.button);
        else
            Viewer.PointerUp(Event.button.x, Event.button.y, Event.button.button);
        return !Viewer.Ended();
    case SDL_MOUSEMOTION:
        Viewer.PointerMove(Event.motion.x, Event.motion.y, HeldButton(Event.motion.state));
        return true;
    default: return true;
    }
}

std::string WindowTitle(const TXViewer& Viewer, const TOptions& Options) {
    if (TXGuiObject* Shown = Viewer.Root()) {
        std::string_view Text = TXViewPainter::TextOf(*Shown);
        if (!Text.empty()) return std::string(Text);
    }
    return "xview " + Options.Files.back();
}

int ShowWindow(const TOptions& Options) {
    ChooseDisplayDrivers();
    SDL_SetHint(SDL_HINT_MOUSE_FOCUS_CLICKTHROUGH, "1");
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        LogLine(9, std::string("no display: SDL video could not start: ") + SDL_GetError());
        return ExitFailure;
    }
    auto Shown = std::make_unique<TXViewer>();
    TXViewer& Viewer = *Shown;
    Open(Viewer, Options);
    int32_t Width = Options.Width, Height = Options.Height;
    if (!Options.SizeGiven) Viewer.PreferredSize(Width, Height);
    std::string Problem;
    if (!ClicksInside(Options, Width, Height, Problem)) return Failure(Problem);
    {
        SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
        SDL_Window* Window =
            SDL_CreateWindow(WindowTitle(Viewer, Options).c_str(), SDL_WINDOWPOS_CENTERED,
                             SDL_WINDOWPOS_CENTERED, Width, Height, SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
        SDL_GLContext Context = Window ? SDL_GL_CreateContext(Window) : nullptr;
        if (!Context) {
            LogLine(9, std::string("xview: no OpenGL window: ") + SDL_GetError());
            if (Window) SDL_DestroyWindow(Window);
            return ExitFailure;
        }
        SDL_SetWindowMinimumSize(Window, MinViewSize, MinViewSize);
        SDL_GL_SetSwapInterval(1);
        int DrawableWidth = Width, DrawableHeight = Height;
        SDL_GL_GetDrawableSize(Window, &DrawableWidth, &DrawableHeight);
        Viewer.Resize(DrawableWidth, DrawableHeight);
        if (!Options.Clicks.empty()) {
            WaitForContents(Viewer);
            SendClicks(Viewer, Options);
        }
        bool Running = !Viewer.Ended();
        while (Running) {
            Viewer.CheckContents();
            if (Viewer.TakeRedraw()) {
                Viewer.DrawFrame();
                SDL_GL_SwapWindow(Window);
            }
            // Idle: block on the next event; only while contents load, look again soon.
            SDL_Event Event;
            bool Got = Viewer.ContentsPending() ? SDL_WaitEventTimeout(&Event, 20) : SDL_WaitEvent(&Event);
            while (Got && Running) {
                Running = HandleEvent(Viewer, Window, Event);
                Got = SDL_PollEvent(&Event);
            }
            if (Viewer.Ended()) Running = false;
        }
        // The viewer's textures go while their context is current. SDL stays started: its
        // end unloads the OpenGL driver, which leaves blocks behind that no leak checker can
        // name; the process ends next.
        Shown.reset();
        SDL_GL_DeleteContext(Context);
        SDL_DestroyWindow(Window);
    }
    return 0;
}

} // namespace

int main(int ArgumentCount, char** Arguments) {
    TOptions Options;
    if (ArgumentCount == 2 && std::string_view(Arguments[1]) == "--help") {
        WriteConsole(std::string(Usage) + std::string(Help));
        return 0;
    }
    std::vector<std::string> SizeTexts, ClickTexts;
    for (int Index = 1; Index < ArgumentCount; Index++) {
        std::string_view Argument = Arguments[Index];
        auto Value = [&](std::string& Into) {
            if (Index + 1 >= ArgumentCount) return false;
            Into = Arguments[++Index];
            return true;
        };
        if (Argument == "--png") {
            if (Options.Png) return UsageError("--png given twice");
            if (!Value(Options.PngFile)) return UsageError("--png needs a file name");
            Options.Png = true;
        } else if (Argument == "--size") {
            if (!SizeTexts.empty()) return UsageError("--size given twice");
            if (!Value(SizeTexts.emplace_back())) return UsageError("--size needs WIDTHxHEIGHT");
        } else if (Argument == "--click") {
            if (!Value(ClickTexts.emplace_back())) return UsageError("--click needs X,Y");
        } else if (Argument.starts_with("--")) {
            return UsageError("unknown option '" + std::string(Argument) + "'");
        } else {
            Options.Files.emplace_back(Argument);
        }
    }
    if (Options.Files.empty()) return UsageError("no file given");
    if (Options.Files.size() > 2) return UsageError("unexpected argument '" + Options.Files[2] + "'");
    if (!SizeTexts.empty()) {
        if (!ParsePair(SizeTexts[0], 'x', Options.Width, Options.Height))
            return Failure("--size " + SizeTexts[0] + " is not WIDTHxHEIGHT");
        if (Options.Width < MinViewSize || Options.Width > MaxViewSize || Options.Height < MinViewSize ||
            Options.Height > MaxViewSize)
            return Failure("--size " + SizeTexts[0] + " is out of range (16 to 8192)");
        Options.SizeGiven = true;
    }
    for (const std::string& Text : ClickTexts) {
        TPoint Point;
        if (!ParsePair(Text, ',', Point.X, Point.Y)) return Failure("--click " + Text + " is not X,Y");
        Options.Clicks.push_back(Point);
    }
    for (const std::string& File : Options.Files)
        if (!CanOpen(File)) return Failure("cannot open " + File);
    int Status = Options.Png ? DrawPng(Options) : ShowWindow(Options);
    // Applications a TEST(0) started load on workers of their own: the program ends once they
    // have loaded and are freed.
    DestroyTestApplications();
    return Status;
}

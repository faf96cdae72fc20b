// The window module on the real window layer (an X server, as make test provides), with
// the recording OpenGL in place of the system library and the scripted audio calls.
#include "bass_script.h"
#include "effect.h"
#include "glrecord.h"
#include "oglwin.h"
#include "xlogging.h"

#include <SDL.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

namespace {

using testing::ElementsAre;

constexpr int32_t ScreenW = 640, ScreenH = 480;
// A borderless window's client area is its outer size: the screen plus the frame allowance.
constexpr int32_t ClientW = ScreenW + 2 * 3, ClientH = ScreenH + 2 * 3 + 19;

SDL_Window* SdlWindow() {
    for (Uint32 Id = 1; Id < 256; ++Id)
        if (SDL_Window* Each = SDL_GetWindowFromID(Id);
            Each && std::string(SDL_GetWindowTitle(Each)) == "new project")
            return Each;
    return nullptr;
}

void PushKey(SDL_Keycode Key) {
    SDL_Event Event{};
    Event.type = SDL_KEYDOWN;
    Event.key.windowID = SDL_GetWindowID(SdlWindow());
    Event.key.state = SDL_PRESSED;
    Event.key.keysym.sym = Key;
    Event.key.keysym.scancode = SDL_GetScancodeFromKey(Key);
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
}

void PushQuit() {
    SDL_Event Event{};
    Event.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
}

class WindowTest : public testing::Test {
protected:
    void SetUp() override {
        GLRecord::Reset();
        BassScript::Reset();
        ResetEffect();
        StartConsoleCapture();
        CreateGLWindow(ScreenW, ScreenH, true);
        SetUpOutput = EndConsoleCapture();
        BassScript::SetFileLength(100000);
        InitDemo(GetWindowHandle(), ScreenW, ScreenH);
        // Whatever the creation left queued (the first WM_SIZE, focus) is handled here.
        MSG Message;
        while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&Message);
        GLRecord::Clear();
    }

    void TearDown() override { DestroyGLWindow(); }

    static LRESULT Send(UINT Message, WPARAM WParam, LPARAM LParam = 0) {
        return WindowProc(GetWindowHandle(), Message, WParam, LParam);
    }

    std::string SetUpOutput;
};

TEST_F(WindowTest, CreatesAShownPopupWithAContextAndNoComplaints) {
    EXPECT_EQ(SetUpOutput, "");
    SDL_Window* Window = SdlWindow();
    ASSERT_NE(Window, nullptr);
    int W = 0, H = 0;
    SDL_GetWindowSize(Window, &W, &H);
    EXPECT_EQ(W, ClientW);
    EXPECT_EQ(H, ClientH);
    EXPECT_TRUE(SDL_GetWindowFlags(Window) & SDL_WINDOW_SHOWN);
    EXPECT_TRUE(SDL_GetWindowFlags(Window) & SDL_WINDOW_BORDERLESS);
    EXPECT_NE(SDL_GL_GetCurrentContext(), nullptr);
    EXPECT_TRUE(Running);
    EXPECT_EQ(WindowWidth, ClientW); // from the WM_SIZE of creation
    EXPECT_EQ(WindowHeight, ClientH);
}

TEST_F(WindowTest, SetsTheInitialStateThenTheProjection) {
    DestroyGLWindow();
    GLRecord::Clear();
    CreateGLWindow(ScreenW, ScreenH, true);
    auto Trace = GLRecord::Trace(GLRecord::IndexOf("glEnable"));
    std::string Viewport =
        "glViewport(0, 0, " + std::to_string(ClientW) + ", " + std::to_string(ClientH) + ")";
    std::string Ortho =
        "glOrtho(0, " + std::to_string(ClientW) + ", " + std::to_string(ClientH) + ", 0, 0, 128)";
    EXPECT_THAT(Trace,
                ElementsAre("glEnable(GL_TEXTURE_2D)", "glClearColor(0, 0, 0, 0)", "glShadeModel(GL_SMOOTH)",
                            "glClearDepth(1)", "glEnable(GL_DEPTH_TEST)", "glDepthFunc(GL_LEQUAL)",
                            "glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST)",
                            "glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA)",
                            "glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP)",
                            "glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP)",
                            "glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT)",
                            "glMatrixMode(GL_PROJECTION)", "glLoadIdentity()", Viewport, Ortho));
    // The WM_SIZE sent during creation set the projection once already.
    EXPECT_EQ(GLRecord::CountOf("glOrtho"), 2);
}

TEST_F(WindowTest, EscapeTypedAsACharacterEndsTheShow) {
    EXPECT_EQ(Send(WM_CHAR, 'a'), 0);
    EXPECT_TRUE(Running);
    EXPECT_EQ(Send(WM_CHAR, 27), 0);
    EXPECT_FALSE(Running);
}

TEST_F(WindowTest, EscapeAsASystemCharacterEndsTheShowToo) {
    EXPECT_EQ(Send(WM_SYSCHAR, 'x'), 0);
    EXPECT_TRUE(Running);
    EXPECT_EQ(Send(WM_SYSCHAR, 0x100 | 27), 0); // only the low byte counts
    EXPECT_FALSE(Running);
    EXPECT_NE(SdlWindow(), nullptr); // no default handling
}

TEST_F(WindowTest, KeysAndPointerMessagesAreSwallowed) {
    for (UINT Message : {WM_KEYDOWN, WM_KEYUP}) EXPECT_EQ(Send(Message, VK_ESCAPE), 0);
    for (UINT Message : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN})
        EXPECT_EQ(Send(Message, 0, MAKELPARAM(5, 5)), 0);
    EXPECT_TRUE(Running);
}

TEST_F(WindowTest, AnArrowKeyThroughThePumpDoesNothing) {
    PushKey(SDLK_LEFT);
    EXPECT_TRUE(PumpMessages());
    EXPECT_TRUE(Running);
}

TEST_F(WindowTest, EscapeThroughThePumpEndsTheShowInThatPass) {
    PushKey(SDLK_ESCAPE);
    EXPECT_FALSE(PumpMessages());
    EXPECT_EQ(GLRecord::CountOf("glCopyTexImage2D"), 1);
}

TEST_F(WindowTest, ResizingUpdatesViewportAndProjectionAtOnce) {
    EXPECT_EQ(Send(WM_SIZE, 0, MAKELPARAM(800, 600)), 0);
    EXPECT_EQ(WindowWidth, 800);
    EXPECT_EQ(WindowHeight, 600);
    EXPECT_THAT(GLRecord::Trace(),
                ElementsAre("glMatrixMode(GL_PROJECTION)", "glLoadIdentity()", "glViewport(0, 0, 800, 600)",
                            "glOrtho(0, 800, 600, 0, 0, 128)"));
    // The next frame keeps that projection; the effect still draws in screen units.
    GLRecord::Clear();
    RenderFrame();
    EXPECT_EQ(GLRecord::TraceOf({"glViewport"}), std::vector<std::string>{"glViewport(0, 0, 800, 600)"});
    auto Quad = GLRecord::Primitives().back();
    EXPECT_EQ(Quad.Vertices[1].X, ScreenW);
    EXPECT_EQ(Quad.Vertices[1].Y, ScreenH);
}

TEST_F(WindowTest, CloseEndsTheShowAndDestroysTheWindow) {
    Send(WM_CLOSE, 0);
    EXPECT_FALSE(Running);
    EXPECT_EQ(SdlWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(GetWindowHandle())); // the tear-down's call fails harmlessly
}

TEST_F(WindowTest, AltF4ReachesTheDefaultHandlingAndCloses) {
    Send(WM_SYSKEYDOWN, VK_F4, 1 << 29);
    EXPECT_FALSE(Running);
    EXPECT_EQ(SdlWindow(), nullptr);
}

TEST_F(WindowTest, APassRendersItsFrameAlsoWhenTheWindowClosedDuringIt) {
    EXPECT_TRUE(PumpMessages());
    PushQuit();
    GLRecord::Clear();
    EXPECT_FALSE(PumpMessages());
    EXPECT_EQ(GLRecord::CountOf("glClear"), 1);
    EXPECT_EQ(GLRecord::CountOf("glCopyTexImage2D"), 1);
    EXPECT_FALSE(Running);
}

TEST_F(WindowTest, AFrameClearsProjectsDrawsTheScene) {
    RenderFrame();
    auto Trace = GLRecord::Trace(0, 5);
    std::string Viewport =
        "glViewport(0, 0, " + std::to_string(ClientW) + ", " + std::to_string(ClientH) + ")";
    EXPECT_THAT(Trace, ElementsAre("glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT)",
                                   "glMatrixMode(GL_PROJECTION)", "glLoadIdentity()", Viewport,
                                   testing::StartsWith("glOrtho(")));
    EXPECT_EQ(GLRecord::Format(GLRecord::Calls().back()),
              "glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 1024, 512, 0)");
    EXPECT_EQ(GLRecord::CountOf("glMatrixMode"), 1); // the modelview matrix is never touched
}

TEST_F(WindowTest, TheTimerKeepsTheQueueBusy) {
    int32_t Timers = 0;
    for (int32_t Pass = 0; Pass < 200 && Timers == 0; Pass++) {
        MSG Message;
        while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE))
            if (Message.message == WM_TIMER && Message.wParam == 0xC0FFEE) Timers++;
        Sleep(1);
    }
    EXPECT_GT(Timers, 0);
}

TEST_F(WindowTest, TearDownUnregistersTheClass) {
    DestroyGLWindow();
    WNDCLASSA Class = {};
    Class.lpfnWndProc = DefWindowProcA;
    Class.hInstance = GetModuleHandleA(nullptr);
    Class.lpszClassName = "tallowmesh";
    EXPECT_NE(RegisterClassA(&Class), 0);
    EXPECT_TRUE(UnregisterClassA("tallowmesh", GetModuleHandleA(nullptr)));
    CreateGLWindow(ScreenW, ScreenH, true); // for TearDown
}

} // namespace

// The window layer against a real X server (Xvfb with Mesa's software renderer).

#include "windows.h"

#include <GL/gl.h>
#include <SDL.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

struct TReceived {
    HWND Window;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
};

std::vector<TReceived> Received;

// Handles messages as the show does: keys, characters and mouse are swallowed, the rest
// gets the default handling.
LRESULT CALLBACK RecordingProcedure(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    Received.push_back({Window, Message, WParam, LParam});
    switch (Message) {
    case WM_SIZE:
    case WM_CHAR:
    case WM_SYSCHAR:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: return 0;
    default: return DefWindowProcA(Window, Message, WParam, LParam);
    }
}

PIXELFORMATDESCRIPTOR ShowPixelFormat() {
    PIXELFORMATDESCRIPTOR Descriptor;
    ZeroMemory(&Descriptor, sizeof Descriptor);
    Descriptor.nSize = sizeof Descriptor;
    Descriptor.nVersion = 1;
    Descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    Descriptor.iPixelType = PFD_TYPE_RGBA;
    Descriptor.cColorBits = 32;
    Descriptor.cDepthBits = 16;
    Descriptor.iLayerType = PFD_MAIN_PLANE;
    return Descriptor;
}

const char* const ClassName = "tallowmesh";
// Unique on the display, which tests in other processes share.
const std::string Title = "new project " + std::to_string(getpid());

class WindowLayer : public ::testing::Test {
protected:
    void SetUp() override {
        Received.clear();
        WNDCLASSA Class;
        ZeroMemory(&Class, sizeof Class);
        Class.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
        Class.lpfnWndProc = RecordingProcedure;
        Class.hInstance = GetModuleHandleA(NULL);
        Class.hCursor = LoadCursorA(NULL, IDC_ARROW);
        Class.lpszClassName = ClassName;
        ASSERT_NE(RegisterClassA(&Class), 0);
    }

    void TearDown() override {
        if (Context) {
            wglMakeCurrent(DeviceContext, NULL);
            wglDeleteContext(Context);
        }
        if (Window) DestroyWindow(Window);
        EXPECT_TRUE(UnregisterClassA(ClassName, GetModuleHandleA(NULL)));
    }

    HWND Create(DWORD Style, int Width, int Height) {
        Window = CreateWindowExA(WS_EX_APPWINDOW, ClassName, Title.c_str(), Style, 0, 0, Width, Height, NULL,
                                 NULL, GetModuleHandleA(NULL), NULL);
        return Window;
    }

    void CreateWithContext(int Width, int Height, PIXELFORMATDESCRIPTOR Descriptor = ShowPixelFormat()) {
        ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, Width, Height), nullptr);
        DeviceContext = GetDC(Window);
        ASSERT_NE(DeviceContext, nullptr);
        int Format = ChoosePixelFormat(DeviceContext, &Descriptor);
        ASSERT_NE(Format, 0);
        ASSERT_TRUE(SetPixelFormat(DeviceContext, Format, &Descriptor));
        Context = wglCreateContext(DeviceContext);
        ASSERT_NE(Context, nullptr);
        ASSERT_TRUE(wglMakeCurrent(DeviceContext, Context));
    }

    // The SDL window behind our window, found by its title.
    static SDL_Window* SdlWindow() {
        for (Uint32 Id = 1; Id < 256; ++Id)
            if (SDL_Window* Each = SDL_GetWindowFromID(Id); Each && SDL_GetWindowTitle(Each) == Title)
                return Each;
        return nullptr;
    }

    static void PushKey(SDL_Keycode Key, Uint16 Modifiers, Uint32 Type = SDL_KEYDOWN) {
        SDL_Event Event{};
        Event.type = Type;
        Event.key.windowID = SDL_GetWindowID(SdlWindow());
        Event.key.state = Type == SDL_KEYDOWN ? SDL_PRESSED : SDL_RELEASED;
        Event.key.keysym.sym = Key;
        Event.key.keysym.scancode = SDL_GetScancodeFromKey(Key);
        Event.key.keysym.mod = Modifiers;
        ASSERT_EQ(SDL_PushEvent(&Event), 1);
    }

    // Runs the show's message loop until Done holds or about Passes milliseconds have passed.
    static bool PumpUntil(const std::function<bool()>& Done, int Passes = 2000) {
        for (int Pass = 0; Pass < Passes; ++Pass) {
            MSG Message;
            while (PeekMessageA(&Message, NULL, 0, 0, PM_REMOVE)) {
                TranslateMessage(&Message);
                DispatchMessageA(&Message);
            }
            if (Done()) return true;
            Sleep(1);
        }
        return false;
    }

    static const TReceived* Find(UINT Message) {
        for (const auto& Each : Received)
            if (Each.Message == Message) return &Each;
        return nullptr;
    }

    static const TReceived* FindLast(UINT Message) {
        for (auto Each = Received.rbegin(); Each != Received.rend(); ++Each)
            if (Each->Message == Message) return &*Each;
        return nullptr;
    }

    static const TReceived* FindWith(UINT Message, LPARAM LParam) {
        for (const auto& Each : Received)
            if (Each.Message == Message && Each.LParam == LParam) return &Each;
        return nullptr;
    }

    static std::function<bool()> Arrived(UINT Message) {
        return [Message] { return Find(Message) != nullptr; };
    }

    HWND Window = NULL;
    HDC DeviceContext = NULL;
    HGLRC Context = NULL;
};

// ---- Window and GL context ----

TEST_F(WindowLayer, ClearColourReadsBackFromTheContext) {
    CreateWithContext(64, 48);
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    unsigned char Pixel[4] = {};
    glReadPixels(10, 10, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, Pixel);
    EXPECT_EQ(Pixel[0], 255);
    EXPECT_EQ(Pixel[1], 0);
    EXPECT_EQ(Pixel[2], 0);
    EXPECT_TRUE(SwapBuffers(DeviceContext));
}

TEST_F(WindowLayer, ImmediateModeDrawsInPixelUnits) {
    CreateWithContext(64, 48);
    glViewport(0, 0, 64, 48);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, 64, 48, 0, 0, 128);
    glClearColor(0, 0, 0, 0);
    glClear(GL_COLOR_BUFFER_BIT);
    glColor3f(0.0f, 1.0f, 0.0f);
    glBegin(GL_QUADS);
    glVertex2i(0, 0);
    glVertex2i(32, 0);
    glVertex2i(32, 24);
    glVertex2i(0, 24);
    glEnd();
    unsigned char TopLeft[4] = {};
    unsigned char BottomRight[4] = {};
    glReadPixels(4, 48 - 4, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, TopLeft);
    glReadPixels(60, 4, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, BottomRight);
    EXPECT_EQ(TopLeft[1], 255);
    EXPECT_EQ(BottomRight[1], 0);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(WindowLayer, ShowPixelFormatIsDoubleBufferedWithDepth) {
    CreateWithContext(32, 32);
    GLint Depth = 0;
    GLboolean DoubleBuffer = GL_FALSE;
    glGetIntegerv(GL_DEPTH_BITS, &Depth);
    glGetBooleanv(GL_DOUBLEBUFFER, &DoubleBuffer);
    EXPECT_GE(Depth, 16);
    EXPECT_EQ(DoubleBuffer, GL_TRUE);
}

TEST_F(WindowLayer, OtherPixelFormatRemakesTheWindow) {
    PIXELFORMATDESCRIPTOR Descriptor = ShowPixelFormat();
    Descriptor.cDepthBits = 24;
    Descriptor.cStencilBits = 8;
    CreateWithContext(32, 32, Descriptor);
    EXPECT_NE(ChoosePixelFormat(DeviceContext, &Descriptor), 1);
    GLint Depth = 0;
    GLint Stencil = 0;
    glGetIntegerv(GL_DEPTH_BITS, &Depth);
    glGetIntegerv(GL_STENCIL_BITS, &Stencil);
    EXPECT_GE(Depth, 24);
    EXPECT_GE(Stencil, 8);
}

TEST_F(WindowLayer, CreatingAContextLeavesTheCurrentOneAlone) {
    ASSERT_NE(Create(WS_POPUP, 32, 32), nullptr);
    DeviceContext = GetDC(Window);
    PIXELFORMATDESCRIPTOR Descriptor = ShowPixelFormat();
    EXPECT_EQ(wglCreateContext(DeviceContext), nullptr); // no pixel format yet
    ASSERT_TRUE(SetPixelFormat(DeviceContext, ChoosePixelFormat(DeviceContext, &Descriptor), &Descriptor));
    Context = wglCreateContext(DeviceContext);
    ASSERT_NE(Context, nullptr);
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    ASSERT_TRUE(wglMakeCurrent(DeviceContext, Context));
    EXPECT_NE(SDL_GL_GetCurrentContext(), nullptr);
    EXPECT_TRUE(wglMakeCurrent(DeviceContext, NULL));
    EXPECT_EQ(SDL_GL_GetCurrentContext(), nullptr);
    EXPECT_TRUE(wglDeleteContext(Context));
    EXPECT_FALSE(wglDeleteContext(Context));
    Context = NULL;
}

TEST_F(WindowLayer, CallsOnWrongHandlesFailAsOnWindows) {
    PIXELFORMATDESCRIPTOR Descriptor = ShowPixelFormat();
    EXPECT_EQ(ChoosePixelFormat(NULL, &Descriptor), 0);
    EXPECT_EQ(GetDC(NULL), nullptr);
    EXPECT_EQ(wglCreateContext(NULL), nullptr);
    EXPECT_FALSE(SetPixelFormat(NULL, 1, &Descriptor));
    EXPECT_FALSE(SwapBuffers(NULL));
    EXPECT_EQ(CreateWindowExA(0, "no such class", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, NULL, NULL),
              nullptr);

    ASSERT_NE(Create(WS_POPUP, 32, 32), nullptr);
    DeviceContext = GetDC(Window);
    EXPECT_FALSE(SetPixelFormat(DeviceContext, 0, &Descriptor)); // a failed ChoosePixelFormat passed on
    EXPECT_FALSE(SwapBuffers(DeviceContext));
    EXPECT_FALSE(wglMakeCurrent(DeviceContext, reinterpret_cast<HGLRC>(0x1234)));
    EXPECT_EQ(ReleaseDC(Window, reinterpret_cast<HDC>(0x1234)), 0);
    EXPECT_EQ(ReleaseDC(Window, DeviceContext), 1);
    EXPECT_EQ(GetDC(Window), DeviceContext);
    ASSERT_TRUE(SetPixelFormat(DeviceContext, 1, &Descriptor));
    EXPECT_TRUE(SetPixelFormat(DeviceContext, 1, &Descriptor));
    EXPECT_FALSE(SetPixelFormat(DeviceContext, 2, &Descriptor));
    EXPECT_FALSE(UnregisterClassA(ClassName, GetModuleHandleA(NULL))); // still has a window
    EXPECT_EQ(SetTimer(reinterpret_cast<HWND>(0x1234), 1, 30, NULL), 0u);
}

TEST_F(WindowLayer, ClassNamesAreRegisteredOnce) {
    WNDCLASSA Class;
    ZeroMemory(&Class, sizeof Class);
    Class.lpfnWndProc = RecordingProcedure;
    Class.lpszClassName = "TALLOWMESH";
    EXPECT_EQ(RegisterClassA(&Class), 0);
    Class.lpfnWndProc = NULL;
    Class.lpszClassName = "another";
    EXPECT_EQ(RegisterClassA(&Class), 0);
    EXPECT_EQ(RegisterClassA(NULL), 0);
    EXPECT_FALSE(UnregisterClassA("another", NULL));
}

TEST_F(WindowLayer, HiddenCursorStaysHiddenOverNewWindows) {
    EXPECT_EQ(ShowCursor(FALSE), -1);
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 32, 32), nullptr);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_DISABLE);
    EXPECT_EQ(ShowCursor(TRUE), 0);
    EXPECT_EQ(SDL_ShowCursor(SDL_QUERY), SDL_ENABLE);
}

// ---- Size ----

TEST_F(WindowLayer, CreationSendsTheClientSize) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 300, 200), nullptr);
    ASSERT_FALSE(Received.empty());
    EXPECT_EQ(Received[0].Message, static_cast<UINT>(WM_SIZE));
    EXPECT_EQ(Received[0].Window, Window);
    EXPECT_EQ(LOWORD(Received[0].LParam), 300);
    EXPECT_EQ(HIWORD(Received[0].LParam), 200);
}

TEST_F(WindowLayer, FramedWindowLosesFrameAndCaptionFromItsClientArea) {
    int Width = 400 + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int Height = 300 + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE | WS_OVERLAPPEDWINDOW, Width, Height), nullptr);
    const TReceived* Size = Find(WM_SIZE);
    ASSERT_NE(Size, nullptr);
    EXPECT_EQ(LOWORD(Size->LParam), 400);
    EXPECT_EQ(HIWORD(Size->LParam), 300);
}

TEST_F(WindowLayer, PopupMayReachPastTheScreen) {
    int Width = GetSystemMetrics(SM_CXSCREEN) + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int Height =
        GetSystemMetrics(SM_CYSCREEN) + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, Width, Height), nullptr);
    PumpUntil([] { return false; }, 200);
    int SdlWidth = 0;
    int SdlHeight = 0;
    SDL_GetWindowSize(SdlWindow(), &SdlWidth, &SdlHeight);
    EXPECT_EQ(SdlWidth, Width);
    EXPECT_EQ(SdlHeight, Height);
    const TReceived* Last = FindLast(WM_SIZE);
    ASSERT_NE(Last, nullptr);
    EXPECT_EQ(LOWORD(Last->LParam), Width);
    EXPECT_EQ(HIWORD(Last->LParam), Height);
}

TEST_F(WindowLayer, ResizeArrivesAsWmSize) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 200, 100), nullptr);
    Received.clear();
    SDL_SetWindowSize(SdlWindow(), 250, 150);
    ASSERT_TRUE(PumpUntil([] {
        const TReceived* Size = Find(WM_SIZE);
        return Size && LOWORD(Size->LParam) == 250 && HIWORD(Size->LParam) == 150;
    }));
}

TEST_F(WindowLayer, SystemMetricsHaveTheClassicFrame) {
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    EXPECT_GT(GetSystemMetrics(SM_CYSCREEN), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXDLGFRAME), 3);
    EXPECT_EQ(GetSystemMetrics(SM_CYDLGFRAME), 3);
    EXPECT_EQ(GetSystemMetrics(SM_CYCAPTION), 19);
    EXPECT_EQ(GetSystemMetrics(12345), 0);
}

// ---- Keyboard ----

TEST_F(WindowLayer, EscapeArrivesAsCharacter27) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_NONE);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CHAR)));
    const TReceived* Key = Find(WM_KEYDOWN);
    ASSERT_NE(Key, nullptr);
    EXPECT_EQ(Key->WParam, static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_LT(Key, Find(WM_CHAR)); // the key-down comes first
    EXPECT_EQ(Find(WM_CHAR)->WParam, 27u);
    EXPECT_EQ(Find(WM_CHAR)->Window, Window);
}

TEST_F(WindowLayer, EscapeTypedOnTheXServerArrivesAsCharacter27) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetForegroundWindow(Window);
    SetFocus(Window);
    std::string Command = "xdotool search --name '^" + Title + "$' key --window %1 Escape";
    ASSERT_EQ(std::system(Command.c_str()), 0);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CHAR)));
    EXPECT_EQ(Find(WM_CHAR)->WParam, 27u);
}

TEST_F(WindowLayer, AltKeysArriveAsSystemKeysAndCharacters) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_LALT);
    ASSERT_TRUE(PumpUntil(Arrived(WM_SYSCHAR)));
    EXPECT_EQ(Find(WM_SYSCHAR)->WParam, 27u);
    ASSERT_NE(Find(WM_SYSKEYDOWN), nullptr);
    EXPECT_NE(Find(WM_SYSKEYDOWN)->LParam & (1 << 29), 0);
    EXPECT_EQ(Find(WM_KEYDOWN), nullptr);
    EXPECT_EQ(Find(WM_CHAR), nullptr);

    Received.clear();
    PushKey(SDLK_a, KMOD_LALT, SDL_KEYUP);
    ASSERT_TRUE(PumpUntil(Arrived(WM_SYSKEYUP)));
    EXPECT_EQ(Find(WM_SYSKEYUP)->WParam, static_cast<WPARAM>('A'));
    EXPECT_NE(static_cast<DWORD>(Find(WM_SYSKEYUP)->LParam) & 0xC0000000u, 0u);
}

TEST_F(WindowLayer, AltF4ClosesTheWindowThroughTheDefaultHandling) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_F4, KMOD_LALT);
    ASSERT_TRUE(PumpUntil(Arrived(WM_DESTROY)));
    EXPECT_NE(Find(WM_CLOSE), nullptr);
    EXPECT_EQ(GetDC(Window), nullptr);
    Window = NULL;
}

struct TCharacterCase {
    SDL_Keycode Key;
    Uint16 Modifiers;
    int Character; // -1: no WM_CHAR
};

TEST_F(WindowLayer, KeyDownsYieldTheirCharacters) {
    const TCharacterCase Cases[] = {
        {SDLK_a, KMOD_NONE, 'a'},       {SDLK_a, KMOD_LSHIFT, 'A'},
        {SDLK_a, KMOD_CAPS, 'A'},       {SDLK_a, KMOD_CAPS | KMOD_LSHIFT, 'a'},
        {SDLK_c, KMOD_LCTRL, 3},        {SDLK_1, KMOD_LSHIFT, '!'},
        {SDLK_SLASH, KMOD_RSHIFT, '?'}, {SDLK_RETURN, KMOD_NONE, 13},
        {SDLK_BACKSPACE, KMOD_NONE, 8}, {SDLK_SPACE, KMOD_NONE, ' '},
        {SDLK_KP_5, KMOD_NUM, '5'},     {SDLK_LEFT, KMOD_NONE, -1},
        {SDLK_F1, KMOD_NONE, -1},       {SDLK_LSHIFT, KMOD_LSHIFT, -1},
        {SDLK_DELETE, KMOD_NONE, -1},
    };
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    for (const auto& Case : Cases) {
        Received.clear();
        PushKey(Case.Key, Case.Modifiers);
        ASSERT_TRUE(PumpUntil(Arrived(WM_KEYDOWN))) << SDL_GetKeyName(Case.Key);
        // TranslateMessage posts WM_CHAR, which the same pass dispatches.
        const TReceived* Character = Find(WM_CHAR);
        if (Case.Character < 0) {
            EXPECT_EQ(Character, nullptr) << SDL_GetKeyName(Case.Key);
        } else {
            ASSERT_NE(Character, nullptr) << SDL_GetKeyName(Case.Key);
            EXPECT_EQ(Character->WParam, static_cast<WPARAM>(Case.Character)) << SDL_GetKeyName(Case.Key);
        }
    }
}

TEST_F(WindowLayer, TranslateMessageAnswersForKeyMessagesOnly) {
    MSG Message{};
    Message.message = WM_KEYUP;
    Message.wParam = 'A';
    EXPECT_TRUE(TranslateMessage(&Message));
    Message.message = WM_MOUSEMOVE;
    EXPECT_FALSE(TranslateMessage(&Message));
    EXPECT_FALSE(PeekMessageA(&Message, NULL, WM_CHAR, WM_CHAR, PM_REMOVE));
}

// ---- Close ----

TEST_F(WindowLayer, CloseRequestArrivesAsWmCloseAndDestroysTheWindow) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_WINDOWEVENT;
    Event.window.event = SDL_WINDOWEVENT_CLOSE;
    Event.window.windowID = SDL_GetWindowID(SdlWindow());
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CLOSE)));
    ASSERT_NE(Find(WM_DESTROY), nullptr);
    EXPECT_GT(Find(WM_DESTROY), Find(WM_CLOSE));
    EXPECT_EQ(SdlWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(Window)); // harmless afterwards, as in the show's tear-down
    EXPECT_TRUE(wglMakeCurrent(GetDC(Window), NULL));
    EXPECT_EQ(ReleaseDC(Window, NULL), 0);
    Window = NULL;
}

TEST_F(WindowLayer, QuitRequestArrivesAsWmClose) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    ASSERT_TRUE(PumpUntil(Arrived(WM_DESTROY)));
    EXPECT_EQ(std::count_if(Received.begin(), Received.end(),
                            [](const TReceived& Each) { return Each.Message == WM_CLOSE; }),
              1);
    Window = NULL;
}

TEST_F(WindowLayer, DestroyedWindowsGetNoMoreMessages) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetTimer(Window, 1, 10, NULL);
    PushKey(SDLK_x, KMOD_NONE);
    ASSERT_TRUE(DestroyWindow(Window));
    Received.clear();
    Sleep(30);
    MSG Message;
    EXPECT_FALSE(PeekMessageA(&Message, NULL, 0, 0, PM_REMOVE));
    Window = NULL;
}

// ---- Mouse ----

TEST_F(WindowLayer, MouseMotionAndButtonsArriveWithClientCoordinates) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_MOUSEBUTTONDOWN;
    Event.button.windowID = SDL_GetWindowID(SdlWindow());
    Event.button.button = SDL_BUTTON_LEFT;
    Event.button.state = SDL_PRESSED;
    Event.button.x = 10;
    Event.button.y = 20;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    Event = {};
    Event.type = SDL_MOUSEMOTION;
    Event.motion.windowID = SDL_GetWindowID(SdlWindow());
    Event.motion.state = SDL_BUTTON_LMASK;
    Event.motion.x = 30;
    Event.motion.y = 40;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    // The display's real pointer may move over the new window too: look for the event sent.
    ASSERT_TRUE(PumpUntil([] { return Find(WM_LBUTTONDOWN) && FindWith(WM_MOUSEMOVE, MAKELPARAM(30, 40)); }));
    const TReceived* Down = Find(WM_LBUTTONDOWN);
    EXPECT_EQ(Down->WParam & MK_LBUTTON, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(Down->LParam, MAKELPARAM(10, 20));
}

// ---- Queue and timers ----

TEST_F(WindowLayer, TimerPostsWmTimerAtItsPeriod) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    EXPECT_EQ(SetTimer(Window, 12648430, 30, NULL), 12648430u);
    ASSERT_TRUE(PumpUntil([] {
        return std::count_if(Received.begin(), Received.end(),
                             [](const TReceived& Each) { return Each.Message == WM_TIMER; }) >= 3;
    }));
    const TReceived* Tick = Find(WM_TIMER);
    EXPECT_EQ(Tick->WParam, 12648430u);
    EXPECT_EQ(Tick->Window, Window);
}

TEST_F(WindowLayer, LateTimerGivesOneMessageNotABacklog) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetTimer(Window, 7, 10, NULL);
    Sleep(100);
    int Ticks = 0;
    MSG Message;
    while (PeekMessageA(&Message, Window, WM_TIMER, WM_TIMER, PM_REMOVE)) ++Ticks;
    EXPECT_EQ(Ticks, 1);
}

VOID CALLBACK CountingTimerProcedure(HWND, UINT Message, UINT_PTR Id, DWORD) {
    Received.push_back({NULL, Message, Id, 0});
}

TEST_F(WindowLayer, TimerProcedureIsCalledByDispatch) {
    UINT_PTR Id = SetTimer(NULL, 0, 10, CountingTimerProcedure);
    ASSERT_NE(Id, 0u);
    ASSERT_TRUE(PumpUntil(Arrived(WM_TIMER)));
    EXPECT_EQ(Find(WM_TIMER)->WParam, Id);
    EXPECT_EQ(Find(WM_TIMER)->Window, nullptr);
}

TEST_F(WindowLayer, PeekWithoutRemoveLeavesTheMessage) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_NONE);
    MSG First{};
    MSG Second{};
    bool Queued = false;
    for (int Pass = 0; Pass < 2000 && !Queued; ++Pass, Sleep(1))
        Queued = PeekMessageA(&First, Window, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE);
    ASSERT_TRUE(Queued);
    ASSERT_TRUE(PeekMessageA(&Second, Window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_EQ(First.wParam, Second.wParam);
    EXPECT_FALSE(PeekMessageA(&Second, Window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
}

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

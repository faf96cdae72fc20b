#pragma once

// The window layer against a real X server (Xvfb with Mesa's software renderer): a window
// class whose procedure records every message, windows with or without a GL context, and
// the show's message loop.

#include "windows.h"

#include <SDL.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

// One fixture for every test file of the executable: everything here is inline.

struct TReceived {
    HWND Window;
    UINT Message;
    WPARAM WParam;
    LPARAM LParam;
};

inline std::vector<TReceived> Received;

// Handles messages as the show does: keys, characters and mouse are swallowed, the rest
// gets the default handling.
inline LRESULT CALLBACK RecordingProcedure(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
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

inline PIXELFORMATDESCRIPTOR ShowPixelFormat() {
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

inline const char* const ClassName = "tallowmesh";
// Unique on the display, which tests in other processes share.
inline const std::string Title = "new project " + std::to_string(getpid());

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


#include "win32layer.h"

#include "sdldisplay.h"
#include "xlogging.h"

#include <algorithm>
#include <cstdlib>
#include <strings.h>

// The window layer's state, window classes and windows, and the user32 calls on them that
// are not about messages.

namespace win32layer {

// ---- Layer state ---------------------------------------------------------------------------

TLayer Layer;

TWindow* FindWindow(HWND Handle) {
    if (Handle == nullptr) return nullptr;
    return FindIn(Layer.Windows, [Handle](const TWindow& Window) { return Window.Handle == Handle; });
}

TWindow* FindWindowByDeviceContext(HDC DeviceContext) {
    if (DeviceContext == nullptr) return nullptr;
    return FindIn(Layer.Windows,
                  [DeviceContext](const TWindow& Window) { return Window.DeviceContext == DeviceContext; });
}

TWindow* FindWindowBySdlId(uint32_t SdlId) {
    return FindIn(Layer.Windows, [SdlId](const TWindow& Window) { return Window.SdlId == SdlId; });
}

TContext* FindContext(HGLRC Handle) {
    if (Handle == nullptr) return nullptr;
    return FindIn(Layer.Contexts, [Handle](const TContext& Context) { return Context.Handle == Handle; });
}

bool ClassIsNamed(const TWindowClass& Class, LPCSTR Name) {
    if (Name == nullptr) return false;
    if (IS_INTRESOURCE(Name)) return Class.Atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(Name));
    return strcasecmp(Class.Name.c_str(), Name) == 0;
}

TWindowClass* FindClass(LPCSTR Name) {
    for (auto& Class : Layer.Classes)
        if (ClassIsNamed(Class, Name)) return &Class;
    return nullptr;
}

HINSTANCE InstanceOf(HINSTANCE Instance) {
    return Instance != nullptr ? Instance : GetModuleHandleA(nullptr);
}

void StartVideo() {
    if (Layer.VideoRunning) return;
    ChooseDisplayDrivers();
    // Signals keep their default action, and closing the last window asks nothing more.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        LogLine(9, std::string("no display: SDL video could not start: ") + SDL_GetError());
        std::exit(1);
    }
    Layer.VideoRunning = true;
    SDL_ShowCursor(Layer.CursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
}

LRESULT SendToWindow(HWND Handle, UINT Message, WPARAM WParam, LPARAM LParam) {
    TWindow* Window = FindWindow(Handle);
    return Window ? Window->Procedure(Handle, Message, WParam, LParam) : 0;
}

// ---- Windows -------------------------------------------------------------------------------

bool IsBorderless(DWORD Style) {
    return (Style & WS_POPUP) && !(Style & (WS_CAPTION | WS_THICKFRAME));
}

void ClientSizeOf(DWORD Style, int Width, int Height, int& ClientWidth, int& ClientHeight) {
    ClientWidth = Width;
    ClientHeight = Height;
    if (!IsBorderless(Style)) {
        bool Caption = (Style & WS_CAPTION) == WS_CAPTION || !(Style & WS_POPUP);
        ClientWidth -= 2 * FrameSize;
        ClientHeight -= 2 * FrameSize + (Caption ? CaptionHeight : 0);
    }
    if (ClientWidth < 1) ClientWidth = 1;
    if (ClientHeight < 1) ClientHeight = 1;
}

SDL_Window* CreateSdlWindow(const char* Title, int X, int Y, int Width, int Height, uint32_t Flags,
                            int Format) {
    ApplyPixelFormat(Format);
    SDL_Window* Window = SDL_CreateWindow(Title, X, Y, Width, Height, Flags | SDL_WINDOW_OPENGL);
    if (Window) SDL_SetCursor(nullptr); // a hidden cursor stays hidden over the new window
    return Window;
}

bool RemakeSdlWindow(TWindow& Window, int Format) {
    constexpr uint32_t Kept = SDL_WINDOW_SHOWN | SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS |
                              SDL_WINDOW_RESIZABLE | SDL_WINDOW_MINIMIZED | SDL_WINDOW_MAXIMIZED |
                              SDL_WINDOW_ALWAYS_ON_TOP;
    int X = 0, Y = 0, Width = 0, Height = 0;
    SDL_GetWindowPosition(Window.Sdl, &X, &Y);
    SDL_GetWindowSize(Window.Sdl, &Width, &Height);
    SDL_Window* Remade = CreateSdlWindow(SDL_GetWindowTitle(Window.Sdl), X, Y, Width, Height,
                                         SDL_GetWindowFlags(Window.Sdl) & Kept, Format);
    if (Remade == nullptr) return false;
    SDL_DestroyWindow(Window.Sdl);
    Window.Sdl = Remade;
    Window.SdlId = SDL_GetWindowID(Remade);
    Window.WindowFormat = Format;
    return true;
}


} // namespace win32layer

using namespace win32layer;

extern "C" {

// ---- user32 --------------------------------------------------------------------------------

HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName) {
    return hInstance == nullptr && lpCursorName == IDC_ARROW ? ArrowCursor : nullptr;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass) {
    StartVideo();
    if (lpWndClass == nullptr || lpWndClass->lpszClassName == nullptr || lpWndClass->lpfnWndProc == nullptr ||
        IS_INTRESOURCE(lpWndClass->lpszClassName))
        return 0;
    HINSTANCE Instance = InstanceOf(lpWndClass->hInstance);
    for (const auto& Class : Layer.Classes)
        if (Class.Instance == Instance && ClassIsNamed(Class, lpWndClass->lpszClassName)) return 0;
    ATOM Atom = ++Layer.LastAtom;
    Layer.Classes.push_back({lpWndClass->lpszClassName, Atom, Instance, lpWndClass->lpfnWndProc});
    return Atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance) {
    HINSTANCE Instance = InstanceOf(hInstance);
    for (auto Class = Layer.Classes.begin(); Class != Layer.Classes.end(); ++Class) {
        if (Class->Instance != Instance || !ClassIsNamed(*Class, lpClassName)) continue;
        for (const auto& Window : Layer.Windows)
            if (Window->ClassAtom == Class->Atom) return FALSE;
        Layer.Classes.erase(Class);
        return TRUE;
    }
    return FALSE;
}

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam) {
    (void)hWndParent;
    (void)hMenu;
    (void)hInstance;
    (void)lpParam;
    TWindowClass* Class = FindClass(lpClassName);
    if (Class == nullptr || (dwStyle & WS_CHILD)) return nullptr;
    StartVideo();
    int ClientWidth = 0;
    int ClientHeight = 0;
    ClientSizeOf(dwStyle, nWidth, nHeight, ClientWidth, ClientHeight);
    uint32_t Flags = (dwStyle & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN;
    if (IsBorderless(dwStyle)) Flags |= SDL_WINDOW_BORDERLESS;
    if (dwStyle & WS_THICKFRAME) Flags |= SDL_WINDOW_RESIZABLE;
    if (dwStyle & WS_MAXIMIZE) Flags |= SDL_WINDOW_MAXIMIZED;
    if (dwStyle & WS_MINIMIZE) Flags |= SDL_WINDOW_MINIMIZED;
    if (dwExStyle & WS_EX_TOPMOST) Flags |= SDL_WINDOW_ALWAYS_ON_TOP;
    if (X == CW_USEDEFAULT) X = Y = SDL_WINDOWPOS_UNDEFINED;
    SDL_Window* Sdl =
        CreateSdlWindow(lpWindowName ? lpWindowName : "", X, Y, ClientWidth, ClientHeight, Flags, 1);
    if (Sdl == nullptr) return nullptr;

    auto Window = std::make_unique<TWindow>();
    *Window = {NewHandle<HWND>(),
               NewHandle<HDC>(),
               Sdl,
               SDL_GetWindowID(Sdl),
               Class->Procedure,
               Class->Atom,
               1,
               0,
               false,
               SIZE_RESTORED,
               -1};
    HWND Handle = Window->Handle;
    Layer.Windows.push_back(std::move(Window));
    if (dwStyle & WS_VISIBLE) Layer.FocusWindow = Handle;

    // WM_SIZE is sent, not queued, during creation; the procedure may destroy the window.
    WPARAM State = 0;
    LPARAM Size = 0;
    TakeNewSize(*Layer.Windows.back(), State, Size);
    SendToWindow(Handle, WM_SIZE, State, Size);
    return FindWindow(Handle) ? Handle : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    TWindow* Window = FindWindow(hWnd);
    if (Window == nullptr || Window->Destroying) return FALSE;
    Window->Destroying = true;
    SendToWindow(hWnd, WM_DESTROY, 0, 0);
    Window = FindWindow(hWnd);
    std::erase_if(Layer.Timers, [hWnd](const TTimer& Timer) { return Timer.Window == hWnd; });
    Layer.Posted.RemoveWindow(hWnd);
    Layer.Input.RemoveWindow(hWnd);
    if (Layer.FocusWindow == hWnd) Layer.FocusWindow = nullptr;
    SDL_DestroyWindow(Window->Sdl);
    std::erase_if(Layer.Windows,
                  [hWnd](const std::unique_ptr<TWindow>& Each) { return Each->Handle == hWnd; });
    return TRUE;
}

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    TWindow* Window = FindWindow(hWnd);
    if (Window == nullptr) return FALSE;
    BOOL WasVisible = (SDL_GetWindowFlags(Window->Sdl) & SDL_WINDOW_SHOWN) ? TRUE : FALSE;
    if (nCmdShow == SW_HIDE) {
        SDL_HideWindow(Window->Sdl);
        return WasVisible;
    }
    SDL_ShowWindow(Window->Sdl);
    switch (nCmdShow) {
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE: SDL_MinimizeWindow(Window->Sdl); break;
    case SW_SHOWMAXIMIZED: SDL_MaximizeWindow(Window->Sdl); break;
    case SW_SHOWNORMAL:
    case SW_RESTORE: SDL_RestoreWindow(Window->Sdl); break;
    default: break;
    }
    return WasVisible;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    TWindow* Window = FindWindow(hWnd);
    if (Window == nullptr) return FALSE;
    SDL_RaiseWindow(Window->Sdl);
    return TRUE;
}

HWND WINAPI SetFocus(HWND hWnd) {
    TWindow* Window = FindWindow(hWnd);
    if (hWnd != nullptr && Window == nullptr) return nullptr;
    HWND Previous = Layer.FocusWindow;
    Layer.FocusWindow = hWnd;
    if (Window) SDL_SetWindowInputFocus(Window->Sdl);
    return Previous;
}

HDC WINAPI GetDC(HWND hWnd) {
    TWindow* Window = FindWindow(hWnd);
    return Window ? Window->DeviceContext : nullptr;
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    TWindow* Window = FindWindow(hWnd);
    return Window && Window->DeviceContext == hDC ? 1 : 0;
}


int WINAPI GetSystemMetrics(int nIndex) {
    switch (nIndex) {
    case SM_CXSCREEN:
    case SM_CYSCREEN: {
        StartVideo();
        SDL_DisplayMode Mode;
        if (SDL_GetDesktopDisplayMode(0, &Mode) != 0) return 0;
        return nIndex == SM_CXSCREEN ? Mode.w : Mode.h;
    }
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME: return FrameSize;
    case SM_CYCAPTION: return CaptionHeight;
    default: return 0;
    }
}

int WINAPI ShowCursor(BOOL bShow) {
    Layer.CursorCount += bShow ? 1 : -1;
    if (Layer.VideoRunning) SDL_ShowCursor(Layer.CursorCount >= 0 ? SDL_ENABLE : SDL_DISABLE);
    return Layer.CursorCount;
}

} // extern "C"

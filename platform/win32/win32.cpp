// The Win32 window, GDI and WGL calls of windows.h on SDL2 (the kernel calls are in kernel.cpp).

#include "windows.h"

#include "sdldisplay.h"
#include "xlogging.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <sched.h>
#include <string>
#include <strings.h>
#include <unistd.h>
#include <vector>

namespace {

// Classic Windows metrics: dialog frame and caption height.
constexpr int FrameSize = 3;
constexpr int CaptionHeight = 19;
constexpr UINT MinimumTimerPeriod = 10;
constexpr UINT MaximumTimerPeriod = 0x7FFFFFFF;
constexpr int PixelFormatCount = 24;

const HCURSOR ArrowCursor = reinterpret_cast<HCURSOR>(0x10003);

// ---- Pixel formats -------------------------------------------------------------------------

// Format numbers 1..24 encode (number - 1) = single-buffered | alpha << 1 | stencil << 2 |
// depth code << 3, the depth code being 0 for 16 bits, 1 for 24 and 2 for none.
struct TPixelFormat {
    bool DoubleBuffer;
    int AlphaBits;
    int StencilBits;
    int DepthBits;
};

constexpr int DepthBitsOfCode[3] = {16, 24, 0};

TPixelFormat DecodePixelFormat(int Format) {
    int Bits = Format - 1;
    return {(Bits & 1) == 0, (Bits & 2) ? 8 : 0, (Bits & 4) ? 8 : 0, DepthBitsOfCode[Bits >> 3]};
}

int ClosestPixelFormat(const PIXELFORMATDESCRIPTOR& Descriptor) {
    bool SingleBuffer =
        !(Descriptor.dwFlags & PFD_DOUBLEBUFFER) && !(Descriptor.dwFlags & PFD_DOUBLEBUFFER_DONTCARE);
    int DepthCode = 2;
    if (!(Descriptor.dwFlags & PFD_DEPTH_DONTCARE) && Descriptor.cDepthBits > 0)
        DepthCode = Descriptor.cDepthBits <= 16 ? 0 : 1;
    return 1 + (SingleBuffer ? 1 : 0) + (Descriptor.cAlphaBits > 0 ? 2 : 0) +
           (Descriptor.cStencilBits > 0 ? 4 : 0) + DepthCode * 8;
}

// SDL reads these when it creates a window (the visual) and a context.
void ApplyPixelFormat(int Format) {
    TPixelFormat Pixel = DecodePixelFormat(Format);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, Pixel.AlphaBits);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, Pixel.DepthBits);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, Pixel.StencilBits);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, Pixel.DoubleBuffer ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
}

// ---- Objects -------------------------------------------------------------------------------

struct TWindowClass {
    std::string Name;
    ATOM Atom;
    HINSTANCE Instance;
    WNDPROC Procedure;
};

struct TWindow {
    HWND Handle;
    HDC DeviceContext;
    SDL_Window* Sdl;
    uint32_t SdlId;
    WNDPROC Procedure;
    ATOM ClassAtom;
    int WindowFormat; // the format the SDL window was made with
    int PixelFormat;  // 0 until SetPixelFormat
    bool Destroying;
    WPARAM ReportedState;
    LPARAM ReportedSize; // -1 before the first WM_SIZE
};

struct TContext {
    HGLRC Handle;
    SDL_GLContext Sdl;
    int PixelFormat;
};

struct TTimer {
    HWND Window;
    UINT_PTR Id;
    UINT Period;
    DWORD Due;
    TIMERPROC Procedure;
};

// Messages wait in a fixed array; the modifier keys held travel with input messages so that
// TranslateMessage sees the state of the key it translates.
struct TQueuedMessage {
    MSG Message;
    uint16_t Modifiers;
};

bool MatchesFilter(const MSG& Message, HWND Window, UINT First, UINT Last) {
    if (Window == reinterpret_cast<HWND>(-1)) {
        if (Message.hwnd != nullptr) return false;
    } else if (Window != nullptr && Message.hwnd != Window) {
        return false;
    }
    return (First == 0 && Last == 0) || (Message.message >= First && Message.message <= Last);
}

class TMessageQueue {
public:
    static constexpr size_t Capacity = 512;

    bool Push(const MSG& Message, uint16_t Modifiers) {
        if (Used == Capacity) return false;
        Items[Used++] = {Message, Modifiers};
        return true;
    }
    int Find(HWND Window, UINT First, UINT Last) const {
        for (size_t Index = 0; Index < Used; ++Index)
            if (MatchesFilter(Items[Index].Message, Window, First, Last)) return static_cast<int>(Index);
        return -1;
    }
    const TQueuedMessage& At(int Index) const { return Items[Index]; }
    void RemoveAt(int Index) {
        std::memmove(&Items[Index], &Items[Index + 1], (Used - Index - 1) * sizeof(TQueuedMessage));
        --Used;
    }
    void RemoveWindow(HWND Window) {
        size_t Kept = 0;
        for (size_t Index = 0; Index < Used; ++Index)
            if (Items[Index].Message.hwnd != Window) Items[Kept++] = Items[Index];
        Used = Kept;
    }
    size_t Free() const { return Capacity - Used; }

private:
    std::array<TQueuedMessage, Capacity> Items{};
    size_t Used = 0;
};

// ---- Layer state ---------------------------------------------------------------------------

struct TLayer {
    bool VideoRunning = false;
    int CursorCount = 0;
    uintptr_t LastHandle = 0x10000;
    ATOM LastAtom = 0xC000;
    UINT_PTR LastThreadTimer = 0;
    std::vector<TWindowClass> Classes;
    std::vector<std::unique_ptr<TWindow>> Windows;
    std::vector<std::unique_ptr<TContext>> Contexts;
    std::vector<TTimer> Timers;
    TMessageQueue Posted;
    TMessageQueue Input;
    HWND FocusWindow = nullptr;
    uint16_t KeyModifiers = 0; // of the last key message removed from the queue
    uint32_t MouseButtons = 0; // SDL button mask
    POINT Cursor = {0, 0};
};

TLayer Layer;

template <typename THandle> THandle NewHandle() {
    Layer.LastHandle += 4;
    return reinterpret_cast<THandle>(Layer.LastHandle);
}

template <typename TObject, typename TPredicate>
TObject* FindIn(const std::vector<std::unique_ptr<TObject>>& Objects, TPredicate Matches) {
    for (const auto& Object : Objects)
        if (Matches(*Object)) return Object.get();
    return nullptr;
}

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

// A class is named by its name in any letter case or by its atom.
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

// ---- Input translation ---------------------------------------------------------------------

MSG MakeMessage(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    return {Window, Message, WParam, LParam, GetTickCount(), Layer.Cursor};
}

void PushInput(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam, uint16_t Modifiers = 0) {
    Layer.Input.Push(MakeMessage(Window, Message, WParam, LParam), Modifiers);
}

TWindow* WindowForEvent(uint32_t SdlId) {
    TWindow* Window = FindWindowBySdlId(SdlId);
    return Window ? Window : FindWindow(Layer.FocusWindow);
}

// Records the window's state and client size for WM_SIZE; false when it already knows them.
bool TakeNewSize(TWindow& Window, WPARAM& State, LPARAM& Size) {
    uint32_t Flags = SDL_GetWindowFlags(Window.Sdl);
    int Width = 0;
    int Height = 0;
    State = SIZE_RESTORED;
    if (Flags & SDL_WINDOW_MINIMIZED) {
        State = SIZE_MINIMIZED;
    } else {
        SDL_GetWindowSize(Window.Sdl, &Width, &Height);
        if (Flags & SDL_WINDOW_MAXIMIZED) State = SIZE_MAXIMIZED;
    }
    Size = MAKELPARAM(Width, Height);
    if (State == Window.ReportedState && Size == Window.ReportedSize) return false;
    Window.ReportedState = State;
    Window.ReportedSize = Size;
    return true;
}

void ReportSize(TWindow& Window) {
    WPARAM State = 0;
    LPARAM Size = 0;
    if (TakeNewSize(Window, State, Size)) PushInput(Window.Handle, WM_SIZE, State, Size);
}

UINT VirtualKeyOfScancode(SDL_Scancode Scancode) {
    if (Scancode >= SDL_SCANCODE_A && Scancode <= SDL_SCANCODE_Z) return 'A' + (Scancode - SDL_SCANCODE_A);
    if (Scancode >= SDL_SCANCODE_1 && Scancode <= SDL_SCANCODE_9) return '1' + (Scancode - SDL_SCANCODE_1);
    switch (Scancode) {
    case SDL_SCANCODE_0: return '0';
    case SDL_SCANCODE_MINUS: return VK_OEM_MINUS;
    case SDL_SCANCODE_EQUALS: return VK_OEM_PLUS;
    case SDL_SCANCODE_LEFTBRACKET: return VK_OEM_4;
    case SDL_SCANCODE_RIGHTBRACKET: return VK_OEM_6;
    case SDL_SCANCODE_BACKSLASH: return VK_OEM_5;
    case SDL_SCANCODE_SEMICOLON: return VK_OEM_1;
    case SDL_SCANCODE_APOSTROPHE: return VK_OEM_7;
    case SDL_SCANCODE_GRAVE: return VK_OEM_3;
    case SDL_SCANCODE_COMMA: return VK_OEM_COMMA;
    case SDL_SCANCODE_PERIOD: return VK_OEM_PERIOD;
    case SDL_SCANCODE_SLASH: return VK_OEM_2;
    default: return 0;
    }
}

UINT VirtualKeyOfKeypad(SDL_Keycode Key, bool NumLock) {
    static constexpr UINT Navigation[10] = {VK_INSERT, VK_END,   VK_DOWN, VK_NEXT, VK_LEFT,
                                            0,         VK_RIGHT, VK_HOME, VK_UP,   VK_PRIOR};
    if (Key >= SDLK_KP_1 && Key <= SDLK_KP_9)
        return NumLock ? VK_NUMPAD1 + (Key - SDLK_KP_1) : Navigation[1 + (Key - SDLK_KP_1)];
    if (Key == SDLK_KP_0) return NumLock ? VK_NUMPAD0 : VK_INSERT;
    if (Key == SDLK_KP_PERIOD) return NumLock ? VK_DECIMAL : VK_DELETE;
    return 0;
}

// Letters and digits by their layout's key code, punctuation as on a US keyboard; keys
// without a Windows code give 0.
UINT VirtualKeyOf(const SDL_Keysym& Key) {
    if (Key.sym >= SDLK_a && Key.sym <= SDLK_z) return 'A' + (Key.sym - SDLK_a);
    if (Key.sym >= SDLK_0 && Key.sym <= SDLK_9) return '0' + (Key.sym - SDLK_0);
    if (Key.sym >= SDLK_F1 && Key.sym <= SDLK_F12) return VK_F1 + (Key.sym - SDLK_F1);
    if (UINT Keypad = VirtualKeyOfKeypad(Key.sym, (Key.mod & KMOD_NUM) != 0)) return Keypad;
    switch (Key.sym) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_PRINTSCREEN: return VK_SNAPSHOT;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_LGUI: return VK_LWIN;
    case SDLK_RGUI: return VK_RWIN;
    case SDLK_APPLICATION: return VK_APPS;
    case SDLK_KP_MULTIPLY: return VK_MULTIPLY;
    case SDLK_KP_PLUS: return VK_ADD;
    case SDLK_KP_MINUS: return VK_SUBTRACT;
    case SDLK_KP_DIVIDE: return VK_DIVIDE;
    case SDLK_NUMLOCKCLEAR: return VK_NUMLOCK;
    case SDLK_SCROLLLOCK: return VK_SCROLL;
    default: return VirtualKeyOfScancode(Key.scancode);
    }
}

void TranslateKey(const SDL_KeyboardEvent& Event) {
    TWindow* Window = WindowForEvent(Event.windowID);
    UINT Key = VirtualKeyOf(Event.keysym);
    if (Window == nullptr || Key == 0) return;
    bool Up = Event.type == SDL_KEYUP;
    bool Alt = (Event.keysym.mod & KMOD_ALT) != 0;
    bool System = (Alt && !(Event.keysym.mod & KMOD_CTRL)) || Key == VK_F10 || Key == VK_MENU;
    UINT Message = System ? (Up ? WM_SYSKEYUP : WM_SYSKEYDOWN) : (Up ? WM_KEYUP : WM_KEYDOWN);
    DWORD Bits = 1;
    if (Alt) Bits |= 1u << 29;
    if (Up || Event.repeat) Bits |= 1u << 30;
    if (Up) Bits |= 1u << 31;
    PushInput(Window->Handle, Message, Key, static_cast<LPARAM>(Bits), Event.keysym.mod);
}

WPARAM MouseKeys(uint32_t Buttons) {
    SDL_Keymod Modifiers = SDL_GetModState();
    WPARAM Keys = 0;
    if (Buttons & SDL_BUTTON_LMASK) Keys |= MK_LBUTTON;
    if (Buttons & SDL_BUTTON_RMASK) Keys |= MK_RBUTTON;
    if (Buttons & SDL_BUTTON_MMASK) Keys |= MK_MBUTTON;
    if (Modifiers & KMOD_SHIFT) Keys |= MK_SHIFT;
    if (Modifiers & KMOD_CTRL) Keys |= MK_CONTROL;
    return Keys;
}

void TrackCursor(const TWindow& Window, int X, int Y) {
    int Left = 0;
    int Top = 0;
    SDL_GetWindowPosition(Window.Sdl, &Left, &Top);
    Layer.Cursor = {Left + X, Top + Y};
}

void TranslateMouseMotion(const SDL_MouseMotionEvent& Event) {
    TWindow* Window = WindowForEvent(Event.windowID);
    if (Window == nullptr) return;
    TrackCursor(*Window, Event.x, Event.y);
    PushInput(Window->Handle, WM_MOUSEMOVE, MouseKeys(Event.state), MAKELPARAM(Event.x, Event.y));
}

void TranslateMouseButton(const SDL_MouseButtonEvent& Event) {
    TWindow* Window = WindowForEvent(Event.windowID);
    bool Down = Event.type == SDL_MOUSEBUTTONDOWN;
    UINT Message = 0;
    switch (Event.button) {
    case SDL_BUTTON_LEFT: Message = Down ? WM_LBUTTONDOWN : WM_LBUTTONUP; break;
    case SDL_BUTTON_RIGHT: Message = Down ? WM_RBUTTONDOWN : WM_RBUTTONUP; break;
    case SDL_BUTTON_MIDDLE: Message = Down ? WM_MBUTTONDOWN : WM_MBUTTONUP; break;
    default: return;
    }
    if (Down)
        Layer.MouseButtons |= SDL_BUTTON(Event.button);
    else
        Layer.MouseButtons &= ~SDL_BUTTON(Event.button);
    if (Window == nullptr) return;
    TrackCursor(*Window, Event.x, Event.y);
    PushInput(Window->Handle, Message, MouseKeys(Layer.MouseButtons), MAKELPARAM(Event.x, Event.y));
}

void TranslateWindowEvent(const SDL_WindowEvent& Event) {
    TWindow* Window = FindWindowBySdlId(Event.windowID);
    if (Window == nullptr) return;
    switch (Event.event) {
    case SDL_WINDOWEVENT_SIZE_CHANGED:
    case SDL_WINDOWEVENT_MINIMIZED:
    case SDL_WINDOWEVENT_MAXIMIZED:
    case SDL_WINDOWEVENT_RESTORED: ReportSize(*Window); break;
    case SDL_WINDOWEVENT_CLOSE: PushInput(Window->Handle, WM_CLOSE, 0, 0); break;
    case SDL_WINDOWEVENT_FOCUS_GAINED: Layer.FocusWindow = Window->Handle; break;
    case SDL_WINDOWEVENT_FOCUS_LOST:
        if (Layer.FocusWindow == Window->Handle) Layer.FocusWindow = nullptr;
        break;
    default: break;
    }
}

void TranslateEvent(const SDL_Event& Event) {
    switch (Event.type) {
    case SDL_QUIT:
        for (auto& Window : Layer.Windows) PushInput(Window->Handle, WM_CLOSE, 0, 0);
        break;
    case SDL_WINDOWEVENT: TranslateWindowEvent(Event.window); break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: TranslateKey(Event.key); break;
    case SDL_MOUSEMOTION: TranslateMouseMotion(Event.motion); break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: TranslateMouseButton(Event.button); break;
    default: break;
    }
}

// Moves what SDL has into the input queue, leaving room for one event's messages.
void CollectInput() {
    if (!Layer.VideoRunning) return;
    SDL_PumpEvents();
    SDL_Event Event;
    while (Layer.Input.Free() > Layer.Windows.size() &&
           SDL_PeepEvents(&Event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) == 1)
        TranslateEvent(Event);
}

// The character a key-down yields on a US keyboard, or -1.
int CharacterOf(UINT Key, uint16_t Modifiers) {
    static constexpr char ShiftedDigits[] = ")!@#$%^&*(";
    static constexpr struct {
        UINT Key;
        char Plain;
        char Shifted;
    } Punctuation[] = {{VK_OEM_1, ';', ':'},     {VK_OEM_PLUS, '=', '+'},   {VK_OEM_COMMA, ',', '<'},
                       {VK_OEM_MINUS, '-', '_'}, {VK_OEM_PERIOD, '.', '>'}, {VK_OEM_2, '/', '?'},
                       {VK_OEM_3, '`', '~'},     {VK_OEM_4, '[', '{'},      {VK_OEM_5, '\\', '|'},
                       {VK_OEM_6, ']', '}'},     {VK_OEM_7, '\'', '"'}};
    bool Shift = (Modifiers & KMOD_SHIFT) != 0;
    bool Control = (Modifiers & KMOD_CTRL) != 0;
    bool Alt = (Modifiers & KMOD_ALT) != 0;
    if (Control && Alt) return -1;
    if (Control) {
        if (Key >= 'A' && Key <= 'Z') return static_cast<int>(Key - 'A' + 1);
        switch (Key) {
        case VK_OEM_4: return 27;
        case VK_OEM_5: return 28;
        case VK_OEM_6: return 29;
        case VK_RETURN: return 10;
        case VK_BACK: return 127;
        case VK_ESCAPE: return 27;
        case VK_SPACE: return ' ';
        default: return -1;
        }
    }
    if (Key >= 'A' && Key <= 'Z') {
        bool Upper = Shift != ((Modifiers & KMOD_CAPS) != 0);
        return static_cast<int>(Upper ? Key : Key - 'A' + 'a');
    }
    if (Key >= '0' && Key <= '9') return Shift ? ShiftedDigits[Key - '0'] : static_cast<int>(Key);
    if (Key >= VK_NUMPAD0 && Key <= VK_NUMPAD9) return static_cast<int>('0' + (Key - VK_NUMPAD0));
    for (const auto& Entry : Punctuation)
        if (Entry.Key == Key) return Shift ? Entry.Shifted : Entry.Plain;
    switch (Key) {
    case VK_BACK: return 8;
    case VK_TAB: return 9;
    case VK_RETURN: return 13;
    case VK_ESCAPE: return 27;
    case VK_SPACE: return ' ';
    case VK_MULTIPLY: return '*';
    case VK_ADD: return '+';
    case VK_SUBTRACT: return '-';
    case VK_DECIMAL: return '.';
    case VK_DIVIDE: return '/';
    default: return -1;
    }
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

// A window's visual is fixed when it is made, so a different format needs a new SDL window.
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

} // namespace

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

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
    if (hWnd != nullptr && FindWindow(hWnd) == nullptr) return 0;
    UINT Period = std::clamp(uElapse, MinimumTimerPeriod, MaximumTimerPeriod);
    TTimer* Existing = nullptr;
    for (auto& Timer : Layer.Timers)
        if (Timer.Window == hWnd && Timer.Id == nIDEvent) Existing = &Timer;
    UINT_PTR Id = Existing || hWnd ? nIDEvent : ++Layer.LastThreadTimer;
    TTimer Timer = {hWnd, Id, Period, GetTickCount() + Period, lpTimerFunc};
    if (Existing)
        *Existing = Timer;
    else
        Layer.Timers.push_back(Timer);
    return Id != 0 ? Id : 1;
}

BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg) {
    if (lpMsg == nullptr) return FALSE;
    bool Remove = (wRemoveMsg & PM_REMOVE) != 0;
    CollectInput();
    for (TMessageQueue* Queue : {&Layer.Posted, &Layer.Input}) {
        int Index = Queue->Find(hWnd, wMsgFilterMin, wMsgFilterMax);
        if (Index < 0) continue;
        const TQueuedMessage& Found = Queue->At(Index);
        *lpMsg = Found.Message;
        if (Remove) {
            if (Queue == &Layer.Input && Found.Message.message >= WM_KEYDOWN &&
                Found.Message.message <= WM_SYSKEYUP)
                Layer.KeyModifiers = Found.Modifiers;
            Queue->RemoveAt(Index);
        }
        return TRUE;
    }
    DWORD Now = GetTickCount();
    for (auto& Timer : Layer.Timers) {
        MSG Tick = MakeMessage(Timer.Window, WM_TIMER, Timer.Id, reinterpret_cast<LPARAM>(Timer.Procedure));
        if (static_cast<int32_t>(Now - Timer.Due) < 0 ||
            !MatchesFilter(Tick, hWnd, wMsgFilterMin, wMsgFilterMax))
            continue;
        *lpMsg = Tick;
        if (Remove) {
            Timer.Due += Timer.Period;
            if (static_cast<int32_t>(Now - Timer.Due) >= 0) Timer.Due = Now + Timer.Period;
        }
        return TRUE;
    }
    return FALSE;
}

BOOL WINAPI TranslateMessage(const MSG* lpMsg) {
    if (lpMsg == nullptr) return FALSE;
    UINT Message = lpMsg->message;
    if (Message != WM_KEYDOWN && Message != WM_KEYUP && Message != WM_SYSKEYDOWN && Message != WM_SYSKEYUP)
        return FALSE;
    if (Message == WM_KEYDOWN || Message == WM_SYSKEYDOWN) {
        int Character = CharacterOf(static_cast<UINT>(lpMsg->wParam), Layer.KeyModifiers);
        if (Character >= 0) {
            MSG Posted = *lpMsg;
            Posted.message = Message == WM_KEYDOWN ? WM_CHAR : WM_SYSCHAR;
            Posted.wParam = static_cast<WPARAM>(Character);
            Layer.Posted.Push(Posted, 0);
        }
    }
    return TRUE;
}

LRESULT WINAPI DispatchMessageA(const MSG* lpMsg) {
    if (lpMsg == nullptr) return 0;
    if (lpMsg->message == WM_TIMER && lpMsg->lParam != 0) {
        if (lpMsg->hwnd != nullptr && FindWindow(lpMsg->hwnd) == nullptr) return 0;
        reinterpret_cast<TIMERPROC>(lpMsg->lParam)(lpMsg->hwnd, WM_TIMER, lpMsg->wParam, GetTickCount());
        return 0;
    }
    return SendToWindow(lpMsg->hwnd, lpMsg->message, lpMsg->wParam, lpMsg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    if (Msg == WM_CLOSE) {
        DestroyWindow(hWnd);
    } else if (Msg == WM_SYSKEYDOWN && wParam == VK_F4 && (lParam & (1 << 29))) {
        SendToWindow(hWnd, WM_CLOSE, 0, 0);
    }
    return 0;
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

// ---- gdi32 and opengl32 --------------------------------------------------------------------

int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR* ppfd) {
    if (FindWindowByDeviceContext(hdc) == nullptr || ppfd == nullptr) return 0;
    return ClosestPixelFormat(*ppfd);
}

BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR* ppfd) {
    (void)ppfd;
    TWindow* Window = FindWindowByDeviceContext(hdc);
    if (Window == nullptr || format < 1 || format > PixelFormatCount) return FALSE;
    if (Window->PixelFormat != 0) return Window->PixelFormat == format ? TRUE : FALSE;
    if (Window->WindowFormat != format && !RemakeSdlWindow(*Window, format)) return FALSE;
    Window->PixelFormat = format;
    return TRUE;
}

BOOL WINAPI SwapBuffers(HDC hdc) {
    TWindow* Window = FindWindowByDeviceContext(hdc);
    if (Window == nullptr || Window->PixelFormat == 0) return FALSE;
    SDL_GL_SwapWindow(Window->Sdl);
    return TRUE;
}

HGLRC WINAPI wglCreateContext(HDC hdc) {
    TWindow* Window = FindWindowByDeviceContext(hdc);
    if (Window == nullptr || Window->PixelFormat == 0) return nullptr;
    SDL_Window* CurrentWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext CurrentContext = SDL_GL_GetCurrentContext();
    ApplyPixelFormat(Window->PixelFormat);
    SDL_GLContext Sdl = SDL_GL_CreateContext(Window->Sdl);
    SDL_GL_MakeCurrent(CurrentWindow, CurrentContext);
    if (Sdl == nullptr) return nullptr;
    auto Context = std::make_unique<TContext>();
    *Context = {NewHandle<HGLRC>(), Sdl, Window->PixelFormat};
    HGLRC Handle = Context->Handle;
    Layer.Contexts.push_back(std::move(Context));
    return Handle;
}

BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC hglrc) {
    if (hglrc == nullptr) {
        if (Layer.VideoRunning) SDL_GL_MakeCurrent(nullptr, nullptr);
        return TRUE;
    }
    TContext* Context = FindContext(hglrc);
    TWindow* Window = FindWindowByDeviceContext(hdc);
    if (Context == nullptr || Window == nullptr || Window->PixelFormat != Context->PixelFormat) return FALSE;
    return SDL_GL_MakeCurrent(Window->Sdl, Context->Sdl) == 0 ? TRUE : FALSE;
}

BOOL WINAPI wglDeleteContext(HGLRC hglrc) {
    TContext* Context = FindContext(hglrc);
    if (Context == nullptr) return FALSE;
    if (SDL_GL_GetCurrentContext() == Context->Sdl) SDL_GL_MakeCurrent(nullptr, nullptr);
    SDL_GL_DeleteContext(Context->Sdl);
    std::erase_if(Layer.Contexts,
                  [hglrc](const std::unique_ptr<TContext>& Each) { return Each->Handle == hglrc; });
    return TRUE;
}

} // extern "C"

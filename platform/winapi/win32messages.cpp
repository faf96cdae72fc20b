#include "win32layer.h"

#include <algorithm>

// Input from SDL translated into window messages, timers, and the message calls of user32:
// PeekMessage, TranslateMessage, DispatchMessage, DefWindowProc and SetTimer.

namespace win32layer {

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

} // namespace win32layer

using namespace win32layer;

extern "C" {

// ---- user32 messages -----------------------------------------------------------------------

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

} // extern "C"

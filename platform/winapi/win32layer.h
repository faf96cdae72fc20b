#pragma once

// What the parts of the window layer share (win32.cpp: the layer's state, windows and
// classes; win32messages.cpp: input, timers and the message queue; win32gl.cpp: pixel
// formats, GDI and WGL): the objects behind the handles and the helpers that find them.
// Not for users of the layer, who see windows.h only.

#include "windows.h"

#include <SDL.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace win32layer {

// Classic Windows metrics: dialog frame and caption height.
inline constexpr int FrameSize = 3;
inline constexpr int CaptionHeight = 19;
inline constexpr UINT MinimumTimerPeriod = 10;
inline constexpr UINT MaximumTimerPeriod = 0x7FFFFFFF;
inline constexpr int PixelFormatCount = 24;

inline const HCURSOR ArrowCursor = reinterpret_cast<HCURSOR>(0x10003);

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

inline bool MatchesFilter(const MSG& Message, HWND Window, UINT First, UINT Last) {
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

extern TLayer Layer;

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

TWindow* FindWindow(HWND Handle);
TWindow* FindWindowByDeviceContext(HDC DeviceContext);
TWindow* FindWindowBySdlId(uint32_t SdlId);
TContext* FindContext(HGLRC Handle);
// A class is named by its name in any letter case or by its atom.
bool ClassIsNamed(const TWindowClass& Class, LPCSTR Name);
TWindowClass* FindClass(LPCSTR Name);
HINSTANCE InstanceOf(HINSTANCE Instance);
// Starts SDL video once; without a display the process ends with a line saying so.
void StartVideo();
LRESULT SendToWindow(HWND Handle, UINT Message, WPARAM WParam, LPARAM LParam);

// Windows (win32.cpp).
bool IsBorderless(DWORD Style);
void ClientSizeOf(DWORD Style, int Width, int Height, int& ClientWidth, int& ClientHeight);
SDL_Window* CreateSdlWindow(const char* Title, int X, int Y, int Width, int Height, uint32_t Flags,
                            int Format);
// A window's visual is fixed when it is made, so a different format needs a new SDL window.
bool RemakeSdlWindow(TWindow& Window, int Format);

// Input (win32messages.cpp).
// Records the window's state and client size for WM_SIZE; false when it already knows them.
bool TakeNewSize(TWindow& Window, WPARAM& State, LPARAM& Size);

// Pixel formats (win32gl.cpp).
// SDL reads these when it creates a window (the visual) and a context.
void ApplyPixelFormat(int Format);

} // namespace win32layer

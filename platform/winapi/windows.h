#pragma once

// The subset of the Win32 API the show uses, on Linux. On Windows the real <windows.h>
// is used instead and this folder is not on the include path.
//
// Library `win32` implements the calls on SDL2: one SDL window with an OpenGL context per
// window, and a message queue of its own (posted messages first, then the SDL events
// translated into window messages, then due timers) that PeekMessageA drains. Everything
// runs on the thread that creates the windows. Names, types, constants and failure
// results are those of Windows; what differs is listed here beside each call.
//
// No display: the first call that needs video (GetSystemMetrics for the screen size, or
// RegisterClassA) starts SDL's video. SDL's drivers that show nothing (offscreen, dummy) are
// used only when SDL_VIDEODRIVER names them. When video cannot start, the layer writes the
// single console line "no display: SDL video could not start: " followed by SDL's error text
// (such as "x11,wayland,KMSDRM not available") and ends the process with exit status 1.
//
// Signals keep their default action (SDL installs no handlers), as on a Windows console.

#include <cstddef>
#include <cstdint>

typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef uint32_t DWORD;
typedef int BOOL;
typedef unsigned int UINT;
typedef int32_t LONG;
typedef int INT;
typedef intptr_t LONG_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef char CHAR;
typedef const char* LPCSTR;
typedef char* LPSTR;
typedef void* LPVOID;

typedef struct HWND__* HWND;
typedef struct HDC__* HDC;
typedef struct HGLRC__* HGLRC;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HICON__* HICON;
typedef HICON HCURSOR;
typedef struct HBRUSH__* HBRUSH;
typedef struct HMENU__* HMENU;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#ifndef WINAPI
#define WINAPI
#endif
#ifndef CALLBACK
#define CALLBACK
#endif
#ifndef APIENTRY
#define APIENTRY
#endif

typedef void VOID;
typedef short SHORT;
typedef unsigned short USHORT;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef uintptr_t ULONG_PTR;
typedef ULONG_PTR DWORD_PTR;
typedef WORD ATOM;

#define MAKEWORD(a, b)                                                                                       \
    ((WORD)(((BYTE)(((DWORD_PTR)(a)) & 0xff)) | ((WORD)((BYTE)(((DWORD_PTR)(b)) & 0xff))) << 8))
#define MAKELONG(a, b)                                                                                       \
    ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD_PTR)(w)) >> 8) & 0xff))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define MAKEINTATOM(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)

#define ZeroMemory(Destination, Length) __builtin_memset((Destination), 0, (Length))

// ---- Records -------------------------------------------------------------------------------

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT, *PPOINT, *LPPOINT;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time; // GetTickCount when the message was queued
    POINT pt;   // cursor position in screen coordinates, as last known
} MSG, *PMSG, *LPMSG;

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef VOID(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *PWNDCLASSA, *LPWNDCLASSA;

typedef struct tagPIXELFORMATDESCRIPTOR {
    WORD nSize;
    WORD nVersion;
    DWORD dwFlags;
    BYTE iPixelType;
    BYTE cColorBits;
    BYTE cRedBits;
    BYTE cRedShift;
    BYTE cGreenBits;
    BYTE cGreenShift;
    BYTE cBlueBits;
    BYTE cBlueShift;
    BYTE cAlphaBits;
    BYTE cAlphaShift;
    BYTE cAccumBits;
    BYTE cAccumRedBits;
    BYTE cAccumGreenBits;
    BYTE cAccumBlueBits;
    BYTE cAccumAlphaBits;
    BYTE cDepthBits;
    BYTE cStencilBits;
    BYTE cAuxBuffers;
    BYTE iLayerType;
    BYTE bReserved;
    DWORD dwLayerMask;
    DWORD dwVisibleMask;
    DWORD dwDamageMask;
} PIXELFORMATDESCRIPTOR, *PPIXELFORMATDESCRIPTOR, *LPPIXELFORMATDESCRIPTOR;

typedef union _LARGE_INTEGER {
    __extension__ struct {
        DWORD LowPart;
        LONG HighPart;
    };
    struct {
        DWORD LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
} LARGE_INTEGER, *PLARGE_INTEGER;

// ---- Constants -----------------------------------------------------------------------------

// Window messages the layer delivers.
#define WM_NULL 0x0000
#define WM_DESTROY 0x0002
#define WM_SIZE 0x0005
#define WM_CLOSE 0x0010
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208

// WM_SIZE wParam.
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// Mouse message wParam: buttons and modifier keys held.
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010

// Window styles. A window without WS_CAPTION, WS_THICKFRAME, WS_DLGFRAME and WS_BORDER is
// borderless and its client area is the whole window; WS_OVERLAPPED implies a caption.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW                                                                                  \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_WINDOWEDGE 0x00000100L
#define WS_EX_APPWINDOW 0x00040000L
#define CW_USEDEFAULT ((int)0x80000000)

// Class styles (accepted; every window has a device context of its own).
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008
#define CS_OWNDC 0x0020

// Pixel format descriptor.
#define PFD_TYPE_RGBA 0
#define PFD_TYPE_COLORINDEX 1
#define PFD_MAIN_PLANE 0
#define PFD_DOUBLEBUFFER 0x00000001
#define PFD_STEREO 0x00000002
#define PFD_DRAW_TO_WINDOW 0x00000004
#define PFD_DRAW_TO_BITMAP 0x00000008
#define PFD_SUPPORT_GDI 0x00000010
#define PFD_SUPPORT_OPENGL 0x00000020
#define PFD_DEPTH_DONTCARE 0x20000000
#define PFD_DOUBLEBUFFER_DONTCARE 0x40000000

// GetSystemMetrics indices.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CYCAPTION 4
#define SM_CXDLGFRAME 7
#define SM_CYDLGFRAME 8
#define SM_CXFIXEDFRAME SM_CXDLGFRAME
#define SM_CYFIXEDFRAME SM_CYDLGFRAME

// Virtual-key codes (WM_KEYDOWN and WM_KEYUP wParam). Letters and digits are their ASCII
// upper-case characters, 'A' to 'Z' and '0' to '9'.
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_SNAPSHOT 0x2C
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_NUMPAD0 0x60
#define VK_NUMPAD1 0x61
#define VK_NUMPAD2 0x62
#define VK_NUMPAD3 0x63
#define VK_NUMPAD4 0x64
#define VK_NUMPAD5 0x65
#define VK_NUMPAD6 0x66
#define VK_NUMPAD7 0x67
#define VK_NUMPAD8 0x68
#define VK_NUMPAD9 0x69
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F2 0x71
#define VK_F3 0x72
#define VK_F4 0x73
#define VK_F5 0x74
#define VK_F6 0x75
#define VK_F7 0x76
#define VK_F8 0x77
#define VK_F9 0x78
#define VK_F10 0x79
#define VK_F11 0x7A
#define VK_F12 0x7B
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE

// PeekMessageA options.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002

// ShowWindow commands.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10

#define IDC_ARROW MAKEINTRESOURCEA(32512)

// ---- Calls ---------------------------------------------------------------------------------

extern "C" {

// kernel32

// NULL, or the executable's own file name: the program's module handle. Other names: NULL.
HMODULE WINAPI GetModuleHandleA(LPCSTR lpModuleName);
// The full path of the running executable for NULL or the program's module handle; returns
// its length. A path that does not fit is cut to nSize - 1 characters plus the terminating
// zero and nSize is returned. 0 for any other module or when the path cannot be read.
DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename, DWORD nSize);
// A monotonic clock in nanoseconds (the counter's frequency is 1 000 000 000 per second).
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER* lpPerformanceCount);
// Milliseconds of a monotonic clock, wrapping at 2^32.
DWORD WINAPI GetTickCount(void);
VOID WINAPI Sleep(DWORD dwMilliseconds);

// user32

// Only the arrow cursor exists: LoadCursorA(NULL, IDC_ARROW) gives its handle, anything
// else NULL.
HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
// 0 for a missing record, name or window procedure, or a name already registered for the
// instance. Class names compare without regard to letter case.
ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
// FALSE when the class does not exist or still has windows.
BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
// Top-level windows only (WS_CHILD gives NULL). The SDL window is an OpenGL window of the
// default pixel format (format 1, see ChoosePixelFormat). nWidth and nHeight are the outer
// size: a framed window's client area is smaller by 2 x SM_CXDLGFRAME across and by
// 2 x SM_CYDLGFRAME + SM_CYCAPTION (with a caption) down; a borderless one's is all of it,
// also when it is larger than the screen. The class's window procedure receives WM_SIZE with
// the client size before the call returns.
HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle, int X,
                            int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                            LPVOID lpParam);
// Sends WM_DESTROY, then removes the window with its timers, its queued messages and its
// device context. FALSE for a window that no longer exists.
BOOL WINAPI DestroyWindow(HWND hWnd);
// Returns whether the window was visible before.
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);
BOOL WINAPI SetForegroundWindow(HWND hWnd);
// Keyboard input goes to the focus window; returns the previous one.
HWND WINAPI SetFocus(HWND hWnd);
// The window's own device context (every window behaves as CS_OWNDC). NULL for NULL.
HDC WINAPI GetDC(HWND hWnd);
// 1 when hDC is hWnd's device context, else 0. The context stays valid until the window goes.
int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
// Timer messages come at the given period (at least 10 ms) when nothing else is queued, at
// most one pending per timer. With a TIMERPROC, DispatchMessageA calls it instead of the
// window procedure. A NULL window gets a new identifier; SetTimer on an existing identifier
// of the window restarts it.
UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc);
// Posted messages (such as WM_CHAR from TranslateMessage) first, then the input SDL
// delivered (WM_SIZE, WM_CLOSE, keys, mouse), then WM_TIMER. SDL events become:
// window size change -> WM_SIZE; window close or quit request -> WM_CLOSE; key down and up
// -> WM_KEYDOWN and WM_KEYUP, or WM_SYSKEYDOWN and WM_SYSKEYUP with Alt held (not with
// Ctrl) and for F10 and Alt itself; mouse motion and buttons -> WM_MOUSEMOVE and the
// button messages. Key messages carry the virtual-key code and an lParam with repeat count 1,
// bit 29 for Alt held, bit 30 for a repeat or key-up and bit 31 for key-up; the scan code
// field is 0. Input goes to the window SDL names, else to the focus window.
BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax, UINT wRemoveMsg);
// Posts WM_CHAR (WM_SYSCHAR for WM_SYSKEYDOWN) when a key-down yields a character: the US
// layout with Shift and Caps Lock, control characters with Ctrl (Ctrl+A is 1), Escape 27,
// Return 13, Backspace 8, Tab 9. Returns TRUE for the four key messages, else FALSE.
BOOL WINAPI TranslateMessage(const MSG* lpMsg);
// Calls the window procedure of the message's window (0 for no or a destroyed window).
LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
// WM_CLOSE destroys the window; WM_SYSKEYDOWN with VK_F4 and Alt held sends WM_CLOSE;
// everything else returns 0.
LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// SM_CXSCREEN and SM_CYSCREEN: the desktop display mode of the first display.
// SM_CXDLGFRAME and SM_CYDLGFRAME: 3; SM_CYCAPTION: 19 (the classic Windows look).
// Any other index: 0.
int WINAPI GetSystemMetrics(int nIndex);
// The cursor is shown while the display count is 0 or more; returns the new count.
int WINAPI ShowCursor(BOOL bShow);

// gdi32 and opengl32

// Formats 1 to 24 exist: 32-bit colour (8 bits red, green and blue) with alpha 0 or 8,
// depth 16, 24 or none, stencil 0 or 8, double- or single-buffered. Format 1 is double-
// buffered RGB with a 16-bit depth buffer and nothing else. Returns the closest format for a
// window's device context, else 0.
int WINAPI ChoosePixelFormat(HDC hdc, const PIXELFORMATDESCRIPTOR* ppfd);
// Once per window (again with the same format succeeds); the format number decides, ppfd is
// not read. A format other than the window's current one re-creates its SDL window.
BOOL WINAPI SetPixelFormat(HDC hdc, int format, const PIXELFORMATDESCRIPTOR* ppfd);
BOOL WINAPI SwapBuffers(HDC hdc);
// A compatibility-profile OpenGL context (OpenGL 1.1 immediate mode works) for a device
// context whose pixel format is set, else NULL. The current context does not change.
HGLRC WINAPI wglCreateContext(HDC hdc);
// With a NULL context, no context is current afterwards (hdc is not looked at).
BOOL WINAPI wglMakeCurrent(HDC hdc, HGLRC hglrc);
// A current context stops being current first.
BOOL WINAPI wglDeleteContext(HGLRC hglrc);

} // extern "C"

#include "oglwin.h"

#include "effect.h"
#include "xlogging.h"

#include <GL/gl.h>

bool Running;
int32_t WindowWidth, WindowHeight;

namespace {

constexpr char ClassName[] = "tallowmesh";
constexpr char WindowTitle[] = "new project";
constexpr UINT_PTR TimerId = 12648430; // 0xC0FFEE
constexpr UINT TimerPeriod = 30;

HINSTANCE ModuleHandle;
HDC DeviceContext;
HGLRC RenderContext;
MSG Message;
PIXELFORMATDESCRIPTOR PixelFormat;
HWND WindowHandle;

// One unit is one pixel, the origin is the top-left corner and y grows downwards.
void SetProjection() {
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glViewport(0, 0, WindowWidth, WindowHeight);
    glOrtho(0, WindowWidth, WindowHeight, 0, 0, 128);
}

void FillPixelFormat() {
    PixelFormat = {};
    PixelFormat.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    PixelFormat.nVersion = 1;
    PixelFormat.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    PixelFormat.iPixelType = PFD_TYPE_RGBA;
    PixelFormat.cColorBits = 32;
    PixelFormat.cDepthBits = 16;
    PixelFormat.iLayerType = PFD_MAIN_PLANE;
}

} // namespace

void SetInitialState() {
    glEnable(GL_TEXTURE_2D);
    glClearColor(0, 0, 0, 0);
    glShadeModel(GL_SMOOTH);
    glClearDepth(1.0);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LEQUAL);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexGeni(GL_S, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glTexGeni(GL_T, GL_TEXTURE_GEN_MODE, GL_SPHERE_MAP);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

void CreateGLWindow(int32_t Width, int32_t Height, bool Fullscreen) {
    Running = true;
    ModuleHandle = GetModuleHandleA(nullptr);

    WNDCLASSA Class = {};
    Class.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    Class.lpfnWndProc = WindowProc;
    Class.hInstance = ModuleHandle;
    Class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    Class.lpszClassName = ClassName;
    WindowWidth = Width;
    WindowHeight = Height;
    RegisterClassA(&Class);

    DWORD ExtendedStyle = Fullscreen ? WS_EX_APPWINDOW : WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    DWORD Style = Fullscreen ? WS_POPUP | WS_VISIBLE : WS_POPUP | WS_VISIBLE | WS_OVERLAPPEDWINDOW;
    // The frame allowance is added in both modes.
    int32_t OuterWidth = Width + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    int32_t OuterHeight = Height + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    WindowHandle = CreateWindowExA(ExtendedStyle, ClassName, WindowTitle, Style, 0, 0, OuterWidth,
                                   OuterHeight, nullptr, nullptr, ModuleHandle, nullptr);
    DeviceContext = GetDC(WindowHandle);

    FillPixelFormat();
    int Format = ChoosePixelFormat(DeviceContext, &PixelFormat);
    if (Format == 0) LogLine(9, "Pixel format unavaiable.");
    if (!SetPixelFormat(DeviceContext, Format, &PixelFormat)) LogLine(9, "Could not set pixel format.");
    RenderContext = wglCreateContext(DeviceContext);
    if (!RenderContext) LogLine(9, "Could not create render-context!");
    if (!wglMakeCurrent(DeviceContext, RenderContext))
        LogLine(9, "Could not activate OpenGL-rendering context!");

    ShowWindow(WindowHandle, SW_SHOW);
    SetForegroundWindow(WindowHandle);
    SetFocus(WindowHandle);

    SetInitialState();
    SetProjection();
    SetTimer(WindowHandle, TimerId, TimerPeriod, nullptr);
}

HWND GetWindowHandle() {
    return WindowHandle;
}

bool PumpMessages() {
    while (PeekMessageA(&Message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&Message);
        DispatchMessageA(&Message);
    }
    RenderFrame();
    return Running;
}

void RenderFrame() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    SetProjection();
    DrawScene();
    SwapBuffers(DeviceContext);
}

void DestroyGLWindow() {
    wglMakeCurrent(DeviceContext, nullptr);
    wglDeleteContext(RenderContext);
    ReleaseDC(WindowHandle, DeviceContext);
    DestroyWindow(WindowHandle);
    UnregisterClassA(ClassName, ModuleHandle);
}

LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    switch (Message) {
    case WM_SIZE:
        WindowWidth = static_cast<int32_t>(LParam & 0xFFFF);
        WindowHeight = static_cast<int32_t>((LParam >> 16) & 0xFFFF);
        SetProjection();
        return 0;
    case WM_CLOSE: Running = false; return DefWindowProcA(Window, Message, WParam, LParam);
    case WM_CHAR:
    case WM_SYSCHAR:
        if ((WParam & 0xFF) == 27) Running = false;
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN: return 0;
    default: return DefWindowProcA(Window, Message, WParam, LParam);
    }
}

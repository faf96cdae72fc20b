// The window layer: windows, their GL context and pixel format, classes and sizes.

#include "windowlayer.h"

#include <GL/gl.h>

namespace {

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

} // namespace

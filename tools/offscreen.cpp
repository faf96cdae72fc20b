#include "offscreen.h"

#include "effect.h"
#include "oglwin.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct TFramebufferCalls {
    PFNGLGENFRAMEBUFFERSPROC GenFramebuffers;
    PFNGLBINDFRAMEBUFFERPROC BindFramebuffer;
    PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers;
    PFNGLGENRENDERBUFFERSPROC GenRenderbuffers;
    PFNGLBINDRENDERBUFFERPROC BindRenderbuffer;
    PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage;
    PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers;
    PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer;
    PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus;

    template <typename T> static bool Load(T& Call, const char* Name) {
        Call = reinterpret_cast<T>(eglGetProcAddress(Name));
        return Call != nullptr;
    }
    bool LoadAll() {
        return Load(GenFramebuffers, "glGenFramebuffers") && Load(BindFramebuffer, "glBindFramebuffer") &&
               Load(DeleteFramebuffers, "glDeleteFramebuffers") &&
               Load(GenRenderbuffers, "glGenRenderbuffers") && Load(BindRenderbuffer, "glBindRenderbuffer") &&
               Load(RenderbufferStorage, "glRenderbufferStorage") &&
               Load(DeleteRenderbuffers, "glDeleteRenderbuffers") &&
               Load(FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
               Load(CheckFramebufferStatus, "glCheckFramebufferStatus");
    }
};

std::string Hex(unsigned Value) {
    char Text[16];
    std::snprintf(Text, sizeof Text, "0x%04X", Value);
    return Text;
}

// Mesa's display without any window system first, then whatever the default one is.
EGLDisplay OpenDisplay() {
    auto GetPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    const char* Extensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (GetPlatformDisplay && Extensions && std::strstr(Extensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay Display = GetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (Display != EGL_NO_DISPLAY && eglInitialize(Display, nullptr, nullptr)) return Display;
    }
    EGLDisplay Display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    if (Display != EGL_NO_DISPLAY && eglInitialize(Display, nullptr, nullptr)) return Display;
    return EGL_NO_DISPLAY;
}

} // namespace

struct TOffscreenShow::TState {
    EGLDisplay Display = EGL_NO_DISPLAY;
    EGLContext Context = EGL_NO_CONTEXT;
    TFramebufferCalls Calls{};
    GLuint Framebuffer = 0, Colour = 0;
    int32_t Width = 0, Height = 0;             // the screen
    int32_t ClientWidth = 0, ClientHeight = 0; // the window standing around it
    std::vector<uint8_t> Row;

    bool CreateContext(std::string& Problem);
    bool CreateFramebuffer(std::string& Problem);
};

bool TOffscreenShow::TState::CreateContext(std::string& Problem) {
    Display = OpenDisplay();
    if (Display == EGL_NO_DISPLAY) {
        Problem = "no EGL display (Mesa's libEGL and its drivers are needed)";
        return false;
    }
    const char* Extensions = eglQueryString(Display, EGL_EXTENSIONS);
    if (!Extensions || !std::strstr(Extensions, "EGL_KHR_surfaceless_context")) {
        Problem = "the EGL display cannot make a context current without a surface";
        return false;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        Problem = "EGL offers no desktop OpenGL";
        return false;
    }
    const EGLint Wanted[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT,
                             EGL_NONE};
    EGLConfig Config;
    EGLint Count = 0;
    if (!eglChooseConfig(Display, Wanted, &Config, 1, &Count) || Count < 1) {
        Problem = "EGL has no configuration for desktop OpenGL";
        return false;
    }
    // No version asked for: the compatibility profile, with OpenGL 1.1 immediate mode.
    Context = eglCreateContext(Display, Config, EGL_NO_CONTEXT, nullptr);
    if (Context == EGL_NO_CONTEXT || !eglMakeCurrent(Display, EGL_NO_SURFACE, EGL_NO_SURFACE, Context)) {
        Problem = "no OpenGL context (EGL error " + Hex(eglGetError()) + ")";
        return false;
    }
    if (!Calls.LoadAll()) {
        Problem = "OpenGL has no framebuffer objects";
        return false;
    }
    return true;
}

bool TOffscreenShow::TState::CreateFramebuffer(std::string& Problem) {
    const int32_t FramebufferWidth = std::max(ClientWidth, NextPowerOfTwo(Width));
    const int32_t FramebufferHeight = std::max(ClientHeight, NextPowerOfTwo(Height));
    GLint MaxTexture = 0, MaxRenderbuffer = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &MaxTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &MaxRenderbuffer);
    const GLint Limit = std::min(MaxTexture, MaxRenderbuffer);
    if (FramebufferWidth > Limit || FramebufferHeight > Limit) {
        Problem = "the show's feedback texture for " + std::to_string(Width) + " x " +
                  std::to_string(Height) + " would be " + std::to_string(NextPowerOfTwo(Width)) + " x " +
                  std::to_string(NextPowerOfTwo(Height)) + ", more than OpenGL allows here (" +
                  std::to_string(Limit) + ")";
        return false;
    }
    Calls.GenFramebuffers(1, &Framebuffer);
    Calls.BindFramebuffer(GL_FRAMEBUFFER, Framebuffer);
    Calls.GenRenderbuffers(1, &Colour);
    Calls.BindRenderbuffer(GL_RENDERBUFFER, Colour);
    // 8 bits a channel, as the window's pixel format. The frame turns depth testing off before
    // it draws, so no depth buffer is needed.
    Calls.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, FramebufferWidth, FramebufferHeight);
    Calls.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, Colour);
    const GLenum Status = Calls.CheckFramebufferStatus(GL_FRAMEBUFFER);
    const GLenum Error = glGetError();
    if (Status != GL_FRAMEBUFFER_COMPLETE || Error != GL_NO_ERROR) {
        Problem = "no framebuffer of " + std::to_string(FramebufferWidth) + " x " +
                  std::to_string(FramebufferHeight) + " (status " + Hex(Status) + ", error " + Hex(Error) +
                  ")";
        return false;
    }
    return true;
}

TOffscreenShow::TOffscreenShow() : State(std::make_unique<TState>()) {}

TOffscreenShow::~TOffscreenShow() {
    if (State->Context != EGL_NO_CONTEXT) {
        if (State->Framebuffer) State->Calls.DeleteFramebuffers(1, &State->Framebuffer);
        if (State->Colour) State->Calls.DeleteRenderbuffers(1, &State->Colour);
        eglMakeCurrent(State->Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        eglDestroyContext(State->Display, State->Context);
    }
    // The display is not terminated: that unloads Mesa's driver, which leaves a few blocks of
    // its own behind that no leak checker can then name. The display belongs to the process,
    // and a later Create initialises it again.
}

bool TOffscreenShow::Create(int32_t Width, int32_t Height, std::string& Problem) {
    State->Width = Width;
    State->Height = Height;
    // The show's window is a borderless popup of the screen's size plus the frame allowance.
    State->ClientWidth = Width + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    State->ClientHeight = Height + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    State->Row.resize(static_cast<size_t>(Width) * 3);
    if (!State->CreateContext(Problem) || !State->CreateFramebuffer(Problem)) return false;
    SetInitialState();
    WindowWidth = State->ClientWidth;
    WindowHeight = State->ClientHeight;
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    return true;
}

void TOffscreenShow::StartShow(const char* MusicFile) {
    InitDemoWithMusic(nullptr, State->Width, State->Height, MusicFile);
}

bool TOffscreenShow::RenderFrame(uint8_t* Rgb, std::string& Problem) {
    ::RenderFrame();
    // The screen is the top of the window; OpenGL counts rows from the bottom.
    const int32_t Width = State->Width, Height = State->Height;
    glReadPixels(0, State->ClientHeight - Height, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, Rgb);
    const size_t RowBytes = static_cast<size_t>(Width) * 3;
    for (int32_t Top = 0, Bottom = Height - 1; Top < Bottom; Top++, Bottom--) {
        uint8_t* Upper = Rgb + RowBytes * static_cast<size_t>(Top);
        uint8_t* Lower = Rgb + RowBytes * static_cast<size_t>(Bottom);
        std::memcpy(State->Row.data(), Upper, RowBytes);
        std::memcpy(Upper, Lower, RowBytes);
        std::memcpy(Lower, State->Row.data(), RowBytes);
    }
    if (const GLenum Error = glGetError(); Error != GL_NO_ERROR) {
        Problem = "OpenGL error " + Hex(Error) + " while drawing the frame";
        return false;
    }
    return true;
}

int32_t TOffscreenShow::ClientWidth() const {
    return State->ClientWidth;
}

int32_t TOffscreenShow::ClientHeight() const {
    return State->ClientHeight;
}

#include "glcanvas.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdio>
#include <cstring>

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

struct TGLCanvas::TState {
    EGLDisplay Display = EGL_NO_DISPLAY;
    EGLContext Context = EGL_NO_CONTEXT;
    TFramebufferCalls Calls{};
    GLuint Framebuffer = 0, Colour = 0;
    int32_t Width = 0, Height = 0;
    std::vector<uint8_t> Row;
};

TGLCanvas::TGLCanvas() : State(std::make_unique<TState>()) {}

TGLCanvas::~TGLCanvas() {
    if (State->Context == EGL_NO_CONTEXT) return;
    if (State->Framebuffer) State->Calls.DeleteFramebuffers(1, &State->Framebuffer);
    if (State->Colour) State->Calls.DeleteRenderbuffers(1, &State->Colour);
    eglMakeCurrent(State->Display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(State->Display, State->Context);
    // Terminating the display would unload Mesa's driver, leaving blocks no leak checker
    // can name; the display belongs to the process.
}

bool TGLCanvas::Create(int32_t Width, int32_t Height, std::string& Problem) {
    if (!CreateContext(Problem)) return false;
    GLint Limit = 0;
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &Limit);
    if (Width > Limit || Height > Limit) {
        Problem = std::to_string(Width) + " x " + std::to_string(Height) +
                  " is more than OpenGL allows here (" + std::to_string(Limit) + ")";
        return false;
    }
    return CreateFramebuffer(Width, Height, Problem);
}

bool TGLCanvas::CreateContext(std::string& Problem) {
    TState& S = *State;
    S.Display = OpenDisplay();
    if (S.Display == EGL_NO_DISPLAY) {
        Problem = "no EGL display (Mesa's libEGL and its drivers are needed)";
        return false;
    }
    const char* Extensions = eglQueryString(S.Display, EGL_EXTENSIONS);
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
    if (!eglChooseConfig(S.Display, Wanted, &Config, 1, &Count) || Count < 1) {
        Problem = "EGL has no configuration for desktop OpenGL";
        return false;
    }
    // No version asked for: the compatibility profile, with OpenGL 1.1 immediate mode.
    S.Context = eglCreateContext(S.Display, Config, EGL_NO_CONTEXT, nullptr);
    if (S.Context == EGL_NO_CONTEXT ||
        !eglMakeCurrent(S.Display, EGL_NO_SURFACE, EGL_NO_SURFACE, S.Context)) {
        Problem = "no OpenGL context (EGL error " + Hex(eglGetError()) + ")";
        return false;
    }
    if (!S.Calls.LoadAll()) {
        Problem = "OpenGL has no framebuffer objects";
        return false;
    }
    return true;
}

bool TGLCanvas::CreateFramebuffer(int32_t Width, int32_t Height, std::string& Problem) {
    TState& S = *State;
    S.Width = Width;
    S.Height = Height;
    S.Calls.GenFramebuffers(1, &S.Framebuffer);
    S.Calls.BindFramebuffer(GL_FRAMEBUFFER, S.Framebuffer);
    S.Calls.GenRenderbuffers(1, &S.Colour);
    S.Calls.BindRenderbuffer(GL_RENDERBUFFER, S.Colour);
    // 8 bits a channel, as a window's pixel format; no depth buffer.
    S.Calls.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, Width, Height);
    S.Calls.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, S.Colour);
    const GLenum Status = S.Calls.CheckFramebufferStatus(GL_FRAMEBUFFER);
    const GLenum Error = glGetError();
    if (Status != GL_FRAMEBUFFER_COMPLETE || Error != GL_NO_ERROR) {
        Problem = "no framebuffer of " + std::to_string(Width) + " x " + std::to_string(Height) +
                  " (status " + Hex(Status) + ", error " + Hex(Error) + ")";
        return false;
    }
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    return true;
}

bool TGLCanvas::Read(std::vector<uint8_t>& Rgb, std::string& Problem) {
    Rgb.resize(size_t(State->Width) * 3 * size_t(State->Height));
    return Read(0, 0, State->Width, State->Height, Rgb.data(), Problem);
}

bool TGLCanvas::Read(int32_t X, int32_t Y, int32_t Width, int32_t Height, uint8_t* Rgb,
                     std::string& Problem) {
    const size_t RowBytes = size_t(Width) * 3;
    State->Row.resize(RowBytes);
    // OpenGL counts rows from the bottom.
    glReadPixels(X, State->Height - Y - Height, Width, Height, GL_RGB, GL_UNSIGNED_BYTE, Rgb);
    for (int32_t Top = 0, Bottom = Height - 1; Top < Bottom; Top++, Bottom--) {
        uint8_t* Upper = Rgb + RowBytes * size_t(Top);
        uint8_t* Lower = Rgb + RowBytes * size_t(Bottom);
        std::memcpy(State->Row.data(), Upper, RowBytes);
        std::memcpy(Upper, Lower, RowBytes);
        std::memcpy(Lower, State->Row.data(), RowBytes);
    }
    if (const GLenum Error = glGetError(); Error != GL_NO_ERROR) {
        Problem = "OpenGL error " + Hex(Error) + " while drawing";
        return false;
    }
    return true;
}

void TGLCanvas::Finish() {
    glFinish();
}

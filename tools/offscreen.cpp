#include "offscreen.h"

#include "effect.h"
#include "oglwin.h"

#include "glcanvas.h"

#include <GL/gl.h>

#include <algorithm>

struct TOffscreenShow::TState {
    TGLCanvas Canvas;
    int32_t Width = 0, Height = 0;             // the screen
    int32_t ClientWidth = 0, ClientHeight = 0; // the window standing around it

    bool CheckSize(std::string& Problem) const;
};

// The framebuffer covers the window and the feedback texture, whose sides are powers of two.
bool TOffscreenShow::TState::CheckSize(std::string& Problem) const {
    GLint MaxTexture = 0, MaxRenderbuffer = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &MaxTexture);
    glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &MaxRenderbuffer);
    const GLint Limit = std::min(MaxTexture, MaxRenderbuffer);
    if (std::max(ClientWidth, NextPowerOfTwo(Width)) > Limit ||
        std::max(ClientHeight, NextPowerOfTwo(Height)) > Limit) {
        Problem = "the show's feedback texture for " + std::to_string(Width) + " x " +
                  std::to_string(Height) + " would be " + std::to_string(NextPowerOfTwo(Width)) + " x " +
                  std::to_string(NextPowerOfTwo(Height)) + ", more than OpenGL allows here (" +
                  std::to_string(Limit) + ")";
        return false;
    }
    return true;
}

TOffscreenShow::TOffscreenShow() : State(std::make_unique<TState>()) {}

TOffscreenShow::~TOffscreenShow() = default;

bool TOffscreenShow::Create(int32_t Width, int32_t Height, std::string& Problem) {
    TState& S = *State;
    S.Width = Width;
    S.Height = Height;
    // The show's window is a borderless popup of the screen's size plus the frame allowance.
    S.ClientWidth = Width + 2 * GetSystemMetrics(SM_CXDLGFRAME);
    S.ClientHeight = Height + 2 * GetSystemMetrics(SM_CYDLGFRAME) + GetSystemMetrics(SM_CYCAPTION);
    if (!S.Canvas.CreateContext(Problem) || !S.CheckSize(Problem) ||
        !S.Canvas.CreateFramebuffer(std::max(S.ClientWidth, NextPowerOfTwo(Width)),
                                    std::max(S.ClientHeight, NextPowerOfTwo(Height)), Problem))
        return false;
    SetInitialState();
    WindowWidth = S.ClientWidth;
    WindowHeight = S.ClientHeight;
    return true;
}

void TOffscreenShow::StartShow(const char* MusicFile) {
    InitDemoWithMusic(nullptr, State->Width, State->Height, MusicFile);
}

bool TOffscreenShow::RenderFrame(uint8_t* Rgb, std::string& Problem) {
    ::RenderFrame();
    // The screen is the top of the window, which is the bottom of the framebuffer.
    const int32_t FramebufferHeight = std::max(State->ClientHeight, NextPowerOfTwo(State->Height));
    return State->Canvas.Read(0, FramebufferHeight - State->ClientHeight, State->Width, State->Height, Rgb,
                              Problem);
}

int32_t TOffscreenShow::ClientWidth() const {
    return State->ClientWidth;
}

int32_t TOffscreenShow::ClientHeight() const {
    return State->ClientHeight;
}

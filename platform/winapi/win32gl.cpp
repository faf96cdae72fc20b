#include "win32layer.h"

// Pixel formats, and the gdi32 and opengl32 (WGL) calls: formats, buffer swaps and contexts.

namespace win32layer {

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

} // namespace win32layer

using namespace win32layer;

extern "C" {

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

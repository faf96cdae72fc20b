#pragma once

// An OpenGL context without a window (library `glcanvas`): EGL on Mesa, surfaceless, desktop
// OpenGL in the compatibility profile, drawing into a framebuffer object of a given size.
// For pictures drawn without a display (`xview --png`) and for benchmarks.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TGLCanvas {
public:
    TGLCanvas();
    // Releases the context; the EGL display stays initialised for the process.
    ~TGLCanvas();
    TGLCanvas(const TGLCanvas&) = delete;
    TGLCanvas& operator=(const TGLCanvas&) = delete;

    // A Width x Height framebuffer, current on this thread. False, with Problem saying why,
    // when OpenGL is not to be had at that size.
    bool Create(int32_t Width, int32_t Height, std::string& Problem);
    // The two halves of Create, for a caller with limits of its own to check in between:
    // the context, current on this thread, then the framebuffer.
    bool CreateContext(std::string& Problem);
    bool CreateFramebuffer(int32_t Width, int32_t Height, std::string& Problem);
    // What has been drawn: Width x Height x 3 bytes (red, green, blue), rows from the top.
    // False, with Problem set, when OpenGL reported an error.
    bool Read(std::vector<uint8_t>& Rgb, std::string& Problem);
    // The same for the Width x Height part whose top-left corner is at X, Y (from the top),
    // into Rgb, which holds Width x Height x 3 bytes.
    bool Read(int32_t X, int32_t Y, int32_t Width, int32_t Height, uint8_t* Rgb, std::string& Problem);
    // Waits until everything drawn so far is done.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> State;
};

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
    // What has been drawn: Width x Height x 3 bytes (red, green, blue), rows from the top.
    // False, with Problem set, when OpenGL reported an error.
    bool Read(std::vector<uint8_t>& Rgb, std::string& Problem);
    // Waits until everything drawn so far is done.
    void Finish();

private:
    struct TState;
    std::unique_ptr<TState> State;
};

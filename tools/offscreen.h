#pragma once

// The show rendered without a window, for the recorder (library `offscreen`). An OpenGL
// context from EGL on Mesa (surfaceless: desktop OpenGL, compatibility profile) draws into a
// framebuffer object that stands for the show's full-screen window: its client area is the
// screen plus the window layer's frame allowance, as the live window's is, so the feedback
// copy moves as it does live. The window module's own start state and frame
// (SetInitialState, RenderFrame) and the effect's set-up draw the show; each frame's screen
// part is read back.
//
// The framebuffer also covers the whole feedback texture, beyond the window, and every
// frame's clear blackens it, so what the copy-back reads outside the window is black, the
// same in every run.

#include <cstdint>
#include <memory>
#include <string>

class TOffscreenShow {
public:
    TOffscreenShow();
    ~TOffscreenShow();
    TOffscreenShow(const TOffscreenShow&) = delete;
    TOffscreenShow& operator=(const TOffscreenShow&) = delete;

    // A context for a screen of Width x Height, current on this thread, with the window's
    // start state. False, with Problem saying why, when OpenGL is not to be had at that size.
    bool Create(int32_t Width, int32_t Height, std::string& Problem);

    // The effect's set-up for the screen, with MusicFile as the music.
    void StartShow(const char* MusicFile);

    // One frame of the show; the screen's pixels go to Rgb: Width x Height x 3 bytes, rows
    // from the top. False, with Problem set, when OpenGL reported an error.
    bool RenderFrame(uint8_t* Rgb, std::string& Problem);

    int32_t ClientWidth() const;
    int32_t ClientHeight() const;

private:
    struct TState;
    std::unique_ptr<TState> State;
};

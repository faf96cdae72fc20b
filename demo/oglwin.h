#pragma once

// The show's one window: a full-screen popup with an OpenGL rendering context, its message
// pump and its window procedure. Escape typed as a character or a close request ends the
// show; every frame is cleared, projected pixel-exact (origin top-left, y down), drawn by
// the effect and presented. Everything runs on the main thread.

#include <windows.h>

#include <cstdint>

// Module state, zero at load.
extern bool Running;                      // from CreateGLWindow until Escape or close
extern int32_t WindowWidth, WindowHeight; // the size asked for, then every WM_SIZE's

// Registers the class, creates and shows the window, sets up pixel format, context and GL
// state, and starts the timer. Problems are logged and creation goes on.
void CreateGLWindow(int32_t Width, int32_t Height, bool Fullscreen);
// The OpenGL state the window starts with, on the current context (blending, texturing,
// clear values), and a first clear. The recorder sets it on its off-screen context.
void SetInitialState();
HWND GetWindowHandle();
// Dispatches every pending message, renders one frame, and returns Running.
bool PumpMessages();
// Clears, sets viewport and projection, draws the scene and swaps buffers.
void RenderFrame();
void DestroyGLWindow();

LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);

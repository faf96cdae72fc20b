#pragma once

// A stand-in for the system OpenGL library in unit tests and benchmarks. It defines the
// OpenGL 1.1 functions the show calls, with C linkage, as declared by <GL/gl.h>:
//   glEnable glDisable glClearColor glClearDepth glShadeModel glDepthFunc glHint glBlendFunc
//   glTexGeni glClear glMatrixMode glLoadIdentity glViewport glOrtho glGenTextures
//   glBindTexture glDeleteTextures glTexEnvi glTexImage2D glTexParameteri glCopyTexImage2D
//   glBegin glEnd glColor4f glTexCoord2f glVertex2i glTranslatef
//
// Library `glrecord` records every call with its arguments in a fixed-size log (no
// allocation while recording). Library `glnoop` defines the same functions with empty bodies
// (glGenTextures still hands out names), for timing the caller alone.
//
// Both libraries need no display and no rendering context.

#include <GL/gl.h>

// Mesa's name for the calling convention of the OpenGL functions; Windows' gl.h says APIENTRY.
#ifndef GLAPIENTRY
#define GLAPIENTRY APIENTRY
#endif

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace GLRecord {

enum TArgKind : uint8_t { akInt, akUnsigned, akEnum, akBits, akFloat, akDouble, akPointer };

constexpr int32_t MaxArgs = 9;

struct TCall {
    const char* Name;
    int32_t ArgCount;
    TArgKind Kinds[MaxArgs];
    double Args[MaxArgs]; // pointers are recorded as 1 (non-null) or 0
};

// The log keeps the first Capacity calls after the last Clear; later ones are only counted.
constexpr int32_t Capacity = 1 << 16;

// Empties the log. Reset also restarts the texture names glGenTextures hands out at 1
// and turns recording back on.
void Clear();
void Reset();

// While recording is off, calls are accepted and not logged.
void SetRecording(bool Enabled);

std::span<const TCall> Calls();
// Calls made since the last Clear, including those the full log dropped.
int64_t TotalCalls();
bool Overflowed();

int32_t CountOf(const char* Name);
// Index of the first call named Name at or after From; -1 when there is none.
int32_t IndexOf(const char* Name, int32_t From = 0);

// "glVertex2i(0, 768)", "glEnable(GL_TEXTURE_2D)", "glColor4f(1, 1, 1, 0.4)": integers in
// decimal, floats in their shortest exact form, enums by their GL names.
std::string Format(const TCall& Call);
// The formatted calls from index From up to (not including) To; To = -1 means to the end.
std::vector<std::string> Trace(int32_t From = 0, int32_t To = -1);
// The formatted calls whose names are in Names, in log order.
std::vector<std::string> TraceOf(std::initializer_list<const char*> Names);

// The log replayed as geometry: one record per glBegin .. glEnd, each vertex with the
// colour and texture coordinate current at the time, and the texture bound at glBegin.
struct TVertex {
    int32_t X, Y;
    float R, G, B, A;
    float S, T;
};

struct TPrimitive {
    GLenum Mode;
    GLuint Texture;
    std::vector<TVertex> Vertices;
};

std::vector<TPrimitive> Primitives(int32_t From = 0, int32_t To = -1);

} // namespace GLRecord

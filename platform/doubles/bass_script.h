#pragma once

// A scripted stand-in for the five audio calls of <bass.h>, for unit tests (library
// `bass_script`). Tests say what each call returns and read back how it was called.
// No call allocates.
//
// The stream handle is valid only when it equals the scripted one (see SetStream);
// any other handle gets what a failed call gives: positions and data with all bits set,
// the spectrum buffer untouched.

#include <bass.h>

#include <cstdint>
#include <initializer_list>

namespace BassScript {

constexpr int32_t SpectrumSize = 128;
constexpr int32_t MaxPositions = 4096;
constexpr int32_t MaxPath = 4096;

// Back to the start state: stream handle 1 created by every BASS_StreamCreateFile,
// file length 0, every position 0, spectrum all zero, no calls seen.
void Reset();

// The handle BASS_StreamCreateFile returns; 0 makes stream creation fail.
void SetStream(HSTREAM Handle);
void SetFileLength(QWORD Length);

// Mode-0 positions: each call returns the next value of the list; after the last one the
// last value repeats.
void SetPositions(std::initializer_list<QWORD> Positions);
// Mode-0 positions First, First + Step, First + 2 Step, ..., never beyond the file length.
void SetPositionRamp(QWORD First, QWORD Step);

void SetSpectrum(const float* Values); // SpectrumSize values, lowest frequency first
void SetSpectrumBin(int32_t Bin, float Value);
void ClearSpectrum();

struct TCalls {
    int32_t Init;
    int32_t InitDevice;
    DWORD InitFrequency;
    DWORD InitFlags;
    HWND InitWindow;
    bool InitGuidNull;

    int32_t StreamCreate;
    BOOL StreamMem;
    char StreamPath[MaxPath];
    QWORD StreamOffset;
    QWORD StreamLength;
    DWORD StreamFlags;

    int32_t Play;
    DWORD PlayHandle;
    BOOL PlayRestart;

    int32_t PositionCurrent; // mode-0 calls on the valid handle
    int32_t PositionEnd;     // mode-2 calls on the valid handle
    int32_t PositionFailed;  // calls with any other handle or mode

    int32_t Data;
    DWORD DataHandle;
    DWORD DataLength;
};

const TCalls& Calls();

} // namespace BassScript

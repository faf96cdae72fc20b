#pragma once

// The five calls of the BASS audio library the show uses, with BASS's names, types and
// constants. Two implementations link against this header: the real audio layer
// (library `bass`) and the scripted stand-in for tests (library `bass_script`).

#include <windows.h>

typedef unsigned long long QWORD;
typedef DWORD HSTREAM;

#define BASS_FILEPOS_CURRENT 0
#define BASS_FILEPOS_END 2
#define BASS_DATA_FFT256 0x80000000u

extern "C" {
BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid);
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags);
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
QWORD BASS_StreamGetFilePosition(DWORD handle, DWORD mode);
DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);
}

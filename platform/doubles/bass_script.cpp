#include "bass_script.h"

#include <cstring>

namespace BassScript {
namespace {

constexpr QWORD AllBits = ~0ull;

HSTREAM Stream = 1;
QWORD FileLength = 0;
QWORD Positions[MaxPositions];
int32_t PositionCount = 0;
int32_t NextPosition = 0;
bool Ramp = false;
QWORD RampFirst = 0, RampStep = 0, RampIndex = 0;
float Spectrum[SpectrumSize];
TCalls Seen;

bool IsValid(DWORD Handle) {
    return Handle != 0 && Handle == Stream;
}

QWORD CurrentPosition() {
    if (Ramp) {
        QWORD Position = RampFirst + RampStep * RampIndex++;
        return Position > FileLength ? FileLength : Position;
    }
    if (PositionCount == 0) return 0;
    QWORD Position = Positions[NextPosition];
    if (NextPosition < PositionCount - 1) NextPosition++;
    return Position;
}

} // namespace

void Reset() {
    Stream = 1;
    FileLength = 0;
    PositionCount = 0;
    NextPosition = 0;
    Ramp = false;
    ClearSpectrum();
    std::memset(&Seen, 0, sizeof Seen);
}

void SetStream(HSTREAM Handle) {
    Stream = Handle;
}

void SetFileLength(QWORD Length) {
    FileLength = Length;
}

void SetPositions(std::initializer_list<QWORD> List) {
    Ramp = false;
    PositionCount = 0;
    NextPosition = 0;
    for (QWORD Position : List)
        if (PositionCount < MaxPositions) Positions[PositionCount++] = Position;
}

void SetPositionRamp(QWORD First, QWORD Step) {
    Ramp = true;
    RampFirst = First;
    RampStep = Step;
    RampIndex = 0;
}

void SetSpectrum(const float* Values) {
    std::memcpy(Spectrum, Values, sizeof Spectrum);
}

void SetSpectrumBin(int32_t Bin, float Value) {
    if (Bin >= 0 && Bin < SpectrumSize) Spectrum[Bin] = Value;
}

void ClearSpectrum() {
    std::memset(Spectrum, 0, sizeof Spectrum);
}

const TCalls& Calls() {
    return Seen;
}

} // namespace BassScript

using namespace BassScript;

extern "C" {

BOOL BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const void* dsguid) {
    Seen.Init++;
    Seen.InitDevice = device;
    Seen.InitFrequency = freq;
    Seen.InitFlags = flags;
    Seen.InitWindow = win;
    Seen.InitGuidNull = dsguid == nullptr;
    return TRUE;
}

HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD flags) {
    Seen.StreamCreate++;
    Seen.StreamMem = mem;
    Seen.StreamPath[0] = 0;
    if (file && !mem) {
        std::strncpy(Seen.StreamPath, static_cast<const char*>(file), MaxPath - 1);
        Seen.StreamPath[MaxPath - 1] = 0;
    }
    Seen.StreamOffset = offset;
    Seen.StreamLength = length;
    Seen.StreamFlags = flags;
    return Stream;
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    Seen.Play++;
    Seen.PlayHandle = handle;
    Seen.PlayRestart = restart;
    return IsValid(handle) ? TRUE : FALSE;
}

QWORD BASS_StreamGetFilePosition(DWORD handle, DWORD mode) {
    if (IsValid(handle) && mode == BASS_FILEPOS_CURRENT) {
        Seen.PositionCurrent++;
        return CurrentPosition();
    }
    if (IsValid(handle) && mode == BASS_FILEPOS_END) {
        Seen.PositionEnd++;
        return FileLength;
    }
    Seen.PositionFailed++;
    return AllBits;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    Seen.Data++;
    Seen.DataHandle = handle;
    Seen.DataLength = length;
    if (!IsValid(handle) || length != BASS_DATA_FFT256) return 0xFFFFFFFFu;
    std::memcpy(buffer, Spectrum, sizeof Spectrum);
    return sizeof Spectrum;
}

} // extern "C"

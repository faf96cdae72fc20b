// The output on waveOut: a feeding thread keeps a few buffers queued at the device and
// refills each as the device finishes playing it.
#include "output.h"

#include "decoder.h"

#include <windows.h>

#include <mmsystem.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace {

constexpr int PeriodFrames = 1024;
constexpr int BufferCount = 4;
constexpr int Channels = TDecoder::Channels;

} // namespace

struct TOutputDevice::TState {
    HWAVEOUT Device = nullptr;
    HANDLE Finished = nullptr; // set by the device when a buffer has been played
    WAVEHDR Headers[BufferCount] = {};
    short Buffers[BufferCount][PeriodFrames * Channels] = {};
    float Mix[PeriodFrames * Channels] = {};
    TFill Fill = nullptr;
    void* Context = nullptr;
    std::thread Feeding;
    std::atomic<bool> Stopping{false};

    void Queue(WAVEHDR& Header, short* Samples);
    void Feed();
};

void TOutputDevice::TState::Queue(WAVEHDR& Header, short* Samples) {
    Fill(Context, Mix, PeriodFrames);
    for (int I = 0; I < PeriodFrames * Channels; I++) {
        const float Clamped = Mix[I] < -1.0f ? -1.0f : Mix[I] > 1.0f ? 1.0f : Mix[I];
        Samples[I] = static_cast<short>(std::lrint(Clamped * 32767.0f));
    }
    waveOutWrite(Device, &Header, sizeof Header);
}

void TOutputDevice::TState::Feed() {
    while (!Stopping.load(std::memory_order_acquire)) {
        WaitForSingleObject(Finished, 100);
        for (int I = 0; I < BufferCount && !Stopping.load(std::memory_order_acquire); I++)
            if (Headers[I].dwFlags & WHDR_DONE) Queue(Headers[I], Buffers[I]);
    }
}

TOutputDevice::TOutputDevice() : State(new TState) {}

TOutputDevice::~TOutputDevice() {
    Close();
}

bool TOutputDevice::Open(TFill Fill, void* Context, int& Latency) {
    TState& S = *State;
    if (S.Device) return false;
    WAVEFORMATEX Format{};
    Format.wFormatTag = WAVE_FORMAT_PCM;
    Format.nChannels = Channels;
    Format.nSamplesPerSec = TDecoder::Rate;
    Format.wBitsPerSample = 16;
    Format.nBlockAlign = Channels * 2;
    Format.nAvgBytesPerSec = Format.nSamplesPerSec * Format.nBlockAlign;
    S.Finished = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!S.Finished) return false;
    if (waveOutOpen(&S.Device, WAVE_MAPPER, &Format, reinterpret_cast<DWORD_PTR>(S.Finished), 0,
                    CALLBACK_EVENT) != MMSYSERR_NOERROR) {
        S.Device = nullptr;
        CloseHandle(S.Finished);
        S.Finished = nullptr;
        return false;
    }
    S.Fill = Fill;
    S.Context = Context;
    S.Stopping.store(false, std::memory_order_release);
    for (int I = 0; I < BufferCount; I++) {
        WAVEHDR& Header = S.Headers[I];
        Header = WAVEHDR{};
        Header.lpData = reinterpret_cast<LPSTR>(S.Buffers[I]);
        Header.dwBufferLength = sizeof S.Buffers[I];
        waveOutPrepareHeader(S.Device, &Header, sizeof Header);
        S.Queue(Header, S.Buffers[I]);
    }
    // What is asked for now is heard after everything queued before it.
    Latency = BufferCount * PeriodFrames;
    S.Feeding = std::thread(&TState::Feed, &S);
    return true;
}

void TOutputDevice::Close() {
    TState& S = *State;
    if (!S.Device) return;
    S.Stopping.store(true, std::memory_order_release);
    SetEvent(S.Finished);
    if (S.Feeding.joinable()) S.Feeding.join();
    waveOutReset(S.Device);
    for (WAVEHDR& Header : S.Headers) waveOutUnprepareHeader(S.Device, &Header, sizeof Header);
    waveOutClose(S.Device);
    CloseHandle(S.Finished);
    S.Device = nullptr;
    S.Finished = nullptr;
}

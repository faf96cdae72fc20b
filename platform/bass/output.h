#pragma once

// The sound card behind the audio layer: SDL2's default output on Linux (output_sdl.cpp),
// waveOut's on Windows (output_waveout.cpp), at 44100 Hz stereo in single precision. A
// thread of the device's asks for samples, a period at a time.

#include <memory>

class TOutputDevice {
public:
    // Fills Frames frames of interleaved stereo at Samples.
    using TFill = void (*)(void* Context, float* Samples, int Frames);

    TOutputDevice();
    ~TOutputDevice();
    TOutputDevice(const TOutputDevice&) = delete;
    TOutputDevice& operator=(const TOutputDevice&) = delete;

    // Opens the default output and starts asking Fill for samples; false when no output
    // device opens. Latency: at most how many frames after being asked for samples are
    // heard, which is the size of what the device asks for at once.
    bool Open(TFill Fill, void* Context, int& Latency);

    // Stops asking for samples and closes the device; nothing when it is not open.
    void Close();

private:
    struct TState;
    std::unique_ptr<TState> State;
};

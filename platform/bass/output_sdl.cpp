// The output on SDL2 audio: SDL's audio thread asks for samples.
#include "output.h"

#include "decoder.h"

#include <SDL.h>

namespace {

constexpr int PeriodFrames = 1024; // as asked of the device

} // namespace

struct TOutputDevice::TState {
    SDL_AudioDeviceID Device = 0;
    TFill Fill = nullptr;
    void* Context = nullptr;

    static void SDLCALL FillDevice(void* Self, Uint8* Bytes, int Length) {
        auto* State = static_cast<TState*>(Self);
        State->Fill(State->Context, reinterpret_cast<float*>(Bytes),
                    Length / static_cast<int>(TDecoder::Channels * sizeof(float)));
    }
};

TOutputDevice::TOutputDevice() : State(new TState) {}

TOutputDevice::~TOutputDevice() {
    Close();
}

bool TOutputDevice::Open(TFill Fill, void* Context, int& Latency) {
    if (State->Device != 0 || SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    State->Fill = Fill;
    State->Context = Context;
    SDL_AudioSpec Wanted{};
    Wanted.freq = TDecoder::Rate;
    Wanted.format = AUDIO_F32SYS;
    Wanted.channels = TDecoder::Channels;
    Wanted.samples = PeriodFrames;
    Wanted.callback = TState::FillDevice;
    Wanted.userdata = State.get();
    SDL_AudioSpec Obtained{};
    State->Device = SDL_OpenAudioDevice(nullptr, 0, &Wanted, &Obtained, 0);
    if (State->Device == 0) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return false;
    }
    Latency = Obtained.samples > 0 ? Obtained.samples : PeriodFrames;
    SDL_PauseAudioDevice(State->Device, 0);
    return true;
}

void TOutputDevice::Close() {
    // SDL_Quit may already have closed the device; then the subsystem is down too.
    if (State->Device != 0 && SDL_WasInit(SDL_INIT_AUDIO)) {
        SDL_CloseAudioDevice(State->Device);
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    State->Device = 0;
}

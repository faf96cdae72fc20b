// CPU time of one frame of the effect, with OpenGL calls that do nothing and scripted audio.
#include "bass_script.h"
#include "effect.h"
#include "glrecord.h"
#include "xrandom.h"

#include <benchmark/benchmark.h>

namespace {

// A 128 kbit/s file read at 60 frames per second: about 267 bytes per frame.
constexpr QWORD BytesPerFrame = 267;
constexpr QWORD FileLength = 0xFFFFFFF0ull;

void StartEffect(float Loudness) {
    ResetEffect();
    GLRecord::Reset(); // also keeps the no-op OpenGL ahead of the system library
    BassScript::Reset();
    BassScript::SetFileLength(FileLength);
    SetRandomSeed(1);
    InitDemo(nullptr, 1024, 768);
    for (int32_t K = 0; K < SpectrumBins; K++) BassScript::SetSpectrumBin(K, Loudness);
    BassScript::SetPositionRamp(0, BytesPerFrame);
}

int32_t BusySlots() {
    int32_t Count = 0;
    for (const TParticle& Particle : Particles) Count += Particle.Remaining != 0;
    return Count;
}

// Range 0: silence (grid only); 1: every band loud, the pool as busy as the cooldowns allow.
void DrawSceneFrame(benchmark::State& State) {
    StartEffect(State.range(0) ? 1.0f : 0.0f);
    for (int32_t Frame = 0; Frame < 600; Frame++) // into the steady state
        DrawScene();
    int64_t Busy = 0;
    for (auto _ : State) {
        DrawScene();
        Busy += BusySlots();
        benchmark::ClobberMemory();
    }
    State.counters["busy_particles"] = static_cast<double>(Busy) / static_cast<double>(State.iterations());
}
BENCHMARK(DrawSceneFrame)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

#include "bass.h"
#include "decoder.h"

#include <benchmark/benchmark.h>

namespace {

// The show's spectrum request on the bundled music while it plays (on the silent output,
// so that nothing is heard): one call per frame.
void ChannelGetData(benchmark::State& State) {
    static HSTREAM Stream = [] {
        BASS_Init(0, 44100, 0, nullptr, nullptr);
        HSTREAM Created = BASS_StreamCreateFile(FALSE, MUSIC_FILE, 0, 0, 0);
        BASS_ChannelPlay(Created, FALSE);
        return Created;
    }();
    if (Stream == 0) {
        State.SkipWithError("cannot open " MUSIC_FILE);
        return;
    }
    float Bins[128];
    for (auto _ : State) {
        BASS_ChannelGetData(Stream, Bins, BASS_DATA_FFT256);
        benchmark::DoNotOptimize(Bins);
    }
}
BENCHMARK(ChannelGetData);

// Decoding the whole bundled music as fast as it goes; "realtime" is the multiple of real
// time (seconds of music decoded per second).
void DecodeMusic(benchmark::State& State) {
    static float Samples[4096 * TDecoder::Channels];
    int64_t Frames = 0;
    for (auto _ : State) {
        TDecoder Decoder;
        if (!Decoder.Open(MUSIC_FILE, 0, 0)) {
            State.SkipWithError("cannot open " MUSIC_FILE);
            return;
        }
        Frames = 0;
        while (int Decoded = Decoder.Decode(Samples, 4096)) Frames += Decoded;
    }
    State.counters["realtime"] = benchmark::Counter(static_cast<double>(Frames) / TDecoder::Rate,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(DecodeMusic)->Unit(benchmark::kMillisecond);

} // namespace

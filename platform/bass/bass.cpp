// The five BASS calls on the platform's MP3 decoding (decoder.h) and sound output
// (output.h), with a spectrum of our own (fftbands.h).
//
// Each stream has a decoding thread that keeps about half a second of samples ahead of the
// output in a ring; the output (the device's thread, or without any device a clock thread
// that consumes samples in real time) pulls from every stream's ring and keeps the last
// samples it handed on, mixed to mono, for the spectrum. Streams live until the process
// ends; at exit the output stops first, then the decoding threads.

#include "bass.h"

#include "decoder.h"
#include "fftbands.h"
#include "output.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

namespace {

using TClock = std::chrono::steady_clock;

constexpr int Rate = TDecoder::Rate;
constexpr int Channels = TDecoder::Channels;
constexpr int AheadFrames = Rate / 2;  // decoded ahead of the output
constexpr int DecodeFrames = 1152;     // one MPEG-1 Layer III frame
constexpr int HistoryFrames = 1 << 14; // mono samples last handed to the output
constexpr int OutputFrames = 1024;     // the output's period, as asked of the device
constexpr int MaxStreams = 64;
constexpr QWORD PositionError = ~0ull;
constexpr DWORD DataError = 0xFFFFFFFFu;

class TStream {
public:
    TDecoder Decoder;

    ~TStream() { StopDecoding(); }

    bool Play(bool Restart);
    void StopDecoding();

    // Adds the next Frames frames to Mix (silence where the ring runs dry). Period is the
    // output's period: the frames pulled become audible over the next period.
    void Pull(float* Mix, int Frames, int Period, TClock::time_point Now);

    void GetSpectrum(float* Magnitudes);

private:
    std::mutex ControlLock; // serialises Play and StopDecoding
    std::thread Decoding;

    std::mutex Lock; // guards everything below
    std::condition_variable SpaceFree;
    bool Stopping = false;
    float Ahead[AheadFrames * Channels] = {};
    int AheadStart = 0, AheadCount = 0;
    float History[HistoryFrames] = {};
    uint64_t PlayedFrames = 0;
    TClock::time_point PulledAt;
    int PulledPeriod = OutputFrames;
    TSpectrum Spectrum;
    float Block[TSpectrum::SampleCount];

    void Decode();
    bool Push(const float* Samples, int Frames);
};

class TAudio {
public:
    ~TAudio();

    std::mutex CreateLock; // guards the output's opening and adding streams
    bool OutputOpen = false;

    void OpenOutput(bool UseDevice);
    TStream* Find(DWORD Handle);
    bool Full() const { return StreamCount.load(std::memory_order_relaxed) == MaxStreams; }
    DWORD Add(std::unique_ptr<TStream> Stream);

private:
    std::unique_ptr<TStream> Streams[MaxStreams];
    std::atomic<int> StreamCount{0};

    TOutputDevice Device;
    int Period = OutputFrames;

    std::thread Clock; // the silent output
    std::mutex ClockLock;
    std::condition_variable ClockWake;
    bool ClockStopping = false;
    float Discarded[OutputFrames * Channels];

    bool OpenDevice();
    void CloseOutput();
    void RunClock();
    void Mix(float* Out, int Frames);
    static void FillDevice(void* Self, float* Samples, int Frames);
};

TAudio& Audio() {
    static TAudio Instance;
    return Instance;
}

// ---- streams

bool TStream::Play(bool Restart) {
    std::lock_guard Control(ControlLock);
    if (Decoding.joinable()) {
        if (!Restart) return true;
        StopDecoding();
        if (!Decoder.Rewind()) return false;
    }
    {
        std::lock_guard Guard(Lock);
        Stopping = false;
        AheadStart = AheadCount = 0;
    }
    Decoding = std::thread(&TStream::Decode, this);
    return true;
}

void TStream::StopDecoding() {
    {
        std::lock_guard Guard(Lock);
        Stopping = true;
    }
    SpaceFree.notify_all();
    if (Decoding.joinable()) Decoding.join();
}

void TStream::Decode() {
    float Samples[DecodeFrames * Channels];
    for (;;) {
        const int Frames = Decoder.Decode(Samples, DecodeFrames);
        if (Frames == 0 || !Push(Samples, Frames)) return;
    }
}

// Waits for room in the ring as often as needed; false when asked to stop.
bool TStream::Push(const float* Samples, int Frames) {
    std::unique_lock Guard(Lock);
    while (Frames > 0) {
        SpaceFree.wait(Guard, [this] { return Stopping || AheadCount < AheadFrames; });
        if (Stopping) return false;
        for (; Frames > 0 && AheadCount < AheadFrames; Frames--, Samples += Channels) {
            float* Slot = &Ahead[((AheadStart + AheadCount) % AheadFrames) * Channels];
            Slot[0] = Samples[0];
            Slot[1] = Samples[1];
            AheadCount++;
        }
    }
    return true;
}

void TStream::Pull(float* Mix, int Frames, int Period, TClock::time_point Now) {
    {
        std::lock_guard Guard(Lock);
        for (int I = 0; I < Frames; I++) {
            float Mono = 0;
            if (AheadCount > 0) {
                const float* Slot = &Ahead[AheadStart * Channels];
                Mix[I * Channels] += Slot[0];
                Mix[I * Channels + 1] += Slot[1];
                Mono = (Slot[0] + Slot[1]) * 0.5f;
                AheadStart = (AheadStart + 1) % AheadFrames;
                AheadCount--;
            }
            History[(PlayedFrames + I) % HistoryFrames] = Mono;
        }
        PlayedFrames += static_cast<uint64_t>(Frames);
        PulledAt = Now;
        PulledPeriod = Period;
    }
    SpaceFree.notify_one();
}

void TStream::GetSpectrum(float* Magnitudes) {
    std::lock_guard Guard(Lock);
    // What was pulled last becomes audible over one period: estimate how far that has come.
    const auto Elapsed = std::chrono::duration<double>(TClock::now() - PulledAt).count();
    const double Heard = Elapsed * Rate < PulledPeriod ? Elapsed * Rate : PulledPeriod;
    const int64_t Pending = PulledPeriod - static_cast<int64_t>(Heard);
    const int64_t End = static_cast<int64_t>(PlayedFrames) - Pending;
    for (int I = 0; I < TSpectrum::SampleCount; I++) {
        const int64_t Frame = End - TSpectrum::SampleCount + I;
        Block[I] = Frame < 0 ? 0.0f : History[Frame % HistoryFrames];
    }
    Spectrum.Compute(Block, Magnitudes);
}

// ---- output

TAudio::~TAudio() {
    CloseOutput();
    for (auto& Stream : Streams)
        if (Stream) Stream->StopDecoding();
}

void TAudio::OpenOutput(bool UseDevice) {
    OutputOpen = true;
    if (UseDevice && OpenDevice()) return;
    Clock = std::thread(&TAudio::RunClock, this);
}

bool TAudio::OpenDevice() {
    int Latency = OutputFrames;
    if (!Device.Open(FillDevice, this, Latency)) return false;
    if (Latency > 0 && Latency <= HistoryFrames - TSpectrum::SampleCount) Period = Latency;
    return true;
}

void TAudio::CloseOutput() {
    Device.Close();
    {
        std::lock_guard Guard(ClockLock);
        ClockStopping = true;
    }
    ClockWake.notify_all();
    if (Clock.joinable()) Clock.join();
}

// The silent output: consumes samples in real time, a period at a time.
void TAudio::RunClock() {
    const auto Begin = TClock::now();
    uint64_t Done = 0;
    std::unique_lock Guard(ClockLock);
    while (!ClockWake.wait_for(Guard, std::chrono::milliseconds(5), [this] { return ClockStopping; })) {
        const auto Due =
            static_cast<uint64_t>(std::chrono::duration<double>(TClock::now() - Begin).count() * Rate);
        Guard.unlock();
        for (; Done + Period <= Due; Done += Period) Mix(Discarded, Period);
        Guard.lock();
    }
}

void TAudio::Mix(float* Out, int Frames) {
    std::memset(Out, 0, sizeof(float) * Channels * static_cast<size_t>(Frames));
    const auto Now = TClock::now();
    const int Count = StreamCount.load(std::memory_order_acquire);
    for (int I = 0; I < Count; I++) Streams[I]->Pull(Out, Frames, Period, Now);
}

void TAudio::FillDevice(void* Self, float* Samples, int Frames) {
    static_cast<TAudio*>(Self)->Mix(Samples, Frames);
}

TStream* TAudio::Find(DWORD Handle) {
    const int Count = StreamCount.load(std::memory_order_acquire);
    if (Handle == 0 || Handle > static_cast<DWORD>(Count)) return nullptr;
    return Streams[Handle - 1].get();
}

// Called with CreateLock held and room left.
DWORD TAudio::Add(std::unique_ptr<TStream> Stream) {
    const int Count = StreamCount.load(std::memory_order_relaxed);
    Streams[Count] = std::move(Stream);
    StreamCount.store(Count + 1, std::memory_order_release);
    return static_cast<DWORD>(Count + 1);
}

} // namespace

// Device -1 (and 1) is the default output, 0 the silent one; either is always had, since
// without any device the silent output stands in. The output always runs at 44100 Hz.
BOOL BASS_Init(int device, DWORD, DWORD, HWND, const void*) {
    if (device < -1 || device > 1) return FALSE;
    TAudio& State = Audio();
    std::lock_guard Guard(State.CreateLock);
    if (State.OutputOpen) return FALSE;
    State.OpenOutput(device != 0);
    return TRUE;
}

// Only files: mem must be FALSE. Flags are ignored.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD) {
    if (mem || !file) return 0;
    TAudio& State = Audio();
    std::lock_guard Guard(State.CreateLock);
    if (!State.OutputOpen || State.Full()) return 0;
    auto Stream = std::make_unique<TStream>();
    if (!Stream->Decoder.Open(static_cast<const char*>(file), offset, length)) return 0;
    return State.Add(std::move(Stream));
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    TStream* Stream = Audio().Find(handle);
    return Stream && Stream->Play(restart) ? TRUE : FALSE;
}

QWORD BASS_StreamGetFilePosition(DWORD handle, DWORD mode) {
    TStream* Stream = Audio().Find(handle);
    if (!Stream) return PositionError;
    if (mode == BASS_FILEPOS_CURRENT) return Stream->Decoder.Position();
    if (mode == BASS_FILEPOS_END) return Stream->Decoder.Length();
    return PositionError;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    TStream* Stream = Audio().Find(handle);
    if (!Stream || !buffer || length != BASS_DATA_FFT256) return DataError;
    Stream->GetSpectrum(static_cast<float*>(buffer));
    return TSpectrum::BinCount * sizeof(float);
}

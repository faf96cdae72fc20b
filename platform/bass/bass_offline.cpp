// The five BASS calls with no output device: the caller's clock stands for the audible
// playback, and each stream decodes on demand as far as the live layer's decoding thread
// would have by then.

#include "bass_offline.h"

#include "decoder.h"
#include "fftbands.h"

#include <memory>

namespace {

constexpr int Channels = TDecoder::Channels;
static_assert(TDecoder::Rate == BassOffline::Rate);

// As the live layer (bass.cpp) keeps them: decoding runs half a second ahead of the output,
// one MPEG-1 Layer III frame per call.
constexpr uint64_t AheadFrames = TDecoder::Rate / 2;
constexpr int DecodeFrames = 1152;
// Mono samples kept: more than the decoded-ahead part and one spectrum block together.
constexpr uint64_t HistoryFrames = 1 << 16;
constexpr int MaxStreams = 64;
constexpr QWORD PositionError = ~0ull;
constexpr DWORD DataError = 0xFFFFFFFFu;

uint64_t Clock = 0;
bool Initialised = false;

class TOfflineStream {
public:
    TDecoder Decoder;
    uint64_t MusicFrames = 0;

    // Checks the whole file and learns its length; false when it holds no samples at all.
    bool Open(const char* Path, QWORD Offset, QWORD Length);
    bool Play(bool Restart);
    QWORD Position();
    void GetSpectrum(float* Magnitudes);

private:
    bool Playing = false;
    uint64_t StartedAt = 0;
    // What the decoder has done: frames decoded, and whether it has met the end.
    uint64_t Decoded = 0;
    bool Ended = false;
    uint64_t SyncedPlayed = 0; // the samples played that Decoded and Ended stand for
    float Chunk[DecodeFrames * Channels];
    float History[HistoryFrames] = {};
    TSpectrum Spectrum;

    bool Started() const { return Playing && Clock >= StartedAt; }
    bool Rewind();
    void Catch();
};

std::unique_ptr<TOfflineStream> Streams[MaxStreams];
int StreamCount = 0;

TOfflineStream* Find(DWORD Handle) {
    if (Handle == 0 || Handle > static_cast<DWORD>(StreamCount)) return nullptr;
    return Streams[Handle - 1].get();
}

bool TOfflineStream::Open(const char* Path, QWORD Offset, QWORD Length) {
    if (!Decoder.Open(Path, Offset, Length)) return false;
    for (int Frames; (Frames = Decoder.Decode(Chunk, DecodeFrames)) > 0;)
        MusicFrames += static_cast<uint64_t>(Frames);
    return Rewind() && MusicFrames > 0;
}

bool TOfflineStream::Play(bool Restart) {
    if (Playing && !Restart) return true;
    Playing = true;
    StartedAt = Clock;
    Rewind();
    return true;
}

bool TOfflineStream::Rewind() {
    Decoded = SyncedPlayed = 0;
    Ended = false;
    return Decoder.Rewind();
}

// Brings the decoder to where the live one would be now: it decodes the next frame as soon
// as all it decoded before fits into the half second ahead of what has been played, and
// meets the end, which counts the whole file as read, when nothing is left to decode.
void TOfflineStream::Catch() {
    if (!Started()) {
        if (Decoded > 0 || Ended) Rewind();
        return;
    }
    const uint64_t Played = Clock - StartedAt;
    if (Played < SyncedPlayed) Rewind();
    SyncedPlayed = Played;
    while (!Ended && Decoded <= Played + AheadFrames) {
        const int Frames = Decoder.Decode(Chunk, DecodeFrames);
        if (Frames == 0) Ended = true;
        for (int I = 0; I < Frames; I++, Decoded++)
            History[Decoded % HistoryFrames] = (Chunk[I * Channels] + Chunk[I * Channels + 1]) * 0.5f;
    }
}

QWORD TOfflineStream::Position() {
    Catch();
    return Decoder.Position();
}

void TOfflineStream::GetSpectrum(float* Magnitudes) {
    Catch();
    const int64_t Played = Started() ? static_cast<int64_t>(Clock - StartedAt) : 0;
    float Block[TSpectrum::SampleCount];
    for (int I = 0; I < TSpectrum::SampleCount; I++) {
        const int64_t Frame = Played - TSpectrum::SampleCount + I;
        // Before the start and after the end of the music the output plays silence.
        const bool Audible = Frame >= 0 && Frame < static_cast<int64_t>(Decoded);
        Block[I] = Audible ? History[static_cast<uint64_t>(Frame) % HistoryFrames] : 0.0f;
    }
    Spectrum.Compute(Block, Magnitudes);
}

} // namespace

namespace BassOffline {

void SetPlaybackTime(uint64_t Samples) {
    Clock = Samples;
}

uint64_t GetPlaybackTime() {
    return Clock;
}

uint64_t GetMusicSamples(HSTREAM Handle) {
    TOfflineStream* Stream = Find(Handle);
    return Stream ? Stream->MusicFrames : 0;
}

} // namespace BassOffline

// Devices -1, 0 and 1 are accepted, once, and nothing is opened.
BOOL BASS_Init(int device, DWORD, DWORD, HWND, const void*) {
    if (device < -1 || device > 1 || Initialised) return FALSE;
    Initialised = true;
    return TRUE;
}

// Only files: mem must be FALSE. Flags are ignored.
HSTREAM BASS_StreamCreateFile(BOOL mem, const void* file, QWORD offset, QWORD length, DWORD) {
    if (mem || !file || !Initialised || StreamCount == MaxStreams) return 0;
    auto Stream = std::make_unique<TOfflineStream>();
    if (!Stream->Open(static_cast<const char*>(file), offset, length)) return 0;
    Streams[StreamCount++] = std::move(Stream);
    return static_cast<HSTREAM>(StreamCount);
}

BOOL BASS_ChannelPlay(DWORD handle, BOOL restart) {
    TOfflineStream* Stream = Find(handle);
    return Stream && Stream->Play(restart) ? TRUE : FALSE;
}

QWORD BASS_StreamGetFilePosition(DWORD handle, DWORD mode) {
    TOfflineStream* Stream = Find(handle);
    if (!Stream) return PositionError;
    if (mode == BASS_FILEPOS_CURRENT) return Stream->Position();
    if (mode == BASS_FILEPOS_END) return Stream->Decoder.Length();
    return PositionError;
}

DWORD BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    TOfflineStream* Stream = Find(handle);
    if (!Stream || !buffer || length != BASS_DATA_FFT256) return DataError;
    Stream->GetSpectrum(static_cast<float*>(buffer));
    return TSpectrum::BinCount * sizeof(float);
}

// MP3 decoding on the Audio Compression Manager's MPEG Layer-3 codec, which every Windows
// has. The codec turns frames into 16-bit samples at the file's own rate and channels; we
// leave out what a LAME tag names as the encoder's delay and padding, and bring the rest to
// 44100 Hz stereo (linear interpolation when the file has another rate).
#include "mp3codec.h"

#include "decoder.h"

#include <windows.h>

#include <mmsystem.h>

#include <mmreg.h>
#include <msacm.h>

#include <cstring>
#include <vector>

namespace {

constexpr size_t InputBytes = 4096;      // MP3 bytes handed to the codec at once
constexpr size_t MaxFrameBytes = 2048;   // a Layer III frame at 320 kbit/s and 32 kHz is 1441
constexpr uint64_t UnknownCount = ~0ull; // no sample count from a LAME tag
constexpr int DecoderDelay = 529;        // samples the synthesis filters lag behind the input

uint32_t BigEndian32(const unsigned char* Bytes) {
    return FrameHeaderOf(Bytes);
}

// What the first frame says when it is a Xing or Info frame (the encoder's frame of facts,
// which holds no sound): how many samples to leave out at the start, and how many follow.
struct TTagFacts {
    bool IsTag = false;
    uint64_t Skip = 0;
    uint64_t Count = UnknownCount;
};

TTagFacts ReadTag(const unsigned char* Frame, size_t Length) {
    TTagFacts Facts;
    const uint32_t Header = FrameHeaderOf(Frame);
    const bool Mpeg1 = FrameSamples(Header) == 1152, Mono = FrameChannels(Header) == 1;
    const size_t SideInfo = Mpeg1 ? (Mono ? 17 : 32) : (Mono ? 9 : 17);
    size_t At = 4 + (((Header >> 16) & 1) ? 0 : 2) + SideInfo;
    if (At + 8 > Length ||
        (std::memcmp(Frame + At, "Xing", 4) != 0 && std::memcmp(Frame + At, "Info", 4) != 0))
        return Facts;
    Facts.IsTag = true;
    const uint32_t Fields = BigEndian32(Frame + At + 4);
    At += 8;
    uint64_t Frames = 0;
    bool HasFrames = false;
    if (Fields & 1) {
        if (At + 4 > Length) return Facts;
        Frames = BigEndian32(Frame + At);
        HasFrames = true;
        At += 4;
    }
    At += (Fields & 2 ? 4 : 0) + (Fields & 4 ? 100 : 0) + (Fields & 8 ? 4 : 0);
    // The LAME extension: the encoder's name, then at byte 21 the delay and the padding,
    // twelve bits each.
    if (At + 24 > Length) return Facts;
    const unsigned char* Lame = Frame + At;
    if (std::memcmp(Lame, "LAME", 4) != 0 && std::memcmp(Lame, "Lavf", 4) != 0 &&
        std::memcmp(Lame, "Lavc", 4) != 0)
        return Facts;
    const uint64_t Delay = static_cast<uint64_t>(Lame[21]) << 4 | Lame[22] >> 4;
    const uint64_t Padding = static_cast<uint64_t>(Lame[22] & 0x0F) << 8 | Lame[23];
    Facts.Skip = Delay + DecoderDelay;
    if (HasFrames) {
        const uint64_t End = Frames * static_cast<uint64_t>(FrameSamples(Header)) - Padding + DecoderDelay;
        Facts.Count = End > Facts.Skip ? End - Facts.Skip : 0;
    }
    return Facts;
}

} // namespace

struct TMp3Codec::TState {
    explicit TState(TDecoder& From) : Source(From) {}

    TDecoder& Source;
    HACMSTREAM Stream = nullptr;
    ACMSTREAMHEADER Header{};
    bool Prepared = false;
    unsigned char Input[InputBytes] = {};
    size_t InputCount = 0; // bytes waiting in Input
    bool SourceDone = false, Flushed = false;
    std::vector<short> Output; // the codec's samples, interleaved
    size_t OutputCount = 0, OutputRead = 0;
    int Rate = 0, Channels = 0;
    uint64_t Skip = 0, Left = UnknownCount; // source frames to leave out, and to hand out
    // Resampling: the output lies between Previous and Current, Phase of the way.
    double Step = 1, Phase = 0;
    float Previous[2] = {}, Current[2] = {};
    bool Primed = false;

    bool Convert();
    bool NextFrame(float* Frame);
};

// Hands the codec what input there is and takes its samples; false at the end or on an
// error.
bool TMp3Codec::TState::Convert() {
    for (;;) {
        if (!SourceDone && InputCount < InputBytes) {
            const ptrdiff_t Read = Source.ReadMusic(Input + InputCount, InputBytes - InputCount);
            if (Read <= 0)
                SourceDone = true;
            else
                InputCount += static_cast<size_t>(Read);
        }
        if (SourceDone && Flushed) return false;
        DWORD Flags = ACM_STREAMCONVERTF_BLOCKALIGN;
        if (SourceDone) {
            Flags = ACM_STREAMCONVERTF_END;
            Flushed = true;
        }
        Header.cbSrcLength = static_cast<DWORD>(InputCount);
        Header.cbSrcLengthUsed = Header.cbDstLengthUsed = 0;
        if (acmStreamConvert(Stream, &Header, Flags) != MMSYSERR_NOERROR) return false;
        const size_t Used = Header.cbSrcLengthUsed < InputCount ? Header.cbSrcLengthUsed : InputCount;
        std::memmove(Input, Input + Used, InputCount - Used);
        InputCount -= Used;
        OutputCount = Header.cbDstLengthUsed / sizeof(short);
        OutputCount -= OutputCount % static_cast<size_t>(Channels);
        OutputRead = 0;
        if (OutputCount > 0) return true;
        // A full input that the codec takes nothing of cannot get better.
        if (Used == 0 && InputCount == InputBytes) return false;
    }
}

// The next frame of the music at the file's rate, as stereo; false at its end.
bool TMp3Codec::TState::NextFrame(float* Frame) {
    for (;;) {
        if (Left == 0) return false;
        if (OutputRead == OutputCount && !Convert()) return false;
        const short* Samples = &Output[OutputRead];
        OutputRead += static_cast<size_t>(Channels);
        if (Skip > 0) {
            Skip--;
            continue;
        }
        if (Left != UnknownCount) Left--;
        Frame[0] = Samples[0] / 32768.0f;
        Frame[1] = Samples[Channels - 1] / 32768.0f;
        return true;
    }
}

TMp3Codec::TMp3Codec(TDecoder& Source) : State(new TState(Source)) {}

TMp3Codec::~TMp3Codec() {
    if (State->Prepared) {
        State->Header.cbSrcLength = InputBytes;
        acmStreamUnprepareHeader(State->Stream, &State->Header, 0);
    }
    if (State->Stream) acmStreamClose(State->Stream, 0);
}

bool TMp3Codec::Start() {
    TState& S = *State;
    // The first frame gives the format; a Xing or Info frame is left out of the sound.
    unsigned char Frame[MaxFrameBytes];
    if (S.Source.ReadMusic(Frame, 4) != 4) return false;
    const uint32_t First = FrameHeaderOf(Frame);
    const size_t Length = static_cast<size_t>(FrameLength(First));
    if (Length < 4 || Length > MaxFrameBytes ||
        S.Source.ReadMusic(Frame + 4, Length - 4) != static_cast<ptrdiff_t>(Length - 4))
        return false;
    const TTagFacts Facts = ReadTag(Frame, Length);
    if (!Facts.IsTag) {
        std::memcpy(S.Input, Frame, Length);
        S.InputCount = Length;
    }
    S.Skip = Facts.Skip;
    S.Left = Facts.Count;
    S.Rate = FrameRate(First);
    S.Channels = FrameChannels(First);
    S.Step = static_cast<double>(S.Rate) / TDecoder::Rate;

    MPEGLAYER3WAVEFORMAT Mp3{};
    Mp3.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
    Mp3.wfx.nChannels = static_cast<WORD>(S.Channels);
    Mp3.wfx.nSamplesPerSec = static_cast<DWORD>(S.Rate);
    Mp3.wfx.nAvgBytesPerSec = static_cast<DWORD>(FrameBitRate(First) / 8);
    Mp3.wfx.nBlockAlign = 1;
    Mp3.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
    Mp3.wID = MPEGLAYER3_ID_MPEG;
    Mp3.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
    Mp3.nBlockSize = static_cast<WORD>(FrameLength(First & ~0x200u));
    Mp3.nFramesPerBlock = 1;
    Mp3.nCodecDelay = 1393;
    WAVEFORMATEX Pcm{};
    Pcm.wFormatTag = WAVE_FORMAT_PCM;
    Pcm.nChannels = static_cast<WORD>(S.Channels);
    Pcm.nSamplesPerSec = static_cast<DWORD>(S.Rate);
    Pcm.wBitsPerSample = 16;
    Pcm.nBlockAlign = static_cast<WORD>(2 * S.Channels);
    Pcm.nAvgBytesPerSec = Pcm.nSamplesPerSec * Pcm.nBlockAlign;
    if (acmStreamOpen(&S.Stream, nullptr, &Mp3.wfx, &Pcm, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) !=
        MMSYSERR_NOERROR) {
        S.Stream = nullptr;
        return false;
    }
    // Room for what the fullest input can give: the codec's own estimate, or eight samples a
    // channel for every input byte (8 kbit/s at 8000 Hz).
    DWORD OutputBytes = 0;
    if (acmStreamSize(S.Stream, InputBytes, &OutputBytes, ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
        OutputBytes = 0;
    const size_t Floor = InputBytes * 8 * 2 * sizeof(short);
    S.Output.resize((OutputBytes > Floor ? OutputBytes : Floor) / sizeof(short));
    S.Header.cbStruct = sizeof S.Header;
    S.Header.pbSrc = S.Input;
    S.Header.cbSrcLength = InputBytes;
    S.Header.pbDst = reinterpret_cast<LPBYTE>(S.Output.data());
    S.Header.cbDstLength = static_cast<DWORD>(S.Output.size() * sizeof(short));
    S.Prepared = acmStreamPrepareHeader(S.Stream, &S.Header, 0) == MMSYSERR_NOERROR;
    return S.Prepared;
}

int TMp3Codec::Decode(float* Samples, int MaxFrames) {
    TState& S = *State;
    int Done = 0;
    if (S.Rate == TDecoder::Rate) {
        while (Done < MaxFrames && S.NextFrame(&Samples[2 * Done])) Done++;
        return Done;
    }
    if (!S.Primed) {
        if (!S.NextFrame(S.Previous)) return 0;
        if (!S.NextFrame(S.Current)) std::memcpy(S.Current, S.Previous, sizeof S.Current);
        S.Primed = true;
    }
    for (; Done < MaxFrames; Done++) {
        while (S.Phase >= 1.0) {
            std::memcpy(S.Previous, S.Current, sizeof S.Current);
            if (!S.NextFrame(S.Current)) return Done;
            S.Phase -= 1.0;
        }
        const float Weight = static_cast<float>(S.Phase);
        for (int C = 0; C < 2; C++)
            Samples[2 * Done + C] = S.Previous[C] + (S.Current[C] - S.Previous[C]) * Weight;
        S.Phase += S.Step;
    }
    return Done;
}

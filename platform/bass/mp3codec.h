#pragma once

// The platform's MP3 decoding behind TDecoder: libmpg123 on Linux (mp3codec_mpg123.cpp), the
// Audio Compression Manager's MPEG Layer-3 codec on Windows (mp3codec_acm.cpp). A codec reads
// the music through TDecoder::ReadMusic, from the first frame on, and hands out 44100 Hz
// stereo single-precision samples; it leaves out the encoder's delay and padding that a
// LAME tag names, so that exactly the samples encoded come out.

#include <cstdint>
#include <memory>

class TDecoder;

// Layer III frame headers, the 32 bits at the start of a frame, most significant first.
uint32_t FrameHeaderOf(const unsigned char* Bytes);
// The frame's length in bytes, or 0 when Header is no Layer III header a run of frames
// can follow (free format and reserved values included).
int FrameLength(uint32_t Header);
int FrameRate(uint32_t Header);     // samples per second
int FrameChannels(uint32_t Header); // 1 or 2
int FrameSamples(uint32_t Header);  // samples per channel: 1152 for MPEG-1, 576 otherwise
int FrameBitRate(uint32_t Header);  // bits per second

class TMp3Codec {
public:
    explicit TMp3Codec(TDecoder& Source);
    ~TMp3Codec();
    TMp3Codec(const TMp3Codec&) = delete;
    TMp3Codec& operator=(const TMp3Codec&) = delete;

    // Reads the first frame of the music and gets ready to decode; false when the source
    // holds no MPEG audio this codec takes.
    bool Start();

    // Up to MaxFrames frames of interleaved stereo; 0 at the end of the music or at an
    // error the codec cannot get past.
    int Decode(float* Samples, int MaxFrames);

private:
    struct TState;
    std::unique_ptr<TState> State;
};

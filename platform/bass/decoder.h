#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <sys/types.h>

// An MP3 file decoded to 44100 Hz stereo single-precision samples, read through our own
// reader so that the bytes the decoder has consumed are known at any time. Leading bytes
// that are not MP3 (an ID3v2 tag, an executable with the music appended) are skipped
// however many there are: the music starts at the first run of consecutive MPEG frames.
//
// One thread decodes; Position and Length may be read from any thread.

struct mpg123_handle_struct;

class TDecoder {
public:
    static constexpr int Rate = 44100;
    static constexpr int Channels = 2;

    TDecoder() = default;
    ~TDecoder();
    TDecoder(const TDecoder&) = delete;
    TDecoder& operator=(const TDecoder&) = delete;

    // Opens the regular file Path, Length bytes from Offset (0: to the end), and checks that
    // it holds MPEG audio. False for a missing, unreadable or empty file, or one without a
    // single MPEG frame; then nothing stays open. On success nothing counts as consumed yet.
    bool Open(const char* Path, uint64_t Offset, uint64_t Length);

    // Back to the start of the file with nothing consumed.
    bool Rewind();

    // Up to MaxFrames frames of interleaved stereo into Samples; 0 once the music has ended,
    // and from then on the whole file counts as consumed.
    int Decode(float* Samples, int MaxFrames);

    // Bytes of the file the decoder has read so far: 0 after Open or Rewind, never
    // decreasing while decoding, exactly Length() once the end has been reached.
    uint64_t Position() const { return Consumed.load(std::memory_order_acquire); }
    uint64_t Length() const { return Size; }

private:
    int File = -1;
    uint64_t Start = 0;      // where the file's region begins
    uint64_t Size = 0;       // bytes in the region
    uint64_t MusicStart = 0; // the first frame's offset in the region
    uint64_t Offset = 0;     // next byte the reader hands to the decoder
    std::atomic<uint64_t> Consumed{0};
    mpg123_handle_struct* Handle = nullptr;
    bool Ended = false;

    bool StartDecoder();
    void Close();
    static ssize_t ReadFile(void* Self, void* Buffer, size_t Count);
    static off_t SeekFile(void* Self, off_t Position, int Whence);
};

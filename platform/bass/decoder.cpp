#include "decoder.h"

#include <mpg123.h>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::once_flag LibraryReady;

// A read that yields neither samples nor an error is a format change; this many in a row
// mean the decoder is stuck.
constexpr int MaxEmptyReads = 16;

// Layer III frames in a row, each header where the previous frame ends and of the same
// kind, that mark the start of the music. Executables are full of single headers that look
// right, and their tables of repeated values chain Layer I headers; chains this long of
// Layer III frames were not found in any binary tried.
constexpr int ChainFrames = 8;

// Layer III bit rates in kbit/s by [MPEG-1, MPEG-2 and 2.5][index]; index 0 is "free
// format", whose frames a chain cannot follow, and 15 is invalid.
constexpr int BitRates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                 {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};

// Sampling rates by [version bits: 2.5, reserved, 2, 1][index].
constexpr int SampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// Bits that stay the same from frame to frame: sync, version, layer and sampling rate.
constexpr uint32_t KindMask = 0xFFFE0C00;

// The length in bytes of the Layer III frame whose header is Header, or 0 when it is not one.
int FrameLength(uint32_t Header) {
    if ((Header & 0xFFE00000) != 0xFFE00000) return 0;
    const int Version = (Header >> 19) & 3, Layer = (Header >> 17) & 3;
    const int BitRateIndex = (Header >> 12) & 15, RateIndex = (Header >> 10) & 3;
    const int Padding = (Header >> 9) & 1;
    if (Version == 1 || Layer != 1 || RateIndex == 3 || (Header & 3) == 2) return 0;
    const bool Mpeg1 = Version == 3;
    const int BitRate = BitRates[Mpeg1 ? 0 : 1][BitRateIndex] * 1000;
    if (BitRate == 0) return 0;
    const int SamplesPerFrame = Mpeg1 ? 1152 : 576;
    return SamplesPerFrame / 8 * BitRate / SampleRates[Version][RateIndex] + Padding;
}

bool ReadBytes(int File, uint64_t At, unsigned char* Bytes, size_t Count) {
    ssize_t Read;
    do Read = pread(File, Bytes, Count, static_cast<off_t>(At));
    while (Read < 0 && errno == EINTR);
    return Read == static_cast<ssize_t>(Count);
}

uint32_t HeaderOf(const unsigned char* Bytes) {
    return static_cast<uint32_t>(Bytes[0]) << 24 | static_cast<uint32_t>(Bytes[1]) << 16 |
           static_cast<uint32_t>(Bytes[2]) << 8 | Bytes[3];
}

// Whether ChainFrames frames of one kind follow each other from At; a shorter chain counts
// when it ends at End or at an ID3v1 tag that ends there.
bool IsChainAt(int File, uint64_t At, uint64_t End, uint32_t First) {
    constexpr uint64_t TagSize = 128;
    uint32_t Header = First;
    for (int Frame = 0; Frame < ChainFrames; Frame++) {
        const int Length = FrameLength(Header);
        if (Length == 0 || (Header & KindMask) != (First & KindMask)) return false;
        At += static_cast<uint64_t>(Length);
        if (At == End) return true;
        unsigned char Bytes[4];
        if (At + 4 > End || !ReadBytes(File, At, Bytes, 4)) return false;
        if (At + TagSize == End && Bytes[0] == 'T' && Bytes[1] == 'A' && Bytes[2] == 'G') return true;
        Header = HeaderOf(Bytes);
    }
    return true;
}

// The offset of the first frame of the music in [Begin, End), or End when there is none.
uint64_t FindMusic(int File, uint64_t Begin, uint64_t End) {
    constexpr uint64_t BlockSize = 64 * 1024;
    std::vector<unsigned char> Block(BlockSize);
    for (uint64_t BlockStart = Begin; BlockStart + 4 <= End; BlockStart += BlockSize - 3) {
        const uint64_t Count = End - BlockStart < BlockSize ? End - BlockStart : BlockSize;
        if (!ReadBytes(File, BlockStart, Block.data(), Count)) break;
        for (uint64_t I = 0; I + 4 <= Count; I++)
            if (Block[I] == 0xFF && (Block[I + 1] & 0xE0) == 0xE0 &&
                IsChainAt(File, BlockStart + I, End, HeaderOf(&Block[I])))
                return BlockStart + I;
    }
    return End;
}

} // namespace

TDecoder::~TDecoder() {
    Close();
}

bool TDecoder::Open(const char* Path, uint64_t Offset, uint64_t Length) {
    Close();
    if (!Path) return false;
    File = open(Path, O_RDONLY | O_CLOEXEC);
    if (File < 0) return false;
    struct stat Info;
    if (fstat(File, &Info) != 0 || !S_ISREG(Info.st_mode) || static_cast<uint64_t>(Info.st_size) <= Offset) {
        Close();
        return false;
    }
    Start = Offset;
    Size = static_cast<uint64_t>(Info.st_size) - Offset;
    if (Length != 0 && Length < Size) Size = Length;

    // The decoder starts at the first run of frames; a frame decoded there proves the file
    // holds MPEG audio, and then it starts again from the same place.
    MusicStart = FindMusic(File, Start, Start + Size) - Start;
    std::call_once(LibraryReady, [] { mpg123_init(); });
    long FileRate;
    int FileChannels, FileEncoding;
    if (MusicStart == Size || !StartDecoder() ||
        mpg123_getformat(Handle, &FileRate, &FileChannels, &FileEncoding) != MPG123_OK || !Rewind()) {
        Close();
        return false;
    }
    return true;
}

bool TDecoder::Rewind() {
    if (File < 0) return false;
    if (Handle) mpg123_close(Handle);
    Offset = MusicStart;
    Ended = false;
    Consumed.store(0, std::memory_order_release);
    return mpg123_open_handle(Handle, this) == MPG123_OK;
}

bool TDecoder::StartDecoder() {
    Handle = mpg123_new(nullptr, nullptr);
    if (!Handle) return false;
    // The reader is not seekable, so the decoder reads the file once from front to back and
    // never peeks at its end; junk inside the music is skipped without limit.
    Offset = MusicStart;
    return mpg123_param(Handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_PEEK_END | MPG123_SEEKBUFFER, 0) ==
               MPG123_OK &&
           mpg123_param(Handle, MPG123_RESYNC_LIMIT, -1, 0) == MPG123_OK &&
           mpg123_format_none(Handle) == MPG123_OK &&
           mpg123_format(Handle, Rate, MPG123_STEREO, MPG123_ENC_FLOAT_32) == MPG123_OK &&
           mpg123_replace_reader_handle(Handle, ReadFile, SeekFile, nullptr) == MPG123_OK &&
           mpg123_open_handle(Handle, this) == MPG123_OK;
}

void TDecoder::Close() {
    if (Handle) {
        mpg123_close(Handle);
        mpg123_delete(Handle);
        Handle = nullptr;
    }
    if (File >= 0) close(File);
    File = -1;
    Start = Size = MusicStart = Offset = 0;
    Consumed.store(0, std::memory_order_release);
    Ended = false;
}

int TDecoder::Decode(float* Samples, int MaxFrames) {
    if (!Handle || Ended || MaxFrames <= 0) return 0;
    const size_t Wanted = static_cast<size_t>(MaxFrames) * Channels * sizeof(float);
    for (int Empty = 0; Empty < MaxEmptyReads; Empty++) {
        size_t Done = 0;
        int Result = mpg123_read(Handle, Samples, Wanted, &Done);
        if (Done > 0) return static_cast<int>(Done / (Channels * sizeof(float)));
        if (Result != MPG123_OK && Result != MPG123_NEW_FORMAT) break;
    }
    // The end, or an error the decoder cannot get past: what is left of the file is skipped,
    // so whoever waits for the end sees it.
    Ended = true;
    Consumed.store(Size, std::memory_order_release);
    return 0;
}

ssize_t TDecoder::ReadFile(void* Self, void* Buffer, size_t Count) {
    auto* Decoder = static_cast<TDecoder*>(Self);
    const uint64_t Left = Decoder->Size - Decoder->Offset;
    if (Count > Left) Count = static_cast<size_t>(Left);
    ssize_t Read;
    do Read = pread(Decoder->File, Buffer, Count, static_cast<off_t>(Decoder->Start + Decoder->Offset));
    while (Read < 0 && errno == EINTR);
    if (Read > 0) {
        Decoder->Offset += static_cast<uint64_t>(Read);
        Decoder->Consumed.store(Decoder->Offset, std::memory_order_release);
    }
    return Read;
}

off_t TDecoder::SeekFile(void*, off_t, int) {
    errno = ESPIPE;
    return -1;
}

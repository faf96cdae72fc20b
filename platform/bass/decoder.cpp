#include "decoder.h"

#include "mp3codec.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// ---- files: the C library's descriptors, read at an offset

#ifdef _WIN32
// One thread reads a decoder's file at a time, so a seek before each read serves.
int OpenForReading(const char* Path) {
    return _open(Path, _O_RDONLY | _O_BINARY | _O_NOINHERIT);
}

bool RegularFileSize(int File, uint64_t& Size) {
    struct _stat64 Info;
    if (_fstat64(File, &Info) != 0 || (Info.st_mode & _S_IFMT) != _S_IFREG) return false;
    Size = static_cast<uint64_t>(Info.st_size);
    return true;
}

ptrdiff_t ReadAt(int File, uint64_t At, void* Buffer, size_t Count) {
    if (_lseeki64(File, static_cast<long long>(At), SEEK_SET) < 0) return -1;
    constexpr size_t MaxRead = 1u << 30;
    return _read(File, Buffer, static_cast<unsigned>(Count < MaxRead ? Count : MaxRead));
}

void CloseFile(int File) {
    _close(File);
}
#else
int OpenForReading(const char* Path) {
    return open(Path, O_RDONLY | O_CLOEXEC);
}

bool RegularFileSize(int File, uint64_t& Size) {
    struct stat Info;
    if (fstat(File, &Info) != 0 || !S_ISREG(Info.st_mode)) return false;
    Size = static_cast<uint64_t>(Info.st_size);
    return true;
}

ptrdiff_t ReadAt(int File, uint64_t At, void* Buffer, size_t Count) {
    ssize_t Read;
    do Read = pread(File, Buffer, Count, static_cast<off_t>(At));
    while (Read < 0 && errno == EINTR);
    return Read;
}

void CloseFile(int File) {
    close(File);
}
#endif

bool ReadBytes(int File, uint64_t At, unsigned char* Bytes, size_t Count) {
    return ReadAt(File, At, Bytes, Count) == static_cast<ptrdiff_t>(Count);
}

// ---- finding the music

// Layer III frames in a row, each header where the previous frame ends and of the same
// kind, that mark the start of the music. Executables are full of single headers that look
// right, and their tables of repeated values chain Layer I headers; chains this long of
// Layer III frames were not found in any binary tried.
constexpr int ChainFrames = 8;

// Bits that stay the same from frame to frame: sync, version, layer and sampling rate.
constexpr uint32_t KindMask = 0xFFFE0C00;

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
        Header = FrameHeaderOf(Bytes);
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
                IsChainAt(File, BlockStart + I, End, FrameHeaderOf(&Block[I])))
                return BlockStart + I;
    }
    return End;
}

// Layer III bit rates in kbit/s by [MPEG-1, MPEG-2 and 2.5][index]; index 0 is "free
// format", whose frames a chain cannot follow, and 15 is invalid.
constexpr int BitRates[2][16] = {{0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0},
                                 {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0}};

// Sampling rates by [version bits: 2.5, reserved, 2, 1][index].
constexpr int SampleRates[4][3] = {
    {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

int VersionOf(uint32_t Header) {
    return (Header >> 19) & 3;
}

} // namespace

// ---- frame headers

uint32_t FrameHeaderOf(const unsigned char* Bytes) {
    return static_cast<uint32_t>(Bytes[0]) << 24 | static_cast<uint32_t>(Bytes[1]) << 16 |
           static_cast<uint32_t>(Bytes[2]) << 8 | Bytes[3];
}

int FrameRate(uint32_t Header) {
    const int RateIndex = (Header >> 10) & 3;
    return RateIndex == 3 ? 0 : SampleRates[VersionOf(Header)][RateIndex];
}

int FrameChannels(uint32_t Header) {
    return ((Header >> 6) & 3) == 3 ? 1 : 2;
}

int FrameSamples(uint32_t Header) {
    return VersionOf(Header) == 3 ? 1152 : 576;
}

int FrameBitRate(uint32_t Header) {
    return BitRates[VersionOf(Header) == 3 ? 0 : 1][(Header >> 12) & 15] * 1000;
}

int FrameLength(uint32_t Header) {
    if ((Header & 0xFFE00000) != 0xFFE00000) return 0;
    const int Layer = (Header >> 17) & 3;
    if (VersionOf(Header) == 1 || Layer != 1 || FrameRate(Header) == 0 || (Header & 3) == 2) return 0;
    const int BitRate = FrameBitRate(Header);
    if (BitRate == 0) return 0;
    const int Padding = (Header >> 9) & 1;
    return FrameSamples(Header) / 8 * BitRate / FrameRate(Header) + Padding;
}

// ---- decoder

TDecoder::TDecoder() = default;

TDecoder::~TDecoder() {
    Close();
}

bool TDecoder::Open(const char* Path, uint64_t Offset, uint64_t Length) {
    Close();
    if (!Path) return false;
    File = OpenForReading(Path);
    if (File < 0) return false;
    uint64_t FileSize;
    if (!RegularFileSize(File, FileSize) || FileSize <= Offset) {
        Close();
        return false;
    }
    Start = Offset;
    Size = FileSize - Offset;
    if (Length != 0 && Length < Size) Size = Length;

    // The codec starts at the first run of frames; starting proves that the file holds MPEG
    // audio.
    MusicStart = FindMusic(File, Start, Start + Size) - Start;
    if (MusicStart == Size || !Rewind()) {
        Close();
        return false;
    }
    return true;
}

bool TDecoder::Rewind() {
    if (File < 0) return false;
    Codec.reset();
    Offset = MusicStart;
    Ended = false;
    auto Started = std::make_unique<TMp3Codec>(*this);
    const bool Ready = Started->Start();
    // What the codec has read to start counts from the first decoding on.
    Consumed.store(0, std::memory_order_release);
    if (!Ready) return false;
    Codec = std::move(Started);
    return true;
}

void TDecoder::Close() {
    Codec.reset();
    if (File >= 0) CloseFile(File);
    File = -1;
    Start = Size = MusicStart = Offset = 0;
    Consumed.store(0, std::memory_order_release);
    Ended = false;
}

int TDecoder::Decode(float* Samples, int MaxFrames) {
    if (!Codec || Ended || MaxFrames <= 0) return 0;
    if (const int Frames = Codec->Decode(Samples, MaxFrames)) return Frames;
    // The end, or an error the codec cannot get past: what is left of the file is skipped,
    // so whoever waits for the end sees it.
    Ended = true;
    Consumed.store(Size, std::memory_order_release);
    return 0;
}

ptrdiff_t TDecoder::ReadMusic(void* Buffer, size_t Count) {
    const uint64_t Left = Size - Offset;
    if (Count > Left) Count = static_cast<size_t>(Left);
    if (Count == 0) return 0;
    const ptrdiff_t Read = ReadAt(File, Start + Offset, Buffer, Count);
    if (Read > 0) {
        Offset += static_cast<uint64_t>(Read);
        Consumed.store(Offset, std::memory_order_release);
    }
    return Read;
}

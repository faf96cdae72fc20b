// MP3 decoding on libmpg123, which resamples to 44100 Hz stereo and, reading the LAME tag,
// leaves out the encoder's delay and padding itself.
#include "mp3codec.h"

#include "decoder.h"

#include <mpg123.h>

#include <cerrno>
#include <mutex>

namespace {

std::once_flag LibraryReady;

// A read that yields neither samples nor an error is a format change; this many in a row
// mean the decoder is stuck.
constexpr int MaxEmptyReads = 16;

ssize_t ReadSource(void* Source, void* Buffer, size_t Count) {
    return static_cast<ssize_t>(static_cast<TDecoder*>(Source)->ReadMusic(Buffer, Count));
}

off_t SeekSource(void*, off_t, int) {
    errno = ESPIPE;
    return -1;
}

} // namespace

struct TMp3Codec::TState {
    TDecoder& Source;
    mpg123_handle* Handle = nullptr;
};

TMp3Codec::TMp3Codec(TDecoder& Source) : State(new TState{Source}) {}

TMp3Codec::~TMp3Codec() {
    if (State->Handle) {
        mpg123_close(State->Handle);
        mpg123_delete(State->Handle);
    }
}

bool TMp3Codec::Start() {
    std::call_once(LibraryReady, [] { mpg123_init(); });
    mpg123_handle* Handle = State->Handle = mpg123_new(nullptr, nullptr);
    if (!Handle) return false;
    // The reader is not seekable, so the decoder reads the file once from front to back and
    // never peeks at its end; junk inside the music is skipped without limit. The first
    // frame's format proves the source holds MPEG audio.
    long Rate;
    int Channels, Encoding;
    return mpg123_param(Handle, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_NO_PEEK_END | MPG123_SEEKBUFFER, 0) ==
               MPG123_OK &&
           mpg123_param(Handle, MPG123_RESYNC_LIMIT, -1, 0) == MPG123_OK &&
           mpg123_format_none(Handle) == MPG123_OK &&
           mpg123_format(Handle, TDecoder::Rate, MPG123_STEREO, MPG123_ENC_FLOAT_32) == MPG123_OK &&
           mpg123_replace_reader_handle(Handle, ReadSource, SeekSource, nullptr) == MPG123_OK &&
           mpg123_open_handle(Handle, &State->Source) == MPG123_OK &&
           mpg123_getformat(Handle, &Rate, &Channels, &Encoding) == MPG123_OK;
}

int TMp3Codec::Decode(float* Samples, int MaxFrames) {
    const size_t Wanted = static_cast<size_t>(MaxFrames) * TDecoder::Channels * sizeof(float);
    for (int Empty = 0; Empty < MaxEmptyReads; Empty++) {
        size_t Done = 0;
        const int Result = mpg123_read(State->Handle, Samples, Wanted, &Done);
        if (Done > 0) return static_cast<int>(Done / (TDecoder::Channels * sizeof(float)));
        if (Result != MPG123_OK && Result != MPG123_NEW_FORMAT) break;
    }
    return 0;
}

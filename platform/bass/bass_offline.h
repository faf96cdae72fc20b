#pragma once

// The offline mode of the audio layer (library `bass_offline`): the five calls of <bass.h>
// with no output device, for rendering the show frame by frame. The caller owns the clock:
// at playback time T (SetPlaybackTime) a stream reports the file position a real-time
// playback would have read by then, its decoder keeping half a second of samples decoded
// ahead as the live layer does, and its spectrum is that of the 256 samples audible at T.
// Every answer depends on the clock alone, so asking twice gives the same values.
//
// Everything runs on the caller's thread; the calls are not for use from several threads.
// What differs from the live layer: BASS_Init opens nothing; a stream decodes its whole file
// once when it is created, to check it and to learn its length in samples; decoding is
// instantaneous, so no frame ever finds the decoder behind.

#include <bass.h>

#include <cstdint>

namespace BassOffline {

constexpr int32_t Rate = 44100; // samples per second of every stream

// The clock: samples (per channel) since it started at 0. A stream played at clock C has
// played T - C samples at T. The clock may be set backwards; streams then decode again
// from the start as needed.
void SetPlaybackTime(uint64_t Samples);
uint64_t GetPlaybackTime();

// The stream's music in samples (per channel) at Rate; 0 when Handle is no stream.
uint64_t GetMusicSamples(HSTREAM Handle);

} // namespace BassOffline

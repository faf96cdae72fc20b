// The five audio calls when no output device can be opened at all (SDL is given an audio
// driver that does not exist): the silent output still consumes samples in real time.
#include "audiofiles.h"
#include "bass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

TEST(SilentOutput, KeepsTimeAndReachesTheEnd) {
    ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    HSTREAM Stream = BASS_StreamCreateFile(FALSE, Fixture("beat3s.mp3").c_str(), 0, 0, 0);
    ASSERT_NE(Stream, 0u);
    const QWORD Length = BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END);
    const auto Start = TClock::now();
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    float Loudest = 0;
    while (BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT) != Length &&
           TClock::now() - Start < 30s) {
        float Bins[128];
        ASSERT_EQ(BASS_ChannelGetData(Stream, Bins, BASS_DATA_FFT256), 512u);
        Loudest = std::max(Loudest, *std::max_element(Bins, Bins + 128));
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), Length);
    // Three seconds of music, of which about a second is decoded or read ahead: the end of
    // the file comes after the output has consumed the rest, not at once.
    EXPECT_GT(TClock::now() - Start, 1500ms);
    EXPECT_GT(Loudest, 0.1f); // what the silent output consumes is the music
}
} // namespace

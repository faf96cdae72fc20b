// The five audio calls in offline mode: the test sets the playback clock.
#include "audiofiles.h"
#include "bass_offline.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {

using BassOffline::SetPlaybackTime;
constexpr uint64_t Rate = BassOffline::Rate;
constexpr uint64_t Ahead = Rate / 2; // what the live layer keeps decoded
constexpr uint64_t Chunk = 1152;
constexpr QWORD AllBits = ~0ull;

using TBins = std::array<float, 128>;

class OfflineAudio : public testing::Test {
protected:
    static void SetUpTestSuite() { BASS_Init(-1, 44100, 0, nullptr, nullptr); }
    void SetUp() override { SetPlaybackTime(0); }

    static HSTREAM Create(const char* Name) {
        return BASS_StreamCreateFile(FALSE, Fixture(Name).c_str(), 0, 0, 0);
    }
    static QWORD Position(HSTREAM Stream) { return BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT); }
    static TBins Spectrum(HSTREAM Stream) {
        TBins Bins;
        Bins.fill(-1);
        EXPECT_EQ(BASS_ChannelGetData(Stream, Bins.data(), BASS_DATA_FFT256), 512u);
        return Bins;
    }
    static float Max(const TBins& Bins) { return *std::max_element(Bins.begin(), Bins.end()); }
};

TEST_F(OfflineAudio, KnowsTheMusicLengthInSamples) {
    HSTREAM Sine = Create("sine1k.mp3"), Beat = Create("beat3s.mp3");
    ASSERT_NE(Sine, 0u);
    ASSERT_NE(Beat, 0u);
    EXPECT_NEAR(static_cast<double>(BassOffline::GetMusicSamples(Sine)), 2.0 * Rate, Chunk);
    EXPECT_NEAR(static_cast<double>(BassOffline::GetMusicSamples(Beat)), 3.0 * Rate, Chunk);
    EXPECT_EQ(BassOffline::GetMusicSamples(0), 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Beat, BASS_FILEPOS_END),
              static_cast<QWORD>(ReadAll(Fixture("beat3s.mp3")).size()));
}

TEST_F(OfflineAudio, RefusesWhatIsNoMusic) {
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "/no/such/file.mp3", 0, 0, 0), 0u);
    TScratchFile Junk("junk.mp3");
    Junk.Write(::Junk(20000));
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, Junk.Path.c_str(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, Fixture("beat3s.mp3").c_str(), 0, 0, 0), 0u);
}

TEST_F(OfflineAudio, NothingIsReadOrHeardBeforePlayback) {
    HSTREAM Stream = Create("sine1k.mp3");
    SetPlaybackTime(Rate);
    EXPECT_EQ(Position(Stream), 0u);
    EXPECT_EQ(Max(Spectrum(Stream)), 0.0f);
}

TEST_F(OfflineAudio, ReadsHalfASecondAheadOfWhatIsHeard) {
    HSTREAM Stream = Create("beat3s.mp3");
    const QWORD Length = BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END);
    const uint64_t Music = BassOffline::GetMusicSamples(Stream);
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    // 64 kbit/s: 8000 bytes a second. The decoder reads the file 4096 bytes at a time, as
    // much as it needs for what it has decoded ahead of what is heard.
    QWORD Last = 0;
    for (uint64_t Time = 0; Time < Music; Time += 735) {
        SetPlaybackTime(Time);
        const QWORD Now = Position(Stream);
        EXPECT_GE(Now, Last);
        const double Needed = static_cast<double>(std::min(Time + Ahead, Music)) / Rate * 8000;
        EXPECT_GE(static_cast<double>(Now), Needed - 400) << Time;
        EXPECT_LE(static_cast<double>(Now), Needed + 4096 + 1000) << Time;
        Last = Now;
    }
    // The whole file counts as read once all that is left fits into the half second ahead.
    SetPlaybackTime(Music - Ahead);
    EXPECT_EQ(Position(Stream), Length);
    SetPlaybackTime(Music + Rate);
    EXPECT_EQ(Position(Stream), Length);
}

TEST_F(OfflineAudio, AnswersDependOnTheClockAlone) {
    HSTREAM Stream = Create("beat3s.mp3");
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    SetPlaybackTime(Rate + 123);
    const QWORD Position1 = Position(Stream);
    const TBins Bins1 = Spectrum(Stream);
    EXPECT_EQ(Position(Stream), Position1);
    EXPECT_EQ(Spectrum(Stream), Bins1);
    // Later and back again: the stream decodes from the start and gives the same answers.
    SetPlaybackTime(2 * Rate);
    EXPECT_GT(Position(Stream), Position1);
    SetPlaybackTime(Rate + 123);
    EXPECT_EQ(Position(Stream), Position1);
    EXPECT_EQ(Spectrum(Stream), Bins1);
    SetPlaybackTime(0);
    EXPECT_GT(Position(Stream), 0u);
}

TEST_F(OfflineAudio, SpectrumIsOfTheSamplesJustHeard) {
    HSTREAM Stream = Create("sine1k.mp3");
    const uint64_t Music = BassOffline::GetMusicSamples(Stream);
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    // At the start nothing has been heard yet.
    EXPECT_EQ(Max(Spectrum(Stream)), 0.0f);
    SetPlaybackTime(Rate);
    const TBins Middle = Spectrum(Stream);
    // 1 kHz lies between bins 5 and 6 (172 Hz apart); a full-scale sine, minus the encoder's margin.
    const int Peak = static_cast<int>(std::max_element(Middle.begin(), Middle.end()) - Middle.begin());
    EXPECT_TRUE(Peak == 5 || Peak == 6) << Peak;
    EXPECT_GT(Max(Middle), 0.5f);
    // Half of the block heard: less energy than a full block, more than none.
    SetPlaybackTime(128);
    const float Half = Max(Spectrum(Stream));
    EXPECT_GT(Half, 0.05f);
    EXPECT_LT(Half, Max(Middle));
    // A block wholly after the end of the music is silence.
    SetPlaybackTime(Music + 256);
    EXPECT_EQ(Max(Spectrum(Stream)), 0.0f);
}

TEST_F(OfflineAudio, ClockStartsForAStreamWhenItIsPlayed) {
    HSTREAM Early = Create("beat3s.mp3"), Late = Create("beat3s.mp3");
    ASSERT_TRUE(BASS_ChannelPlay(Early, FALSE));
    SetPlaybackTime(Rate);
    ASSERT_TRUE(BASS_ChannelPlay(Late, FALSE));
    SetPlaybackTime(Rate + 5000);
    const QWORD LatePosition = Position(Late);
    SetPlaybackTime(5000);
    EXPECT_EQ(Position(Early), LatePosition);
    EXPECT_EQ(Position(Late), 0u); // before it was played
    // A restart counts from now; playing again without restart changes nothing.
    SetPlaybackTime(2 * Rate);
    const QWORD Before = Position(Early);
    ASSERT_TRUE(BASS_ChannelPlay(Early, FALSE));
    EXPECT_EQ(Position(Early), Before);
    ASSERT_TRUE(BASS_ChannelPlay(Early, TRUE));
    SetPlaybackTime(2 * Rate + 5000);
    EXPECT_EQ(Position(Early), LatePosition);
}

TEST_F(OfflineAudio, FailedCallsGiveWhatTheLiveLayerGives) {
    HSTREAM Stream = Create("sine1k.mp3");
    float Bins[128];
    EXPECT_EQ(BASS_StreamGetFilePosition(0, BASS_FILEPOS_CURRENT), AllBits);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream + 100, BASS_FILEPOS_END), AllBits);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, 1), AllBits);
    EXPECT_EQ(BASS_ChannelGetData(Stream + 100, Bins, BASS_DATA_FFT256), 0xFFFFFFFFu);
    EXPECT_EQ(BASS_ChannelGetData(Stream, Bins, 0x80000001u), 0xFFFFFFFFu);
    EXPECT_FALSE(BASS_ChannelPlay(0, FALSE));
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr)); // once only
    EXPECT_FALSE(BASS_Init(2, 44100, 0, nullptr, nullptr));
}

} // namespace

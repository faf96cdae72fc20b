// The five audio calls against SDL's dummy output, which consumes samples in real time.
#include "audiofiles.h"
#include "bass.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <new>
#include <thread>

// Allocations made by the current thread, to show that a call makes none.
thread_local int ThreadAllocations = 0;

void* operator new(size_t Size) {
    ThreadAllocations++;
    if (void* Memory = std::malloc(Size ? Size : 1)) return Memory;
    throw std::bad_alloc();
}
// GCC cannot see that these pair with the operator new above.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* Memory) noexcept {
    std::free(Memory);
}
void operator delete(void* Memory, size_t) noexcept {
    std::free(Memory);
}
#pragma GCC diagnostic pop

namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

constexpr QWORD AllBits = ~0ull;

class AudioLayer : public testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(BASS_Init(-1, 44100, 0, nullptr, nullptr)); }

    static HSTREAM Create(const std::string& Path) {
        return BASS_StreamCreateFile(FALSE, Path.c_str(), 0, 0, 0);
    }
};

struct TSpectrumRead {
    float Bins[128];
    int Peak() const { return static_cast<int>(std::max_element(Bins, Bins + 128) - Bins); }
    float Max() const { return *std::max_element(Bins, Bins + 128); }
};

// Plays Stream and polls its file position until it stops moving at the file's length.
std::vector<QWORD> PlayToTheEnd(HSTREAM Stream, TClock::duration Limit = 30s) {
    std::vector<QWORD> Positions;
    const QWORD Length = BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END);
    EXPECT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    const auto Deadline = TClock::now() + Limit;
    while (TClock::now() < Deadline) {
        Positions.push_back(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT));
        if (Positions.back() == Length) break;
        std::this_thread::sleep_for(5ms);
    }
    return Positions;
}

// Polls the spectrum while Stream plays until Wanted accepts one, or Limit passes.
bool WaitForSpectrum(HSTREAM Stream, TSpectrumRead& Read, auto Wanted, TClock::duration Limit = 10s) {
    const auto Deadline = TClock::now() + Limit;
    while (TClock::now() < Deadline) {
        if (BASS_ChannelGetData(Stream, Read.Bins, BASS_DATA_FFT256) != 512) return false;
        if (Wanted(Read)) return true;
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

TEST_F(AudioLayer, ReportsTheFileLengthAndNothingReadBeforePlayback) {
    const auto Path = Fixture("beat3s.mp3");
    HSTREAM Stream = Create(Path);
    ASSERT_NE(Stream, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END), std::filesystem::file_size(Path));
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 0u);
    TSpectrumRead Read;
    EXPECT_EQ(BASS_ChannelGetData(Stream, Read.Bins, BASS_DATA_FFT256), 512u);
    EXPECT_EQ(Read.Max(), 0.0f); // nothing played yet: silence
}

TEST_F(AudioLayer, PositionsRiseMonotonicallyToExactlyTheLength) {
    HSTREAM Stream = Create(Fixture("beat3s.mp3"));
    ASSERT_NE(Stream, 0u);
    const QWORD Length = BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END);
    const auto Positions = PlayToTheEnd(Stream);
    ASSERT_FALSE(Positions.empty());
    EXPECT_TRUE(std::is_sorted(Positions.begin(), Positions.end()));
    EXPECT_EQ(Positions.back(), Length);
    // Decoding runs only about half a second ahead of the output, so the end takes a while.
    EXPECT_GT(std::count_if(Positions.begin(), Positions.end(), [&](QWORD P) { return P < Length; }), 100);
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), Length);
}

TEST_F(AudioLayer, SpectrumOfAPlayingSinePeaksInItsBinNearOne) {
    for (const char* Name : {"sine1k.mp3", "sine1k-22khz.mp3"}) {
        HSTREAM Stream = Create(Fixture(Name));
        ASSERT_NE(Stream, 0u) << Name;
        ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
        TSpectrumRead Read;
        // Wait until the sine is audible, then read it again a few times.
        ASSERT_TRUE(WaitForSpectrum(Stream, Read, [](const TSpectrumRead& R) { return R.Max() > 0.5f; }))
            << Name;
        for (int I = 0; I < 5; I++) {
            std::this_thread::sleep_for(20ms);
            ASSERT_EQ(BASS_ChannelGetData(Stream, Read.Bins, BASS_DATA_FFT256), 512u);
            EXPECT_EQ(Read.Peak(), 6) << Name; // 1000 Hz * 256 / 44100 = 5.8
            EXPECT_NEAR(Read.Bins[6], 1.0f, 0.15f) << Name;
            EXPECT_LT(Read.Bins[20], 0.05f) << Name;
        }
        // After the music has been played out the spectrum falls silent.
        EXPECT_TRUE(WaitForSpectrum(Stream, Read, [](const TSpectrumRead& R) { return R.Max() == 0.0f; }))
            << Name;
    }
}

TEST_F(AudioLayer, SpectrumRequestAllocatesNothing) {
    HSTREAM Stream = Create(Fixture("beat3s.mp3"));
    ASSERT_NE(Stream, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    float Bins[128];
    const int Before = ThreadAllocations;
    for (int I = 0; I < 100; I++) {
        BASS_ChannelGetData(Stream, Bins, BASS_DATA_FFT256);
        BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT);
    }
    EXPECT_EQ(ThreadAllocations, Before);
}

TEST_F(AudioLayer, MusicBehindJunkStillPlays) {
    const auto Front = Junk(100 * 1024);
    const auto Music = ReadAll(Fixture("sine1k.mp3"));
    TScratchFile File("junk-in-front.mp3");
    File.Write(Concatenated(Front, Music));
    HSTREAM Stream = Create(File.Path);
    ASSERT_NE(Stream, 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END), Front.size() + Music.size());
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    TSpectrumRead Read;
    EXPECT_TRUE(WaitForSpectrum(Stream, Read, [](const TSpectrumRead& R) { return R.Max() > 0.5f; }));
    EXPECT_EQ(Read.Peak(), 6);
    const auto Positions = PlayToTheEnd(Stream);
    EXPECT_EQ(Positions.back(), Front.size() + Music.size());
}

TEST_F(AudioLayer, MissingTextAndOtherFilesGiveNoStream) {
    TScratchFile Text("readme.txt");
    std::string Words = "Not an MP3 at all.\n";
    Text.Write(std::vector<char>(Words.begin(), Words.end()));
    const int OpenBefore = OpenFileCount();
    EXPECT_EQ(Create("/no/such/music.mp3"), 0u);
    EXPECT_EQ(Create(Text.Path), 0u);
    EXPECT_EQ(Create("/tmp"), 0u);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, nullptr, 0, 0, 0), 0u);
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, Words.data(), 0, Words.size(), 0), 0u);
    EXPECT_EQ(OpenFileCount(), OpenBefore);
}

TEST_F(AudioLayer, InvalidHandlesAndRequestsGiveAllBitsSet) {
    HSTREAM Stream = Create(Fixture("beat3s.mp3"));
    ASSERT_NE(Stream, 0u);
    for (DWORD Handle : {0u, Stream + 1, Stream + 1000, 0xFFFFFFFFu}) {
        EXPECT_EQ(BASS_StreamGetFilePosition(Handle, BASS_FILEPOS_CURRENT), AllBits);
        EXPECT_EQ(BASS_StreamGetFilePosition(Handle, BASS_FILEPOS_END), AllBits);
        EXPECT_FALSE(BASS_ChannelPlay(Handle, FALSE));
        TSpectrumRead Read;
        std::fill(std::begin(Read.Bins), std::end(Read.Bins), 3.5f);
        EXPECT_EQ(BASS_ChannelGetData(Handle, Read.Bins, BASS_DATA_FFT256), 0xFFFFFFFFu);
        EXPECT_TRUE(
            std::all_of(std::begin(Read.Bins), std::end(Read.Bins), [](float V) { return V == 3.5f; }));
    }
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, 1), AllBits);
    TSpectrumRead Read;
    std::fill(std::begin(Read.Bins), std::end(Read.Bins), 3.5f);
    EXPECT_EQ(BASS_ChannelGetData(Stream, Read.Bins, 512), 0xFFFFFFFFu);
    EXPECT_EQ(Read.Bins[0], 3.5f);
    EXPECT_EQ(BASS_ChannelGetData(Stream, nullptr, BASS_DATA_FFT256), 0xFFFFFFFFu);
}

TEST_F(AudioLayer, InitialisesOnce) {
    EXPECT_FALSE(BASS_Init(-1, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_Init(7, 44100, 0, nullptr, nullptr));
}

TEST_F(AudioLayer, PlayWithRestartStartsTheFileAgain) {
    HSTREAM Stream = Create(Fixture("sine1k-22khz.mp3"));
    ASSERT_NE(Stream, 0u);
    const QWORD Length = BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END);
    ASSERT_EQ(PlayToTheEnd(Stream).back(), Length);
    EXPECT_TRUE(BASS_ChannelPlay(Stream, FALSE)); // already played: nothing changes
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), Length);
    ASSERT_TRUE(BASS_ChannelPlay(Stream, TRUE));
    EXPECT_LT(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), Length);
    EXPECT_EQ(PlayToTheEnd(Stream).back(), Length);
}

TEST_F(AudioLayer, CallsFromManyThreadsWhilePlaying) {
    HSTREAM Stream = Create(Fixture("beat3s.mp3"));
    ASSERT_NE(Stream, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(Stream, FALSE));
    std::vector<std::thread> Callers;
    for (int T = 0; T < 3; T++)
        Callers.emplace_back([Stream] {
            float Bins[128];
            for (int I = 0; I < 200; I++) {
                BASS_ChannelGetData(Stream, Bins, BASS_DATA_FFT256);
                BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT);
                BASS_ChannelPlay(Stream, FALSE);
                std::this_thread::sleep_for(1ms);
            }
        });
    for (auto& Caller : Callers) Caller.join();
    // Left playing: the process ends with the stream still decoding, which must be clean.
}

} // namespace

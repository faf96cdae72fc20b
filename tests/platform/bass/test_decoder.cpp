#include "audiofiles.h"
#include "decoder.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

struct TDecoded {
    int64_t Frames = 0;
    float Peak = 0;
    bool Monotonic = true;
    uint64_t FinalPosition = 0;
};

TDecoded DecodeAll(TDecoder& Decoder) {
    TDecoded Result;
    static float Samples[4096 * TDecoder::Channels];
    uint64_t Last = Decoder.Position();
    while (int Frames = Decoder.Decode(Samples, 4096)) {
        Result.Frames += Frames;
        for (int I = 0; I < Frames * TDecoder::Channels; I++)
            Result.Peak = std::max(Result.Peak, std::abs(Samples[I]));
        Result.Monotonic =
            Result.Monotonic && Decoder.Position() >= Last && Decoder.Position() <= Decoder.Length();
        Last = Decoder.Position();
    }
    Result.FinalPosition = Decoder.Position();
    return Result;
}

TEST(Decoder, ReadsTheWholeFileOnceWithPositionsRisingToItsLength) {
    const auto Path = Fixture("beat3s.mp3");
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(Path.c_str(), 0, 0));
    EXPECT_EQ(Decoder.Length(), std::filesystem::file_size(Path));
    EXPECT_EQ(Decoder.Position(), 0u);
    const TDecoded Result = DecodeAll(Decoder);
    EXPECT_TRUE(Result.Monotonic);
    EXPECT_EQ(Result.FinalPosition, Decoder.Length());
    EXPECT_EQ(Result.Frames, 3 * 44100); // gapless: exactly the three seconds encoded
    EXPECT_EQ(Decoder.Decode(nullptr, 4096), 0);
}

TEST(Decoder, BundledMusicLastsFortyToSixtySeconds) {
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(MUSIC_FILE, 0, 0));
    const TDecoded Result = DecodeAll(Decoder);
    EXPECT_GE(Result.Frames, 40 * 44100);
    EXPECT_LE(Result.Frames, 60 * 44100);
    EXPECT_LE(Result.Peak, 1.0f);
    EXPECT_EQ(Result.FinalPosition, Decoder.Length()); // through the ID3v1 tag at its end
}

TEST(Decoder, RewindStartsAgainWithNothingConsumed) {
    const auto Path = Fixture("sine1k.mp3");
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(Path.c_str(), 0, 0));
    const TDecoded First = DecodeAll(Decoder);
    ASSERT_TRUE(Decoder.Rewind());
    EXPECT_EQ(Decoder.Position(), 0u);
    const TDecoded Second = DecodeAll(Decoder);
    EXPECT_EQ(Second.Frames, First.Frames);
    EXPECT_EQ(Second.FinalPosition, Decoder.Length());
}

TEST(Decoder, OtherRatesAndMonoArriveAt44100HzStereo) {
    // One second of a 22050 Hz mono sine (plus the encoder's padding) gives twice the frames.
    const auto Path = Fixture("sine1k-22khz.mp3");
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(Path.c_str(), 0, 0));
    const TDecoded Result = DecodeAll(Decoder);
    EXPECT_NEAR(static_cast<double>(Result.Frames), 44100.0, 0.1 * 44100);
    EXPECT_GT(Result.Peak, 0.8f);
    EXPECT_EQ(Result.FinalPosition, Decoder.Length());
}

TEST(Decoder, SkipsRandomBytesAndAnExecutableInFront) {
    const auto Music = ReadAll(Fixture("beat3s.mp3"));
    for (const auto& Front : {Junk(100 * 1024), ReadAll("/proc/self/exe")}) {
        TScratchFile File("front.mp3");
        File.Write(Concatenated(Front, Music));
        TDecoder Decoder;
        ASSERT_TRUE(Decoder.Open(File.Path.c_str(), 0, 0));
        const TDecoded Result = DecodeAll(Decoder);
        // Only the music is heard: nothing of the front is decoded as noise.
        EXPECT_EQ(Result.Frames, 3 * 44100);
        EXPECT_LT(Result.Peak, 1.0f);
        EXPECT_EQ(Result.FinalPosition, Front.size() + Music.size());
    }
}

TEST(Decoder, ATruncatedFileStillEndsAtItsLength) {
    auto Music = ReadAll(Fixture("beat3s.mp3"));
    Music.resize(Music.size() / 2 + 77); // cut inside a frame
    TScratchFile File("cut.mp3");
    File.Write(Music);
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(File.Path.c_str(), 0, 0));
    const TDecoded Result = DecodeAll(Decoder);
    EXPECT_GT(Result.Frames, 44100);
    EXPECT_EQ(Result.FinalPosition, Music.size());
}

TEST(Decoder, RefusesWhatIsNoMp3AndKeepsNothingOpen) {
    TScratchFile Text("notes.txt"), Empty("empty.mp3"), Random("random.mp3");
    std::string Line = "This is a text file, not music.\n";
    std::vector<char> Lines;
    for (int I = 0; I < 200; I++) Lines.insert(Lines.end(), Line.begin(), Line.end());
    Text.Write(Lines);
    Empty.Write({});
    Random.Write(Junk(300 * 1024));

    const int OpenBefore = OpenFileCount();
    TDecoder Decoder;
    for (const std::string& Path :
         {Text.Path, Empty.Path, Random.Path, std::string("/proc/self/exe"), std::string("/no/such/file.mp3"),
          std::string("/tmp"), std::string("/dev/zero")})
        EXPECT_FALSE(Decoder.Open(Path.c_str(), 0, 0)) << Path;
    EXPECT_FALSE(Decoder.Open(nullptr, 0, 0));
    EXPECT_EQ(OpenFileCount(), OpenBefore);
    EXPECT_EQ(Decoder.Decode(nullptr, 1), 0);
}

TEST(Decoder, OpensARegionOfAFile) {
    const auto Front = Junk(5000);
    const auto Music = ReadAll(Fixture("beat3s.mp3"));
    TScratchFile File("region.mp3");
    File.Write(Concatenated(Concatenated(Front, Music), Junk(3000)));
    TDecoder Decoder;
    ASSERT_TRUE(Decoder.Open(File.Path.c_str(), Front.size(), Music.size()));
    EXPECT_EQ(Decoder.Length(), Music.size());
    const TDecoded Result = DecodeAll(Decoder);
    EXPECT_EQ(Result.Frames, 3 * 44100);
    EXPECT_EQ(Result.FinalPosition, Music.size());
    EXPECT_FALSE(Decoder.Open(File.Path.c_str(), 1 << 30, 0)); // past the end
}

} // namespace

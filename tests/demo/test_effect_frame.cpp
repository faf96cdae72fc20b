#include "effect_fixture.h"

#include <gmock/gmock.h>

#include <cmath>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;

const HWND Window = reinterpret_cast<HWND>(0x1234);

using SetUpTest = EffectTest;
using MusicEndTest = EffectTest;
using SpectrumTest = EffectTest;
using FrameTest = EffectTest;

TEST(NextPowerOfTwo, IsStrictlyGreater) {
    EXPECT_EQ(NextPowerOfTwo(1024), 2048);
    EXPECT_EQ(NextPowerOfTwo(768), 1024);
    EXPECT_EQ(NextPowerOfTwo(0), 1);
    EXPECT_EQ(NextPowerOfTwo(1), 2);
    EXPECT_EQ(NextPowerOfTwo(1023), 1024);
    EXPECT_EQ(NextPowerOfTwo(-5), 1);
    EXPECT_EQ(NextPowerOfTwo(32767), 32768);
    EXPECT_EQ(NextPowerOfTwo(32768), 0);
    EXPECT_EQ(NextPowerOfTwo(1 << 30), 0);
}

TEST_F(SetUpTest, StartsAudioTextureAndMusicInOrder) {
    BassScript::SetStream(7);
    BassScript::SetFileLength(0x100000123ull);
    InitDemo(Window, 1024, 768);

    const auto& Calls = BassScript::Calls();
    EXPECT_EQ(Calls.Init, 1);
    EXPECT_EQ(Calls.InitDevice, -1);
    EXPECT_EQ(Calls.InitFrequency, 44100u);
    EXPECT_EQ(Calls.InitFlags, 0u);
    EXPECT_EQ(Calls.InitWindow, Window);
    EXPECT_TRUE(Calls.InitGuidNull);
    EXPECT_EQ(Calls.StreamCreate, 1);
    EXPECT_EQ(Calls.StreamMem, FALSE);
    EXPECT_STREQ(Calls.StreamPath, "music.mp3");
    EXPECT_EQ(Calls.StreamOffset, 0u);
    EXPECT_EQ(Calls.StreamLength, 0u);
    EXPECT_EQ(Calls.StreamFlags, 0u);
    EXPECT_EQ(Calls.Play, 1);
    EXPECT_EQ(Calls.PlayHandle, 7u);
    EXPECT_EQ(Calls.PlayRestart, FALSE);
    EXPECT_EQ(Calls.PositionEnd, 1);

    EXPECT_EQ(MusicStream, 7u);
    EXPECT_EQ(MusicLength, 0x123u); // the low 32 bits
    EXPECT_EQ(ScreenWidth, 1024);
    EXPECT_EQ(ScreenHeight, 768);
    EXPECT_EQ(TextureWidth, 2048);
    EXPECT_EQ(TextureHeight, 1024);
    EXPECT_EQ(FeedbackTexture, 1u);
    EXPECT_THAT(
        GLRecord::Trace(),
        ElementsAre("glGenTextures(1, pointer)", "glBindTexture(GL_TEXTURE_2D, 1)",
                    "glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE)",
                    "glTexImage2D(GL_TEXTURE_2D, 0, 3, 2048, 1024, 0, GL_RGB, GL_UNSIGNED_BYTE, pointer)",
                    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR)",
                    "glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR)"));
}

TEST_F(SetUpTest, AProgramWhosePathNamesAnMp3PlaysItself) {
    for (const char* Path : {"/tmp/run/Show.Mp3", "/home/user/tunes.MP3.d/demo", "/opt/x.mp3", ".mP3"}) {
        BassScript::Reset();
        SetProgramPath(Path);
        InitDemo(Window, 640, 480);
        EXPECT_STREQ(BassScript::Calls().StreamPath, Path);
    }
    for (const char* Path : {"/tmp/show.mp4", "/tmp/mp3/demo", "/tmp/demo.mp", "", "MP3"}) {
        BassScript::Reset();
        SetProgramPath(Path);
        InitDemo(Window, 640, 480);
        EXPECT_STREQ(BassScript::Calls().StreamPath, "music.mp3") << Path;
    }
}

TEST_F(SetUpTest, AScreenTooWideForATextureGetsWidthZero) {
    InitDemo(Window, 40000, 100);
    EXPECT_EQ(TextureWidth, 0);
    EXPECT_EQ(TextureHeight, 128);
    EXPECT_EQ(GLRecord::Format(GLRecord::Calls()[3]),
              "glTexImage2D(GL_TEXTURE_2D, 0, 3, 0, 128, 0, GL_RGB, GL_UNSIGNED_BYTE, pointer)");
}

TEST_F(MusicEndTest, EndsWithinTenBytesOfTheEnd) {
    BassScript::SetFileLength(1000);
    InitDemo(Window, 640, 480);
    BassScript::SetPositions({0, 990, 991, 1000, 1500});
    EXPECT_FALSE(MusicEnded());
    EXPECT_FALSE(MusicEnded()); // 10 bytes before the end
    EXPECT_TRUE(MusicEnded());  // 9 bytes before
    EXPECT_TRUE(MusicEnded());
    EXPECT_TRUE(MusicEnded()); // past the end
}

TEST_F(MusicEndTest, ComparesAsSigned64Bits) {
    // A file of 4 GiB + 100 bytes: only the low 32 bits are kept as the length.
    BassScript::SetFileLength(0x100000064ull);
    InitDemo(Window, 640, 480);
    BassScript::SetPositions({50, 0x100000000ull});
    EXPECT_FALSE(MusicEnded());
    EXPECT_TRUE(MusicEnded());
}

TEST_F(MusicEndTest, AFailedStreamNeverEnds) {
    BassScript::SetStream(0);
    BassScript::SetFileLength(1000);
    InitDemo(Window, 640, 480);
    EXPECT_EQ(MusicStream, 0u);
    EXPECT_EQ(MusicLength, 0xFFFFFFFFu);
    for (int32_t I = 0; I < 3; I++) EXPECT_FALSE(MusicEnded());
    EXPECT_EQ(BassScript::Calls().PositionFailed, 4);
}

// Silences every band but Ready by giving it a cooldown that a frame with D = 0 keeps.
void HoldAllBandsBut(int32_t Ready) {
    for (int32_t J = 0; J < BandCount; J++) Bands[J].Cooldown = J == Ready ? 0 : 1000000;
}

void SetAllBins(float Value) {
    for (int32_t K = 0; K < SpectrumBins; K++) BassScript::SetSpectrumBin(K, Value);
}

TEST_F(SpectrumTest, FoldsEightBinsPerBandAndAddsTheLowBinOnce) {
    MusicStream = 1;
    BassScript::SetSpectrumBin(0, 1);
    BassScript::SetSpectrumBin(1, 2);
    BassScript::SetSpectrumBin(9, 4);
    BassScript::SetSpectrumBin(15, 16);
    BassScript::SetSpectrumBin(127, 8);
    AnalyseSpectrum(0, 1e30f);
    EXPECT_EQ(Bands[0].Value, 3.0f);  // bins 0 and 1, no extra
    EXPECT_EQ(Bands[1].Value, 22.0f); // bins 9 and 15, and bin 1 again
    EXPECT_EQ(Bands[8].Value, 0.0f);
    EXPECT_EQ(Bands[9].Value, 4.0f);   // bin 9 again
    EXPECT_EQ(Bands[15].Value, 24.0f); // bin 127, and bin 15 again
    EXPECT_EQ(BassScript::Calls().DataHandle, 1u);
    EXPECT_EQ(BassScript::Calls().DataLength, 0x80000000u);
    EXPECT_EQ(BusySlots(), 0);
}

TEST_F(SpectrumTest, ValuesStartFromZeroEveryFrame) {
    MusicStream = 1;
    BassScript::SetSpectrumBin(0, 1);
    AnalyseSpectrum(0, 1e30f);
    AnalyseSpectrum(0, 1e30f);
    EXPECT_EQ(Bands[0].Value, 1.0f);
}

TEST_F(SpectrumTest, AFailedSpectrumCallCountsAsSilence) {
    MusicStream = 0;
    Bands[3].Value = 5;
    AnalyseSpectrum(1000, 0.26f);
    for (const TBand& Band : Bands) {
        EXPECT_EQ(Band.Value, 0.0f);
        EXPECT_EQ(Band.Cooldown, 0);
    }
    EXPECT_EQ(BusySlots(), 0);
}

TEST_F(SpectrumTest, ABandExactlyAtTheThresholdDoesNotFire) {
    MusicStream = 1;
    BassScript::SetSpectrumBin(0, 0.5f);
    AnalyseSpectrum(0, 0.5f);
    EXPECT_EQ(Bands[0].Cooldown, 0);
    EXPECT_EQ(BusySlots(), 0);

    BassScript::SetSpectrumBin(0, std::nextafter(0.5f, 1.0f));
    AnalyseSpectrum(0, 0.5f);
    EXPECT_EQ(Bands[0].Cooldown, 13000);
    EXPECT_EQ(Particles[0].Kind, pkBurst);
}

TEST_F(SpectrumTest, HigherBandsAreWeightedMore) {
    MusicStream = 1;
    BassScript::SetSpectrumBin(127, 0.0625f); // band 15 alone: 13 x 0.0625 = 0.8125
    AnalyseSpectrum(0, 0.8125f);
    EXPECT_EQ(Bands[15].Cooldown, 0);
    AnalyseSpectrum(0, std::nextafter(0.8125f, 0.0f));
    EXPECT_EQ(Bands[15].Cooldown, 13000);
    EXPECT_EQ(Particles[0].Kind, pkGlow);
}

TEST_F(SpectrumTest, CooldownsRunOnTheClockDelta) {
    MusicStream = 1;
    BassScript::SetSpectrumBin(0, 1);
    AnalyseSpectrum(0, 0.5f);
    ASSERT_EQ(BusySlots(), 1);
    AnalyseSpectrum(0, 0.5f); // D = 0 keeps the cooldown
    EXPECT_EQ(Bands[0].Cooldown, 13000);
    AnalyseSpectrum(12999, 0.5f);
    EXPECT_EQ(Bands[0].Cooldown, 1);
    EXPECT_EQ(BusySlots(), 1);
    AnalyseSpectrum(5, 0.5f); // runs out and fires in the same frame
    EXPECT_EQ(Bands[0].Cooldown, 13000);
    EXPECT_EQ(BusySlots(), 2);
}

TEST_F(SpectrumTest, ACooldownRunsOutAtZeroWithoutGoingNegative) {
    MusicStream = 1;
    Bands[2].Cooldown = 100;
    AnalyseSpectrum(100, 1e30f);
    EXPECT_EQ(Bands[2].Cooldown, 0);
    Bands[2].Cooldown = 100;
    AnalyseSpectrum(100000, 1e30f);
    EXPECT_EQ(Bands[2].Cooldown, 0);
}

struct TBandAction {
    int32_t Band;
    uint8_t Kind;
    float R, G, B;
    uint32_t LifeBase;
};

class BandActionTest : public EffectTest, public testing::WithParamInterface<TBandAction> {};

TEST_P(BandActionTest, SpawnsItsKindWithRowColumnAndLifeDrawnInThatOrder) {
    const TBandAction& Action = GetParam();
    MusicStream = 1;
    SetAllBins(1);
    HoldAllBandsBut(Action.Band);
    TReferenceRandom Reference{GetRandomSeed()};
    uint32_t Row = Reference.Next(9), Column = Reference.Next(16),
             Life = Action.LifeBase + Reference.Next(7000);

    AnalyseSpectrum(0, 0.66f);
    ASSERT_EQ(BusySlots(), 1);
    const TParticle& P = Particles[0];
    EXPECT_EQ(P.Kind, Action.Kind);
    EXPECT_EQ(P.Row, Row);
    EXPECT_EQ(P.Column, Column);
    EXPECT_EQ(P.Life, Life);
    EXPECT_EQ(P.Remaining, Life);
    EXPECT_EQ(P.R, Action.R);
    EXPECT_EQ(P.G, Action.G);
    EXPECT_EQ(P.B, Action.B);
    EXPECT_EQ(Bands[Action.Band].Cooldown, 13000);
    EXPECT_EQ(GetRandomSeed(), Reference.Seed);
}

INSTANTIATE_TEST_SUITE_P(
    EveryBand, BandActionTest,
    testing::Values(TBandAction{0, pkBurst, 0.9f, 0.8f, 0.8f, 11000},
                    TBandAction{9, pkBurst, 0.9f, 0.8f, 0.8f, 11000}, TBandAction{1, pkStar, 1, 1, 1, 14000},
                    TBandAction{10, pkStar, 1, 1, 1, 14000}, TBandAction{2, pkStretchX, 1, 1, 1, 11000},
                    TBandAction{11, pkStretchX, 1, 1, 1, 11000}, TBandAction{3, pkStretchY, 1, 1, 1, 12000},
                    TBandAction{12, pkStretchY, 1, 1, 1, 12000},
                    TBandAction{4, pkColumnSweep, 1, 0, 0, 17000},
                    TBandAction{13, pkColumnSweep, 1, 0, 0, 17000},
                    TBandAction{5, pkRowSweep, 1, 0, 0, 17000}, TBandAction{14, pkRowSweep, 1, 0, 0, 17000},
                    TBandAction{6, pkGlow, 1, 1, 1, 15000}, TBandAction{15, pkGlow, 1, 1, 1, 15000}),
    [](const testing::TestParamInfo<TBandAction>& Info) { return "Band" + std::to_string(Info.param.Band); });

TEST_F(SpectrumTest, BandSevenDarkensOrFlashesAndNeverSpawns) {
    MusicStream = 1;
    SetAllBins(1);
    bool Darkened = false, Flashed = false;
    for (uint32_t Seed = 1; Seed <= 20; Seed++) {
        for (TGridCell& C : Grid) C = {1, 0.5f, 0.25f};
        HoldAllBandsBut(7);
        SetRandomSeed(Seed);
        TReferenceRandom Reference{Seed};
        bool Darken = Reference.Next(2) == 0;
        AnalyseSpectrum(0, 0.66f);
        EXPECT_EQ(Cell(3, 3).R, Darken ? 0.1f : 2.0f);
        EXPECT_EQ(Cell(15, 8).B, Darken ? 0.25f * 0.1f : 0.5f);
        EXPECT_EQ(Bands[7].Cooldown, 13000);
        EXPECT_EQ(GetRandomSeed(), Reference.Seed);
        Darkened |= Darken;
        Flashed |= !Darken;
    }
    EXPECT_EQ(BusySlots(), 0);
    EXPECT_TRUE(Darkened && Flashed);
}

TEST_F(SpectrumTest, BandEightSpawnsStretchXStretchYAndGlow) {
    MusicStream = 1;
    SetAllBins(1);
    HoldAllBandsBut(8);
    TReferenceRandom Reference{GetRandomSeed()};
    AnalyseSpectrum(0, 0.66f);
    ASSERT_EQ(BusySlots(), 3);
    const uint8_t Kinds[] = {pkStretchX, pkStretchY, pkGlow};
    for (int32_t I = 0; I < 3; I++) {
        uint32_t Row = Reference.Next(9), Column = Reference.Next(16), Life = 13000 + Reference.Next(7000);
        EXPECT_EQ(Particles[I].Kind, Kinds[I]);
        EXPECT_EQ(Particles[I].Row, Row);
        EXPECT_EQ(Particles[I].Column, Column);
        EXPECT_EQ(Particles[I].Life, Life);
        EXPECT_EQ(Particles[I].R, 1.0f);
    }
}

TEST_F(SpectrumTest, BandEightSpawnsWhatFitsAndStillCoolsDown) {
    MusicStream = 1;
    SetAllBins(1);
    HoldAllBandsBut(8);
    for (int32_t Slot = 0; Slot < ParticleCount - 2; Slot++) SetParticle(Slot, pkBurst, 100000, 100000, 0, 0);
    TReferenceRandom Reference{GetRandomSeed()};
    for (int32_t I = 0; I < 9; I++) Reference.Next(1);
    AnalyseSpectrum(0, 0.66f);
    EXPECT_EQ(BusySlots(), ParticleCount);
    EXPECT_EQ(Particles[30].Kind, pkStretchX);
    EXPECT_EQ(Particles[31].Kind, pkStretchY);
    EXPECT_EQ(Bands[8].Cooldown, 13000);
    EXPECT_EQ(GetRandomSeed(), Reference.Seed); // the lost spawn drew its numbers too
}

TEST_F(SpectrumTest, TwoBandsFiringTogetherTakeSlotsInBandOrder) {
    MusicStream = 1;
    SetAllBins(1);
    HoldAllBandsBut(0);
    Bands[1].Cooldown = 0;
    AnalyseSpectrum(0, 0.66f);
    EXPECT_EQ(Particles[0].Kind, pkBurst);
    EXPECT_EQ(Particles[1].Kind, pkStar);
    EXPECT_EQ(BusySlots(), 2);
}

class DrawSceneTest : public EffectTest {
protected:
    void StartShow(int32_t Width, int32_t Height, QWORD Length) {
        BassScript::SetFileLength(Length);
        InitDemo(Window, Width, Height);
        GLRecord::Clear();
    }

    // The calls from the feedback texture's binding to the copy.
    std::vector<std::string> FeedbackTrace() {
        int32_t From = GLRecord::IndexOf("glBindTexture", GLRecord::IndexOf("glBindTexture") + 1);
        return GLRecord::Trace(From);
    }
};

TEST_F(DrawSceneTest, FirstFrameCountsTheBytesAlreadyRead) {
    StartShow(1024, 768, 100000);
    SetParticle(0, pkGlow, 10000, 10000, 0, 0);
    BassScript::SetPositions({5000});
    DrawScene();
    EXPECT_EQ(Particles[0].Remaining, 5000u);
    EXPECT_EQ(LastFilePos, 5000u);
}

TEST_F(DrawSceneTest, TheClockFollowsTheFilePositionFrameByFrame) {
    StartShow(1024, 768, 100000);
    SetParticle(0, pkGlow, 10000, 10000, 0, 0);
    BassScript::SetPositions({1000, 3000, 3000, 6000, 20000});
    std::vector<uint32_t> Remaining;
    for (int32_t Frame = 0; Frame < 5; Frame++) {
        DrawScene();
        Remaining.push_back(Particles[0].Remaining);
    }
    EXPECT_EQ(Remaining, (std::vector<uint32_t>{9000, 7000, 7000, 4000, 0}));
}

TEST_F(DrawSceneTest, TheThresholdFallsFromPoint66ToPoint26OverTheSong) {
    struct TPoint {
        QWORD Position;
        float Threshold;
    };
    for (TPoint Point : {TPoint{0, 0.66f}, {50000, 0.56f}, {100000, 0.26f}}) {
        for (bool Above : {false, true}) {
            ResetEffect();
            BassScript::Reset();
            StartShow(640, 480, 100000);
            BassScript::SetPositions({Point.Position});
            BassScript::SetSpectrumBin(0, Above ? std::nextafter(Point.Threshold, 1.0f) : Point.Threshold);
            DrawScene();
            EXPECT_EQ(Bands[0].Cooldown, Above ? 13000 : 0) << Point.Position;
        }
    }
}

TEST_F(DrawSceneTest, WithoutGlowTheFeedbackQuadCoversTheScreenAtPoint4) {
    StartShow(1024, 768, 100000);
    DrawScene();
    EXPECT_THAT(FeedbackTrace(),
                ElementsAre("glBindTexture(GL_TEXTURE_2D, 1)", "glColor4f(1, 1, 1, 0.4)", "glBegin(GL_QUADS)",
                            "glTexCoord2f(0, 0)", "glVertex2i(0, 768)", "glTexCoord2f(0.5, 0)",
                            "glVertex2i(1024, 768)", "glTexCoord2f(0.5, 0.75)", "glVertex2i(1024, 0)",
                            "glTexCoord2f(0, 0.75)", "glVertex2i(0, 0)", "glEnd()",
                            "glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 2048, 1024, 0)"));
}

TEST_F(DrawSceneTest, GlowWidensTheQuadAndZoomsStretchTheTexture) {
    StartShow(1024, 768, 100000);
    SetParticle(0, pkGlow, 4000, 1000, 0, 0);       // e = 0.5: m = Round(1.5) = 2
    SetParticle(1, pkStretchX, 1600, 100, 0, 0);    // e = 0.25: ZoomX = 1.5
    SetParticle(2, pkStretchY, 10000, 10000, 0, 0); // e = 1: ZoomY = 3
    DrawScene();
    EXPECT_THAT(FeedbackTrace(),
                ElementsAre("glBindTexture(GL_TEXTURE_2D, 1)", "glColor4f(1, 1, 1, 1.05)",
                            "glBegin(GL_QUADS)", "glTexCoord2f(0, 0)", "glVertex2i(-2, 770)",
                            "glTexCoord2f(0.75, 0)", "glVertex2i(1026, 770)", "glTexCoord2f(0.75, 2.25)",
                            "glVertex2i(1026, -2)", "glTexCoord2f(0, 2.25)", "glVertex2i(-2, -2)", "glEnd()",
                            "glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 2048, 1024, 0)"));
}

TEST_F(DrawSceneTest, TheMarginRoundsHalvesToEven) {
    StartShow(1024, 768, 100000);
    SetParticle(0, pkGlow, 4000, 4000, 0, 0);
    SetParticle(1, pkGlow, 4000, 1000, 0, 0); // Glow = 1.5: m = Round(4.5) = 4
    DrawScene();
    auto Quad = GLRecord::Primitives().back();
    EXPECT_EQ(Quad.Vertices[0].X, -4);
    EXPECT_EQ(Quad.Vertices[0].Y, 772);
    EXPECT_FLOAT_EQ(Quad.Vertices[0].A, 2.35f); // OpenGL clamps it, not the effect
}

TEST_F(DrawSceneTest, TextureCoordinatesFollowTheScreenToTextureRatio) {
    StartShow(1000, 600, 100000);
    DrawScene();
    auto Quad = GLRecord::Primitives().back();
    EXPECT_EQ(Quad.Texture, 1u);
    EXPECT_EQ(Quad.Vertices[2].S, 1000.0f / 1024);
    EXPECT_EQ(Quad.Vertices[2].T, 600.0f / 1024);
    EXPECT_EQ(Quad.Vertices[2].X, 1000);
    EXPECT_EQ(Quad.Vertices[0].Y, 600);
}

TEST_F(DrawSceneTest, SetsBlendingThenDrawsGridUntexturedThenTheCopy) {
    StartShow(1024, 768, 100000);
    DrawScene();
    EXPECT_THAT(GLRecord::TraceOf({"glEnable", "glDisable", "glBindTexture", "glCopyTexImage2D"}),
                ElementsAre("glEnable(GL_LINE_SMOOTH)", "glEnable(GL_BLEND)", "glDisable(GL_DEPTH_TEST)",
                            "glBindTexture(GL_TEXTURE_2D, 0)", "glBindTexture(GL_TEXTURE_2D, 1)",
                            "glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, 2048, 1024, 0)"));
    auto Shapes = GLRecord::Primitives();
    ASSERT_EQ(Shapes.size(), 2u * GridCells + 1);
    for (size_t I = 0; I < 2u * GridCells; I++) {
        EXPECT_EQ(Shapes[I].Texture, 0u);
        EXPECT_EQ(Shapes[I].Mode, static_cast<GLenum>(I % 2 ? GL_LINE_STRIP : GL_QUADS));
    }
    EXPECT_EQ(GLRecord::CountOf("glVertex2i"), GridCells * 7 + 4);
}

TEST_F(DrawSceneTest, TheGridShowsThisFramesDecayAndSpawns) {
    StartShow(1024, 768, 100000);
    for (TGridCell& C : Grid) C = {1, 1, 1};
    BassScript::SetSpectrumBin(0, 1); // band 0: a burst, applied in the same frame
    BassScript::SetPositions({100});
    TReferenceRandom Reference{GetRandomSeed()};
    int32_t Row = static_cast<int32_t>(Reference.Next(9)), Column = static_cast<int32_t>(Reference.Next(16));
    DrawScene();

    auto Shapes = GLRecord::Primitives();
    auto QuadOf = [&Shapes](int32_t C, int32_t R) { return Shapes[2 * (C * GridRows + R)].Vertices[0]; };
    auto Lit = QuadOf(Column, Row);
    EXPECT_FLOAT_EQ(Lit.R, 0.3f * 0.85f + 0.9f);
    EXPECT_FLOAT_EQ(Lit.G, 0.3f * 0.85f + 0.95f * 0.9f);
    auto Other = QuadOf((Column + 1) % 16, Row);
    EXPECT_EQ(Other.R, 0.85f);
}

TEST_F(DrawSceneTest, WithoutAStreamFramesAreStillDrawn) {
    BassScript::SetStream(0);
    StartShow(640, 480, 100000);
    for (int32_t Frame = 0; Frame < 3; Frame++) DrawScene();
    EXPECT_EQ(GLRecord::CountOf("glCopyTexImage2D"), 3);
    EXPECT_EQ(BusySlots(), 0);
    EXPECT_FALSE(MusicEnded());
}

} // namespace

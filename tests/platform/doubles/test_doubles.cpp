#include "bass_script.h"
#include "glrecord.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace {

using testing::ElementsAre;

class GLRecordTest : public testing::Test {
protected:
    void SetUp() override { GLRecord::Reset(); }
};

TEST_F(GLRecordTest, FormatsEnumsBitsAndNumbers) {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glBegin(GL_LINE_STRIP); // mode values overlap other enums
    glEnd();
    glColor4f(1, 0.5f, 0.1f, 0.4f);
    glOrtho(0, 1024, 768, 0, 0, 128);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, 0x1234);
    EXPECT_THAT(GLRecord::Trace(),
                ElementsAre("glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT)", "glBegin(GL_LINE_STRIP)",
                            "glEnd()", "glColor4f(1, 0.5, 0.1, 0.4)", "glOrtho(0, 1024, 768, 0, 0, 128)",
                            "glHint(GL_PERSPECTIVE_CORRECTION_HINT, 0x1234)"));
}

TEST_F(GLRecordTest, ReplaysVerticesWithTheCurrentColourTextureAndBinding) {
    glColor4f(1, 0, 0, 1);
    glBindTexture(GL_TEXTURE_2D, 3);
    glBegin(GL_QUADS);
    glTexCoord2f(0.5f, 0.25f);
    glVertex2i(1, 2);
    glColor4f(0, 1, 0, 0.5f);
    glVertex2i(3, 4);
    glEnd();
    glVertex2i(9, 9); // outside glBegin .. glEnd: not part of a primitive
    auto Shapes = GLRecord::Primitives();
    ASSERT_EQ(Shapes.size(), 1u);
    EXPECT_EQ(Shapes[0].Texture, 3u);
    ASSERT_EQ(Shapes[0].Vertices.size(), 2u);
    EXPECT_EQ(Shapes[0].Vertices[0].R, 1.0f);
    EXPECT_EQ(Shapes[0].Vertices[0].S, 0.5f);
    EXPECT_EQ(Shapes[0].Vertices[1].G, 1.0f);
    EXPECT_EQ(Shapes[0].Vertices[1].T, 0.25f);
    EXPECT_EQ(Shapes[0].Vertices[1].X, 3);
}

TEST_F(GLRecordTest, AFullLogCountsWhatItDrops) {
    for (int32_t I = 0; I < GLRecord::Capacity + 5; I++) glEnd();
    EXPECT_TRUE(GLRecord::Overflowed());
    EXPECT_EQ(GLRecord::TotalCalls(), GLRecord::Capacity + 5);
    EXPECT_EQ(GLRecord::Calls().size(), static_cast<size_t>(GLRecord::Capacity));
    GLRecord::SetRecording(false);
    GLRecord::Clear();
    glEnd();
    EXPECT_EQ(GLRecord::TotalCalls(), 0);
}

TEST_F(GLRecordTest, HandsOutTextureNamesFromOne) {
    GLuint Names[2] = {};
    glGenTextures(2, Names);
    EXPECT_EQ(Names[0], 1u);
    EXPECT_EQ(Names[1], 2u);
    EXPECT_EQ(GLRecord::IndexOf("glGenTextures"), 0);
    EXPECT_EQ(GLRecord::IndexOf("glGenTextures", 1), -1);
}

class BassScriptTest : public testing::Test {
protected:
    void SetUp() override { BassScript::Reset(); }
};

TEST_F(BassScriptTest, PositionsFollowTheScriptAndRepeatTheLast) {
    HSTREAM Stream = BASS_StreamCreateFile(FALSE, "a.mp3", 0, 0, 0);
    BassScript::SetFileLength(500);
    BassScript::SetPositions({10, 20});
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 10u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 20u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 20u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_END), 500u);
    BassScript::SetPositionRamp(100, 300);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 100u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 400u);
    EXPECT_EQ(BASS_StreamGetFilePosition(Stream, BASS_FILEPOS_CURRENT), 500u);
    EXPECT_STREQ(BassScript::Calls().StreamPath, "a.mp3");
}

TEST_F(BassScriptTest, OtherHandlesFailWithAllBitsSet) {
    BassScript::SetSpectrumBin(3, 0.5f);
    float Buffer[BassScript::SpectrumSize];
    Buffer[3] = 7;
    EXPECT_EQ(BASS_ChannelGetData(2, Buffer, BASS_DATA_FFT256), 0xFFFFFFFFu);
    EXPECT_EQ(Buffer[3], 7.0f);
    EXPECT_EQ(BASS_StreamGetFilePosition(0, BASS_FILEPOS_CURRENT), ~0ull);
    EXPECT_EQ(BASS_ChannelGetData(1, Buffer, BASS_DATA_FFT256), 512u);
    EXPECT_EQ(Buffer[3], 0.5f);

    BassScript::SetStream(0);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "missing.mp3", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_StreamGetFilePosition(0, BASS_FILEPOS_END), ~0ull);
    EXPECT_EQ(BassScript::Calls().PositionFailed, 2);
}

} // namespace

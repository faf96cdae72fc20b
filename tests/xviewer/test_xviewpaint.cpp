#include "loader_fixture.h"

#include "glrecord.h"
#include "xviewer.h"

namespace {

class Painting : public DefinitionFiles {
protected:
    void SetUp() override {
        DefinitionFiles::SetUp();
        GLRecord::Reset();
    }

    // Draws Root as the viewer does: xmDraw with Alpha 1.0 while Painter paints.
    std::string Draw(TXGuiObject& Root) {
        return CaptureOutput([&] {
            TXPaintScope Scope(Painter);
            TXDrawMessage Record;
            Record.Alpha = 1.0f;
            Root.Processmessage(xmDraw, &Record);
        });
    }

    // The untextured quads of the last draw with their colour, four vertices each.
    static std::vector<GLRecord::TVertex> Quads() {
        std::vector<GLRecord::TVertex> Corners;
        for (const GLRecord::TPrimitive& Primitive : GLRecord::Primitives())
            if (Primitive.Mode == GL_QUADS && Primitive.Texture == 0)
                Corners.insert(Corners.end(), Primitive.Vertices.begin(), Primitive.Vertices.end());
        return Corners;
    }

    TXViewPainter Painter;
};

const std::string Tree = "SELF.WIDTH = 100;\nSELF.HEIGHT = 60;\nSELF.ALPHA = 0.5;\n"
                         "NEW BOX = OBJECT: LEFT = 10; TOP = 5; WIDTH = 30; HEIGHT = 20; ALPHA = 0.5;\n"
                         "  COLOR : STRING = \"#FF8000\";\nEND;\nEND.\n";

TEST_F(Painting, AFilledRectangleInTheRecordsAlphaWithAOnePixelBorder) {
    auto Root = Load(Write("t.txt", Tree));
    TXViewPainter::InstallHandlers(*Root);
    Draw(*Root);
    std::vector<GLRecord::TVertex> Corners = Quads();
    // The root: fill and four border strips; then the box the same way.
    ASSERT_EQ(Corners.size(), size_t(2 * 5 * 4));
    const GLRecord::TVertex* Box = &Corners[20];
    EXPECT_EQ(Box[0].X, 0);
    EXPECT_EQ(Box[0].Y, 0);
    EXPECT_EQ(Box[2].X, 30);
    EXPECT_EQ(Box[2].Y, 20);
    EXPECT_FLOAT_EQ(Box[0].R, 1.0f);
    EXPECT_FLOAT_EQ(Box[0].G, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(Box[0].B, 0.0f);
    EXPECT_FLOAT_EQ(Box[0].A, 0.25f); // 1.0 x 0.5 x 0.5
    EXPECT_FLOAT_EQ(Corners[0].A, 0.5f);
    // Border strips: top row, bottom row, left and right columns between them.
    EXPECT_EQ(Box[5].Y - Box[4].Y, 0);
    EXPECT_EQ(Box[6].Y, 1);
    EXPECT_EQ(Box[8].Y, 19);
    EXPECT_EQ(Box[12].X, 0);
    EXPECT_EQ(Box[13].X, 1);
    EXPECT_EQ(Box[16].X, 29);
    EXPECT_NE(Box[4].R, Box[0].R);
    EXPECT_EQ(GLRecord::TraceOf({"glTranslatef"}),
              (std::vector<std::string>{"glTranslatef(0, 0, 0)", "glTranslatef(10, 5, 0)",
                                        "glTranslatef(-10, -5, 0)", "glTranslatef(-0, -0, 0)"}));
}

TEST_F(Painting, NothingIsDrawnOutsideAPainterOrForAnEmptyRectangle) {
    auto Root = Load(Write("t.txt", Tree));
    TXViewPainter::InstallHandlers(*Root);
    TXDrawMessage Record;
    Root->Processmessage(xmDraw, &Record);
    EXPECT_EQ(GLRecord::CountOf("glBegin"), 0);
    ChildOf(*Root, "BOX")->Height = 0;
    Root->Height = -4;
    Draw(*Root);
    EXPECT_EQ(GLRecord::CountOf("glBegin"), 0);
}

TEST_F(Painting, ColourFromColorElseTheDepthShadeLighterHoveredDarkerCaptured) {
    auto Root = Load(
        Write("t.txt", "NEW A = OBJECT: NEW B = OBJECT: COLOR : STRING = \"#3060a0\"; END; END;\nEND.\n"));
    TXGuiObject* A = ChildOf(*Root, "A");
    TXGuiObject* B = ChildOf(*A, "B");
    EXPECT_EQ(Painter.FillOf(*Root), DepthShade(0));
    EXPECT_EQ(Painter.FillOf(*A), DepthShade(1));
    EXPECT_NE(DepthShade(0), DepthShade(1));
    EXPECT_EQ(Painter.FillOf(*B), (TXColour{48.0f / 255, 96.0f / 255, 160.0f / 255}));
    Painter.DepthOffset = 2;
    EXPECT_EQ(Painter.FillOf(*A), DepthShade(3));
    Painter.DepthOffset = 0;
    TXViewPainter::InstallHandlers(*Root);
    Root->Width = Root->Height = 20;
    A->Width = B->Width = 10;
    A->Height = B->Height = 10;
    Painter.Hovered = A;
    Painter.Captured = B;
    Draw(*Root);
    std::vector<GLRecord::TVertex> Corners = Quads();
    ASSERT_EQ(Corners.size(), size_t(3 * 5 * 4));
    EXPECT_FLOAT_EQ(Corners[0].R, DepthShade(0).Red);
    EXPECT_FLOAT_EQ(Corners[20].R, Lighter(DepthShade(1)).Red);
    EXPECT_FLOAT_EQ(Corners[40].B, Darker(Painter.FillOf(*B)).Blue);
    EXPECT_GT(Lighter(DepthShade(1)).Green, DepthShade(1).Green);
    EXPECT_LT(Darker(DepthShade(1)).Green, DepthShade(1).Green);
}

TEST_F(Painting, AMalformedColorIsIgnoredWithOneLineNamingTheObject) {
    TXColour Colour;
    EXPECT_TRUE(ParseColour("#A0b0C0", Colour));
    for (const char* Bad : {"#A0B0C", "A0B0C0", "#A0B0CG", "#A0B0C00", "red"})
        EXPECT_FALSE(ParseColour(Bad, Colour)) << Bad;
    auto Root =
        Load(Write("t.txt", "SELF.WIDTH = 9;\nSELF.HEIGHT = 9;\n"
                            "NEW A = OBJECT: WIDTH = 5; HEIGHT = 5; COLOR : STRING = red; END;\nEND.\n"));
    TXViewPainter::InstallHandlers(*Root);
    EXPECT_EQ(Draw(*Root), "xview: SELF.A: COLOR \"RED\" is not #RRGGBB, ignored\r\n");
    EXPECT_EQ(Draw(*Root), "");
    EXPECT_EQ(Quads()[20].R, DepthShade(1).Red);
    StorePropertyString(ChildOf(*Root, "A")->FindProperty("COLOR")->Data, "#12");
    EXPECT_EQ(Draw(*Root), "xview: SELF.A: COLOR \"#12\" is not #RRGGBB, ignored\r\n");
}

TEST_F(Painting, CaptionElseTextLeftAlignedAndCutAtTheRectangle) {
    ASSERT_TRUE(Painter.HasFont());
    auto Root =
        Load(Write("t.txt", "SELF.WIDTH = 200;\nSELF.HEIGHT = 100;\nSELF.TEXT : STRING = \"Status\";\n"
                            "NEW A = OBJECT: WIDTH = 30; HEIGHT = 8;\n"
                            "  CAPTION : STRING = \"A caption far too long\"; TEXT : STRING = hidden;\nEND;\n"
                            "NEW B = OBJECT: WIDTH = 30; HEIGHT = 30; CAPTION : STRING; END;\n"
                            "NEW C = OBJECT: WIDTH = 30; HEIGHT = 20; TEXT : STRING = c; END;\nEND.\n"));
    EXPECT_EQ(TXViewPainter::TextOf(*ChildOf(*Root, "A")), "A caption far too long");
    EXPECT_EQ(TXViewPainter::TextOf(*ChildOf(*Root, "B")), "");
    EXPECT_EQ(TXViewPainter::TextOf(*Root), "Status");
    TXViewPainter::InstallHandlers(*Root);
    Draw(*Root);
    EXPECT_EQ(GLRecord::CountOf("glTexImage2D"), 3);
    std::vector<GLRecord::TPrimitive> Texts;
    for (const GLRecord::TPrimitive& Primitive : GLRecord::Primitives())
        if (Primitive.Texture != 0) Texts.push_back(Primitive);
    ASSERT_EQ(Texts.size(), size_t(3));
    int32_t Width = 0, Height = 0;
    Painter.MeasureText("Status", Width, Height);
    const GLRecord::TVertex* Status = Texts[0].Vertices.data();
    EXPECT_EQ(Status[0].X, TextIndent);
    EXPECT_EQ(Status[0].Y, TextIndent); // near the top of a tall rectangle
    EXPECT_EQ(Status[2].X, TextIndent + Width);
    EXPECT_FLOAT_EQ(Status[2].S, 1.0f);
    EXPECT_FLOAT_EQ(Status[0].R, 1.0f); // white on the dark shade
    // Too long and too high for 30 x 8: cut at 30 - indent and at the bottom.
    const GLRecord::TVertex* Caption = Texts[1].Vertices.data();
    EXPECT_EQ(Caption[0].Y, 0);
    EXPECT_EQ(Caption[2].X, 30 - TextIndent);
    EXPECT_EQ(Caption[2].Y, 8);
    EXPECT_LT(Caption[2].S, 1.0f);
    EXPECT_LT(Caption[2].T, 1.0f);
    // Centred in a row less than two lines high.
    Painter.MeasureText("C", Width, Height);
    EXPECT_EQ(Texts[2].Vertices[0].Y, (20 - Height) / 2);
    // Drawn again, the text comes from the same textures.
    GLRecord::Clear();
    Draw(*Root);
    EXPECT_EQ(GLRecord::CountOf("glTexImage2D"), 0);
}

TEST_F(Painting, TextIsDarkOnLightFills) {
    EXPECT_EQ(TextColour(TXColour{0.9f, 0.9f, 0.8f}).Red, TextColour(TXColour{1.0f, 1.0f, 1.0f}).Red);
    EXPECT_LT(TextColour(TXColour{0.9f, 0.9f, 0.8f}).Red, 0.5f);
    EXPECT_EQ(TextColour(DepthShade(0)), (TXColour{1.0f, 1.0f, 1.0f}));
}

} // namespace

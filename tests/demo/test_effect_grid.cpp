#include "effect_fixture.h"

#include <utility>
#include <vector>

namespace {

using GridTest = EffectTest;
using ParticleTest = EffectTest;
using BurstTest = EffectTest;

TEST_F(GridTest, AddCellColorIgnoresCellsOutsideTheGrid) {
    for (int32_t Column : {16, 17, 240, 255}) AddCellColor(static_cast<uint8_t>(Column), 0, 1, 1, 1);
    for (int32_t Row : {9, 10, 240, 255}) AddCellColor(0, static_cast<uint8_t>(Row), 1, 1, 1);
    EXPECT_EQ(LitCells(), 0);
    AddCellColor(15, 8, 1, 1, 1);
    EXPECT_EQ(Cell(15, 8).R, 1.0f);
    EXPECT_EQ(LitCells(), 1);
}

TEST_F(GridTest, AddCellColorDecaysThenAdds) {
    Grid[3 + 16 * 2] = {1.0f, 2.0f, 0.5f};
    AddCellColor(3, 2, 0.5f, 0, 1);
    EXPECT_FLOAT_EQ(Cell(3, 2).R, 0.8f);
    EXPECT_FLOAT_EQ(Cell(3, 2).G, 0.6f);
    EXPECT_FLOAT_EQ(Cell(3, 2).B, 1.15f);
}

TEST_F(GridTest, RepeatedWhiteApproachesOneOverPointSeven) {
    for (int32_t I = 0; I < 200; I++) AddCellColor(5, 5, 1, 1, 1);
    EXPECT_NEAR(Cell(5, 5).R, 1.0f / 0.7f, 1e-5);
    EXPECT_LT(Cell(5, 5).G, 1.4286f);
}

TEST_F(GridTest, ScaleGridScalesEveryCellWithoutClamping) {
    Grid[0] = {1.5f, 0.25f, 0};
    Grid[GridCells - 1] = {3, 1, 0.5f};
    ScaleGrid(2.0f);
    EXPECT_EQ(Grid[0].R, 3.0f);
    EXPECT_EQ(Grid[0].G, 0.5f);
    EXPECT_EQ(Grid[GridCells - 1].R, 6.0f);
    EXPECT_EQ(Grid[GridCells - 1].B, 1.0f);
    ScaleGrid(0.85f);
    EXPECT_EQ(Grid[0].R, 3.0f * 0.85f);
}

TEST_F(GridTest, PlotLineVisitsBothEndsAndEveryPointBetween) {
    PlotLine(0, 0, 15, 0, 1, 0, 0);
    for (int32_t Column = 0; Column < 16; Column++) EXPECT_EQ(Cell(Column, 0).R, 1.0f) << Column;
    EXPECT_EQ(LitCells(), 16);
}

TEST_F(GridTest, PlotLineRoundsHalvesToEven) {
    // Nine points; the middle one lies at x = 0.5, which rounds to 0.
    PlotLine(0, 0, 1, 8, 1, 1, 1);
    for (int32_t Row = 0; Row <= 4; Row++) EXPECT_EQ(Cell(0, Row).R, 1.0f) << Row;
    for (int32_t Row = 5; Row <= 8; Row++) EXPECT_EQ(Cell(1, Row).R, 1.0f) << Row;
    EXPECT_EQ(Cell(1, 4).R, 0.0f);
    EXPECT_EQ(LitCells(), 9);
}

TEST_F(GridTest, PlotLinePaintsACellVisitedTwiceTwice) {
    // Ten points from (0, 0) to (4, 8); points 4 and 5 both land on (2, 4).
    PlotLine(0, 0, 4, 8, 1, 1, 1);
    EXPECT_FLOAT_EQ(Cell(2, 4).R, 1.3f);
    EXPECT_EQ(Cell(2, 2).R, 0.0f);
    EXPECT_EQ(Cell(1, 2).R, 1.0f);
    EXPECT_EQ(Cell(4, 8).R, 1.0f);
    EXPECT_EQ(LitCells(), 9);
}

TEST_F(GridTest, PlotLineOfNoLengthPaintsItsPoint) {
    PlotLine(4, 4, 4, 4, 1, 1, 1);
    EXPECT_EQ(Cell(4, 4).R, 1.0f);
    EXPECT_EQ(LitCells(), 1);
}

TEST_F(GridTest, PlotLineClipsPointsOutsideTheGrid) {
    PlotLine(-8, 4, 20, 4, 1, 1, 1);
    EXPECT_EQ(LitCells(), 16);
}

TEST_F(ParticleTest, SpawnTakesTheFirstFreeSlot) {
    SetParticle(0, pkGlow, 100, 50, 0, 0);
    EXPECT_TRUE(SpawnParticle(pkStar, 14500, 3, 7, 0.5f, 0.25f, 1));
    const TParticle& P = Particles[1];
    EXPECT_EQ(P.Kind, pkStar);
    EXPECT_EQ(P.Life, 14500u);
    EXPECT_EQ(P.Remaining, 14500u);
    EXPECT_EQ(P.Column, 3);
    EXPECT_EQ(P.Row, 7);
    EXPECT_EQ(P.G, 0.25f);
    EXPECT_EQ(Particles[0].Remaining, 50u);
}

TEST_F(ParticleTest, FullPoolRefusesASpawnAndChangesNothing) {
    for (int32_t I = 0; I < ParticleCount; I++) ASSERT_TRUE(SpawnParticle(pkGlow, 1000 + I, 0, 0, 1, 1, 1));
    TParticle Before[ParticleCount];
    std::copy(std::begin(Particles), std::end(Particles), Before);
    EXPECT_FALSE(SpawnParticle(pkBurst, 5, 1, 1, 1, 1, 1));
    for (int32_t I = 0; I < ParticleCount; I++) {
        EXPECT_EQ(Particles[I].Kind, Before[I].Kind);
        EXPECT_EQ(Particles[I].Remaining, Before[I].Remaining);
    }
}

TEST_F(ParticleTest, AgeingSubtractsTheDeltaAndFreesSlotsThatRunOut) {
    SetParticle(0, pkGlow, 1000, 1000, 0, 0);
    SetParticle(1, pkGlow, 1000, 300, 0, 0);
    SetParticle(2, pkGlow, 1000, 301, 0, 0);
    AgeParticles(300);
    EXPECT_EQ(Particles[0].Remaining, 700u);
    EXPECT_EQ(Particles[1].Remaining, 0u);
    EXPECT_EQ(Particles[2].Remaining, 1u);
    AgeParticles(0);
    EXPECT_EQ(Particles[2].Remaining, 1u);
    AgeParticles(5000);
    EXPECT_EQ(BusySlots(), 0);
}

TEST_F(ParticleTest, AgeingComparesAsSigned32Bits) {
    SetParticle(0, pkGlow, 1000, 10, 0, 0);
    AgeParticles(-5);
    EXPECT_EQ(Particles[0].Remaining, 15u);
    // 3000000000 - 1 is above 2^31: negative as a signed number, so the slot is freed.
    SetParticle(1, pkGlow, 3000000000u, 3000000000u, 0, 0);
    AgeParticles(1);
    EXPECT_EQ(Particles[1].Remaining, 0u);
}

TEST_F(ParticleTest, FreeSlotsAreNotApplied) {
    Particles[0] = {1000, 0, pkBurst, 4, 4, 1, 1, 1};
    ApplyParticle(0);
    ApplyParticle(-1);
    ApplyParticle(ParticleCount);
    EXPECT_EQ(LitCells(), 0);
}

TEST_F(BurstTest, ShowsCentreRingsAndCentreAgainOverItsLife) {
    struct TStage {
        uint32_t Remaining; // of 1000: e = sqrt(Remaining / 1000)
        int32_t Cells;
    };
    // e = 1, 0.9, 0.7, 0.5 (3e = 1.5 rounds to 2), 0.3, 0.1
    for (TStage Stage : {TStage{1000, 1}, {810, 1}, {490, 8}, {250, 8}, {90, 4}, {10, 1}}) {
        ResetEffect();
        SetParticle(0, pkBurst, 1000, Stage.Remaining, 8, 4, 0.5f, 0.2f, 0.1f);
        ApplyParticle(0);
        EXPECT_EQ(LitCells(), Stage.Cells) << Stage.Remaining;
        if (Stage.Cells == 1) {
            EXPECT_EQ(Cell(8, 4).R, 0.5f);
            EXPECT_EQ(Cell(8, 4).G, static_cast<float>(0.95L * 0.5f));
            EXPECT_EQ(Cell(8, 4).B, Cell(8, 4).G);
        } else if (Stage.Cells == 8) {
            for (auto [C, R] : {std::pair{6, 4}, {7, 3}, {9, 3}, {10, 4}, {8, 2}, {8, 6}, {7, 5}, {9, 5}})
                EXPECT_EQ(Cell(C, R).R, static_cast<float>(0.5L * 0.5f)) << C << "," << R;
            EXPECT_EQ(Cell(8, 4).R, 0.0f);
        } else {
            for (auto [C, R] : {std::pair{7, 4}, {9, 4}, {8, 3}, {8, 5}}) {
                EXPECT_EQ(Cell(C, R).R, static_cast<float>(0.8L * 0.5f));
                EXPECT_EQ(Cell(C, R).B, static_cast<float>(0.8L * 0.1f));
            }
        }
    }
}

TEST_F(BurstTest, AtACornerPaintsOnlyTheCellsInsideTheGrid) {
    SetParticle(0, pkBurst, 1000, 490, 0, 0);
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 3);
    EXPECT_EQ(Cell(2, 0).R, 0.5f);
    EXPECT_EQ(Cell(0, 2).R, 0.5f);
    EXPECT_EQ(Cell(1, 1).R, 0.5f);

    ResetEffect();
    SetParticle(0, pkBurst, 1000, 90, 15, 8);
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 2);
    EXPECT_FLOAT_EQ(Cell(14, 8).R, 0.8f);
    EXPECT_FLOAT_EQ(Cell(15, 7).R, 0.8f);
}

TEST_F(ParticleTest, StarPaintsSixLinesTheLastOverTheFirst) {
    SetParticle(0, pkStar, 1000, 1000, 8, 4, 1, 0.5f, 0.25f);
    ApplyParticle(0);
    TGridCell Star[GridCells];
    std::copy(std::begin(Grid), std::end(Grid), Star);

    // At e = 1 the lines end at 8 + Round(16 sin a), 4 + Round(9 cos a), a = 0.8 + i * 72 degrees.
    ResetEffect();
    const std::pair<int32_t, int32_t> Ends[] = {{19, 10}, {22, 0}, {5, -5}, {-8, 3}, {1, 12}, {19, 10}};
    for (auto [X, Y] : Ends) PlotLine(8, 4, X, Y, 1, 0.5f, 0.25f);
    for (int32_t I = 0; I < GridCells; I++) {
        EXPECT_EQ(Star[I].R, Grid[I].R) << I;
        EXPECT_EQ(Star[I].B, Grid[I].B) << I;
    }
    EXPECT_FLOAT_EQ(Star[10 + 16 * 5].R, 1.3f); // on the first line, painted twice
}

TEST_F(ParticleTest, StarFadesWithItsStrength) {
    SetParticle(0, pkStar, 1000, 250, 8, 4, 1, 1, 1);
    ApplyParticle(0);
    // At e = 0.5 the first (and sixth) line runs from (8, 4) through (11, 8) to (14, 12):
    // that cell gets 0.5 twice.
    EXPECT_FLOAT_EQ(Cell(11, 8).R, 0.65f);
    EXPECT_EQ(Cell(8, 4).G, Cell(8, 4).R);
}

TEST_F(ParticleTest, ColumnSweepStartsOutsideAndMovesLeft) {
    SetParticle(0, pkColumnSweep, 10000, 10000, 3, 3, 1, 0, 0);
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 0); // k = 16

    SetParticle(0, pkColumnSweep, 10000, 2500, 3, 3, 1, 0, 0); // e = 0.5: column 8
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 9);
    for (int32_t Row = 0; Row < GridRows; Row++) EXPECT_EQ(Cell(8, Row).R, 0.5f);

    ResetEffect();
    SetParticle(0, pkColumnSweep, 1024, 289, 3, 3, 1, 0, 0); // e = 17/32: Round(8.5) = 8
    ApplyParticle(0);
    EXPECT_EQ(Cell(8, 0).R, 0.53125f);
    EXPECT_EQ(LitCells(), 9);

    ResetEffect();
    SetParticle(0, pkColumnSweep, 10000, 1, 3, 3, 1, 0, 0); // e = 0.01: column 0
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 9);
    EXPECT_FLOAT_EQ(Cell(0, 8).R, 0.01f);
}

TEST_F(ParticleTest, RowSweepStartsAtTheTopAndLeavesAtTheBottom) {
    SetParticle(0, pkRowSweep, 10000, 10000, 3, 3, 1, 0, 0);
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 16);
    EXPECT_EQ(Cell(0, 0).R, 1.0f);
    EXPECT_EQ(Cell(15, 0).R, 1.0f);

    ResetEffect();
    SetParticle(0, pkRowSweep, 10000, 100, 3, 3, 1, 0, 0); // e = 0.1: row Round(8.1) = 8
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 16);
    EXPECT_FLOAT_EQ(Cell(7, 8).R, 0.1f);

    ResetEffect();
    SetParticle(0, pkRowSweep, 10000, 1, 3, 3, 1, 0, 0); // e = 0.01: row 9, outside
    ApplyParticle(0);
    EXPECT_EQ(LitCells(), 0);
}

TEST_F(ParticleTest, StretchAndGlowAddTheirStrengthToTheFrameValues) {
    ZoomX = ZoomY = 1.0f;
    Glow = 0;
    SetParticle(0, pkStretchX, 1000, 1000, 0, 0);
    SetParticle(1, pkStretchX, 1000, 250, 0, 0);
    SetParticle(2, pkStretchY, 1000, 250, 0, 0);
    SetParticle(3, pkGlow, 1000, 250, 0, 0);
    SetParticle(4, pkGlow, 1000, 90, 0, 0);
    SetParticle(5, 7, 1000, 1000, 0, 0); // no such kind: nothing
    for (int32_t Slot = 0; Slot < 6; Slot++) ApplyParticle(Slot);
    EXPECT_EQ(ZoomX, 4.0f);
    EXPECT_EQ(ZoomY, 2.0f);
    EXPECT_FLOAT_EQ(Glow, 0.8f);
    EXPECT_EQ(LitCells(), 0);
}

TEST_F(GridTest, DrawGridDrawsACellQuadAndItsTopLeftEdgePerCell) {
    ScreenWidth = 1024;
    ScreenHeight = 768;
    Grid[0] = {0.5f, 0.25f, 2.0f};
    Grid[15 + 16 * 8] = {1, 0, 0};
    DrawGrid();
    auto Shapes = GLRecord::Primitives();
    ASSERT_EQ(Shapes.size(), 2u * GridCells);

    // Column by column, row by row within a column.
    const auto& First = Shapes[0];
    EXPECT_EQ(First.Mode, static_cast<GLenum>(GL_QUADS));
    ASSERT_EQ(First.Vertices.size(), 4u);
    std::vector<std::pair<int32_t, int32_t>> Corners;
    for (const auto& V : First.Vertices) Corners.push_back({V.X, V.Y});
    EXPECT_EQ(Corners, (std::vector<std::pair<int32_t, int32_t>>{{0, 0}, {64, 0}, {64, 85}, {0, 85}}));
    EXPECT_EQ(First.Vertices[0].R, 0.5f);
    EXPECT_EQ(First.Vertices[3].B, 2.0f);
    EXPECT_EQ(First.Vertices[0].A, 1.0f);

    const auto& Edge = Shapes[1];
    EXPECT_EQ(Edge.Mode, static_cast<GLenum>(GL_LINE_STRIP));
    Corners.clear();
    for (const auto& V : Edge.Vertices) {
        Corners.push_back({V.X, V.Y});
        EXPECT_EQ(V.R + V.G + V.B, 0.0f);
        EXPECT_EQ(V.A, 1.0f);
    }
    EXPECT_EQ(Corners, (std::vector<std::pair<int32_t, int32_t>>{{64, 0}, {0, 0}, {0, 85}}));

    EXPECT_EQ(Shapes[2].Vertices[0].Y, 85);     // cell (0, 1)
    EXPECT_EQ(Shapes[2 * 9].Vertices[0].X, 64); // cell (1, 0)
    const auto& Last = Shapes[2 * (GridCells - 1)];
    EXPECT_EQ(Last.Vertices[0].X, 960);
    EXPECT_EQ(Last.Vertices[0].Y, 682);
    EXPECT_EQ(Last.Vertices[2].X, 1024);
    EXPECT_EQ(Last.Vertices[2].Y, 767);
    EXPECT_EQ(Last.Vertices[1].R, 1.0f);
}

TEST_F(GridTest, DrawGridLeavesStripsWhenTheScreenIsNotAMultipleOfTheGrid) {
    ScreenWidth = 1000;
    ScreenHeight = 700;
    DrawGrid();
    auto Shapes = GLRecord::Primitives();
    const auto& Last = Shapes[2 * (GridCells - 1)];
    EXPECT_EQ(Last.Vertices[0].X, 937); // 15 * 1000 div 16
    EXPECT_EQ(Last.Vertices[0].Y, 622); // 8 * 700 div 9
    EXPECT_EQ(Last.Vertices[2].X, 999);
    EXPECT_EQ(Last.Vertices[2].Y, 699);
}

} // namespace

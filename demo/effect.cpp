#include "effect.h"

#include "xrandom.h"

#include <GL/gl.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

TGridCell Grid[GridCells];
TParticle Particles[ParticleCount];
int32_t ScreenWidth, ScreenHeight;
int32_t TextureWidth, TextureHeight;
uint32_t FeedbackTexture;
HSTREAM MusicStream;
uint32_t LastFilePos;
float ZoomX, ZoomY;
float Glow;
uint32_t MusicLength;
TBand Bands[BandCount];

namespace {

constexpr long double Pi = 3.141592653589793238462643383279502884L;
constexpr int32_t BandCooldown = 13000;
constexpr int32_t LifeSpread = 7000;
constexpr int32_t PathCapacity = 4096;

// Round to nearest, ties to even (the default rounding mode). A value with no 32-bit
// result (NaN, infinity, out of range) gives the integer indefinite, as the FPU does.
int32_t Round(long double Value) {
    long double Rounded = std::nearbyint(Value);
    if (!(Rounded >= -2147483648.0L && Rounded <= 2147483647.0L)) return INT32_MIN;
    return static_cast<int32_t>(Rounded);
}

// e: 1.0 at spawn, falling towards 0 as the particle ages.
float ParticleStrength(const TParticle& Particle) {
    return static_cast<float>(std::sqrt(static_cast<long double>(Particle.Remaining) / Particle.Life));
}

void ApplyBurst(const TParticle& Particle, float E) {
    int32_t Col = Particle.Column, Row = Particle.Row;
    auto Paint = [](int32_t Column, int32_t RowIndex, float R, float G, float B) {
        AddCellColor(static_cast<uint8_t>(Column), static_cast<uint8_t>(RowIndex), R, G, B);
    };
    switch (Round(3.0L * E)) {
    case 1: {
        float R = static_cast<float>(0.8L * Particle.R), G = static_cast<float>(0.8L * Particle.G),
              B = static_cast<float>(0.8L * Particle.B);
        Paint(Col - 1, Row, R, G, B);
        Paint(Col + 1, Row, R, G, B);
        Paint(Col, Row - 1, R, G, B);
        Paint(Col, Row + 1, R, G, B);
        break;
    }
    case 2: {
        float R = static_cast<float>(0.5L * Particle.R), G = static_cast<float>(0.5L * Particle.G),
              B = static_cast<float>(0.5L * Particle.B);
        Paint(Col - 2, Row, R, G, B);
        Paint(Col - 1, Row - 1, R, G, B);
        Paint(Col + 1, Row - 1, R, G, B);
        Paint(Col + 2, Row, R, G, B);
        Paint(Col, Row - 2, R, G, B);
        Paint(Col, Row + 2, R, G, B);
        Paint(Col - 1, Row + 1, R, G, B);
        Paint(Col + 1, Row + 1, R, G, B);
        break;
    }
    default: {
        float Red = Particle.R, Other = static_cast<float>(0.95L * Particle.R);
        Paint(Col, Row, Red, Other, Other);
        break;
    }
    }
}

void ApplyStar(const TParticle& Particle, float E) {
    float R = E * Particle.R, G = E * Particle.G, B = E * Particle.B;
    for (int32_t I = 0; I <= 5; I++) {
        long double Angle = 0.8L * E + I * Pi / 2.5L;
        PlotLine(Particle.Column, Particle.Row, Particle.Column + Round(16.0L * std::sin(Angle)),
                 Particle.Row + Round(9.0L * std::cos(Angle)), R, G, B);
    }
}

// Row, Column and Life are drawn in this order, also when no slot is free.
void SpawnRandom(uint8_t Kind, uint32_t LifeBase, float R, float G, float B) {
    uint8_t Row = static_cast<uint8_t>(Random(GridRows));
    uint8_t Column = static_cast<uint8_t>(Random(GridColumns));
    uint32_t Life = LifeBase + Random(LifeSpread);
    SpawnParticle(Kind, Life, Column, Row, R, G, B);
}

void FireBand(int32_t Band) {
    switch (Band % 9) {
    case 0: SpawnRandom(pkBurst, 11000, 0.9f, 0.8f, 0.8f); break;
    case 1: SpawnRandom(pkStar, 14000, 1, 1, 1); break;
    case 2: SpawnRandom(pkStretchX, 11000, 1, 1, 1); break;
    case 3: SpawnRandom(pkStretchY, 12000, 1, 1, 1); break;
    case 4: SpawnRandom(pkColumnSweep, 17000, 1, 0, 0); break;
    case 5: SpawnRandom(pkRowSweep, 17000, 1, 0, 0); break;
    case 6: SpawnRandom(pkGlow, 15000, 1, 1, 1); break;
    case 7:
        if (Random(2) == 0)
            ScaleGrid(0.1f);
        else
            ScaleGrid(2.0f);
        break;
    case 8:
        SpawnRandom(pkStretchX, 13000, 1, 1, 1);
        SpawnRandom(pkStretchY, 13000, 1, 1, 1);
        SpawnRandom(pkGlow, 13000, 1, 1, 1);
        break;
    }
}

} // namespace

int32_t NextPowerOfTwo(int32_t V) {
    for (int32_t I = 0; I <= 15; I++)
        if (V < (1 << I)) return 1 << I;
    return 0;
}

void CreateFeedbackTexture(int32_t Width, int32_t Height) {
    size_t Size = Width > 0 && Height > 0 ? static_cast<size_t>(Width) * static_cast<size_t>(Height) * 3 : 0;
    auto Scratch = std::make_unique<uint8_t[]>(Size); // zeroed: the texture starts black
    glGenTextures(1, &FeedbackTexture);
    glBindTexture(GL_TEXTURE_2D, FeedbackTexture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, Width, Height, 0, GL_RGB, GL_UNSIGNED_BYTE, Scratch.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
}

const char* ChooseMusicFile(const char* ProgramPath) {
    static constexpr char Pattern[] = ".MP3";
    size_t Length = std::strlen(ProgramPath);
    for (size_t Start = 0; Start + 4 <= Length; Start++) {
        size_t Matched = 0;
        while (Matched < 4) {
            char C = ProgramPath[Start + Matched];
            if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
            if (C != Pattern[Matched]) break;
            Matched++;
        }
        if (Matched == 4) return ProgramPath;
    }
    return "music.mp3";
}

void InitDemo(HWND Window, int32_t Width, int32_t Height) {
    char ProgramPath[PathCapacity] = {};
    GetModuleFileNameA(nullptr, ProgramPath, PathCapacity);
    ProgramPath[PathCapacity - 1] = 0;
    InitDemoWithMusic(Window, Width, Height, ChooseMusicFile(ProgramPath));
}

void InitDemoWithMusic(HWND Window, int32_t Width, int32_t Height, const char* MusicFile) {
    BASS_Init(-1, 44100, 0, Window, nullptr);
    ScreenWidth = Width;
    ScreenHeight = Height;
    TextureWidth = NextPowerOfTwo(Width);
    TextureHeight = NextPowerOfTwo(Height);
    CreateFeedbackTexture(TextureWidth, TextureHeight);
    MusicStream = BASS_StreamCreateFile(FALSE, MusicFile, 0, 0, 0);
    BASS_ChannelPlay(MusicStream, FALSE);
    MusicLength = static_cast<uint32_t>(BASS_StreamGetFilePosition(MusicStream, BASS_FILEPOS_END));
}

bool MusicEnded() {
    QWORD Position = BASS_StreamGetFilePosition(MusicStream, BASS_FILEPOS_CURRENT);
    int64_t Left = static_cast<int64_t>(static_cast<uint64_t>(MusicLength) - Position);
    return Left < 10;
}

void ScaleGrid(float Factor) {
    for (TGridCell& Cell : Grid) {
        Cell.R *= Factor;
        Cell.G *= Factor;
        Cell.B *= Factor;
    }
}

void AddCellColor(uint8_t Column, uint8_t Row, float R, float G, float B) {
    if (Column >= GridColumns || Row >= GridRows) return;
    TGridCell& Cell = Grid[Column + GridColumns * Row];
    Cell.R = static_cast<float>(0.3L * Cell.R + R);
    Cell.G = static_cast<float>(0.3L * Cell.G + G);
    Cell.B = static_cast<float>(0.3L * Cell.B + B);
}

void PlotLine(int32_t X0, int32_t Y0, int32_t X1, int32_t Y1, float R, float G, float B) {
    int64_t DX = static_cast<int64_t>(X0) - X1, DY = static_cast<int64_t>(Y0) - Y1;
    int32_t Points = Round(std::sqrt(static_cast<long double>(DX * DX + DY * DY)));
    for (int32_t I = 0; I <= Points; I++) {
        // A line of no length is its start point.
        float T = Points > 0 ? static_cast<float>(static_cast<long double>(I) / Points) : 0.0f;
        float U = static_cast<float>(1.0L - T);
        int32_t X = Round(static_cast<long double>(X0) * U + static_cast<long double>(X1) * T);
        int32_t Y = Round(static_cast<long double>(Y0) * U + static_cast<long double>(Y1) * T);
        AddCellColor(static_cast<uint8_t>(X), static_cast<uint8_t>(Y), R, G, B);
    }
}

bool SpawnParticle(uint8_t Kind, uint32_t Life, uint8_t Column, uint8_t Row, float R, float G, float B) {
    for (TParticle& Particle : Particles) {
        if (Particle.Remaining != 0) continue;
        Particle.Kind = Kind;
        Particle.Column = Column;
        Particle.Row = Row;
        Particle.R = R;
        Particle.G = G;
        Particle.B = B;
        Particle.Remaining = Life;
        Particle.Life = Life;
        return true;
    }
    return false;
}

void AgeParticles(int32_t D) {
    for (TParticle& Particle : Particles) {
        if (Particle.Remaining == 0) continue;
        if (static_cast<int32_t>(Particle.Remaining - static_cast<uint32_t>(D)) > 0)
            Particle.Remaining -= static_cast<uint32_t>(D);
        else
            Particle.Remaining = 0;
    }
}

void ApplyParticle(int32_t Slot) {
    if (Slot < 0 || Slot >= ParticleCount) return;
    const TParticle& Particle = Particles[Slot];
    if (Particle.Remaining == 0) return;
    float E = ParticleStrength(Particle);
    switch (Particle.Kind) {
    case pkBurst: ApplyBurst(Particle, E); break;
    case pkStar: ApplyStar(Particle, E); break;
    case pkStretchX: ZoomX = ZoomX + 2.0f * E; break;
    case pkStretchY: ZoomY = ZoomY + 2.0f * E; break;
    case pkColumnSweep: {
        int32_t K = Round(16.0L * E);
        PlotLine(K, 0, K, 8, E * Particle.R, E * Particle.G, E * Particle.B);
        break;
    }
    case pkRowSweep: {
        int32_t K = Round(9.0L * (1.0L - E));
        PlotLine(0, K, 15, K, E * Particle.R, E * Particle.G, E * Particle.B);
        break;
    }
    case pkGlow: Glow = Glow + E; break;
    default: break;
    }
}

void DrawGrid() {
    int64_t Width = ScreenWidth, Height = ScreenHeight;
    int32_t W = static_cast<int32_t>(Width / GridColumns), H = static_cast<int32_t>(Height / GridRows);
    for (int32_t C = 0; C < GridColumns; C++) {
        int32_t X = static_cast<int32_t>(C * Width / GridColumns);
        for (int32_t R = 0; R < GridRows; R++) {
            int32_t Y = static_cast<int32_t>(R * Height / GridRows);
            const TGridCell& Cell = Grid[C + GridColumns * R];
            glColor4f(Cell.R, Cell.G, Cell.B, 1.0f);
            glBegin(GL_QUADS);
            glVertex2i(X, Y);
            glVertex2i(X + W, Y);
            glVertex2i(X + W, Y + H);
            glVertex2i(X, Y + H);
            glEnd();
            glColor4f(0, 0, 0, 1.0f);
            glBegin(GL_LINE_STRIP);
            glVertex2i(X + W, Y);
            glVertex2i(X, Y);
            glVertex2i(X, Y + H);
            glEnd();
        }
    }
}

void DrawFeedbackQuad() {
    int32_t SW = ScreenWidth, SH = ScreenHeight;
    int32_t M = Round(3.0L * Glow);
    float S = static_cast<float>(static_cast<long double>(SW) * ZoomX / TextureWidth);
    float T = static_cast<float>(static_cast<long double>(SH) * ZoomY / TextureHeight);
    glColor4f(1, 1, 1, static_cast<float>(0.4L + 1.3L * Glow));
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2i(-M, SH + M);
    glTexCoord2f(S, 0);
    glVertex2i(SW + M, SH + M);
    glTexCoord2f(S, T);
    glVertex2i(SW + M, -M);
    glTexCoord2f(0, T);
    glVertex2i(-M, -M);
    glEnd();
}

void AnalyseSpectrum(int32_t D, float T) {
    float Spectrum[SpectrumBins] = {}; // stays zero when the call fails
    for (TBand& Band : Bands) Band.Value = 0;
    BASS_ChannelGetData(MusicStream, Spectrum, BASS_DATA_FFT256);
    for (int32_t K = 0; K < SpectrumBins; K++) Bands[K / 8].Value += Spectrum[K];
    for (int32_t B = 1; B < BandCount; B++) Bands[B].Value += Spectrum[B];

    for (int32_t J = 0; J < BandCount; J++) {
        TBand& Band = Bands[J];
        if (Band.Cooldown > 0) {
            // Wraps like the 32-bit register it was; D may be negative.
            Band.Cooldown =
                static_cast<int32_t>(static_cast<uint32_t>(Band.Cooldown) - static_cast<uint32_t>(D));
            if (Band.Cooldown <= 0) Band.Cooldown = 0;
        }
        if (Band.Cooldown != 0) continue;
        if ((0.8L * J + 1.0L) * Band.Value > T) {
            FireBand(J);
            Band.Cooldown = BandCooldown;
        }
    }
}

void DrawScene() {
    ZoomX = 1.0f;
    ZoomY = 1.0f;
    Glow = 0.0f;
    uint32_t Position = static_cast<uint32_t>(BASS_StreamGetFilePosition(MusicStream, BASS_FILEPOS_CURRENT));
    long double Progress = static_cast<long double>(Position) / MusicLength;
    float Threshold = static_cast<float>(0.66L - 0.4L * (Progress * Progress));
    int32_t D = static_cast<int32_t>(Position - LastFilePos);
    LastFilePos = Position;

    AgeParticles(D);
    ScaleGrid(0.85f);
    AnalyseSpectrum(D, Threshold);

    glEnable(GL_LINE_SMOOTH);
    glEnable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    for (int32_t Slot = 0; Slot < ParticleCount; Slot++) ApplyParticle(Slot);

    glBindTexture(GL_TEXTURE_2D, 0);
    DrawGrid();
    glBindTexture(GL_TEXTURE_2D, FeedbackTexture);
    DrawFeedbackQuad();
    glCopyTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, 0, 0, TextureWidth, TextureHeight, 0);
}

void ResetEffect() {
    std::fill(std::begin(Grid), std::end(Grid), TGridCell{});
    std::fill(std::begin(Particles), std::end(Particles), TParticle{});
    std::fill(std::begin(Bands), std::end(Bands), TBand{});
    ScreenWidth = ScreenHeight = 0;
    TextureWidth = TextureHeight = 0;
    FeedbackTexture = 0;
    MusicStream = 0;
    LastFilePos = 0;
    ZoomX = ZoomY = 0.0f;
    Glow = 0.0f;
    MusicLength = 0;
}

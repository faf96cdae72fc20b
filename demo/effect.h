#pragma once

// The show's picture: a 16 x 9 light grid lit by a pool of short-lived particles that the
// music's spectrum spawns, overlaid each frame with a translucent, zoomed copy of the
// previous frame taken from a texture. The clock is the number of bytes of the music file
// the decoder has read, not wall-clock time.
//
// All state is fixed-size and lives for the whole process; nothing is allocated per frame.
// Every call runs on the thread that owns the current OpenGL context.

#include <bass.h>
#include <windows.h>

#include <cstdint>

constexpr int32_t GridColumns = 16;
constexpr int32_t GridRows = 9;
constexpr int32_t GridCells = GridColumns * GridRows;
constexpr int32_t ParticleCount = 32;
constexpr int32_t BandCount = 16;
constexpr int32_t SpectrumBins = 128;

// Intensities are not clamped; OpenGL clamps them when the grid is drawn.
struct TGridCell {
    float R, G, B;
};

enum TParticleKind : uint8_t {
    pkBurst,       // a centre cell or a ring around (Column, Row)
    pkStar,        // six lines from (Column, Row) across the grid
    pkStretchX,    // widens the feedback copy's texture extent
    pkStretchY,    // heightens it
    pkColumnSweep, // a full-height bar moving from right to left
    pkRowSweep,    // a full-width bar moving from top to bottom
    pkGlow,        // makes the feedback copy more opaque and larger
};

struct TParticle {
    uint32_t Life;      // total lifetime, in bytes of music file read
    uint32_t Remaining; // lifetime left; 0 means the slot is free
    uint8_t Kind;
    uint8_t Column;
    uint8_t Row;
    float R, G, B;
};

struct TBand {
    float Value;      // this frame's loudness
    int32_t Cooldown; // bytes of file still to be read before the band may fire again
};

// Module state, zero at program start.
extern TGridCell Grid[GridCells]; // cell (column, row) is element column + 16 * row
extern TParticle Particles[ParticleCount];
extern int32_t ScreenWidth, ScreenHeight;
extern int32_t TextureWidth, TextureHeight; // powers of two above the screen size
extern uint32_t FeedbackTexture;
extern HSTREAM MusicStream;  // 0 when the stream could not be created
extern uint32_t LastFilePos; // file position seen by the previous frame
extern float ZoomX, ZoomY;   // texture extent of the feedback copy; 1.0 at the start of a frame
extern float Glow;           // feedback opacity and margin; 0.0 at the start of a frame
extern uint32_t MusicLength; // low 32 bits of the file length
extern TBand Bands[BandCount];

// Set-up, once, with the window's rendering context current: starts the audio output,
// creates the feedback texture and starts the music. The music is the program's own file
// when its full path contains ".MP3" in any letter case, otherwise "music.mp3".
void InitDemo(HWND Window, int32_t Width, int32_t Height);
// The same set-up with MusicFile as the music (the recorder's, which plays the file it is given).
void InitDemoWithMusic(HWND Window, int32_t Width, int32_t Height, const char* MusicFile);
// The file to play for a program at ProgramPath: ProgramPath itself or "music.mp3".
const char* ChooseMusicFile(const char* ProgramPath);
// True once the decoder has read the file to within 10 bytes of its end.
bool MusicEnded();
// The least power of two 1..32768 strictly greater than V; 0 when there is none.
int32_t NextPowerOfTwo(int32_t V);
void CreateFeedbackTexture(int32_t Width, int32_t Height);

// One frame: clock, particles, spectrum, grid, feedback copy and copy-back.
void DrawScene();

// The grid and the particles.
void ScaleGrid(float Factor);
// Decays the cell to 30 % and adds the colour; coordinates outside the grid (callers pass
// small negative ones modulo 256) change nothing.
void AddCellColor(uint8_t Column, uint8_t Row, float R, float G, float B);
void PlotLine(int32_t X0, int32_t Y0, int32_t X1, int32_t Y1, float R, float G, float B);
// Takes the first free slot; false, and nothing changed, when all are busy.
bool SpawnParticle(uint8_t Kind, uint32_t Life, uint8_t Column, uint8_t Row, float R, float G, float B);
// Ages every busy slot by the frame's clock delta D, freeing those that run out.
void AgeParticles(int32_t D);
// Paints one slot's particle into the grid or adds it to ZoomX, ZoomY or Glow.
void ApplyParticle(int32_t Slot);
void DrawGrid();
// The previous frame from the feedback texture, laid over what is drawn.
void DrawFeedbackQuad();

// Folds the spectrum into the bands and fires the loud ones: D is the frame's clock delta,
// T the trigger threshold.
void AnalyseSpectrum(int32_t D, float T);

// Returns every part of the module state to zero (tests start from here).
void ResetEffect();

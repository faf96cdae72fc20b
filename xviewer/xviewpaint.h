#pragma once

#include "xguiobject.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

struct _TTF_Font; // SDL2_ttf's TTF_Font

// What the viewer draws for one object (the handler of xmPaint it gives every object): a
// filled rectangle of the object's size in the record's alpha, a one-pixel border, and the
// object's CAPTION, or else its TEXT, left-aligned and cut off at the rectangle's edges.
//
// The fill is the "#RRGGBB" of a STRING property COLOR, or else a shade by the object's
// depth in the tree; the object under the pointer is drawn lighter, the captured one darker.
// Text is white on dark fills and near-black on light ones, drawn with SDL2_ttf.
//
// Only OpenGL 1.1 calls are made (quads, colours, 2D textures), all of them while a frame
// is drawn on the thread whose context is current.

struct TXColour {
    float Red = 0.0f, Green = 0.0f, Blue = 0.0f;
    bool operator==(const TXColour&) const = default;
};

// The viewer's start-up: GUI objects move their drawing origin with glTranslatef. Shut-down
// takes the routine back.
void StartViewer();
void StopViewer();

// "#RRGGBB" in either letter case; false, Colour unchanged, for anything else.
bool ParseColour(std::string_view Text, TXColour& Colour);
// The fill of an object without COLOR at Depth (the root is 0).
TXColour DepthShade(int32_t Depth);
TXColour Lighter(TXColour Colour);
TXColour Darker(TXColour Colour);
TXColour BorderColour(TXColour Fill);
TXColour TextColour(TXColour Fill);

// The name of Object for messages: the names from its tree's root down, joined by ".".
std::string ObjectPath(const TXGuiObject& Object);
// GUI objects above Object.
int32_t ObjectDepth(const TXGuiObject& Object);

// The font the viewer's text uses, from the fonts-dejavu-core package.
constexpr const char* ViewFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
constexpr int32_t ViewFontSize = 11;
// Text starts this far from the object's left edge.
constexpr int32_t TextIndent = 3;

class TXViewPainter {
public:
    // Opens the font; without it (one line says why) objects are drawn without their text.
    explicit TXViewPainter(const char* FontFile = ViewFontFile);
    // Deletes the text textures: the context they were made in must still be current.
    ~TXViewPainter();
    TXViewPainter(const TXViewPainter&) = delete;
    TXViewPainter& operator=(const TXViewPainter&) = delete;

    // Gives Root and every object below it the paint handler (SetHandler on xmPaint).
    static void InstallHandlers(TXGuiObject& Root);

    // One object's picture at the current origin (its own top-left corner).
    void Paint(TXGuiObject& Object, const TXDrawMessage& Record);

    // The fill Paint uses for Object (COLOR, or the depth shade), before hover and capture.
    TXColour FillOf(const TXGuiObject& Object);
    // The text Paint draws for Object: a non-empty CAPTION, else TEXT; empty for none.
    static std::string_view TextOf(const TXGuiObject& Object);

    bool HasFont() const { return Font != nullptr; }
    // The size of Text as drawn; 0 x 0 without a font.
    void MeasureText(std::string_view Text, int32_t& Width, int32_t& Height);
    // Forgets which objects' COLOR was reported, after a tree has been freed.
    void ForgetObjects() { Reported.clear(); }

    // Set by the viewer for each frame and each tree it draws.
    const TXGuiObject* Hovered = nullptr;  // drawn lighter
    const TXGuiObject* Captured = nullptr; // drawn darker
    int32_t DepthOffset = 0;               // depth of the tree's root

private:
    struct TTextTexture {
        uint32_t Name = 0; // 0: nothing to draw
        int32_t Width = 0, Height = 0;
    };
    const TTextTexture& TextureFor(std::string_view Text);
    void DrawText(std::string_view Text, int32_t Width, int32_t Height, TXColour Colour, float Alpha);
    void ClearTextures();

    _TTF_Font* Font = nullptr;
    std::unordered_map<std::string, TTextTexture> Textures;
    // Objects whose malformed COLOR was reported, with the text reported.
    std::unordered_map<const TXGuiObject*, std::string> Reported;
};

// While alive, the paint handlers on this thread draw with Painter; without one they draw
// nothing.
class TXPaintScope {
public:
    explicit TXPaintScope(TXViewPainter& Painter);
    ~TXPaintScope();
    TXPaintScope(const TXPaintScope&) = delete;
    TXPaintScope& operator=(const TXPaintScope&) = delete;

private:
    TXViewPainter* Previous;
};

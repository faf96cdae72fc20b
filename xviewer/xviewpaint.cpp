#include "xviewpaint.h"

#include "xlogging.h"

#include <GL/gl.h>
#include <SDL_ttf.h>

#include <algorithm>
#include <vector>

namespace {

thread_local TXViewPainter* ActivePainter = nullptr;

// Text textures kept at once; past it they are all made again as needed.
constexpr size_t MaxTextures = 4096;

constexpr TXColour Shades[] = {
    {0.16f, 0.18f, 0.22f}, {0.22f, 0.26f, 0.32f}, {0.28f, 0.34f, 0.42f},
    {0.24f, 0.38f, 0.40f}, {0.34f, 0.30f, 0.42f}, {0.40f, 0.36f, 0.30f},
};

int HexDigit(char Character) {
    if (Character >= '0' && Character <= '9') return Character - '0';
    if (Character >= 'a' && Character <= 'f') return Character - 'a' + 10;
    if (Character >= 'A' && Character <= 'F') return Character - 'A' + 10;
    return -1;
}

float Mix(float From, float To, float Share) {
    return From + (To - From) * Share;
}

float Luminance(TXColour Colour) {
    return 0.2126f * Colour.Red + 0.7152f * Colour.Green + 0.0722f * Colour.Blue;
}

void SetColour(TXColour Colour, float Alpha) {
    glColor4f(Colour.Red, Colour.Green, Colour.Blue, Alpha);
}

void Vertices(int32_t Left, int32_t Top, int32_t Right, int32_t Bottom) {
    glVertex2i(Left, Top);
    glVertex2i(Right, Top);
    glVertex2i(Right, Bottom);
    glVertex2i(Left, Bottom);
}

bool PaintHandler(TXObject* Self, void* Parameter) {
    auto* Object = dynamic_cast<TXGuiObject*>(Self);
    if (ActivePainter && Object && Parameter)
        ActivePainter->Paint(*Object, *static_cast<const TXDrawMessage*>(Parameter));
    return true;
}

std::string_view StringProperty(const TXGuiObject& Object, std::string_view Name) {
    const TXProperty* Property = Object.FindProperty(Name);
    if (!Property || Property->Kind != ptString || !Property->Data) return {};
    return LoadPropertyString(Property->Data);
}

} // namespace

bool ParseColour(std::string_view Text, TXColour& Colour) {
    if (Text.size() != 7 || Text[0] != '#') return false;
    float Channels[3];
    for (int Channel = 0; Channel < 3; Channel++) {
        int High = HexDigit(Text[size_t(1 + 2 * Channel)]), Low = HexDigit(Text[size_t(2 + 2 * Channel)]);
        if (High < 0 || Low < 0) return false;
        Channels[Channel] = float(High * 16 + Low) / 255.0f;
    }
    Colour = {Channels[0], Channels[1], Channels[2]};
    return true;
}

TXColour DepthShade(int32_t Depth) {
    constexpr int32_t Count = int32_t(std::size(Shades));
    return Shades[((Depth % Count) + Count) % Count];
}

TXColour Lighter(TXColour Colour) {
    constexpr float Share = 0.3f;
    return {Mix(Colour.Red, 1.0f, Share), Mix(Colour.Green, 1.0f, Share), Mix(Colour.Blue, 1.0f, Share)};
}

TXColour Darker(TXColour Colour) {
    constexpr float Factor = 0.65f;
    return {Colour.Red * Factor, Colour.Green * Factor, Colour.Blue * Factor};
}

TXColour BorderColour(TXColour Fill) {
    return Luminance(Fill) > 0.5f ? Darker(Darker(Fill)) : Lighter(Fill);
}

TXColour TextColour(TXColour Fill) {
    return Luminance(Fill) > 0.55f ? TXColour{0.08f, 0.08f, 0.08f} : TXColour{1.0f, 1.0f, 1.0f};
}

int32_t ObjectDepth(const TXGuiObject& Object) {
    int32_t Depth = 0;
    for (const TXObject* Above = Object.Parent; dynamic_cast<const TXGuiObject*>(Above);
         Above = Above->Parent)
        Depth++;
    return Depth;
}

std::string ObjectPath(const TXGuiObject& Object) {
    std::string Path(Object.Name.View());
    for (const TXObject* Above = Object.Parent; dynamic_cast<const TXGuiObject*>(Above);
         Above = Above->Parent)
        Path = std::string(Above->Name.View()) + "." + Path;
    return Path;
}

TXViewPainter::TXViewPainter(const char* FontFile) {
    if (TTF_Init() != 0) {
        LogLine(3, std::string("xview: text is not drawn, SDL2_ttf did not start: ") + TTF_GetError());
        return;
    }
    Font = TTF_OpenFont(FontFile, ViewFontSize);
    if (!Font) {
        LogLine(3, std::string("xview: text is not drawn, no font ") + FontFile + ": " + TTF_GetError());
        TTF_Quit();
    }
}

TXViewPainter::~TXViewPainter() {
    if (ActivePainter == this) ActivePainter = nullptr;
    ClearTextures();
    if (Font) {
        TTF_CloseFont(Font);
        TTF_Quit();
    }
}

void TXViewPainter::ClearTextures() {
    for (auto& [Text, Texture] : Textures)
        if (Texture.Name) glDeleteTextures(1, &Texture.Name);
    Textures.clear();
}

void TXViewPainter::InstallHandlers(TXGuiObject& Root) {
    Root.SetHandler(xmPaint, PaintHandler, &Root);
    for (int32_t Index = 0; Index < Root.ChildCount(); Index++)
        if (TXGuiObject* Child = Root.Child(Index)) InstallHandlers(*Child);
}

std::string_view TXViewPainter::TextOf(const TXGuiObject& Object) {
    std::string_view Caption = StringProperty(Object, "CAPTION");
    return Caption.empty() ? StringProperty(Object, "TEXT") : Caption;
}

TXColour TXViewPainter::FillOf(const TXGuiObject& Object) {
    TXColour Shade = DepthShade(DepthOffset + ObjectDepth(Object));
    std::string_view Text = StringProperty(Object, "COLOR");
    if (Text.empty()) return Shade;
    TXColour Given;
    if (ParseColour(Text, Given)) return Given;
    // One line per object and malformed text, not one a frame.
    auto Known = Reported.find(&Object);
    if (Known == Reported.end() || Known->second != Text) {
        Reported[&Object] = std::string(Text);
        LogLine(3, "xview: " + ObjectPath(Object) + ": COLOR \"" + std::string(Text) +
                       "\" is not #RRGGBB, ignored");
    }
    return Shade;
}

void TXViewPainter::Paint(TXGuiObject& Object, const TXDrawMessage& Record) {
    const int32_t Width = Object.Width, Height = Object.Height;
    if (Width <= 0 || Height <= 0) return;
    TXColour Fill = FillOf(Object);
    if (&Object == Captured)
        Fill = Darker(Fill);
    else if (&Object == Hovered)
        Fill = Lighter(Fill);
    const float Alpha = Record.Alpha;
    glDisable(GL_TEXTURE_2D);
    glBegin(GL_QUADS);
    SetColour(Fill, Alpha);
    Vertices(0, 0, Width, Height);
    SetColour(BorderColour(Fill), Alpha);
    Vertices(0, 0, Width, 1);
    if (Height > 1) Vertices(0, Height - 1, Width, Height);
    if (Height > 2) {
        Vertices(0, 1, 1, Height - 1);
        if (Width > 1) Vertices(Width - 1, 1, Width, Height - 1);
    }
    glEnd();
    std::string_view Text = TextOf(Object);
    if (!Text.empty()) DrawText(Text, Width, Height, TextColour(Fill), Alpha);
}

void TXViewPainter::MeasureText(std::string_view Text, int32_t& Width, int32_t& Height) {
    const TTextTexture& Texture = TextureFor(Text);
    Width = Texture.Width;
    Height = Texture.Height;
}

const TXViewPainter::TTextTexture& TXViewPainter::TextureFor(std::string_view Text) {
    std::string Key(Text);
    if (auto Found = Textures.find(Key); Found != Textures.end()) return Found->second;
    if (Textures.size() >= MaxTextures) ClearTextures();
    TTextTexture& Texture = Textures[Key];
    if (!Font) return Texture;
    // Property strings are bytes: Latin-1 text.
    SDL_Surface* Rendered = TTF_RenderText_Blended(Font, Key.c_str(), SDL_Color{255, 255, 255, 255});
    if (!Rendered) return Texture;
    SDL_Surface* Pixels = SDL_ConvertSurfaceFormat(Rendered, SDL_PIXELFORMAT_ARGB8888, 0);
    SDL_FreeSurface(Rendered);
    if (!Pixels) return Texture;
    // White, with the glyphs' coverage as alpha; the text colour comes from glColor.
    std::vector<uint8_t> Rgba(size_t(Pixels->w) * size_t(Pixels->h) * 4, 255);
    SDL_LockSurface(Pixels);
    for (int32_t Row = 0; Row < Pixels->h; Row++) {
        const auto* Source = reinterpret_cast<const uint32_t*>(static_cast<const uint8_t*>(Pixels->pixels) +
                                                               size_t(Row) * size_t(Pixels->pitch));
        for (int32_t Column = 0; Column < Pixels->w; Column++)
            Rgba[(size_t(Row) * size_t(Pixels->w) + size_t(Column)) * 4 + 3] = uint8_t(Source[Column] >> 24);
    }
    SDL_UnlockSurface(Pixels);
    Texture.Width = Pixels->w;
    Texture.Height = Pixels->h;
    SDL_FreeSurface(Pixels);
    GLuint Name = 0;
    glGenTextures(1, &Name);
    glBindTexture(GL_TEXTURE_2D, Name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, Texture.Width, Texture.Height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 Rgba.data());
    Texture.Name = Name;
    return Texture;
}

void TXViewPainter::DrawText(std::string_view Text, int32_t Width, int32_t Height, TXColour Colour,
                             float Alpha) {
    const TTextTexture& Texture = TextureFor(Text);
    if (!Texture.Name || Texture.Width <= 0 || Texture.Height <= 0) return;
    // Centred in a row of up to two lines of text, else near the top; cut at the right and
    // bottom edges.
    int32_t Top = 0;
    if (Height >= 2 * Texture.Height)
        Top = TextIndent;
    else if (Texture.Height < Height)
        Top = (Height - Texture.Height) / 2;
    const int32_t Shown = std::min(Texture.Width, Width - 2 * TextIndent);
    const int32_t ShownHeight = std::min(Texture.Height, Height - Top);
    if (Shown <= 0 || ShownHeight <= 0) return;
    const float Right = float(Shown) / float(Texture.Width);
    const float Bottom = float(ShownHeight) / float(Texture.Height);
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, Texture.Name);
    SetColour(Colour, Alpha);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2i(TextIndent, Top);
    glTexCoord2f(Right, 0.0f);
    glVertex2i(TextIndent + Shown, Top);
    glTexCoord2f(Right, Bottom);
    glVertex2i(TextIndent + Shown, Top + ShownHeight);
    glTexCoord2f(0.0f, Bottom);
    glVertex2i(TextIndent, Top + ShownHeight);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
}

TXPaintScope::TXPaintScope(TXViewPainter& Painter) : Previous(ActivePainter) {
    ActivePainter = &Painter;
}

TXPaintScope::~TXPaintScope() {
    ActivePainter = Previous;
}

namespace {

void TranslateOrigin(float X, float Y) {
    glTranslatef(X, Y, 0.0f);
}

} // namespace

void StartViewer() {
    SetDrawOffsetRoutine(TranslateOrigin);
}

void StopViewer() {
    SetDrawOffsetRoutine(nullptr);
}

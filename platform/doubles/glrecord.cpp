#include "glrecord.h"

#include <charconv>
#include <cstring>
#include <initializer_list>

namespace GLRecord {
namespace {

struct TArg {
    TArgKind Kind;
    double Value;
};

TCall Log[Capacity];
int32_t LogCount = 0;
int64_t CallCount = 0;
bool Recording = true;
GLuint NextTexture = 1;

#ifdef GLRECORD_NOOP
inline void Record(const char*, std::initializer_list<TArg>) {}
#else
void Record(const char* Name, std::initializer_list<TArg> Args) {
    if (!Recording) return;
    CallCount++;
    if (LogCount == Capacity) return;
    TCall& Call = Log[LogCount++];
    Call.Name = Name;
    Call.ArgCount = 0;
    for (const TArg& Arg : Args) {
        Call.Kinds[Call.ArgCount] = Arg.Kind;
        Call.Args[Call.ArgCount] = Arg.Value;
        Call.ArgCount++;
    }
}
#endif

TArg Int(GLint Value) {
    return {akInt, static_cast<double>(Value)};
}
TArg Unsigned(GLuint Value) {
    return {akUnsigned, static_cast<double>(Value)};
}
TArg Enum(GLenum Value) {
    return {akEnum, static_cast<double>(Value)};
}
TArg Bits(GLbitfield Value) {
    return {akBits, static_cast<double>(Value)};
}
TArg Float(GLfloat Value) {
    return {akFloat, static_cast<double>(Value)};
}
TArg Double(GLdouble Value) {
    return {akDouble, Value};
}
TArg Pointer(const void* Value) {
    return {akPointer, Value ? 1.0 : 0.0};
}

struct TEnumName {
    GLenum Value;
    const char* Name;
};

// The enums the show passes; glBegin's modes are looked up apart, their values overlap.
constexpr TEnumName EnumNames[] = {
    {GL_TEXTURE_2D, "GL_TEXTURE_2D"},
    {GL_SMOOTH, "GL_SMOOTH"},
    {GL_FLAT, "GL_FLAT"},
    {GL_DEPTH_TEST, "GL_DEPTH_TEST"},
    {GL_LEQUAL, "GL_LEQUAL"},
    {GL_LESS, "GL_LESS"},
    {GL_PERSPECTIVE_CORRECTION_HINT, "GL_PERSPECTIVE_CORRECTION_HINT"},
    {GL_NICEST, "GL_NICEST"},
    {GL_SRC_ALPHA, "GL_SRC_ALPHA"},
    {GL_ONE_MINUS_SRC_ALPHA, "GL_ONE_MINUS_SRC_ALPHA"},
    {GL_S, "GL_S"},
    {GL_T, "GL_T"},
    {GL_TEXTURE_GEN_MODE, "GL_TEXTURE_GEN_MODE"},
    {GL_SPHERE_MAP, "GL_SPHERE_MAP"},
    {GL_PROJECTION, "GL_PROJECTION"},
    {GL_MODELVIEW, "GL_MODELVIEW"},
    {GL_TEXTURE_ENV, "GL_TEXTURE_ENV"},
    {GL_TEXTURE_ENV_MODE, "GL_TEXTURE_ENV_MODE"},
    {GL_MODULATE, "GL_MODULATE"},
    {GL_RGB, "GL_RGB"},
    {GL_RGBA, "GL_RGBA"},
    {GL_UNSIGNED_BYTE, "GL_UNSIGNED_BYTE"},
    {GL_TEXTURE_MAG_FILTER, "GL_TEXTURE_MAG_FILTER"},
    {GL_TEXTURE_MIN_FILTER, "GL_TEXTURE_MIN_FILTER"},
    {GL_LINEAR, "GL_LINEAR"},
    {GL_NEAREST, "GL_NEAREST"},
    {GL_LINE_SMOOTH, "GL_LINE_SMOOTH"},
    {GL_BLEND, "GL_BLEND"},
};

constexpr TEnumName ModeNames[] = {
    {GL_POINTS, "GL_POINTS"},         {GL_LINES, "GL_LINES"},         {GL_LINE_LOOP, "GL_LINE_LOOP"},
    {GL_LINE_STRIP, "GL_LINE_STRIP"}, {GL_TRIANGLES, "GL_TRIANGLES"}, {GL_QUADS, "GL_QUADS"},
};

const char* FindName(std::span<const TEnumName> Names, GLenum Value) {
    for (const TEnumName& Entry : Names)
        if (Entry.Value == Value) return Entry.Name;
    return nullptr;
}

void AppendNumber(std::string& Text, double Value, TArgKind Kind) {
    char Buffer[64];
    std::to_chars_result Result;
    if (Kind == akFloat)
        Result = std::to_chars(Buffer, Buffer + sizeof Buffer, static_cast<float>(Value));
    else
        Result = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
    Text.append(Buffer, Result.ptr);
}

void AppendHex(std::string& Text, GLenum Value) {
    char Buffer[16];
    auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, Value, 16);
    Text += "0x";
    Text.append(Buffer, Result.ptr);
}

void AppendArg(std::string& Text, const TCall& Call, int32_t Index) {
    double Value = Call.Args[Index];
    GLenum Code = static_cast<GLenum>(Value);
    switch (Call.Kinds[Index]) {
    case akEnum: {
        bool IsMode = std::strcmp(Call.Name, "glBegin") == 0;
        const char* Name = IsMode ? FindName(ModeNames, Code) : FindName(EnumNames, Code);
        if (Name)
            Text += Name;
        else
            AppendHex(Text, Code);
        break;
    }
    case akBits: {
        const char* Separator = "";
        if (Code & GL_COLOR_BUFFER_BIT) {
            Text += "GL_COLOR_BUFFER_BIT";
            Separator = " | ";
        }
        if (Code & GL_DEPTH_BUFFER_BIT) {
            Text += Separator;
            Text += "GL_DEPTH_BUFFER_BIT";
            Separator = " | ";
        }
        GLenum Rest = Code & ~static_cast<GLenum>(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        if (Rest || !*Separator) {
            Text += Separator;
            AppendHex(Text, Rest);
        }
        break;
    }
    case akPointer: Text += Value != 0 ? "pointer" : "NULL"; break;
    default: AppendNumber(Text, Value, Call.Kinds[Index]); break;
    }
}

int32_t EndIndex(int32_t To) {
    return To < 0 || To > LogCount ? LogCount : To;
}

} // namespace

void Clear() {
    LogCount = 0;
    CallCount = 0;
}

void Reset() {
    Clear();
    Recording = true;
    NextTexture = 1;
}

void SetRecording(bool Enabled) {
    Recording = Enabled;
}

std::span<const TCall> Calls() {
    return {Log, static_cast<size_t>(LogCount)};
}

int64_t TotalCalls() {
    return CallCount;
}

bool Overflowed() {
    return CallCount > LogCount;
}

int32_t CountOf(const char* Name) {
    int32_t Count = 0;
    for (int32_t I = 0; I < LogCount; I++)
        if (std::strcmp(Log[I].Name, Name) == 0) Count++;
    return Count;
}

int32_t IndexOf(const char* Name, int32_t From) {
    for (int32_t I = From < 0 ? 0 : From; I < LogCount; I++)
        if (std::strcmp(Log[I].Name, Name) == 0) return I;
    return -1;
}

std::string Format(const TCall& Call) {
    std::string Text = Call.Name;
    Text += '(';
    for (int32_t I = 0; I < Call.ArgCount; I++) {
        if (I > 0) Text += ", ";
        AppendArg(Text, Call, I);
    }
    Text += ')';
    return Text;
}

std::vector<std::string> Trace(int32_t From, int32_t To) {
    std::vector<std::string> Lines;
    for (int32_t I = From < 0 ? 0 : From; I < EndIndex(To); I++) Lines.push_back(Format(Log[I]));
    return Lines;
}

std::vector<std::string> TraceOf(std::initializer_list<const char*> Names) {
    std::vector<std::string> Lines;
    for (int32_t I = 0; I < LogCount; I++)
        for (const char* Name : Names)
            if (std::strcmp(Log[I].Name, Name) == 0) Lines.push_back(Format(Log[I]));
    return Lines;
}

std::vector<TPrimitive> Primitives(int32_t From, int32_t To) {
    std::vector<TPrimitive> Result;
    TVertex Current{0, 0, 1, 1, 1, 1, 0, 0};
    GLuint Bound = 0;
    bool Inside = false;
    for (int32_t I = From < 0 ? 0 : From; I < EndIndex(To); I++) {
        const TCall& Call = Log[I];
        auto Arg = [&Call](int32_t Index) { return Call.Args[Index]; };
        std::string_view Name = Call.Name;
        if (Name == "glColor4f") {
            Current.R = static_cast<float>(Arg(0));
            Current.G = static_cast<float>(Arg(1));
            Current.B = static_cast<float>(Arg(2));
            Current.A = static_cast<float>(Arg(3));
        } else if (Name == "glTexCoord2f") {
            Current.S = static_cast<float>(Arg(0));
            Current.T = static_cast<float>(Arg(1));
        } else if (Name == "glBindTexture") {
            Bound = static_cast<GLuint>(Arg(1));
        } else if (Name == "glBegin") {
            Result.push_back({static_cast<GLenum>(Arg(0)), Bound, {}});
            Inside = true;
        } else if (Name == "glEnd") {
            Inside = false;
        } else if (Name == "glVertex2i" && Inside) {
            TVertex Vertex = Current;
            Vertex.X = static_cast<int32_t>(Arg(0));
            Vertex.Y = static_cast<int32_t>(Arg(1));
            Result.back().Vertices.push_back(Vertex);
        }
    }
    return Result;
}

} // namespace GLRecord

using namespace GLRecord;

extern "C" {

void GLAPIENTRY glEnable(GLenum Cap) {
    Record("glEnable", {Enum(Cap)});
}

void GLAPIENTRY glDisable(GLenum Cap) {
    Record("glDisable", {Enum(Cap)});
}

void GLAPIENTRY glClearColor(GLclampf Red, GLclampf Green, GLclampf Blue, GLclampf Alpha) {
    Record("glClearColor", {Float(Red), Float(Green), Float(Blue), Float(Alpha)});
}

void GLAPIENTRY glClearDepth(GLclampd Depth) {
    Record("glClearDepth", {Double(Depth)});
}

void GLAPIENTRY glShadeModel(GLenum Mode) {
    Record("glShadeModel", {Enum(Mode)});
}

void GLAPIENTRY glDepthFunc(GLenum Func) {
    Record("glDepthFunc", {Enum(Func)});
}

void GLAPIENTRY glHint(GLenum Target, GLenum Mode) {
    Record("glHint", {Enum(Target), Enum(Mode)});
}

void GLAPIENTRY glBlendFunc(GLenum Source, GLenum Destination) {
    Record("glBlendFunc", {Enum(Source), Enum(Destination)});
}

void GLAPIENTRY glTexGeni(GLenum Coord, GLenum Name, GLint Param) {
    Record("glTexGeni", {Enum(Coord), Enum(Name), Enum(static_cast<GLenum>(Param))});
}

void GLAPIENTRY glClear(GLbitfield Mask) {
    Record("glClear", {Bits(Mask)});
}

void GLAPIENTRY glMatrixMode(GLenum Mode) {
    Record("glMatrixMode", {Enum(Mode)});
}

void GLAPIENTRY glLoadIdentity() {
    Record("glLoadIdentity", {});
}

void GLAPIENTRY glViewport(GLint X, GLint Y, GLsizei Width, GLsizei Height) {
    Record("glViewport", {Int(X), Int(Y), Int(Width), Int(Height)});
}

void GLAPIENTRY glTranslatef(GLfloat X, GLfloat Y, GLfloat Z) {
    Record("glTranslatef", {Float(X), Float(Y), Float(Z)});
}

void GLAPIENTRY glOrtho(GLdouble Left, GLdouble Right, GLdouble Bottom, GLdouble Top, GLdouble Near,
                        GLdouble Far) {
    Record("glOrtho", {Double(Left), Double(Right), Double(Bottom), Double(Top), Double(Near), Double(Far)});
}

void GLAPIENTRY glGenTextures(GLsizei Count, GLuint* Names) {
    for (GLsizei I = 0; I < Count; I++) Names[I] = NextTexture++;
    Record("glGenTextures", {Int(Count), Pointer(Names)});
}

void GLAPIENTRY glDeleteTextures(GLsizei Count, const GLuint* Names) {
    Record("glDeleteTextures", {Int(Count), Pointer(Names)});
}

void GLAPIENTRY glBindTexture(GLenum Target, GLuint Texture) {
    Record("glBindTexture", {Enum(Target), Unsigned(Texture)});
}

void GLAPIENTRY glTexEnvi(GLenum Target, GLenum Name, GLint Param) {
    Record("glTexEnvi", {Enum(Target), Enum(Name), Enum(static_cast<GLenum>(Param))});
}

void GLAPIENTRY glTexParameteri(GLenum Target, GLenum Name, GLint Param) {
    Record("glTexParameteri", {Enum(Target), Enum(Name), Enum(static_cast<GLenum>(Param))});
}

void GLAPIENTRY glTexImage2D(GLenum Target, GLint Level, GLint InternalFormat, GLsizei Width, GLsizei Height,
                             GLint Border, GLenum Format, GLenum Type, const GLvoid* Pixels) {
    Record("glTexImage2D", {Enum(Target), Int(Level), Int(InternalFormat), Int(Width), Int(Height),
                            Int(Border), Enum(Format), Enum(Type), Pointer(Pixels)});
}

void GLAPIENTRY glCopyTexImage2D(GLenum Target, GLint Level, GLenum InternalFormat, GLint X, GLint Y,
                                 GLsizei Width, GLsizei Height, GLint Border) {
    Record("glCopyTexImage2D", {Enum(Target), Int(Level), Enum(InternalFormat), Int(X), Int(Y), Int(Width),
                                Int(Height), Int(Border)});
}

void GLAPIENTRY glBegin(GLenum Mode) {
    Record("glBegin", {Enum(Mode)});
}

void GLAPIENTRY glEnd() {
    Record("glEnd", {});
}

void GLAPIENTRY glColor4f(GLfloat Red, GLfloat Green, GLfloat Blue, GLfloat Alpha) {
    Record("glColor4f", {Float(Red), Float(Green), Float(Blue), Float(Alpha)});
}

void GLAPIENTRY glTexCoord2f(GLfloat S, GLfloat T) {
    Record("glTexCoord2f", {Float(S), Float(T)});
}

void GLAPIENTRY glVertex2i(GLint X, GLint Y) {
    Record("glVertex2i", {Int(X), Int(Y)});
}

} // extern "C"

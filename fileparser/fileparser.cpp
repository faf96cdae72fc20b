#include "fileparser.h"

#include "xlogging.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <limits>

#include <sys/stat.h>

namespace {

// A larger file (or an endless one such as a device) is refused with a message and read as
// an unreadable one.
constexpr size_t MaxFileSize = size_t{256} << 20;
constexpr std::string_view TooLargeMessage = ": file too large (over 256 MiB), not read";

enum TCharClass : uint8_t {
    ccWord = 0,
    ccSeparator = 1,
    ccSpace = 2,
    ccQuote = 3,
};

constexpr std::array<uint8_t, 256> MakeCharClasses() {
    std::array<uint8_t, 256> Classes{};
    for (char C : ParserSeparators) Classes[static_cast<uint8_t>(C)] = ccSeparator;
    Classes[' '] = ccSpace;
    Classes['"'] = ccQuote;
    return Classes;
}

constexpr std::array<uint8_t, 256> CharClasses = MakeCharClasses();

uint8_t ClassOf(char C) {
    return CharClasses[static_cast<uint8_t>(C)];
}
bool IsDecimalDigit(char C) {
    return C >= '0' && C <= '9';
}
bool IsUpperHexDigit(char C) {
    return IsDecimalDigit(C) || (C >= 'A' && C <= 'F');
}

char UpperCase(char C) {
    return C >= 'a' && C <= 'z' ? static_cast<char>(C - 'a' + 'A') : C;
}

// Length of the run at the front of Line whose characters pass Test.
template <typename TTest> size_t RunLength(std::string_view Line, TTest Test) {
    size_t Length = 0;
    while (Length < Line.size() && Test(Line[Length])) Length++;
    return Length;
}

void CutWord(std::string_view& Line, std::string& Token) {
    size_t Length = RunLength(Line, [](char C) { return ClassOf(C) == ccWord; });
    Token.resize(Length);
    for (size_t Index = 0; Index < Length; Index++) Token[Index] = UpperCase(Line[Index]);
    Line.remove_prefix(Length);
}

// The opening quote is already gone; a doubled quote stands for one, and the line's end
// closes an unclosed string.
void CutString(std::string_view& Line, std::string& Token) {
    for (;;) {
        size_t Quote = Line.find('"');
        if (Quote == std::string_view::npos) {
            Token.append(Line);
            Line.remove_prefix(Line.size());
            return;
        }
        Token.append(Line.substr(0, Quote));
        Line.remove_prefix(Quote + 1);
        if (!Line.starts_with('"')) return;
        Token.push_back('"');
        Line.remove_prefix(1);
    }
}

void MoveRun(std::string_view& Line, std::string& Token, size_t Length) {
    Token.append(Line.substr(0, Length));
    Line.remove_prefix(Length);
}

// Lines end at LF, CR LF or a lone CR; a last line without an end still counts.
std::vector<std::string> SplitLines(std::string_view Text) {
    std::vector<std::string> Lines;
    size_t Start = 0;
    while (Start < Text.size() && Lines.size() < static_cast<size_t>(std::numeric_limits<int32_t>::max())) {
        size_t End = Text.find_first_of("\r\n", Start);
        if (End == std::string_view::npos) {
            Lines.emplace_back(Text.substr(Start));
            break;
        }
        Lines.emplace_back(Text.substr(Start, End - Start));
        Start = End + (Text[End] == '\r' && End + 1 < Text.size() && Text[End + 1] == '\n' ? 2 : 1);
    }
    return Lines;
}

enum TReadResult : uint8_t { rrRead, rrUnreadable, rrTooLarge };

TReadResult ReadWholeFile(const std::string& Name, std::string& Contents) {
    std::FILE* File = std::fopen(Name.c_str(), "rb");
    if (!File) return rrUnreadable;
    // A regular file's size is known before reading; an endless one shows itself while read.
    struct stat Info;
    bool TooLarge = fstat(fileno(File), &Info) == 0 && S_ISREG(Info.st_mode) &&
                    static_cast<uint64_t>(Info.st_size) > MaxFileSize;
    char Chunk[65536];
    size_t Read;
    while (!TooLarge && (Read = std::fread(Chunk, 1, sizeof Chunk, File)) > 0) {
        TooLarge = Contents.size() + Read > MaxFileSize;
        if (!TooLarge) Contents.append(Chunk, Read);
    }
    bool Failed = std::ferror(File) != 0; // a directory opens but does not read
    std::fclose(File);
    if (TooLarge) {
        Contents.clear();
        return rrTooLarge;
    }
    return Failed ? rrUnreadable : rrRead;
}

} // namespace

std::string_view TokenKindName(uint8_t Kind) {
    switch (Kind) {
    case tkWord: return "tkWord";
    case tkSymbol: return "tkSymbol";
    case tkString: return "tkString";
    case tkHexNumber: return "tkHexNumber";
    case tkNumber: return "tkNumber";
    case tkFloat: return "tkFloat";
    default: return "tk?";
    }
}

std::string NativeFileName(std::string_view FileName) {
    std::string Native(FileName);
#ifndef _WIN32
    for (char& C : Native) {
        if (C == '\\') C = '/';
    }
#endif
    return Native;
}

// ---- TParsingRules ----

void TParsingRules::TrimLine(std::string_view Source, std::string_view& Result) {
    size_t First = Source.find_first_not_of(' ');
    if (First == std::string_view::npos) {
        Result = Source.substr(Source.size());
        return;
    }
    Result = Source.substr(First, Source.find_last_not_of(' ') - First + 1);
}

void TParsingRules::TakeToken(std::string_view& Line, std::string& Token) {
    Token.clear();
    TokenKind = tkWord;
    if (Line.empty()) return;
    if (Line.starts_with("//")) {
        Line.remove_prefix(Line.size());
        return;
    }
    char First = Line.front();
    if (ClassOf(First) == ccSeparator) {
        TokenKind = tkSymbol;
        Token.push_back(First);
        Line.remove_prefix(1);
    } else if (Line.starts_with("0x") || First == '$') {
        TokenKind = tkHexNumber;
        Line.remove_prefix(First == '$' ? 1 : 2);
        MoveRun(Line, Token, RunLength(Line, IsUpperHexDigit));
    } else if (IsDecimalDigit(First)) {
        TokenKind = tkNumber;
        size_t Length = RunLength(Line, IsDecimalDigit);
        if (Length < Line.size() && Line[Length] == '.') {
            TokenKind = tkFloat;
            Length++;
            Length += RunLength(Line.substr(Length), IsDecimalDigit);
        }
        MoveRun(Line, Token, Length);
    } else if (First == '"') {
        TokenKind = tkString;
        Line.remove_prefix(1);
        CutString(Line, Token);
    } else {
        CutWord(Line, Token);
    }
    Line.remove_prefix(RunLength(Line, [](char C) { return C == ' '; }));
}

// ---- TFileParser ----

TFileParser::TFileParser(std::string_view Name, std::unique_ptr<TParsingRules> ParsingRules)
    : Rules(ParsingRules ? std::move(ParsingRules) : std::make_unique<TParsingRules>()), FileName(Name) {
    std::string Contents;
    TReadResult Result = ReadWholeFile(NativeFileName(FileName), Contents);
    if (Result != rrRead) {
        if (Result == rrTooLarge) LogLine(3, FileName + std::string(TooLargeMessage));
        AtEnd = true;
        return;
    }
    LoadText(Contents);
}

TFileParser::TFileParser(std::string_view Name, std::unique_ptr<TParsingRules> ParsingRules,
                         std::string_view Text)
    : Rules(ParsingRules ? std::move(ParsingRules) : std::make_unique<TParsingRules>()), FileName(Name) {
    LoadText(Text);
}

TFileParser::~TFileParser() {
    LineCount = 0;
    Lines.clear();
}

void TFileParser::LoadText(std::string_view Text) {
    Lines = SplitLines(Text);
    LineCount = static_cast<int32_t>(Lines.size());
    Rewind();
}

void TFileParser::NextToken(std::string& Token) {
    // An empty cut (a comment, spaces, a bare "$") reads on, each step saving the
    // previous state again so that PushBack returns to just after the skipped text.
    for (;;) {
        PrevRest = Rest;
        PrevLineIndex = LineIndex;
        Token.clear();
        while (Rest.empty() && !AtEnd) {
            if (LineIndex < LineCount - 1)
                LineIndex++;
            else
                AtEnd = true;
            if (AtEnd) return;
            Rules->TrimLine(Lines[static_cast<size_t>(LineIndex)], Rest);
        }
        size_t Before = Rest.size();
        Rules->TakeToken(Rest, Token);
        if (!Token.empty() || AtEnd || Rules->TokenKind == tkString) break;
        if (Rest.size() == Before) // rules that cut nothing: skip the line rather than loop
            Rest = Rest.substr(Rest.size());
    }
    LastToken = Token;
}

std::string TFileParser::NextToken() {
    std::string Token;
    NextToken(Token);
    return Token;
}

void TFileParser::PushBack() {
    Rest = PrevRest;
    LineIndex = PrevLineIndex;
}

void TFileParser::SavePosition(TFileParserPosition& Position) const {
    Position.PrevLineIndex = PrevLineIndex;
    Position.LineIndex = LineIndex;
    Position.PrevRest = PrevRest;
    Position.Rest = Rest;
    Position.LastToken = LastToken;
}

void TFileParser::RestorePosition(const TFileParserPosition& Position) {
    PrevLineIndex = Position.PrevLineIndex;
    LineIndex = Position.LineIndex;
    PrevRest = Position.PrevRest;
    Rest = Position.Rest;
    LastToken = Position.LastToken;
}

void TFileParser::Rewind() {
    LineIndex = 0;
    AtEnd = LineCount == 0;
    LastToken.clear();
    Rest = LineCount > 0 ? std::string_view(Lines[0]) : std::string_view();
}

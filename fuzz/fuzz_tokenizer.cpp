// The tokenizer over arbitrary bytes: the whole text read token by token, from memory and
// from a file, with push-back and saved positions on the way.

#include "fileparser.h"
#include "fuzzsupport.h"

#include <string_view>

namespace {

bool IsSeparator(char C) {
    return ParserSeparators.find(C) != std::string_view::npos;
}
bool IsDigit(char C) {
    return C >= '0' && C <= '9';
}
bool AllOf(std::string_view Text, bool (*Test)(char)) {
    for (char C : Text)
        if (!Test(C)) return false;
    return true;
}

// What each kind of token may look like. No token holds a line break.
void CheckToken(std::string_view Token, uint8_t Kind) {
    FUZZ_CHECK(Token.find_first_of("\r\n") == std::string_view::npos);
    switch (Kind) {
    case tkWord:
        FUZZ_CHECK(AllOf(Token, [](char C) {
            return !IsSeparator(C) && C != ' ' && C != '"' && !(C >= 'a' && C <= 'z');
        }));
        break;
    case tkSymbol: FUZZ_CHECK(Token.size() == 1 && IsSeparator(Token[0])); break;
    case tkString: break;
    case tkHexNumber:
        FUZZ_CHECK(!Token.empty() &&
                   AllOf(Token, [](char C) { return IsDigit(C) || (C >= 'A' && C <= 'F'); }));
        break;
    case tkNumber: FUZZ_CHECK(!Token.empty() && AllOf(Token, IsDigit)); break;
    case tkFloat: {
        size_t Point = Token.find('.');
        FUZZ_CHECK(Point != std::string_view::npos && Point > 0);
        FUZZ_CHECK(AllOf(Token.substr(0, Point), IsDigit) && AllOf(Token.substr(Point + 1), IsDigit));
        break;
    }
    default: FUZZ_CHECK(!"a token kind that is no kind");
    }
}

bool IsEnd(const TFileParser& Parser, const std::string& Token) {
    return Token.empty() && (Parser.Rules->TokenKind != tkString || Parser.AtEnd);
}

void ReadAll(TFileParser& Parser, size_t TextSize) {
    std::string Token, Again;
    size_t Count = 0;
    for (;;) {
        Parser.NextToken(Token);
        if (IsEnd(Parser, Token)) break;
        const uint8_t Kind = Parser.Rules->TokenKind;
        CheckToken(Token, Kind);
        FUZZ_CHECK(Parser.LastToken == Token);
        FUZZ_CHECK(Parser.LineIndex >= 0 && Parser.LineIndex < Parser.LineCount);
        // Every token but the quoted empty string consumes at least one character.
        FUZZ_CHECK(++Count <= TextSize);

        if (Count % 7 == 0) { // one step back reads the same token again
            Parser.PushBack();
            Parser.NextToken(Again);
            FUZZ_CHECK(Again == Token && Parser.Rules->TokenKind == Kind);
        }
        if (Count % 13 == 0) { // a saved position reads the same tokens again
            TFileParserPosition Position;
            Parser.SavePosition(Position);
            const bool WasAtEnd = Parser.AtEnd;
            std::string Ahead[3];
            for (std::string& Next : Ahead) Parser.NextToken(Next);
            const bool Reached = Parser.AtEnd;
            Parser.RestorePosition(Position);
            FUZZ_CHECK(Parser.LastToken == Token);
            if (!Reached || WasAtEnd)
                for (const std::string& Next : Ahead) {
                    Parser.NextToken(Again);
                    FUZZ_CHECK(Again == Next);
                }
            Parser.RestorePosition(Position);
        }
    }
    // The end stays the end. (After the last line has been reached, an empty cut such as a
    // bare "$" in a restored rest also reads as the end, with text left behind it.)
    FUZZ_CHECK(Parser.AtEnd);
    if (Parser.Rest.empty()) {
        Parser.NextToken(Token);
        FUZZ_CHECK(Token.empty() && Parser.LastToken.empty() && Parser.Rules->TokenKind == tkWord);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    static TFuzzFile File;
    const std::string_view Text(reinterpret_cast<const char*>(Data), Size);

    TFileParser Parser("fuzz.txt", nullptr, Text);
    FUZZ_CHECK(Parser.LineCount == static_cast<int32_t>(Parser.Lines.size()));
    FUZZ_CHECK(Parser.AtEnd == (Parser.LineCount == 0));
    for (const std::string& Line : Parser.Lines) FUZZ_CHECK(Line.find_first_of("\r\n") == std::string::npos);
    ReadAll(Parser, Size);

    // Read back from a file, the same lines and the same tokens (short inputs only: the
    // reading is the same for long ones, and the fuzzer spends its time better elsewhere).
    if (Size > 4096) return 0;
    File.Write(Data, Size);
    TFileParser FromFile(File.Name(), nullptr);
    FUZZ_CHECK(FromFile.Lines == Parser.Lines);
    Parser.Rewind();
    for (;;) {
        std::string Token = Parser.NextToken(), Other = FromFile.NextToken();
        FUZZ_CHECK(Token == Other && Parser.Rules->TokenKind == FromFile.Rules->TokenKind);
        FUZZ_CHECK(Parser.LineIndex == FromFile.LineIndex);
        if (IsEnd(Parser, Token)) break;
    }
    return 0;
}

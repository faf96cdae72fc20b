#include "fileparser.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

struct TToken {
    int32_t Line;
    uint8_t Kind;
    std::string Text;
    bool operator==(const TToken&) const = default;
};

std::ostream& operator<<(std::ostream& Stream, const TToken& Token) {
    return Stream << Token.Line << ' ' << TokenKindName(Token.Kind) << " [" << Token.Text << ']';
}

// Every token up to the end of the text.
std::vector<TToken> AllTokens(TFileParser& Parser) {
    std::vector<TToken> Tokens;
    std::string Token;
    for (;;) {
        Parser.NextToken(Token);
        if (Token.empty() && (Parser.AtEnd || Parser.Rules->TokenKind != tkString)) return Tokens;
        Tokens.push_back({Parser.LineIndex, Parser.Rules->TokenKind, Token});
    }
}

std::vector<TToken> Tokenize(std::string_view Text) {
    TFileParser Parser("memory", nullptr, Text);
    return AllTokens(Parser);
}

// Texts of the tokens of one line, with their kinds.
using TCut = std::vector<std::pair<std::string, uint8_t>>;
TCut Cut(std::string_view Line) {
    TCut Cuts;
    for (auto& Token : Tokenize(Line)) Cuts.emplace_back(Token.Text, Token.Kind);
    return Cuts;
}

using TempFiles = TempFolderTest;

// ---- Cutting tokens ----

TEST(TokenCutting, DeclarationLineWithComment) {
    std::vector<TToken> Expected = {{0, tkWord, "VAR"},  {0, tkWord, "X"},   {0, tkSymbol, "="},
                                    {0, tkFloat, "1.5"}, {0, tkSymbol, ";"}, {1, tkWord, "NEXT"}};
    EXPECT_EQ(Tokenize("  VAR x = 1.5; // note\nnext"), Expected);
}

TEST(TokenCutting, SymbolsAreSingleCharactersAndOtherMarksJoinWords) {
    EXPECT_EQ(Cut("a==b"), (TCut{{"A", tkWord}, {"=", tkSymbol}, {"=", tkSymbol}, {"B", tkWord}}));
    EXPECT_EQ(Cut("a&&b"), (TCut{{"A&&B", tkWord}}));
    EXPECT_EQ(Cut("a & b"), (TCut{{"A", tkWord}, {"&", tkWord}, {"B", tkWord}}));
    EXPECT_EQ(Cut("!x"), (TCut{{"!X", tkWord}}));
    EXPECT_EQ(Cut("<>"), (TCut{{"<", tkSymbol}, {">", tkSymbol}}));
    EXPECT_EQ(Cut("ab\"cd\"x1"), (TCut{{"AB", tkWord}, {"cd", tkString}, {"X1", tkWord}}));
    EXPECT_EQ(Cut("\xe4q_#'"), (TCut{{"\xe4Q_#'", tkWord}}));
}

TEST(TokenCutting, HexadecimalNumbers) {
    EXPECT_EQ(Cut("$1F"), (TCut{{"1F", tkHexNumber}}));
    EXPECT_EQ(Cut("0x1F"), (TCut{{"1F", tkHexNumber}}));
    EXPECT_EQ(Cut("$ff"), (TCut{{"FF", tkWord}}));
    EXPECT_EQ(Cut("0xff"), (TCut{{"FF", tkWord}}));
    EXPECT_EQ(Cut("$1fz"), (TCut{{"1", tkHexNumber}, {"FZ", tkWord}}));
}

TEST(TokenCutting, DecimalNumbersEndAtTheFirstForeignCharacter) {
    EXPECT_EQ(Cut("12AB"), (TCut{{"12", tkNumber}, {"AB", tkWord}}));
    EXPECT_EQ(Cut("1.2.3"), (TCut{{"1.2", tkFloat}, {".", tkSymbol}, {"3", tkNumber}}));
    EXPECT_EQ(Cut(".5"), (TCut{{".", tkSymbol}, {"5", tkNumber}}));
    EXPECT_EQ(Cut("-5"), (TCut{{"-", tkSymbol}, {"5", tkNumber}}));
    EXPECT_EQ(Cut("7."), (TCut{{"7.", tkFloat}}));
}

TEST(TokenCutting, QuotedStrings) {
    EXPECT_EQ(Cut("\"ab\"\"c\""), (TCut{{"ab\"c", tkString}}));
    EXPECT_EQ(Cut("\"Mixed Case // kept\""), (TCut{{"Mixed Case // kept", tkString}}));
    EXPECT_EQ(Cut("\"\" x"), (TCut{{"", tkString}, {"X", tkWord}}));
    // Unclosed: the string ends with its line.
    EXPECT_EQ(Tokenize("\"open ended\nnext"),
              (std::vector<TToken>{{0, tkString, "open ended"}, {1, tkWord, "NEXT"}}));
}

TEST(TokenCutting, OnlySpacesSeparateWords) {
    EXPECT_EQ(Cut("\tVAR"), (TCut{{"\tVAR", tkWord}}));
    EXPECT_EQ(Cut("a\tb \t"), (TCut{{"A\tB", tkWord}, {"\t", tkWord}}));
}

TEST(TokenCutting, DescendantRulesAreCalledThroughTheirSlots) {
    struct TTabRules : TParsingRules {
        void TrimLine(std::string_view Source, std::string_view& Result) override {
            size_t First = Source.find_first_not_of(" \t");
            Result = First == std::string_view::npos ? Source.substr(Source.size()) : Source.substr(First);
        }
        void TakeToken(std::string_view& Line, std::string& Token) override {
            TParsingRules::TakeToken(Line, Token);
            Cuts++;
        }
        int Cuts = 0;
    };
    auto Rules = std::make_unique<TTabRules>();
    TTabRules* Seen = Rules.get();
    TFileParser Parser("memory", std::move(Rules), "x\n\tvar");
    EXPECT_EQ(AllTokens(Parser), (std::vector<TToken>{{0, tkWord, "X"}, {1, tkWord, "VAR"}}));
    EXPECT_EQ(Seen->Cuts, 2); // running off the last line needs no cut
}

// ---- Reading across lines ----

TEST(TokenReading, BlankAndCommentOnlyTextsReadAsEmpty) {
    TFileParser Parser("memory", nullptr, "\n   \n// only a comment\n  // indented\n\n");
    EXPECT_EQ(Parser.LineCount, 5);
    EXPECT_EQ(Parser.NextToken(), "");
    EXPECT_TRUE(Parser.AtEnd);
    EXPECT_TRUE(Tokenize("").empty());
}

TEST(TokenReading, EndOfTextKeepsLastTokenOnceThenEmptiesIt) {
    TFileParser Parser("memory", nullptr, "\"a\" b\n");
    EXPECT_EQ(Parser.NextToken(), "a");
    EXPECT_EQ(Parser.NextToken(), "B");
    EXPECT_FALSE(Parser.AtEnd);
    EXPECT_EQ(Parser.NextToken(), "");
    EXPECT_TRUE(Parser.AtEnd);
    EXPECT_EQ(Parser.LastToken, "B");
    Parser.Rules->TokenKind = tkString; // left alone by the end read
    EXPECT_EQ(Parser.NextToken(), "");
    EXPECT_EQ(Parser.LastToken, "");
    EXPECT_EQ(Parser.Rules->TokenKind, tkWord);
}

TEST(TokenReading, PushBackStepsBackOneTokenOnly) {
    TFileParser Parser("memory", nullptr, "a b c");
    Parser.NextToken();
    Parser.NextToken();
    Parser.PushBack();
    Parser.PushBack();
    EXPECT_EQ(Parser.NextToken(), "B");
    EXPECT_EQ(Parser.NextToken(), "C");
}

TEST(TokenReading, PushBackAfterSkippedTextReturnsPastIt) {
    TFileParser Parser("memory", nullptr, "a // note\n\nb");
    EXPECT_EQ(Parser.NextToken(), "A");
    EXPECT_EQ(Parser.NextToken(), "B");
    EXPECT_EQ(Parser.LineIndex, 2);
    Parser.PushBack();
    EXPECT_EQ(Parser.LineIndex, 0);
    EXPECT_EQ(Parser.Rest, "");
    EXPECT_EQ(Parser.NextToken(), "B");
    EXPECT_EQ(Parser.LineIndex, 2);
}

TEST(TokenReading, RestoredPositionRereadsButDoesNotClearAtEnd) {
    TFileParser Parser("memory", nullptr, "for (i; j) k\nlast");
    Parser.NextToken();
    TFileParserPosition Position;
    Parser.SavePosition(Position);
    EXPECT_EQ(AllTokens(Parser).size(), 7u);
    EXPECT_TRUE(Parser.AtEnd);
    Parser.RestorePosition(Position);
    EXPECT_EQ(Parser.LastToken, "FOR");
    EXPECT_TRUE(Parser.AtEnd);
    // The rest of the restored line is read to its end, but no further line is taken.
    EXPECT_EQ(AllTokens(Parser), (std::vector<TToken>{{0, tkSymbol, "("},
                                                      {0, tkWord, "I"},
                                                      {0, tkSymbol, ";"},
                                                      {0, tkWord, "J"},
                                                      {0, tkSymbol, ")"},
                                                      {0, tkWord, "K"}}));
    Parser.Rewind();
    EXPECT_FALSE(Parser.AtEnd);
    EXPECT_EQ(Parser.LastToken, "");
    EXPECT_EQ(Parser.NextToken(), "FOR");
}

TEST(TokenReading, RewindLeavesTheFirstLineUntrimmed) {
    TFileParser Parser("memory", nullptr, "   x  ");
    EXPECT_EQ(Parser.Rest, "   x  ");
    EXPECT_EQ(Parser.NextToken(), "X");
    EXPECT_EQ(Parser.LineIndex, 0);
}

TEST(TokenReading, LongRunsOfEmptyCutsDoNotRecurse) {
    std::string Dollars(1 << 20, '$');
    EXPECT_TRUE(Tokenize(Dollars + "\n" + Dollars).empty());
}

// ---- Loading files ----

TEST_F(TempFiles, MissingFileGivesNoLinesAndEndAtOnce) {
    TFileParser Parser((Directory / "absent.txt").string(), nullptr);
    EXPECT_EQ(Parser.LineCount, 0);
    EXPECT_TRUE(Parser.AtEnd);
    EXPECT_EQ(Parser.NextToken(), "");
    TFileParser OfDirectory(Directory.string(), nullptr);
    EXPECT_EQ(OfDirectory.LineCount, 0);
    EXPECT_TRUE(OfDirectory.AtEnd);
}

TEST_F(TempFiles, LinesEndAtLineFeedCarriageReturnOrBoth) {
    TFileParser Parser(Write("ends.txt", "a\r\nb\rc\nd\n\r\ne"), nullptr);
    EXPECT_EQ(Parser.Lines, (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
    EXPECT_EQ(Parser.LineCount, 6);
    TFileParser Terminated(Write("last.txt", "a\n"), nullptr);
    EXPECT_EQ(Terminated.LineCount, 1);
}

TEST_F(TempFiles, BackslashNamesOpenAsSlashesAndAreKeptAsGiven) {
    Write("data/types/window.txt", "window");
    std::string Name = Directory.string() + "\\data\\types\\window.txt";
    TFileParser Parser(Name, nullptr);
    EXPECT_EQ(Parser.FileName, Name);
    EXPECT_EQ(Parser.NextToken(), "WINDOW");
}

TEST_F(TempFiles, BinaryContentIsReadByteForByte) {
    std::string Binary("a\0b \xff\xfe\x01 \"\0\"\n", 12);
    std::string Long;
    for (int Index = 0; Index < 200000; Index++) Long += "word ";
    TFileParser Parser(Write("binary.bin", Binary + Long), nullptr);
    ASSERT_EQ(Parser.LineCount, 2);
    EXPECT_EQ(Parser.Lines[0].size(), 11u);
    EXPECT_EQ(Parser.NextToken(), std::string("A\0B", 3));
    EXPECT_EQ(Parser.NextToken(), "\xff\xfe\x01");
    EXPECT_EQ(Parser.NextToken(), std::string("\0", 1));
    EXPECT_EQ(Parser.Rules->TokenKind, tkString);
    EXPECT_EQ(AllTokens(Parser).size(), 200000u);
}

} // namespace

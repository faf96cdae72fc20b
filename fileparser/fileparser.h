#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The tokenizer shared by the definition-file loader and the script compiler: a file read
// into lines, cut into tokens one at a time across line ends, with one-step push-back and
// saved reading positions.

enum TTokenKind : uint8_t {
    tkWord = 0, // upper-cased; also the empty token that means the end of the text
    tkSymbol = 1,
    tkString = 3,
    tkHexNumber = 4,
    tkNumber = 5,
    tkFloat = 6,
};

// "tkWord", "tkSymbol", ...; "tk?" for a value that is no kind.
std::string_view TokenKindName(uint8_t Kind);

// The characters that form one-character symbol tokens ("[" is listed twice).
inline constexpr std::string_view ParserSeparators = ",-+*/[]()<>.%;:=@[{}";

// The file name as the system opens it: on Linux a '\' separator is read as '/'.
std::string NativeFileName(std::string_view FileName);

// How one token is cut from the front of a line. The parser calls only these two
// operations, so a descendant can change line trimming or token cutting.
class TParsingRules {
public:
    // Result is Source without its leading and trailing spaces (tabs stay). Result must view
    // Source, or text that lives as long as these rules.
    virtual void TrimLine(std::string_view Source, std::string_view& Result);
    // Cuts one token from the front of Line, stores it in Token and sets TokenKind. An empty
    // token with a kind other than tkString means the cut found nothing (a comment, spaces).
    virtual void TakeToken(std::string_view& Line, std::string& Token);
    virtual ~TParsingRules() = default;

    TTokenKind TokenKind = tkWord;
};

// A copy of a parser's reading state (not AtEnd). The rests view the parser's lines, so a
// position is good for the parser it came from, while that parser lives.
struct TFileParserPosition {
    int32_t PrevLineIndex = 0;
    int32_t LineIndex = 0;
    std::string_view PrevRest;
    std::string_view Rest;
    std::string LastToken;
};

class TFileParser {
public:
    // Reads the file into lines and rewinds. A file that cannot be opened or read gives no
    // lines and AtEnd set, silently; so does one larger than 256 MiB, after the log line
    // "<name>: file too large (over 256 MiB), not read". Null rules mean fresh TParsingRules.
    TFileParser(std::string_view Name, std::unique_ptr<TParsingRules> ParsingRules);
    // The same over Text as if it were the file's contents; Name is only for messages.
    TFileParser(std::string_view Name, std::unique_ptr<TParsingRules> ParsingRules, std::string_view Text);
    virtual ~TFileParser();
    TFileParser(const TFileParser&) = delete;
    TFileParser& operator=(const TFileParser&) = delete;

    // The next token; the empty token (kind other than tkString) once the text has ended.
    void NextToken(std::string& Token);
    std::string NextToken();
    // Undoes the last read; only one step is remembered.
    void PushBack();
    void SavePosition(TFileParserPosition& Position) const;
    void RestorePosition(const TFileParserPosition& Position);
    void Rewind();

    std::unique_ptr<TParsingRules> Rules;
    int32_t LineCount = 0;
    std::vector<std::string> Lines; // line terminators (LF, CR LF, lone CR) removed
    int32_t PrevLineIndex = 0;
    int32_t LineIndex = 0;
    // Rest and PrevRest view Lines (or text the rules keep), so cutting a token costs only
    // the token's length, however long the line.
    std::string_view PrevRest;
    std::string_view Rest;
    std::string LastToken;
    bool AtEnd = false;
    std::string FileName; // exactly as given

private:
    void LoadText(std::string_view Text);
};

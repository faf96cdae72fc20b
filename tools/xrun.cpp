// xrun: command-line runner for the framework's text formats.

#include "fileparser.h"
#include "xlogging.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view Usage = "usage: xrun --tokens FILE\n"
                                   "       xrun --help\n";

constexpr std::string_view Help =
    "\n"
    "  --tokens FILE  print the tokens of FILE, one line each: the line index (from 0),\n"
    "                 the kind (tkWord, tkSymbol, tkString, tkHexNumber, tkNumber,\n"
    "                 tkFloat) and the text, separated by single spaces\n"
    "  --help         print this text\n"
    "\n"
    "FILE may use '\\' or '/' between folders.\n";

constexpr int ExitUsage = 2;
constexpr int ExitNoFile = 1;

int UsageError(const std::string& Problem) {
    std::fprintf(stderr, "xrun: %s\n%.*s", Problem.c_str(), static_cast<int>(Usage.size()), Usage.data());
    return ExitUsage;
}

int PrintTokens(const std::string& FileName) {
    if (std::FILE* File = std::fopen(NativeFileName(FileName).c_str(), "rb"))
        std::fclose(File);
    else {
        std::fprintf(stderr, "xrun: cannot open %s\n", FileName.c_str());
        return ExitNoFile;
    }
    TFileParser Parser(FileName, nullptr);
    std::string Token;
    for (;;) {
        Parser.NextToken(Token);
        if (Token.empty() && (Parser.AtEnd || Parser.Rules->TokenKind != tkString)) return 0;
        std::string Line = std::to_string(Parser.LineIndex);
        Line += ' ';
        Line += TokenKindName(Parser.Rules->TokenKind);
        Line += ' ';
        Line += Token;
        LogLine(0, Line);
    }
}

} // namespace

int main(int ArgumentCount, char** Arguments) {
    if (ArgumentCount < 2) return UsageError("no option given");
    std::string_view Option = Arguments[1];
    if (Option == "--help" && ArgumentCount == 2) {
        WriteConsole(std::string(Usage) + std::string(Help));
        return 0;
    }
    if (Option == "--tokens") {
        if (ArgumentCount < 3) return UsageError("--tokens needs a file name");
        if (ArgumentCount > 3) return UsageError("unexpected argument '" + std::string(Arguments[3]) + "'");
        return PrintTokens(Arguments[2]);
    }
    if (Option == "--help") return UsageError("unexpected argument '" + std::string(Arguments[2]) + "'");
    return UsageError("unknown option '" + std::string(Option) + "'");
}

// xrun: command-line runner for the framework's text formats.

#include "fileparser.h"
#include "xlogging.h"
#include "xobjects.h"
#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view Usage = "usage: xrun --tokens FILE\n"
                                   "       xrun --code FILE\n"
                                   "       xrun --disasm FILE\n"
                                   "       xrun --script FILE\n"
                                   "       xrun --help\n";

constexpr std::string_view Help =
    "\n"
    "  --tokens FILE  print the tokens of FILE, one line each: the line index (from 0),\n"
    "                 the kind (tkWord, tkSymbol, tkString, tkHexNumber, tkNumber,\n"
    "                 tkFloat) and the text, separated by single spaces\n"
    "  --code FILE    compile FILE's whole text as the root script __MAIN and print\n"
    "                 each function's code on one line: its name, \": \" and the bytes\n"
    "                 in upper-case hexadecimal; the root first, then the nested\n"
    "                 functions depth-first in declaration order\n"
    "  --disasm FILE  the same functions as listings: a line with the name and a colon,\n"
    "                 then one indented line per instruction\n"
    "  --script FILE  compile FILE's whole text as the root script __MAIN and run it once\n"
    "                 on a fresh host of 4096 slots whose SELF is a plain object named\n"
    "                 SELF without properties; the output is the system's own lines\n"
    "                 (ALERT lines, reports and messages)\n"
    "  --help         print this text\n"
    "\n"
    "FILE may use '\\' or '/' between folders.\n";

constexpr int ExitUsage = 2;
constexpr int ExitNoFile = 1;

int UsageError(const std::string& Problem) {
    std::fprintf(stderr, "xrun: %s\n%.*s", Problem.c_str(), static_cast<int>(Usage.size()), Usage.data());
    return ExitUsage;
}

bool CanOpen(const std::string& FileName) {
    std::FILE* File = std::fopen(NativeFileName(FileName).c_str(), "rb");
    if (!File) {
        std::fprintf(stderr, "xrun: cannot open %s\n", FileName.c_str());
        return false;
    }
    std::fclose(File);
    return true;
}

int PrintTokens(const std::string& FileName) {
    if (!CanOpen(FileName)) return ExitNoFile;
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

std::string FormatCodeBytes(std::string_view Code) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string Text;
    Text.reserve(Code.size() * 3);
    for (unsigned char Byte : Code) {
        if (!Text.empty()) Text += ' ';
        Text += Digits[Byte >> 4];
        Text += Digits[Byte & 15];
    }
    return Text;
}

// The compiler's own lines come first, as it writes them; then the functions.
int PrintCode(const std::string& FileName, bool Listing) {
    if (!CanOpen(FileName)) return ExitNoFile;
    TFileParser Parser(FileName, nullptr);
    std::unique_ptr<TXScriptObjectFunction> Main = CompileMainFunction(Parser);
    for (const TXScriptObjectFunction* Function : ListFunctions(*Main)) {
        if (!Listing) {
            LogLine(0, Function->Name + ": " + FormatCodeBytes(Function->Code));
            continue;
        }
        LogLine(0, Function->Name + ":");
        for (const std::string& Line : DisassembleCode(Function->Code)) LogLine(0, "  " + Line);
    }
    return 0;
}

constexpr int32_t ScriptStackSize = 4096;

int RunScript(const std::string& FileName) {
    if (!CanOpen(FileName)) return ExitNoFile;
    TFileParser Parser(FileName, nullptr);
    std::unique_ptr<TXScriptObjectFunction> Main = CompileMainFunction(Parser);
    TXObject Self(nullptr, "SELF");
    TXScriptHost Host(ScriptStackSize, &Self);
    TXScriptVariable Result;
    Main->Execute(Host, Result);
    return 0;
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
    if (Option == "--code" || Option == "--disasm") {
        if (ArgumentCount < 3) return UsageError(std::string(Option) + " needs a file name");
        if (ArgumentCount > 3) return UsageError("unexpected argument '" + std::string(Arguments[3]) + "'");
        return PrintCode(Arguments[2], Option == "--disasm");
    }
    if (Option == "--script") {
        if (ArgumentCount < 3) return UsageError("--script needs a file name");
        if (ArgumentCount > 3) return UsageError("unexpected argument '" + std::string(Arguments[3]) + "'");
        return RunScript(Arguments[2]);
    }
    if (Option == "--help") return UsageError("unexpected argument '" + std::string(Arguments[2]) + "'");
    return UsageError("unknown option '" + std::string(Option) + "'");
}

// xrun: command-line runner for the framework's text formats.

#include "fileparser.h"
#include "xguiapp.h"
#include "xguiobject.h"
#include "xlogging.h"
#include "xobjects.h"
#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view Usage = "usage: xrun FILE\n"
                                   "       xrun --tree FILE\n"
                                   "       xrun --app TYPEFILE CONTENTSFILE\n"
                                   "       xrun --tokens FILE\n"
                                   "       xrun --code FILE\n"
                                   "       xrun --disasm FILE\n"
                                   "       xrun --script FILE\n"
                                   "       xrun --call FUNCTION COUNT FILE\n"
                                   "       xrun --check [--script] FILE...\n"
                                   "       xrun --help\n";

constexpr std::string_view Help =
    "\n"
    "  FILE           load the definition file FILE as a GUI object named MAIN without\n"
    "                 a parent and run its scripts (RunMain); the output is the system's\n"
    "                 own lines (Loading, loader reports, ALERT lines)\n"
    "  --tree FILE    the same, then lay the object out (xmAlign) and print its tree:\n"
    "                 each object's name indented two spaces per level, under it one\n"
    "                 line per value property in declaration order (name, kind, value),\n"
    "                 then its children\n"
    "  --app TYPEFILE CONTENTSFILE\n"
    "                 build a GUI application named MAIN from the window type file and\n"
    "                 the contents file, wait until its worker has loaded the contents,\n"
    "                 lay both out and print the application's tree, then the contents\n"
    "                 tree, as --tree does; then free the application\n"
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
    "  --call FUNCTION COUNT FILE\n"
    "                 load FILE as FILE alone does and run its scripts, then call its\n"
    "                 script function FUNCTION COUNT times as the handler of a message\n"
    "                 (CallFunction with the name, compared exactly, as an ONCLICK\n"
    "                 names it)\n"
    "  --check [--script] FILE...\n"
    "                 load each definition file and compile its objects' scripts\n"
    "                 without running any; with --script, compile each FILE as a\n"
    "                 root script instead. The output is the same reports as the\n"
    "                 other modes write; exit status 1 when any report (a line that\n"
    "                 is not progress such as Loading) was written, 0 otherwise\n"
    "  --help         print this text\n"
    "\n"
    "FILE may use '\\' or '/' between folders.\n"
    "\n"
    "Every mode but --check exits with 0 after reports, as the system goes on past\n"
    "them; 1 when a file cannot be opened, 2 for a malformed command line.\n"
    "A run-time fault of a script writes the line \"unhandled exception in\n"
    "script.execute\" to standard output and, to standard error, one line saying\n"
    "what and where: \"script fault: KIND in FUNCTION at offset N, FILE Line L\"\n"
    "(the line counted from 0, as in the compiler's reports).\n";

constexpr int ExitUsage = 2;
constexpr int ExitNoFile = 1;
constexpr int ExitReports = 1;

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

std::string KindKeyword(uint8_t Kind) {
    switch (Kind) {
    case ptInteger: return "INTEGER";
    case ptFloat: return "FLOAT";
    case ptBoolean: return "BOOLEAN";
    case ptString: return "STRING";
    case ptFunction: return "FUNCTION";
    default: return "KIND" + std::to_string(Kind);
    }
}

std::string PropertyValue(const TXProperty& Property) {
    if (!Property.Data) return "";
    switch (Property.Kind) {
    case ptInteger: return std::to_string(LoadPropertyInteger(Property.Data));
    case ptFloat: {
        TXScriptTextScratch Scratch;
        return std::string(FormatScriptFloat(LoadPropertyFloat(Property.Data), Scratch));
    }
    case ptBoolean: return LoadPropertyBoolean(Property.Data) ? "TRUE" : "FALSE";
    case ptString: return std::string(LoadPropertyString(Property.Data));
    case ptFunction: return std::string(static_cast<const TXHandler*>(Property.Data)->FuncName.View());
    default: return "";
    }
}

void PrintTree(TXGuiObject& Object, int32_t Level) {
    std::string Indent(size_t(Level) * 2, ' ');
    LogLine(0, Indent + std::string(Object.Name.View()));
    for (int32_t Index = 0; Index < Object.PropertyCount(); Index++) {
        const TXProperty* Property = Object.PropertyByIndex(Index);
        if (!Property || Property->Kind == ptObject) continue;
        LogLine(0, Indent + "  " + std::string(Property->Name.View()) + " " + KindKeyword(Property->Kind) +
                       " " + PropertyValue(*Property));
    }
    for (int32_t Index = 0; Index < Object.ChildCount(); Index++)
        if (TXGuiObject* Child = Object.Child(Index)) PrintTree(*Child, Level + 1);
}

constexpr std::string_view RootName = "MAIN";

int RunDefinition(const std::string& FileName, bool Tree) {
    if (!CanOpen(FileName)) return ExitNoFile;
    TXGuiObject Root(nullptr, FileName, RootName);
    Root.RunMain();
    if (!Tree) return 0;
    Root.Processmessage(xmAlign, nullptr);
    PrintTree(Root, 0);
    return 0;
}

int CallHandler(const std::string& FunctionName, int64_t Count, const std::string& FileName) {
    if (!CanOpen(FileName)) return ExitNoFile;
    TXGuiObject Root(nullptr, FileName, RootName);
    Root.RunMain();
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign(FunctionName);
    for (int64_t Call = 0; Call < Count; Call++) Root.CallFunction(Handler, nullptr);
    return 0;
}

// The scripts of Object and its children, compiled and not run.
void CompileScripts(TXGuiObject& Object) {
    if (Object.HasImplementation && Object.Parser) CompileMainFunction(*Object.Parser);
    for (int32_t Index = 0; Index < Object.ChildCount(); Index++)
        if (TXGuiObject* Child = Object.Child(Index)) CompileScripts(*Child);
}

// Loads or compiles every file, running no script: 1 when any report was written or a file
// could not be opened.
int CheckFiles(const std::vector<std::string>& FileNames, bool Scripts) {
    int64_t ReportsBefore = LogLinesAtOrAbove(1);
    bool Missing = false;
    for (const std::string& FileName : FileNames) {
        if (!CanOpen(FileName)) {
            Missing = true;
            continue;
        }
        if (Scripts) {
            TFileParser Parser(FileName, nullptr);
            CompileMainFunction(Parser);
        } else {
            TXGuiObject Root(nullptr, FileName, RootName);
            CompileScripts(Root);
        }
    }
    if (Missing) return ExitNoFile;
    return LogLinesAtOrAbove(1) != ReportsBefore ? ExitReports : 0;
}

int RunApplication(const std::string& TypeFile, const std::string& ContentsFile) {
    if (!CanOpen(TypeFile) || !CanOpen(ContentsFile)) return ExitNoFile;
    auto* Application = new TXGuiApplication(nullptr, TypeFile, ContentsFile, RootName);
    while (!Application->Loaded.load(std::memory_order_acquire))
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    TXGuiObject* Contents = Application->ContentsObject.load(std::memory_order_acquire);
    Application->Processmessage(xmAlign, nullptr);
    Contents->Processmessage(xmAlign, nullptr);
    PrintTree(*Application, 0);
    PrintTree(*Contents, 0);
    delete Application;
    return 0;
}

int RunCommand(int ArgumentCount, char** Arguments) {
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
    if (Option == "--call") {
        if (ArgumentCount < 5) return UsageError("--call needs a function name, a count and a file name");
        if (ArgumentCount > 5) return UsageError("unexpected argument '" + std::string(Arguments[5]) + "'");
        std::string_view CountText = Arguments[3];
        int64_t Count = 0;
        auto [End, Error] = std::from_chars(CountText.data(), CountText.data() + CountText.size(), Count);
        if (Error != std::errc() || End != CountText.data() + CountText.size() || Count < 0)
            return UsageError("--call needs a count of 0 or more, not '" + std::string(CountText) + "'");
        return CallHandler(Arguments[2], Count, Arguments[4]);
    }
    if (Option == "--check") {
        int32_t First = 2;
        bool Scripts = ArgumentCount > 2 && std::string_view(Arguments[2]) == "--script";
        if (Scripts) First = 3;
        if (ArgumentCount <= First) return UsageError("--check needs a file name");
        return CheckFiles(std::vector<std::string>(Arguments + First, Arguments + ArgumentCount), Scripts);
    }
    if (Option == "--tree") {
        if (ArgumentCount < 3) return UsageError("--tree needs a file name");
        if (ArgumentCount > 3) return UsageError("unexpected argument '" + std::string(Arguments[3]) + "'");
        return RunDefinition(Arguments[2], true);
    }
    if (Option == "--app") {
        if (ArgumentCount < 4) return UsageError("--app needs a type file and a contents file");
        if (ArgumentCount > 4) return UsageError("unexpected argument '" + std::string(Arguments[4]) + "'");
        return RunApplication(Arguments[2], Arguments[3]);
    }
    if (!Option.starts_with("--")) {
        if (ArgumentCount > 2) return UsageError("unexpected argument '" + std::string(Arguments[2]) + "'");
        return RunDefinition(Arguments[1], false);
    }
    if (Option == "--help") return UsageError("unexpected argument '" + std::string(Arguments[2]) + "'");
    return UsageError("unknown option '" + std::string(Option) + "'");
}

} // namespace

// Applications a TEST(0) started are loading on workers of their own: the program ends once
// they have loaded and are freed, so that nothing they write is cut off.
int main(int ArgumentCount, char** Arguments) {
    SetFaultDiagnostics(WriteFaultDiagnostic);
    int Status = RunCommand(ArgumentCount, Arguments);
    DestroyTestApplications();
    return Status;
}

#pragma once

// Scripts compiled for the compiler's tests: the code as a listing, the console lines the
// compiler wrote, and small text builders.

#include "capture.h"
#include "xscriptcode.h"
#include "xscriptcompiler.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

inline std::string Listing(std::string_view Code) {
    std::string Text;
    for (const std::string& Line : DisassembleCode(Code)) Text += Line + "\n";
    return Text;
}

inline std::string Bytes(std::initializer_list<int> List) {
    std::string Text;
    for (int Byte : List) Text += char(Byte);
    return Text;
}

// A script compiled as the root "__MAIN" from a file named t.txt, with the console lines
// the compiler wrote.
struct TCompiled {
    std::unique_ptr<TFileParser> Parser;
    std::unique_ptr<TXScriptObjectFunction> Main;
    std::string Output;

    std::string Code() const { return Listing(Main->Code); }
    const TXScriptObjectFunction& Function(int32_t Index) const { return *Main->FunctionAt(Index); }
};

inline TCompiled CompileScript(std::string_view Text) {
    TCompiled Compiled;
    Compiled.Parser = std::make_unique<TFileParser>("t.txt", nullptr, Text);
    Compiled.Output = CaptureOutput([&] { Compiled.Main = CompileMainFunction(*Compiled.Parser); });
    return Compiled;
}

// One expression ended by ";", compiled into a root function that has the given variables.
struct TExpression {
    std::string Code;
    std::string Output;
    bool Failed = false;
};

inline TExpression CompileExpressionText(std::string_view Text, std::vector<std::string> Variables = {}) {
    TFileParser Parser("e.txt", nullptr, Text);
    TXScriptObjectFunction Function(nullptr, MainFunctionName);
    for (const std::string& Variable : Variables) Function.DeclareVariable(Variable);
    Function.Parser = &Parser;
    TExpression Result;
    Result.Output = CaptureOutput([&] { Function.CompileExpression(";", emSingle); });
    Result.Code = Listing(Function.Code);
    Result.Failed = Function.Failed;
    return Result;
}

inline std::string Repeat(std::string_view Text, int Count) {
    std::string Result;
    for (int Index = 0; Index < Count; Index++) Result += Text;
    return Result;
}

#pragma once

// Scripts built by hand for the interpreter's tests: a root function with nested ones, run
// on a host of 64 slots with the console lines caught.

#include "capture.h"
#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include <memory>
#include <string>

// The line the interpreter writes when a run-time fault ends a script function.
inline const std::string& Fault = ScriptFaultLine;

// A root function with nested functions built by hand.
struct TScript {
    TXScriptObjectFunction Root{nullptr, "__MAIN"};
    TXScriptHost Host{64, nullptr};
    TXScriptVariable Result;

    TXScriptObjectFunction& Nested(TXScriptObjectFunction& Parent, const std::string& Name,
                                   int32_t Parameters, int32_t Variables) {
        Parent.Functions.push_back(std::make_unique<TXScriptObjectFunction>(&Parent, Name));
        Parent.FunctionCount++;
        TXScriptObjectFunction& Function = *Parent.Functions.back();
        Function.ParamCount = Parameters;
        Function.VarCount = Variables;
        return Function;
    }
    std::string Run() {
        return CaptureOutput([this] { Root.Execute(Host, Result); });
    }
};

inline std::string Text(const TXScriptVariable& Value) {
    return Value.AsText().ToString();
}

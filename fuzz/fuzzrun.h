#pragma once

#include "fuzzsupport.h"
#include "xobjects.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <string>
#include <vector>

// Running script functions for the targets: the root once on a fresh host, then every
// nested function as a message handler runs it, all within one step budget.

// Jumps and calls one input's scripts may make, and the handlers run after the root.
constexpr int64_t FuzzStepBudget = 1000;
constexpr size_t FuzzHandlerRuns = 16;
constexpr int32_t FuzzStackSize = 4096; // as an object's script gets it

// What SELF reaches: a property of every kind and a child object with one of its own.
struct TFuzzOwner {
    TXObject Object{nullptr, "OWNER"};
    TXObject* Panel = new TXObject(&Object, "PANEL"); // owned by Object
    TXHandler Click;

    TFuzzOwner() {
        void* Width = Object.DeclareInteger("WIDTH");
        StorePropertyInteger(Width, 640);
        Object.DeclareFloat("RATIO");
        Object.DeclareBoolean("VISIBLE");
        StorePropertyString(Object.DeclareString("CAPTION"), "Main window");
        Object.AddProperty("ONCLICK", ptFunction, &Click);
        Object.AddProperty("W", ptInteger, Width); // a link: shared storage
        Panel->DeclareInteger("LEFT");
        Panel->DeclareString("TEXT");
    }
};

// One host serves every input, made fresh again each time (empty slots, no frames, at
// slot 0): allocating a new stack per input would cost more than most runs.
inline TXScriptHost& FreshHost(TXObject* Owner) {
    static TXScriptHost Host(FuzzStackSize, nullptr);
    for (TXScriptVariable& Slot : Host.Stack) Slot = TXScriptVariable();
    while (Host.FrameCount > 0) Host.CloseFrame();
    Host.SetStackPosition(0);
    Host.Owner = Owner;
    return Host;
}

// Every nested function of Main (up to FuzzHandlerRuns) as a message handler of Owner runs
// it, on Host; AfterEach() after each one.
template <typename TAfterEach>
void RunHandlers(TXScriptObjectFunction& Main, TFuzzOwner& Owner, TXScriptHost& Host, TAfterEach AfterEach) {
    std::vector<const TXScriptObjectFunction*> Functions = ListFunctions(Main);
    for (size_t Index = 1; Index < Functions.size() && Index <= FuzzHandlerRuns; Index++) {
        TXHandler Handler;
        Handler.Kind = hkScriptFunction;
        Handler.Func = const_cast<TXScriptObjectFunction*>(Functions[Index]);
        Handler.Host = &Host;
        Owner.Object.CallFunction(Handler, nullptr);
        AfterEach();
    }
}

inline void RunScripts(TXScriptObjectFunction& Main) {
    TFuzzOwner Owner;
    TXScriptHost& Host = FreshHost(&Owner.Object);
    TXScriptVariable Result;
    SetScriptStepBudget(FuzzStepBudget);
    Main.Execute(Host, Result);
    FUZZ_CHECK(Host.FrameCount == 0);
    RunHandlers(Main, Owner, Host, [&Host] { FUZZ_CHECK(Host.FrameCount == 0); });
    SetScriptStepBudget(-1);
    FUZZ_CHECK(Host.StackSize == FuzzStackSize && Host.StackPointer >= 0 &&
               Host.StackPointer < FuzzStackSize);
    Host.Owner = nullptr; // the owner goes now
}

// A definition file's script starts after "IMPLEMENTATION"; text without one is all script.
inline void SkipToImplementation(TFileParser& Parser) {
    std::string Token;
    for (;;) {
        Parser.NextToken(Token);
        if (Token == "IMPLEMENTATION" && Parser.Rules->TokenKind == tkWord) return;
        if (Token.empty() && (Parser.Rules->TokenKind != tkString || Parser.AtEnd)) break;
    }
    Parser.Rewind();
}

// Script source through the compiler, then the interpreter. The input is a script, or a
// definition file whose script follows "IMPLEMENTATION". Every compiled function is checked
// for code that the interpreter can walk safely; then the root runs once on a fresh host
// whose owner has a property of every kind and a child object, and every nested function
// runs as a message handler would run it. A step budget ends scripts that loop forever.

#include "fuzzrun.h"
#include "fuzzsupport.h"
#include "xscriptcompiler.h"

#include <set>
#include <string_view>

namespace {

// The function Depth steps outward from Function, or null past the root.
const TXScriptObjectFunction* Outward(const TXScriptObjectFunction* Function, int32_t Depth) {
    for (; Function && Depth > 0; Depth--) Function = Function->Parent;
    return Function;
}

// What holds for every function, and for the code of one that compiled without a fatal
// report: whole instructions only, jumps onto instruction starts (or the end), variable and
// function slots that name something, and the designed first and last instructions.
void CheckFunction(const TXScriptObjectFunction& Function) {
    FUZZ_CHECK(Function.VarCount == static_cast<int32_t>(Function.VarNames.size()));
    FUZZ_CHECK(Function.FunctionCount == static_cast<int32_t>(Function.Functions.size()));
    FUZZ_CHECK(Function.ParamCount >= 0);
    if (Function.Failed) return; // its code may stop in the middle of a statement
    // A parameter that could not be declared (a name used twice) leaves the body out.
    if (Function.ParamCount > Function.VarCount) FUZZ_CHECK(Function.Code == std::string(1, opReturn));

    const std::string_view Code = Function.Code;
    std::set<int64_t> Starts;
    std::vector<int64_t> Targets;
    TXInstruction Instruction;
    uint8_t LastOpcode = 0;
    for (int32_t Offset = 0; Offset < static_cast<int32_t>(Code.size()); Offset = Instruction.Next) {
        FUZZ_CHECK(DecodeInstruction(Code, Offset, Instruction) == dsOk);
        Starts.insert(Offset);
        LastOpcode = Instruction.Opcode;
        if (Offset == 0 && !Function.Parent)
            FUZZ_CHECK(Instruction.Opcode == opReserve && Instruction.Value == Function.VarCount);
        if (Instruction.Layout == olJump) Targets.push_back(Instruction.Target);
        if (Instruction.Layout == olFunctionSlot) {
            const TXScriptObjectFunction* Owner = Outward(&Function, Instruction.Depth);
            FUZZ_CHECK(Owner && Instruction.Index < Owner->FunctionCount);
        }
        if (Instruction.Layout == olSlot && Instruction.Index != 0xFFFF) { // 65535: a name found nowhere
            const TXScriptObjectFunction* Owner = Outward(&Function, Instruction.Depth);
            FUZZ_CHECK(Owner && Instruction.Index < Owner->VarCount);
        }
    }
    Starts.insert(static_cast<int64_t>(Code.size()));
    for (int64_t Target : Targets) FUZZ_CHECK(Starts.count(Target) == 1);
    // What the compiler keeps beside the code names its calls and lies inside it, in order;
    // nothing refers to the parser any more.
    FUZZ_CHECK(Function.Parser == nullptr);
    for (const TXCallSite& Site : Function.CallSites) {
        FUZZ_CHECK(Starts.count(Site.Offset) == 1 && Site.Arguments >= 0);
        const uint8_t Op = static_cast<uint8_t>(Code[static_cast<size_t>(Site.Offset)]);
        FUZZ_CHECK(Op == opCallFunction || Op == opCallVariable);
    }
    for (size_t Index = 0; Index < Function.SourceLines.size(); Index++) {
        FUZZ_CHECK(Function.SourceLines[Index].Offset <= static_cast<int32_t>(Code.size()));
        if (Index > 0)
            FUZZ_CHECK(Function.SourceLines[Index - 1].Offset < Function.SourceLines[Index].Offset);
    }
    FUZZ_CHECK(!Code.empty());
    FUZZ_CHECK(LastOpcode == (Function.Parent ? opReturn : opReturnNil));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    TFileParser Parser("fuzz.txt", nullptr, std::string_view(reinterpret_cast<const char*>(Data), Size));
    SkipToImplementation(Parser);
    std::unique_ptr<TXScriptObjectFunction> Main = CompileMainFunction(Parser);
    FUZZ_CHECK(Main && !Main->Parent && Main->Name == MainFunctionName);
    for (const TXScriptObjectFunction* Function : ListFunctions(*Main)) CheckFunction(*Function);
    RunScripts(*Main);
    return 0;
}

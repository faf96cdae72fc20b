// Combined steps against single ones. The interpreter runs common integer sequences as one
// combined step; an opNop between two instructions keeps it from combining them. The input
// is script source (after "IMPLEMENTATION" when it has one), compiled twice: the second
// copy's code gets an opNop before every instruction but the first, its jumps moved to
// match. Both copies then run alike (the root on a fresh host, then every nested function
// as a message handler, within one step budget), and what they print, return and leave on
// the stack and in the owner's properties must be the same.

#include "fuzzrun.h"
#include "fuzzsupport.h"
#include "xscriptcompiler.h"

#include <map>
#include <string_view>

namespace {

// The code with an opNop before every instruction but the first and every jump moved to
// the same instruction; the code itself when it does not decode into whole instructions
// whose jumps land on instruction starts or the end. NewOffset gets where each instruction
// start (and the end) went.
std::string SeparateInstructions(const std::string& Code, std::map<int64_t, int32_t>& NewOffset) {
    NewOffset.clear();
    std::vector<TXInstruction> Instructions;
    int32_t Length = static_cast<int32_t>(Code.size());
    int32_t Added = 0;
    for (int32_t Offset = 0; Offset < Length;) {
        TXInstruction Instruction;
        if (DecodeInstruction(Code, Offset, Instruction) != dsOk) {
            NewOffset.clear();
            return Code;
        }
        if (Offset > 0) Added++;
        NewOffset[Offset] = Offset + Added;
        Instructions.push_back(Instruction);
        Offset = Instruction.Next;
    }
    NewOffset[Length] = Length + Added;
    for (const TXInstruction& Instruction : Instructions)
        if (Instruction.Layout == olJump && NewOffset.count(Instruction.Target) == 0) {
            NewOffset.clear();
            return Code;
        }

    std::string Separated;
    for (const TXInstruction& Instruction : Instructions) {
        if (Instruction.Offset > 0) AppendOp(Separated, opNop);
        if (Instruction.Layout == olJump) {
            AppendOp(Separated, TXOpcode(Instruction.Opcode));
            AppendJumpOperand(Separated, NewOffset[Instruction.Target]);
        } else {
            Separated.append(Code, size_t(Instruction.Offset), size_t(Instruction.Next - Instruction.Offset));
        }
    }
    FUZZ_CHECK(int64_t(Separated.size()) == NewOffset[Length]);
    return Separated;
}

// Standard output into a memory file while a run lasts, to compare what the runs print.
class TOutputCapture {
public:
    TOutputCapture() {
        std::fflush(stdout);
        Saved = dup(1);
        FUZZ_CHECK(Saved >= 0);
        FUZZ_CHECK(dup2(File.Descriptor(), 1) == 1);
    }
    ~TOutputCapture() { Restore(); }
    TOutputCapture(const TOutputCapture&) = delete;
    TOutputCapture& operator=(const TOutputCapture&) = delete;

    std::string Text() {
        Restore();
        return File.Read();
    }

private:
    void Restore() {
        if (Saved < 0) return;
        std::fflush(stdout);
        dup2(Saved, 1);
        close(Saved);
        Saved = -1;
    }
    TFuzzFile File;
    int Saved = -1;
};

// A value as text that does not depend on where things lie in memory: objects and functions
// by name.
std::string Describe(const TXScriptVariable& Value) {
    TXScriptTextScratch Scratch;
    std::string Text(1, char('0' + Value.kind));
    if (Value.kind == vkFloat) return Text + std::to_string(std::bit_cast<uint32_t>(Value.floatValue));
    if (Value.kind == vkInteger) return Text + std::to_string(Value.intValue);
    if (Value.kind != vkString) Text += Value.reference ? "@" : "null:";
    return Text.append(Value.ViewText(Scratch));
}

std::string DescribeProperty(TXObject& Object, std::string_view Name) {
    uint8_t Kind = 0;
    void* Data = nullptr;
    if (!FindObjectProperty(&Object, Name, Kind, Data)) return "none";
    switch (Kind) {
    case ptInteger: return std::to_string(LoadPropertyInteger(Data));
    case ptFloat: return std::to_string(std::bit_cast<uint32_t>(LoadPropertyFloat(Data)));
    case ptBoolean: return LoadPropertyBoolean(Data) ? "true" : "false";
    case ptString: return std::string(LoadPropertyString(Data));
    default: return "kind " + std::to_string(Kind);
    }
}

// Runs Main as fuzzrun.h runs scripts and describes everything the runs left behind.
std::string RunAndDescribe(TXScriptObjectFunction& Main) {
    TFuzzOwner Owner;
    TXScriptHost& Host = FreshHost(&Owner.Object);
    std::string State;
    TOutputCapture Capture;
    SetScriptStepBudget(FuzzStepBudget);
    TXScriptVariable Result;
    Main.Execute(Host, Result);
    State += "result " + Describe(Result) + "\n";
    RunHandlers(Main, Owner, Host, [] {});
    SetScriptStepBudget(-1);
    State += "output " + Capture.Text() + "\n";
    State += "pointer " + std::to_string(Host.StackPointer) + " frames " + std::to_string(Host.FrameCount) + "\n";
    for (const char* Name : {"WIDTH", "RATIO", "VISIBLE", "CAPTION", "W"})
        State += std::string(Name) + " " + DescribeProperty(Owner.Object, Name) + "\n";
    for (const char* Name : {"LEFT", "TEXT"})
        State += std::string("PANEL.") + Name + " " + DescribeProperty(*Owner.Panel, Name) + "\n";
    for (int32_t Slot = 0; Slot < Host.StackSize; Slot++) {
        const TXScriptVariable& Value = Host.Stack[size_t(Slot)];
        if (Value.kind == vkString && Value.text.View().empty()) continue;
        State += std::to_string(Slot) + " " + Describe(Value) + "\n";
    }
    Host.Owner = nullptr; // the owner goes now
    return State;
}

std::unique_ptr<TXScriptObjectFunction> Compile(std::string_view Source) {
    TFileParser Parser("fuzz.txt", nullptr, Source);
    SkipToImplementation(Parser);
    return CompileMainFunction(Parser);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::string_view Source(reinterpret_cast<const char*>(Data), Size);
    std::unique_ptr<TXScriptObjectFunction> Combined = Compile(Source);
    std::unique_ptr<TXScriptObjectFunction> Single = Compile(Source);
    std::vector<const TXScriptObjectFunction*> CombinedFunctions = ListFunctions(*Combined);
    std::vector<const TXScriptObjectFunction*> SingleFunctions = ListFunctions(*Single);
    FUZZ_CHECK(CombinedFunctions.size() == SingleFunctions.size());
    for (size_t Index = 0; Index < SingleFunctions.size(); Index++) {
        auto* Function = const_cast<TXScriptObjectFunction*>(SingleFunctions[Index]);
        FUZZ_CHECK(Function->Code == CombinedFunctions[Index]->Code);
        std::map<int64_t, int32_t> NewOffset;
        Function->Code = SeparateInstructions(Function->Code, NewOffset);
        // What the compiler keeps beside the code is keyed by offset: it moves with the code.
        for (TXCallSite& Site : Function->CallSites)
            if (auto Moved = NewOffset.find(Site.Offset); Moved != NewOffset.end()) Site.Offset = Moved->second;
        for (TXSourceLine& Line : Function->SourceLines)
            if (auto Moved = NewOffset.find(Line.Offset); Moved != NewOffset.end()) Line.Offset = Moved->second;
    }
    std::string CombinedState = RunAndDescribe(*Combined);
    std::string SingleState = RunAndDescribe(*Single);
    if (CombinedState != SingleState) {
        std::fprintf(stderr, "combined steps:\n%s\nsingle steps:\n%s\n", CombinedState.c_str(), SingleState.c_str());
        FUZZ_CHECK(CombinedState == SingleState);
    }
    return 0;
}

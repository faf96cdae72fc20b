// Hand-made code straight into the interpreter: arbitrary bytes as the code of a root
// function and of nested functions, run on a fresh host within a step budget. This reaches
// what the compiler never produces: decoding at the end of the code, jumps outside it or
// into operands, unknown opcodes, slots naming nothing, argument counts that do not match.
//
// Input: parts separated by the two bytes FF FE. The first part is the root: one byte of
// variable count, then its code. Every further part is one nested function (at most 16):
// a byte choosing its parent among the functions before it, a byte of parameter count
// (modulo 8), a byte of variable count (modulo 64), then its code.

#include "fuzzrun.h"
#include "fuzzsupport.h"

#include <memory>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view Separator = "\xFF\xFE";
constexpr size_t MaxNested = 16;

std::vector<std::string_view> SplitParts(std::string_view Input) {
    std::vector<std::string_view> Parts;
    for (;;) {
        size_t At = Input.find(Separator);
        Parts.push_back(Input.substr(0, At));
        if (At == std::string_view::npos || Parts.size() > MaxNested) return Parts;
        Input.remove_prefix(At + Separator.size());
    }
}

// The next byte of a part's header, 0 when the part is too short.
uint8_t TakeByte(std::string_view& Part) {
    if (Part.empty()) return 0;
    uint8_t Byte = static_cast<uint8_t>(Part.front());
    Part.remove_prefix(1);
    return Byte;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    std::vector<std::string_view> Parts =
        SplitParts(std::string_view(reinterpret_cast<const char*>(Data), Size));
    TXScriptObjectFunction Main(nullptr, MainFunctionName);
    std::vector<TXScriptObjectFunction*> Made{&Main};
    Main.VarCount = TakeByte(Parts[0]);
    Main.Code.assign(Parts[0]);
    for (size_t Index = 1; Index < Parts.size(); Index++) {
        std::string_view Part = Parts[Index];
        TXScriptObjectFunction* Parent = Made[TakeByte(Part) % Made.size()];
        auto Function = std::make_unique<TXScriptObjectFunction>(Parent, "F" + std::to_string(Index));
        Function->ParamCount = TakeByte(Part) % 8;
        Function->VarCount = TakeByte(Part) % 64;
        Function->Code.assign(Part);
        Made.push_back(Function.get());
        Parent->Functions.push_back(std::move(Function));
        Parent->FunctionCount++;
    }
    for (TXScriptObjectFunction* Function : Made)
        for (int32_t Slot = 0; Slot < Function->VarCount; Slot++)
            Function->VarNames.push_back("V" + std::to_string(Slot));
    RunScripts(Main);
    return 0;
}

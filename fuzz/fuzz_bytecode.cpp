// Hand-made code through the decoder and the disassembler: arbitrary bytes walked as the
// interpreter walks them, every decoded instruction encoded again, jumps followed.

#include "fuzzsupport.h"
#include "xscriptcode.h"

#include <climits>
#include <string>
#include <string_view>

namespace {

// The bytes the appending helpers write for a decoded instruction.
std::string Encode(const TXInstruction& Instruction) {
    std::string Code;
    const auto Op = static_cast<TXOpcode>(Instruction.Opcode);
    switch (Instruction.Layout) {
    case olNone: AppendOp(Code, Op); break;
    case olInt32:
    case olJump: AppendOpInt32(Code, Op, Instruction.Value); break;
    case olFloat32: AppendOpFloat32(Code, Op, Instruction.FloatValue); break;
    case olName: AppendOpName(Code, Op, Instruction.Name); break;
    case olSlot:
    case olFunctionSlot: AppendOpSlot(Code, Op, Instruction.Index, Instruction.Depth); break;
    case olHandle: AppendOpHandle(Code, Op, Instruction.Handle); break;
    case olOperatorName: AppendOpOperatorName(Code, Op, Instruction.Operator, Instruction.Name); break;
    }
    return Code;
}

bool InsideCode(std::string_view Code, std::string_view Part) {
    return Part.empty() ||
           (Part.data() >= Code.data() && Part.data() + Part.size() <= Code.data() + Code.size());
}

void CheckDecoded(std::string_view Code, int32_t Offset, TXDecodeStatus Status,
                  const TXInstruction& Instruction) {
    const auto Size = static_cast<int32_t>(Code.size());
    FUZZ_CHECK(Instruction.Offset == Offset);
    switch (Status) {
    case dsEnd: FUZZ_CHECK(Offset < 0 || Offset >= Size); break;
    case dsUnknown:
        FUZZ_CHECK(!IsOpcode(Instruction.Opcode) && Instruction.Next == Offset + 1);
        FUZZ_CHECK(FormatInstruction(Instruction, Status).find("unknown byte") != std::string::npos);
        break;
    case dsTruncated:
        FUZZ_CHECK(IsOpcode(Instruction.Opcode) && Instruction.Next == Size);
        FUZZ_CHECK(Instruction.Layout != olNone);
        break;
    case dsOk: {
        FUZZ_CHECK(IsOpcode(Instruction.Opcode) && Instruction.Next > Offset && Instruction.Next <= Size);
        FUZZ_CHECK(InsideCode(Code, Instruction.Name));
        FUZZ_CHECK(Instruction.Name.find('\0') == std::string_view::npos);
        const std::string_view Bytes = Code.substr(size_t(Offset), size_t(Instruction.Next - Offset));
        FUZZ_CHECK(Encode(Instruction) == Bytes);
        if (Instruction.Layout == olJump)
            FUZZ_CHECK(Instruction.Target == int64_t(Instruction.Next) + Instruction.Value);
        FUZZ_CHECK(!FormatInstruction(Instruction, Status).empty());
        break;
    }
    default: FUZZ_CHECK(!"a status that is no status");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    const std::string_view Code(reinterpret_cast<const char*>(Data), Size);
    const auto CodeSize = static_cast<int32_t>(Size);
    TXInstruction Instruction;

    // The walk from the first byte, as execution without jumps goes; a jump's target is
    // decoded too, wherever it lies.
    size_t Steps = 0;
    int32_t Offset = 0;
    for (;;) {
        const TXDecodeStatus Status = DecodeInstruction(Code, Offset, Instruction);
        CheckDecoded(Code, Offset, Status, Instruction);
        if (Status == dsEnd) break;
        Steps++;
        if (Status == dsTruncated) break;
        if (Status == dsOk && Instruction.Layout == olJump && Instruction.Target >= INT32_MIN &&
            Instruction.Target <= INT32_MAX) {
            const auto Target = static_cast<int32_t>(Instruction.Target);
            TXInstruction AtTarget;
            CheckDecoded(Code, Target, DecodeInstruction(Code, Target, AtTarget), AtTarget);
        }
        Offset = Instruction.Next;
    }

    // The listing has one line per step of that walk.
    const std::vector<std::string> Lines = DisassembleCode(Code);
    FUZZ_CHECK(Lines.size() == Steps);

    // Offsets outside the code end it.
    for (int32_t Outside : {INT32_MIN, -1, CodeSize, INT32_MAX}) {
        FUZZ_CHECK(DecodeInstruction(Code, Outside, Instruction) == dsEnd);
        FUZZ_CHECK(Instruction.Next == Outside);
    }
    return 0;
}

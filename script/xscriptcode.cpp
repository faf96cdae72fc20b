#include "xscriptcode.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

struct TOpcodeInfo {
    const char* Name = nullptr;
    TXOperandLayout Layout = olNone;
};

constexpr std::array<TOpcodeInfo, 256> MakeOpcodeTable() {
    std::array<TOpcodeInfo, 256> Table{};
    auto Set = [&Table](TXOpcode Op, const char* Name, TXOperandLayout Layout) {
        Table[Op] = {Name, Layout};
    };
    Set(opReturn, "opReturn", olNone);
    Set(opReturnNil, "opReturnNil", olNone);
    Set(opPop, "opPop", olNone);
    Set(opReserve, "opReserve", olInt32);
    Set(opAlert, "opAlert", olNone);
    Set(opNop, "opNop", olNone);
    Set(opDup, "opDup", olNone);
    Set(opSwap, "opSwap", olNone);
    Set(opMod, "opMod", olNone);
    Set(opAdd, "opAdd", olNone);
    Set(opSub, "opSub", olNone);
    Set(opMul, "opMul", olNone);
    Set(opDiv, "opDiv", olNone);
    Set(opAnd, "opAnd", olNone);
    Set(opOr, "opOr", olNone);
    Set(opShl, "opShl", olNone);
    Set(opShr, "opShr", olNone);
    Set(opShr2, "opShr2", olNone);
    Set(opXor, "opXor", olNone);
    Set(opNot, "opNot", olNone);
    Set(opStoreVar, "opStoreVar", olSlot);
    Set(opSetObjectChild, "opSetObjectChild", olName);
    Set(opJumpIfFalse, "opJumpIfFalse", olJump);
    Set(opJump, "opJump", olJump);
    Set(opPushInt, "opPushInt", olInt32);
    Set(opPushFloat, "opPushFloat", olFloat32);
    Set(opPushString, "opPushString", olName);
    Set(opToNumber, "opToNumber", olNone);
    Set(opNegate, "opNegate", olNone);
    Set(opPushSelf, "opPushSelf", olNone);
    Set(opGetObjectChild, "opGetObjectChild", olName);
    Set(opCallMethod, "opCallMethod", olName);
    Set(opGetObjectValue, "opGetObjectValue", olName);
    Set(opLoadVar, "opLoadVar", olSlot);
    Set(opCallVariable, "opCallVariable", olSlot);
    Set(opCallFunction, "opCallFunction", olFunctionSlot);
    Set(opPushFunction, "opPushFunction", olFunctionSlot);
    Set(opEqual, "opEqual", olNone);
    Set(opLessEqual, "opLessEqual", olNone);
    Set(opLess, "opLess", olNone);
    Set(opGreaterEqual, "opGreaterEqual", olNone);
    Set(opGreater, "opGreater", olNone);
    Set(opRestoreVar, "opRestoreVar", olSlot);
    Set(opUpdateObjectChild, "opUpdateObjectChild", olOperatorName);
    Set(opCallNative, "opCallNative", olHandle);
    Set(opTest, "opTest", olInt32);
    return Table;
}

constexpr std::array<TOpcodeInfo, 256> OpcodeTable = MakeOpcodeTable();

const char* const OperatorTexts[] = {"=", "+=", "-=", "/=", "*=", "%="};

// A name operand for a listing: quoted, with quotes, backslashes and unprintable bytes escaped.
void AppendQuoted(std::string& Line, std::string_view Text) {
    Line += '"';
    for (unsigned char Byte : Text) {
        if (Byte == '"' || Byte == '\\') {
            Line += '\\';
            Line += char(Byte);
        } else if (Byte < 0x20 || Byte >= 0x7F) {
            char Escape[5];
            std::snprintf(Escape, sizeof Escape, "\\x%02X", Byte);
            Line += Escape;
        } else {
            Line += char(Byte);
        }
    }
    Line += '"';
}

// Shortest form that reads back as the same single, independent of the locale.
void AppendFloat(std::string& Line, float Value) {
    if (std::isnan(Value)) {
        Line += "nan";
        return;
    }
    char Buffer[32];
    auto Result = std::to_chars(Buffer, Buffer + sizeof Buffer, Value);
    std::string_view Text(Buffer, size_t(Result.ptr - Buffer));
    Line += Text;
    if (std::isfinite(Value) && Text.find_first_of(".e") == std::string_view::npos) Line += ".0";
}

} // namespace

bool IsOpcode(uint8_t Byte) {
    return OpcodeTable[Byte].Name != nullptr;
}
const char* OpcodeName(uint8_t Byte) {
    return OpcodeTable[Byte].Name;
}
TXOperandLayout OperandLayout(uint8_t Byte) {
    return OpcodeTable[Byte].Layout;
}

void AppendByte(std::string& Code, uint8_t Value) {
    Code += char(Value);
}

void AppendUInt32(std::string& Code, uint32_t Value) {
    for (int Shift = 0; Shift < 32; Shift += 8) Code += char((Value >> Shift) & 0xFF);
}

void AppendInt32(std::string& Code, int32_t Value) {
    AppendUInt32(Code, uint32_t(Value));
}
void AppendFloat32(std::string& Code, float Value) {
    AppendUInt32(Code, std::bit_cast<uint32_t>(Value));
}

void AppendName(std::string& Code, std::string_view Text) {
    Code.append(Text.substr(0, Text.find('\0')));
    Code += '\0';
}

void AppendSlot(std::string& Code, int32_t Index, int32_t Depth) {
    AppendInt32(Code, PackSlot(Index, Depth));
}

void AppendOp(std::string& Code, TXOpcode Op) {
    AppendByte(Code, Op);
}

void AppendOpInt32(std::string& Code, TXOpcode Op, int32_t Value) {
    AppendByte(Code, Op);
    AppendInt32(Code, Value);
}

void AppendOpFloat32(std::string& Code, TXOpcode Op, float Value) {
    AppendByte(Code, Op);
    AppendFloat32(Code, Value);
}

void AppendOpName(std::string& Code, TXOpcode Op, std::string_view Name) {
    AppendByte(Code, Op);
    AppendName(Code, Name);
}

void AppendOpSlot(std::string& Code, TXOpcode Op, int32_t Index, int32_t Depth) {
    AppendByte(Code, Op);
    AppendSlot(Code, Index, Depth);
}

void AppendOpHandle(std::string& Code, TXOpcode Op, uint32_t Handle) {
    AppendByte(Code, Op);
    AppendUInt32(Code, Handle);
}

void AppendOpOperatorName(std::string& Code, TXOpcode Op, uint8_t Operator, std::string_view Name) {
    AppendByte(Code, Op);
    AppendByte(Code, Operator);
    AppendName(Code, Name);
}

int32_t AppendJumpPlaceholder(std::string& Code) {
    int32_t OperandPos = int32_t(Code.size());
    Code.append(JumpPlaceholder, JumpPlaceholderSize);
    return OperandPos;
}

int32_t AppendForwardJump(std::string& Code, TXOpcode Op) {
    AppendByte(Code, Op);
    return AppendJumpPlaceholder(Code);
}

bool PatchJump(std::string& Code, int32_t OperandPos, int32_t Target) {
    if (OperandPos < 0 || int64_t(OperandPos) + 4 > int64_t(Code.size())) return false;
    std::string Operand;
    AppendInt32(Operand, int32_t(int64_t(Target) - OperandPos - 4));
    Code.replace(size_t(OperandPos), 4, Operand);
    return true;
}

bool PatchJumpHere(std::string& Code, int32_t OperandPos) {
    return PatchJump(Code, OperandPos, int32_t(Code.size()));
}

void AppendJumpOperand(std::string& Code, int32_t Target) {
    AppendInt32(Code, int32_t(int64_t(Target) - int64_t(Code.size()) - 4));
}

void AppendBackwardJump(std::string& Code, TXOpcode Op, int32_t Target) {
    AppendByte(Code, Op);
    AppendJumpOperand(Code, Target);
}

TXDecodeStatus DecodeInstruction(std::string_view Code, int32_t Offset, TXInstruction& Out) {
    Out = TXInstruction{};
    Out.Offset = Offset;
    Out.Next = Offset;
    if (Offset < 0 || size_t(Offset) >= Code.size()) return dsEnd;
    const char* Bytes = Code.data();
    const size_t End = Code.size();
    size_t Position = size_t(Offset) + 1;
    Out.Opcode = uint8_t(Bytes[Offset]);
    Out.Layout = OperandLayout(Out.Opcode);
    Out.Next = int32_t(Position);
    if (!IsOpcode(Out.Opcode)) return dsUnknown;

    auto Truncated = [&Out, End] {
        Out.Next = int32_t(End);
        return dsTruncated;
    };
    auto ReadName = [&]() {
        const void* Zero = std::memchr(Bytes + Position, 0, End - Position);
        if (!Zero) return false;
        size_t Length = size_t(static_cast<const char*>(Zero) - (Bytes + Position));
        Out.Name = Code.substr(Position, Length);
        Position += Length + 1;
        return true;
    };

    switch (Out.Layout) {
    case olNone: break;
    case olInt32:
    case olJump:
    case olFloat32:
    case olSlot:
    case olFunctionSlot:
    case olHandle:
        if (End - Position < 4) return Truncated();
        Out.Handle = ReadUInt32(Bytes + Position);
        Out.Value = int32_t(Out.Handle);
        Out.FloatValue = ReadFloat32(Bytes + Position);
        Out.Index = ReadUInt16(Bytes + Position);
        Out.Depth = ReadUInt16(Bytes + Position + 2);
        Position += 4;
        break;
    case olName:
        if (!ReadName()) return Truncated();
        break;
    case olOperatorName:
        if (End - Position < 1) return Truncated();
        Out.Operator = uint8_t(Bytes[Position++]);
        if (!ReadName()) return Truncated();
        break;
    }
    Out.Next = int32_t(Position);
    if (Out.Layout == olJump) Out.Target = int64_t(Out.Next) + Out.Value;
    return dsOk;
}

std::string FormatInstruction(const TXInstruction& Instruction, TXDecodeStatus Status) {
    char Offset[16];
    std::snprintf(Offset, sizeof Offset, "%04d ", Instruction.Offset);
    std::string Line = Offset;
    if (Status == dsEnd) return Line + "<end>";
    if (Status == dsUnknown) {
        char Text[24];
        std::snprintf(Text, sizeof Text, "unknown byte %02X", Instruction.Opcode);
        return Line + Text;
    }
    Line += OpcodeName(Instruction.Opcode);
    if (Status == dsTruncated) return Line + " <truncated>";
    switch (Instruction.Layout) {
    case olNone: break;
    case olInt32: Line += ' ' + std::to_string(Instruction.Value); break;
    case olJump:
        Line += ' ' + std::to_string(Instruction.Value) + " -> " + std::to_string(Instruction.Target);
        break;
    case olFloat32:
        Line += ' ';
        AppendFloat(Line, Instruction.FloatValue);
        break;
    case olName:
        Line += ' ';
        AppendQuoted(Line, Instruction.Name);
        break;
    case olSlot:
    case olFunctionSlot:
        Line += " index " + std::to_string(Instruction.Index) + " depth " + std::to_string(Instruction.Depth);
        break;
    case olHandle: Line += ' ' + std::to_string(Instruction.Handle); break;
    case olOperatorName:
        Line += ' ' + std::to_string(Instruction.Operator);
        if (Instruction.Operator <= uoModulo)
            Line += std::string(" (") + OperatorTexts[Instruction.Operator] + ')';
        Line += ' ';
        AppendQuoted(Line, Instruction.Name);
        break;
    }
    return Line;
}

std::vector<std::string> DisassembleCode(std::string_view Code) {
    std::vector<std::string> Lines;
    TXInstruction Instruction;
    int32_t Offset = 0;
    for (;;) {
        TXDecodeStatus Status = DecodeInstruction(Code, Offset, Instruction);
        if (Status == dsEnd) break;
        Lines.push_back(FormatInstruction(Instruction, Status));
        if (Status == dsTruncated) break;
        Offset = Instruction.Next;
    }
    return Lines;
}

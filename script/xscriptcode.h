#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

// Script bytecode: one opcode byte, then its operands, no alignment and no length prefix.
// Multi-byte operands are little-endian whatever the host's byte order. A compiled
// function's code is a std::string of such instructions.

// The instruction set. No other value is an instruction.
enum TXOpcode : uint8_t {
    opReturn = 1,
    opReturnNil = 2,
    opPop = 3,
    opReserve = 4,
    opAlert = 5,
    opNop = 6,
    opDup = 7,
    opSwap = 8,
    opMod = 9,
    opAdd = 10,
    opSub = 11,
    opMul = 12,
    opDiv = 13,
    opAnd = 14,
    opOr = 15,
    opShl = 16,
    opShr = 17,
    opShr2 = 18, // behaves as opShr
    opXor = 19,
    opNot = 20,
    opStoreVar = 21,
    opSetObjectChild = 22,
    opJumpIfFalse = 25,
    opJump = 26,
    opPushInt = 27,
    opPushFloat = 28,
    opPushString = 29,
    opToNumber = 30,
    opNegate = 31,
    opPushSelf = 40,
    opGetObjectChild = 41,
    opCallMethod = 42,
    opGetObjectValue = 43,
    opLoadVar = 44,
    opCallVariable = 45,
    opCallFunction = 46,
    opPushFunction = 47,
    opEqual = 51,
    opLessEqual = 52,
    opLess = 53,
    opGreaterEqual = 54,
    opGreater = 55,
    opRestoreVar = 60,
    opUpdateObjectChild = 61,
    opCallNative = 100,
    opTest = 255,
};

// What follows an opcode.
enum TXOperandLayout : uint8_t {
    olNone,         // nothing
    olInt32,        // int32 (opReserve count, opPushInt value, opTest mode)
    olJump,         // int32 offset from the end of the instruction
    olFloat32,      // float32
    olName,         // text, then a 0 byte
    olSlot,         // uint16 index, uint16 depth: a variable
    olFunctionSlot, // uint16 index, uint16 depth: a nested function
    olHandle,       // uint32 built-in handle
    olOperatorName, // byte operator, then a name (opUpdateObjectChild)
};

// The operator byte of opUpdateObjectChild.
enum TXUpdateOperator : uint8_t {
    uoAssign = 0,
    uoAdd = 1,
    uoSubtract = 2,
    uoDivide = 3,
    uoMultiply = 4,
    uoModulo = 5,
};

constexpr int32_t JumpInstructionSize = 5; // opcode and int32 operand
constexpr char JumpPlaceholder[] = "0000"; // a forward jump's operand until it is patched
constexpr int32_t JumpPlaceholderSize = 4;

bool IsOpcode(uint8_t Byte);
// "opAdd" and so on; nullptr for a byte that is not an instruction.
const char* OpcodeName(uint8_t Byte);
// olNone for a byte that is not an instruction.
TXOperandLayout OperandLayout(uint8_t Byte);

// Operand readers for code whose bounds the caller has checked: Bytes points at the operand.
inline uint16_t ReadUInt16(const char* Bytes) {
    uint8_t B[2];
    std::memcpy(B, Bytes, 2);
    return uint16_t(B[0] | (B[1] << 8));
}

inline uint32_t ReadUInt32(const char* Bytes) {
    uint32_t Value;
    std::memcpy(&Value, Bytes, 4);
    if constexpr (std::endian::native == std::endian::big)
        Value = (Value >> 24) | ((Value >> 8) & 0xFF00u) | ((Value << 8) & 0xFF0000u) | (Value << 24);
    return Value;
}

inline int32_t ReadInt32(const char* Bytes) {
    return int32_t(ReadUInt32(Bytes));
}
inline float ReadFloat32(const char* Bytes) {
    return std::bit_cast<float>(ReadUInt32(Bytes));
}

// A slot operand as the compilers write it: depth * 65536 + index, each taken modulo 65536.
constexpr int32_t PackSlot(int32_t Index, int32_t Depth) {
    return int32_t((uint32_t(Depth) & 0xFFFFu) << 16 | (uint32_t(Index) & 0xFFFFu));
}

// Appending, for the compilers. Every helper adds to the end of Code.
void AppendByte(std::string& Code, uint8_t Value);
void AppendInt32(std::string& Code, int32_t Value);
void AppendUInt32(std::string& Code, uint32_t Value);
void AppendFloat32(std::string& Code, float Value);
// The text up to its first 0 byte (a name cannot hold one), then a 0 byte.
void AppendName(std::string& Code, std::string_view Text);
void AppendSlot(std::string& Code, int32_t Index, int32_t Depth);

void AppendOp(std::string& Code, TXOpcode Op);
void AppendOpInt32(std::string& Code, TXOpcode Op, int32_t Value);
void AppendOpFloat32(std::string& Code, TXOpcode Op, float Value);
void AppendOpName(std::string& Code, TXOpcode Op, std::string_view Name);
void AppendOpSlot(std::string& Code, TXOpcode Op, int32_t Index, int32_t Depth);
void AppendOpHandle(std::string& Code, TXOpcode Op, uint32_t Handle);
void AppendOpOperatorName(std::string& Code, TXOpcode Op, uint8_t Operator, std::string_view Name);

// Jumps. A forward jump's operand is the placeholder until its target is known; a
// backward jump's operand is written at once. Operands count from the end of the operand.
//
// Appends the four placeholder bytes and gives their offset (the operand offset).
int32_t AppendJumpPlaceholder(std::string& Code);
// Op and a placeholder operand; gives the operand offset.
int32_t AppendForwardJump(std::string& Code, TXOpcode Op);
// Overwrites the four bytes at OperandPos with Target - OperandPos - 4. False, and Code
// unchanged, when the four bytes do not lie inside Code.
bool PatchJump(std::string& Code, int32_t OperandPos, int32_t Target);
// PatchJump to the current end of Code, where the next instruction will start.
bool PatchJumpHere(std::string& Code, int32_t OperandPos);
// Appends the operand of a jump whose opcode was just appended: Target - (length + 4).
void AppendJumpOperand(std::string& Code, int32_t Target);
// Op and the operand of a jump back to Target.
void AppendBackwardJump(std::string& Code, TXOpcode Op, int32_t Target);

// Decoding.
enum TXDecodeStatus : uint8_t {
    dsOk,        // one instruction decoded
    dsEnd,       // Offset is at or past the end of the code (or negative)
    dsUnknown,   // the byte at Offset is not an instruction
    dsTruncated, // the operands would run past the end of the code
};

struct TXInstruction {
    int32_t Offset = 0; // of the opcode
    int32_t Next = 0;   // where the operands end; the next instruction unless it jumps
    uint8_t Opcode = 0;
    TXOperandLayout Layout = olNone;
    int32_t Value = 0;    // olInt32 and olJump operand; a slot operand as packed
    float FloatValue = 0; // olFloat32
    uint32_t Handle = 0;  // olHandle
    uint16_t Index = 0;   // olSlot and olFunctionSlot
    uint16_t Depth = 0;
    uint8_t Operator = 0;  // olOperatorName
    std::string_view Name; // olName and olOperatorName: a view into the code, without the 0 byte
    int64_t Target = 0;    // olJump: Next + Value, which may lie outside the code
};

// Reads the instruction at Offset into Out. Never reads outside Code: with dsTruncated,
// Out holds the opcode and layout, and Next is the end of the code.
TXDecodeStatus DecodeInstruction(std::string_view Code, int32_t Offset, TXInstruction& Out);

// One line per instruction: the offset (four digits at least), the opcode's name, the
// operands and, for jumps, "-> " and the target offset. A byte that is not an instruction
// is shown as "unknown byte XX" and the listing goes on with the next byte; truncated
// operands end the listing with "<truncated>".
std::string FormatInstruction(const TXInstruction& Instruction, TXDecodeStatus Status);
std::vector<std::string> DisassembleCode(std::string_view Code);

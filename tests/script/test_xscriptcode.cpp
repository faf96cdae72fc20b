#include "xscriptcode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Bytes(std::initializer_list<int> List) {
    std::string Text;
    for (int Byte : List) Text += char(Byte);
    return Text;
}

TEST(Opcodes, TableValuesAndGaps) {
    EXPECT_EQ(opReturn, 1);
    EXPECT_EQ(opStoreVar, 21);
    EXPECT_EQ(opJumpIfFalse, 25);
    EXPECT_EQ(opPushSelf, 40);
    EXPECT_EQ(opEqual, 51);
    EXPECT_EQ(opRestoreVar, 60);
    EXPECT_EQ(opUpdateObjectChild, 61);
    EXPECT_EQ(opCallNative, 100);
    EXPECT_EQ(opTest, 255);
    int Count = 0;
    for (int Byte = 0; Byte < 256; Byte++) Count += IsOpcode(uint8_t(Byte));
    EXPECT_EQ(Count, 46);
    for (int Byte : {0, 23, 24, 32, 39, 48, 50, 56, 59, 62, 99, 101, 254}) {
        EXPECT_FALSE(IsOpcode(uint8_t(Byte))) << Byte;
        EXPECT_EQ(OpcodeName(uint8_t(Byte)), nullptr);
    }
    EXPECT_STREQ(OpcodeName(opShr2), "opShr2");
    EXPECT_EQ(OperandLayout(opUpdateObjectChild), olOperatorName);
    EXPECT_EQ(OperandLayout(opCallFunction), olFunctionSlot);
    EXPECT_EQ(OperandLayout(opTest), olInt32);
}

TEST(Encoding, EdgeCasesByteForByte) {
    std::string Code;
    AppendOpInt32(Code, opPushInt, -2);
    EXPECT_EQ(Code, Bytes({0x1B, 0xFE, 0xFF, 0xFF, 0xFF}));

    Code.clear();
    AppendOpSlot(Code, opLoadVar, 3, 1);
    EXPECT_EQ(Code, Bytes({0x2C, 0x03, 0x00, 0x01, 0x00}));
    EXPECT_EQ(PackSlot(3, 1), 65536 + 3);
    EXPECT_EQ(PackSlot(65536 + 7, 65535), int32_t(0xFFFF0007u));

    Code.clear();
    AppendOpName(Code, opPushString, "AB");
    EXPECT_EQ(Code, Bytes({0x1D, 0x41, 0x42, 0x00}));
    Code.clear();
    AppendOpName(Code, opPushString, "");
    EXPECT_EQ(Code, Bytes({0x1D, 0x00}));

    Code.clear();
    AppendOpFloat32(Code, opPushFloat, 1.0f);
    EXPECT_EQ(Code, Bytes({0x1C, 0x00, 0x00, 0x80, 0x3F}));

    Code.clear();
    AppendOpHandle(Code, opCallNative, 0x01020304u);
    AppendOpOperatorName(Code, opUpdateObjectChild, uoAdd, "A");
    EXPECT_EQ(Code, Bytes({0x64, 0x04, 0x03, 0x02, 0x01, 0x3D, 0x01, 0x41, 0x00}));
}

TEST(Encoding, NameStopsAtZeroByte) {
    std::string Code;
    AppendName(Code, std::string_view("A\0B", 3));
    EXPECT_EQ(Code, Bytes({0x41, 0x00}));
}

TEST(Jumps, SelfJumpAndZeroOperand) {
    std::string Code;
    AppendBackwardJump(Code, opJump, 0);
    EXPECT_EQ(Code, Bytes({0x1A, 0xFB, 0xFF, 0xFF, 0xFF}));
    TXInstruction Instruction;
    ASSERT_EQ(DecodeInstruction(Code, 0, Instruction), dsOk);
    EXPECT_EQ(Instruction.Target, 0);

    Code.clear();
    AppendOpInt32(Code, opJump, 0);
    ASSERT_EQ(DecodeInstruction(Code, 0, Instruction), dsOk);
    EXPECT_EQ(Instruction.Target, 5);
    EXPECT_EQ(Instruction.Next, 5);
}

TEST(Jumps, ForwardPlaceholderThenPatch) {
    std::string Code(10, char(opNop));
    int32_t OperandPos = AppendForwardJump(Code, opJumpIfFalse);
    EXPECT_EQ(OperandPos, 11);
    EXPECT_EQ(Code.substr(11), "0000");
    Code.append(15, char(opNop));
    ASSERT_EQ(Code.size(), 30u);
    EXPECT_TRUE(PatchJumpHere(Code, OperandPos));
    TXInstruction Instruction;
    ASSERT_EQ(DecodeInstruction(Code, 10, Instruction), dsOk);
    EXPECT_EQ(Instruction.Value, 15);
    EXPECT_EQ(Instruction.Target, 30);
    EXPECT_EQ(Code.size(), 30u);
}

TEST(Jumps, BackwardOperand) {
    std::string Code(40, char(opNop));
    AppendBackwardJump(Code, opJump, 5);
    TXInstruction Instruction;
    ASSERT_EQ(DecodeInstruction(Code, 40, Instruction), dsOk);
    EXPECT_EQ(Instruction.Value, -40);
    EXPECT_EQ(Instruction.Target, 5);
}

TEST(Jumps, PatchOutsideCodeIsRefused) {
    std::string Code = Bytes({0x1A, 0x30, 0x30, 0x30});
    EXPECT_FALSE(PatchJump(Code, 1, 0));
    EXPECT_FALSE(PatchJump(Code, -1, 0));
    EXPECT_EQ(Code, Bytes({0x1A, 0x30, 0x30, 0x30}));
}

// A root function with one variable x, declared as 1 + 2 and then alerted.
std::string WorkedExample() {
    std::string Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOp(Code, opAdd);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpSlot(Code, opLoadVar, 0, 0);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    return Code;
}

TEST(WorkedExample, TwentyEightBytes) {
    std::string Code = WorkedExample();
    EXPECT_EQ(Code, Bytes({0x04, 1,    0,    0, 0, 0x1B, 1, 0,    0, 0, 0x1B, 2, 0,    0,
                           0,    0x0A, 0x15, 0, 0, 0,    0, 0x2C, 0, 0, 0,    0, 0x05, 0x02}));
}

TEST(WorkedExample, DecodesBack) {
    std::string Code = WorkedExample();
    struct TExpected {
        int32_t Offset;
        uint8_t Opcode;
        int32_t Value;
    };
    const TExpected Expected[] = {{0, opReserve, 1}, {5, opPushInt, 1},   {10, opPushInt, 2},
                                  {15, opAdd, 0},    {16, opStoreVar, 0}, {21, opLoadVar, 0},
                                  {26, opAlert, 0},  {27, opReturnNil, 0}};
    int32_t Offset = 0;
    TXInstruction Instruction;
    for (const TExpected& Step : Expected) {
        ASSERT_EQ(DecodeInstruction(Code, Offset, Instruction), dsOk);
        EXPECT_EQ(Instruction.Offset, Step.Offset);
        EXPECT_EQ(Instruction.Opcode, Step.Opcode);
        EXPECT_EQ(Instruction.Value, Step.Value);
        Offset = Instruction.Next;
    }
    EXPECT_EQ(Offset, 28);
    EXPECT_EQ(DecodeInstruction(Code, Offset, Instruction), dsEnd);

    std::vector<std::string> Expect = {"0000 opReserve 1",
                                       "0005 opPushInt 1",
                                       "0010 opPushInt 2",
                                       "0015 opAdd",
                                       "0016 opStoreVar index 0 depth 0",
                                       "0021 opLoadVar index 0 depth 0",
                                       "0026 opAlert",
                                       "0027 opReturnNil"};
    EXPECT_EQ(DisassembleCode(Code), Expect);
}

TEST(Decoding, OperandsAndNames) {
    std::string Code;
    AppendOpName(Code, opGetObjectChild, "CHILD");
    AppendOpOperatorName(Code, opUpdateObjectChild, uoModulo, "");
    AppendOpSlot(Code, opCallFunction, 2, 3);
    AppendOpFloat32(Code, opPushFloat, -0.5f);
    TXInstruction Instruction;
    ASSERT_EQ(DecodeInstruction(Code, 0, Instruction), dsOk);
    EXPECT_EQ(Instruction.Name, "CHILD");
    EXPECT_EQ(Instruction.Next, 7);
    ASSERT_EQ(DecodeInstruction(Code, 7, Instruction), dsOk);
    EXPECT_EQ(Instruction.Operator, uoModulo);
    EXPECT_EQ(Instruction.Name, "");
    EXPECT_EQ(Instruction.Next, 10);
    ASSERT_EQ(DecodeInstruction(Code, 10, Instruction), dsOk);
    EXPECT_EQ(Instruction.Index, 2);
    EXPECT_EQ(Instruction.Depth, 3);
    ASSERT_EQ(DecodeInstruction(Code, 15, Instruction), dsOk);
    EXPECT_EQ(Instruction.FloatValue, -0.5f);
    EXPECT_EQ(
        DisassembleCode(Code),
        (std::vector<std::string>{"0000 opGetObjectChild \"CHILD\"", "0007 opUpdateObjectChild 5 (%=) \"\"",
                                  "0010 opCallFunction index 2 depth 3", "0015 opPushFloat -0.5"}));
}

TEST(Decoding, TruncatedOperandsAreReportedNotRead) {
    // Each cut of each instruction must report truncation, never run past the end.
    std::vector<std::string> Whole;
    std::string One;
    AppendOpInt32(One, opPushInt, 7);
    Whole.push_back(One);
    One.clear();
    AppendOpName(One, opPushString, "TEXT");
    Whole.push_back(One);
    One.clear();
    AppendOpOperatorName(One, opUpdateObjectChild, uoAdd, "P");
    Whole.push_back(One);
    One.clear();
    AppendOpHandle(One, opCallNative, 0);
    Whole.push_back(One);
    for (const std::string& Code : Whole) {
        for (size_t Cut = 1; Cut < Code.size(); Cut++) {
            // A copy of exactly Cut bytes, so that ASan catches any read beyond it.
            std::vector<char> Piece(Code.begin(), Code.begin() + long(Cut));
            TXInstruction Instruction;
            EXPECT_EQ(DecodeInstruction({Piece.data(), Piece.size()}, 0, Instruction), dsTruncated)
                << OpcodeName(uint8_t(Code[0])) << " cut at " << Cut;
            EXPECT_EQ(Instruction.Next, int32_t(Cut));
        }
    }
}

TEST(Decoding, UnknownEndAndNegativeOffsets) {
    std::string Code = Bytes({0x00, 0x17, 0x30, 0x63, 0x06});
    TXInstruction Instruction;
    EXPECT_EQ(DecodeInstruction(Code, 0, Instruction), dsUnknown);
    EXPECT_EQ(Instruction.Opcode, 0);
    EXPECT_EQ(Instruction.Next, 1);
    EXPECT_EQ(DecodeInstruction(Code, 3, Instruction), dsUnknown);
    EXPECT_EQ(DecodeInstruction(Code, 4, Instruction), dsOk);
    EXPECT_EQ(DecodeInstruction(Code, 5, Instruction), dsEnd);
    EXPECT_EQ(DecodeInstruction(Code, -1, Instruction), dsEnd);
    EXPECT_EQ(DecodeInstruction("", 0, Instruction), dsEnd);
}

TEST(Disassembler, JumpsUnknownBytesAndTruncation) {
    std::string Code;
    int32_t Operand = AppendForwardJump(Code, opJumpIfFalse);
    AppendOp(Code, opNop);
    PatchJumpHere(Code, Operand);
    AppendBackwardJump(Code, opJump, 0);
    Code += char(0x17);
    AppendOpName(Code, opPushString, "a\"\x01");
    AppendOpFloat32(Code, opPushFloat, 2.0f);
    Code += char(opPushInt);
    Code += char(1);
    EXPECT_EQ(DisassembleCode(Code),
              (std::vector<std::string>{"0000 opJumpIfFalse 1 -> 6", "0005 opNop", "0006 opJump -11 -> 0",
                                        "0011 unknown byte 17", "0012 opPushString \"a\\\"\\x01\"",
                                        "0017 opPushFloat 2.0", "0022 opPushInt <truncated>"}));
}

} // namespace

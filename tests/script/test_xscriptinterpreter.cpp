// The run loop on code built by hand: how a function ends, and the stack instructions.
#include "hand_built_script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

using ExecutionLoop = testing::Test;

TEST_F(ExecutionLoop, CodeOfLengthZeroIsAFaultWithTheEmptyString) {
    TScript Script;
    Script.Result.SetInteger(5);
    EXPECT_EQ(Script.Run(), Fault);
    EXPECT_EQ(Script.Result.kind, vkString);
    EXPECT_TRUE(Script.Result.text.Empty());
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, OnlyReturnNilGivesTheStringNil) {
    TScript Script;
    AppendOp(Script.Root.Code, opReturnNil);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.kind, vkString);
    EXPECT_EQ(Text(Script.Result), "NIL");
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, TheWorkedExampleAlertsThree) {
    TScript Script;
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOp(Code, opAdd);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpSlot(Code, opLoadVar, 0, 0);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    ASSERT_EQ(Code.size(), 28u);
    EXPECT_EQ(Script.Run(), "3\r\n");
    EXPECT_EQ(Text(Script.Result), "NIL");
    EXPECT_EQ(Script.Host.StackPointer, 1);
}

TEST_F(ExecutionLoop, RunningOffTheEndOrJumpingToItPopsTheTop) {
    // opPushInt 7, then a jump over opPushInt 8 to offset 15, the end of the code.
    TScript Script;
    AppendOpInt32(Script.Root.Code, opPushInt, 7);
    AppendOpInt32(Script.Root.Code, opJump, 5);
    AppendOpInt32(Script.Root.Code, opPushInt, 8);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.AsInteger(), 7);
    EXPECT_EQ(Script.Host.StackPointer, 0);

    TScript OffTheEnd;
    AppendOpInt32(OffTheEnd.Root.Code, opPushInt, 5);
    OffTheEnd.Run();
    EXPECT_EQ(OffTheEnd.Result.AsInteger(), 5);
    EXPECT_EQ(OffTheEnd.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, OperandsPastTheEndAndJumpsBeforeTheStartEndTheFunction) {
    const std::string Truncated[] = {
        std::string("\x1B\x01\x00", 3), // int32 cut short
        std::string("\x1D"
                    "AB",
                    3),                         // name without its 0 byte
        std::string("\x3D\x01", 2),             // operator without a name
        std::string("\x3D", 1),                 // nothing at all
        std::string("\x2C\x00\x00\x00", 4),     // slot cut short
        std::string("\x1A\xF0\xFF\xFF\xFF", 5), // jump before the first byte
    };
    for (const std::string& Tail : Truncated) {
        TScript Script;
        AppendOpInt32(Script.Root.Code, opPushInt, 9);
        Script.Root.Code += Tail;
        EXPECT_EQ(Script.Run(), "");
        EXPECT_EQ(Script.Result.AsInteger(), 9);
        EXPECT_EQ(Script.Host.StackPointer, 0);
    }
}

TEST_F(ExecutionLoop, AJumpIntoAnOperandDecodesFromThere) {
    // 0: opJump to 6; 5: opPushInt whose operand bytes, read from 6, are opNop and
    // opPushInt 42, which ends at 12, the end of the code.
    TScript Script;
    Script.Root.Code = std::string("\x1A\x01\x00\x00\x00\x1B\x06\x1B\x2A\x00\x00\x00", 12);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.AsInteger(), 42);
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, AByteThatIsNoInstructionEndsTheFunctionWithNothingPopped) {
    for (uint8_t Byte : {0x00, 0x17, 0x30, 0x63, 0xFE}) {
        TScript Script;
        AppendOpInt32(Script.Root.Code, opPushInt, 9);
        AppendByte(Script.Root.Code, Byte);
        AppendOpInt32(Script.Root.Code, opPushInt, 10);
        char Expected[64];
        std::snprintf(Expected, sizeof Expected, "unknown byte %02X at position 6\r\n", Byte);
        EXPECT_EQ(Script.Run(), Expected);
        EXPECT_EQ(Script.Result.kind, vkString);
        EXPECT_EQ(Text(Script.Result), "");
        EXPECT_EQ(Script.Host.StackPointer, 1);
    }
}

using StackInstructions = testing::Test;

// Runs Code (ending with the value to check on top) and gives the result as text.
std::string Evaluate(const std::string& Code) {
    TScript Script;
    Script.Root.Code = Code;
    Script.Run();
    return Text(Script.Result);
}

// An integer or float constant as opPushInt or opPushFloat, any other text as opPushString.
void PushConstant(std::string& Code, const std::string& Text) {
    int32_t Integer;
    float Float;
    if (ParseScriptInteger(Text, Integer))
        AppendOpInt32(Code, opPushInt, Integer);
    else if (ParseScriptFloat(Text, Float))
        AppendOpFloat32(Code, opPushFloat, Float);
    else
        AppendOpName(Code, opPushString, Text);
}

std::string Binary(TXOpcode Op, const std::string& Left, const std::string& Right) {
    std::string Code;
    PushConstant(Code, Left);
    PushConstant(Code, Right);
    AppendOp(Code, Op);
    return Evaluate(Code);
}

TEST_F(StackInstructions, ValueOperationsWorkOnTheSlotBeneathTheTop) {
    struct {
        TXOpcode Op;
        const char* Left;
        const char* Right;
        const char* Expected;
    } Cases[] = {
        {opAdd, "2", "3", "5"},
        {opAdd, "AB", "12", "AB12"},
        {opSub, "10", "4", "6"},
        {opSub, "2147483647", "-1", "-2147483648"},
        {opMul, "6", "7", "42"},
        {opMul, "2", "1.5", "3"},
        {opMul, "1.5", "2", "4"}, // an integer right operand rounds the left
        {opSub, "7", "X", "7"},   // a string right operand changes nothing
        {opDiv, "7", "2", "3"},
        {opDiv, "7", "2.0", "3.5"},
        {opMod, "-7", "3", "-1"},
        {opAnd, "12", "10", "8"},
        {opOr, "12", "10", "14"},
        {opXor, "12", "10", "6"},
        {opShl, "1", "33", "2"},
        {opShr, "-1", "28", "15"},
        {opShr2, "-1", "28", "15"},
        {opEqual, "3", "3.0", "1"},
        {opLess, "2", "2.5", "1"},
        {opLessEqual, "3", "2", "0"},
        {opGreater, "16777217", "16777216", "0"}, // compared as singles
        {opGreaterEqual, "B", "A", "1"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(Binary(Case.Op, Case.Left, Case.Right), Case.Expected)
            << OpcodeName(Case.Op) << " " << Case.Left << " " << Case.Right;
}

// The integer shortcuts of the loop agree with the values' own operations.
TEST_F(StackInstructions, IntegerShortcutsAgreeWithTheValueOperations) {
    const TXOpcode Operations[] = {opAdd,   opSub,       opMul,  opDiv,     opAnd,
                                   opOr,    opXor,       opShl,  opShr,     opShr2,
                                   opEqual, opLessEqual, opLess, opGreater, opGreaterEqual};
    const int32_t Values[] = {0, 1, -1, 7, -7, 33, 16777216, 16777217, INT32_MAX, INT32_MIN};
    for (TXOpcode Op : Operations)
        for (int32_t Left : Values)
            for (int32_t Right : Values) {
                TXScriptVariable Expected = TXScriptVariable::FromInteger(Left);
                TXScriptVariable Operand = TXScriptVariable::FromInteger(Right);
                switch (Op) {
                case opAdd: Expected.Add(Operand); break;
                case opSub: Expected.Subtract(Operand); break;
                case opMul: Expected.Multiply(Operand); break;
                case opDiv: Expected.Divide(Operand); break;
                case opAnd: Expected.BitAnd(Operand); break;
                case opOr: Expected.BitOr(Operand); break;
                case opXor: Expected.BitXor(Operand); break;
                case opShl: Expected.ShiftLeft(Operand); break;
                case opShr:
                case opShr2: Expected.ShiftRight(Operand); break;
                case opEqual: Expected.Equal(Operand); break;
                case opLessEqual: Expected.LessOrEqual(Operand); break;
                case opLess: Expected.Less(Operand); break;
                case opGreater: Expected.Greater(Operand); break;
                default: Expected.GreaterOrEqual(Operand); break;
                }
                std::string Code;
                AppendOpInt32(Code, opPushInt, Left);
                AppendOpInt32(Code, opPushInt, Right);
                AppendOp(Code, Op);
                TScript Script;
                Script.Root.Code = Code;
                Script.Run();
                EXPECT_EQ(Script.Result.kind, vkInteger);
                EXPECT_EQ(Script.Result.intValue, Expected.intValue)
                    << OpcodeName(Op) << " " << Left << " " << Right;
            }
}

TEST_F(StackInstructions, UnaryDupSwapAndPop) {
    std::string Code;
    AppendOpInt32(Code, opPushInt, 5);
    AppendOp(Code, opNot);
    EXPECT_EQ(Evaluate(Code), "-6");
    Code.clear();
    AppendOpName(Code, opPushString, "12AB");
    AppendOp(Code, opToNumber);
    EXPECT_EQ(Evaluate(Code), "0");
    Code.clear();
    AppendOpFloat32(Code, opPushFloat, 2.5f);
    AppendOp(Code, opNegate);
    EXPECT_EQ(Evaluate(Code), "-2.5");
    Code.clear();
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOp(Code, opSwap);
    AppendOp(Code, opPop);
    EXPECT_EQ(Evaluate(Code), "2");
    Code.clear();
    AppendOpName(Code, opPushString, "X");
    AppendOp(Code, opDup);
    AppendOp(Code, opAdd);
    EXPECT_EQ(Evaluate(Code), "XX");
}

TEST_F(StackInstructions, ReserveMovesWithoutWritingAndTheRingWraps) {
    TScript Script;
    Script.Host.Stack[3].SetInteger(33);
    AppendOpInt32(Script.Root.Code, opReserve, 3);
    AppendOpInt32(Script.Root.Code, opReserve, -65); // modulo 64: one back
    AppendOpInt32(Script.Root.Code, opReserve, 1);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), 33);
    EXPECT_EQ(Script.Host.StackPointer, 2);
}

TEST_F(StackInstructions, JumpIfFalseTestsTheIntegerOfTheTopAndPopsIt) {
    auto Branch = [](const std::string& Condition) {
        std::string Code;
        AppendOpInt32(Code, opPushInt, 100);
        AppendOpName(Code, opPushString, Condition);
        int32_t Operand = AppendForwardJump(Code, opJumpIfFalse);
        AppendOp(Code, opPop);
        AppendOpInt32(Code, opPushInt, 200);
        PatchJumpHere(Code, Operand);
        AppendOp(Code, opReturn);
        return Evaluate(Code);
    };
    EXPECT_EQ(Branch("0"), "100");
    EXPECT_EQ(Branch("0.4"), "100");
    EXPECT_EQ(Branch("WORD"), "100");
    EXPECT_EQ(Branch("0.6"), "200");
    EXPECT_EQ(Branch("-3"), "200");
}

} // namespace

// Combined steps: the decoded form of the code leaves what its single instructions leave.
#include "describe_value.h"
#include "hand_built_script.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// Combined steps must leave exactly what their single instructions leave. The same
// sequences run once as written (combined) and once with opNop between the instructions
// (never combined), from the same random stacks, and everything is compared.
struct TSequence {
    std::vector<std::string> Instructions;
    int32_t JumpAt = -1; // the opJumpIfFalse
    int32_t JumpTo = -1; // the instruction it lands on; -1 for the end of the code
    int32_t GoAt = -1;   // an opJump, forward
    int32_t GoTo = -1;
};

std::string Assemble(const TSequence& Sequence, bool Separated) {
    std::string Code;
    size_t Count = Sequence.Instructions.size();
    auto Forward = [&](size_t At, int32_t Target) {
        size_t Rest = 0;
        for (size_t After = At + 1; After < (Target >= 0 ? size_t(Target) : Count); After++) {
            bool Jump = int32_t(After) == Sequence.JumpAt || int32_t(After) == Sequence.GoAt;
            Rest += (Jump ? 5 : Sequence.Instructions[After].size()) + (Separated ? 1 : 0);
        }
        return int32_t(Rest);
    };
    for (size_t At = 0; At < Count; At++) {
        if (Separated && At > 0) AppendOp(Code, opNop);
        std::string Instruction = Sequence.Instructions[At];
        if (int32_t(At) == Sequence.JumpAt || int32_t(At) == Sequence.GoAt) {
            bool Go = int32_t(At) == Sequence.GoAt;
            Instruction.clear();
            AppendOpInt32(Instruction, Go ? opJump : opJumpIfFalse,
                          Forward(At, Go ? Sequence.GoTo : Sequence.JumpTo));
        }
        Code += Instruction;
    }
    return Code;
}

TXScriptVariable RandomValue(uint32_t& Seed) {
    Seed = Seed * 1103515245u + 12345u;
    switch ((Seed >> 16) % 12) {
    case 11: return TXScriptVariable::FromInteger(16777217); // 2^24 + 1: a single rounds it down
    case 0: return TXScriptVariable::FromInteger(5);
    case 1: return TXScriptVariable::FromInteger(0);
    case 2: return TXScriptVariable::FromInteger(-7);
    case 3: return TXScriptVariable::FromInteger(INT32_MAX);
    case 4: return TXScriptVariable::FromInteger(INT32_MIN);
    case 5: return TXScriptVariable::FromFloat(2.5f);
    case 6: return TXScriptVariable::FromText("12");
    case 7: return TXScriptVariable::FromText("AB");
    case 8: return TXScriptVariable();
    case 9: {
        TXScriptVariable Object;
        Object.SetObject(nullptr);
        return Object;
    }
    default: return TXScriptVariable::FromInteger(1);
    }
}

std::string RunOn(const std::string& Code, const std::vector<TXScriptVariable>& Stack, int32_t Pointer,
                  int32_t Frame) {
    TXScriptObjectFunction Function(nullptr, "__MAIN");
    Function.Code = Code;
    TXScriptHost Host(int32_t(Stack.size()), nullptr);
    for (size_t Slot = 0; Slot < Stack.size(); Slot++) Host.Stack[Slot] = Stack[Slot];
    Host.SetStackPosition(Frame >= 0 ? Frame : Pointer);
    if (Frame >= 0) Host.OpenFrame(Pointer - Frame, 1);
    TXScriptVariable Result;
    std::string Output = CaptureOutput([&] { Function.Execute(Host, Result); });
    std::string State = Output + "|" + Describe(Result) + "|" + std::to_string(Host.StackPointer) + "|";
    for (const TXScriptVariable& Slot : Host.Stack) State += Describe(Slot) + ",";
    return State;
}

TEST(CombinedSteps, LeaveWhatTheirInstructionsLeave) {
    const TXOpcode Operations[] = {opAdd,  opSub,     opMul,          opDiv,  opAnd,   opOr,
                                   opXor,  opShl,     opShr,          opShr2, opEqual, opLessEqual,
                                   opLess, opGreater, opGreaterEqual, opMod};
    uint32_t Seed = 20240601;
    auto Next = [&Seed](uint32_t Range) {
        Seed = Seed * 1103515245u + 12345u;
        return int32_t((Seed >> 16) % Range);
    };
    for (int32_t Case = 0; Case < 30000; Case++) {
        int32_t Size = 1 + Next(6);
        std::vector<TXScriptVariable> Stack;
        for (int32_t Slot = 0; Slot < Size; Slot++) Stack.push_back(RandomValue(Seed));
        int32_t Pointer = Next(uint32_t(Size));
        // Without frames, or inside one whose variables start at or below the pointer.
        int32_t Frame = Next(2) ? -1 : Next(uint32_t(Pointer + 1));
        auto Slot = [&] { return Next(7); };
        TXOpcode Op = Operations[Next(16)];
        // Now and then 2^24, from where singles no longer hold every integer.
        int32_t Constant = Next(3) == 0 ? 0 : Next(12) == 0 ? 16777216 : Next(9) - 4;
        std::string LoadX, LoadB, PushK, StoreC, Swap, Operate, Jump, Tail, Return, PushText, Equal, Go, PushK2;
        const char* Texts[] = {"AB", "12", "", "ABC"};
        AppendOpName(PushText, opPushString, Texts[Next(4)]);
        AppendOp(Equal, opEqual);
        AppendOpSlot(LoadX, opLoadVar, Slot(), 0);
        AppendOpSlot(LoadB, opLoadVar, Slot(), 0);
        AppendOpInt32(PushK, opPushInt, Constant);
        AppendOpSlot(StoreC, opStoreVar, Slot(), 0);
        AppendOp(Swap, opSwap);
        AppendOp(Operate, Op);
        AppendOp(Jump, opJumpIfFalse);
        AppendOp(Go, opJump);
        AppendOpInt32(PushK2, opPushInt, Next(8) ? Next(5) - 1 : 70000);
        AppendOpInt32(Tail, opPushInt, 111);
        AppendOp(Return, opReturn);
        TSequence Sequence;
        // Two arithmetic operations, now and then another.
        const TXOpcode Arithmetic[] = {opAdd, opSub, opMul, opDiv};
        std::string LoadC, OperateInner, OperateOuter;
        AppendOpSlot(LoadC, opLoadVar, Slot(), 0);
        AppendOp(OperateInner, Next(8) ? Arithmetic[Next(4)] : Op);
        AppendOp(OperateOuter, Next(8) ? Arithmetic[Next(4)] : Op);
        switch (Next(30)) {
        case 0: Sequence.Instructions = {LoadX, PushK, Operate}; break;
        case 1:
            Sequence.Instructions = {LoadX, PushK, Operate, Jump, Tail};
            Sequence.JumpAt = 3;
            break;
        case 2: Sequence.Instructions = {LoadX, LoadB, Swap, Operate, StoreC}; break;
        case 3: Sequence.Instructions = {PushK, LoadB, Swap, Operate, StoreC}; break;
        case 4:
            Sequence.Instructions = {LoadX, Swap, PushK, Operate, Jump, Tail};
            Sequence.JumpAt = 4;
            break;
        case 5: Sequence.Instructions = {LoadX, StoreC}; break;
        case 7: Sequence.Instructions = {LoadX, LoadB, Operate}; break;
        case 8: Sequence.Instructions = {PushK, LoadX, Operate}; break;
        case 9: Sequence.Instructions = {LoadX, Swap, Operate, StoreC}; break;
        case 10: Sequence.Instructions = {LoadX, LoadB, LoadC, OperateInner, OperateOuter, StoreC}; break;
        case 12: Sequence.Instructions = {LoadX, Swap, Operate, Return, Tail}; break;
        case 13: Sequence.Instructions = {LoadX, Swap, LoadB, Swap, Operate, StoreC}; break;
        case 14: Sequence.Instructions = {LoadX, LoadB, Tail}; break;
        case 15:
            // Arithmetic whose next step pushes over its two lowest values.
            Sequence.Instructions = {LoadX,  LoadB, LoadC, OperateInner, OperateOuter,
                                     StoreC, LoadB, PushK, Operate};
            break;
        case 17:
            // A compound assignment whose next step pushes over its two values.
            Sequence.Instructions = {LoadX, LoadB, Swap, Operate, StoreC, LoadC, LoadB, Tail};
            break;
        case 16:
            // The same, the next step pushing two variables.
            Sequence.Instructions = {LoadX,  LoadB, LoadC, OperateInner, OperateOuter,
                                     StoreC, LoadC, LoadB, Tail};
            break;
        case 11:
            // A text comparison whose two ways both push over its values at once.
            Sequence.Instructions = {LoadX, PushText, Equal, Jump,  LoadB,
                                     PushK, Operate,  LoadC, PushK, Operate};
            Sequence.JumpAt = 3;
            Sequence.JumpTo = 7;
            break;
        case 6:
            Sequence.Instructions = {LoadX, PushText, Equal, Jump, Tail};
            Sequence.JumpAt = 3;
            break;
        // Steps that leave their values for a way on that pushes over them: through an opJump,
        // single pushes and variable copies, one way or both ways of a jump.
        case 19:
            Sequence = {{PushK, LoadB, Swap, Operate, StoreC, Go, Tail, LoadX, PushK, Operate, Jump, LoadC, LoadB, Tail},
                        10, -1, 5, 7};
            break;
        case 20:
            Sequence = {{LoadX, PushK, Operate, PushK2, Equal, Jump, LoadB, StoreC, Go, LoadX, PushK, Operate,
                         LoadC, PushText, Equal, Jump, LoadB, LoadX, Tail},
                        5, 9, 8, 12};
            Sequence.Instructions[15].clear(); // the second jump, to the next instruction
            AppendOpInt32(Sequence.Instructions[15], opJumpIfFalse, 0);
            break;
        case 21: Sequence.Instructions = {LoadX, StoreC, LoadB, PushK, Operate}; break;
        case 22: Sequence = {{LoadX, StoreC, Go, Tail, LoadB, LoadC, Tail}, -1, -1, 2, 4}; break;
        case 23: Sequence.Instructions = {LoadB, Swap, Operate, StoreC, LoadX, PushK2, Tail}; break;
        case 26:
            // Arithmetic whose next step pushes over all three of its values.
            Sequence.Instructions = {LoadX, LoadB,        LoadC,        OperateInner, OperateOuter, StoreC, LoadC,
                                     LoadB, LoadX,        OperateInner, OperateOuter, StoreC,       Tail};
            break;
        case 27: Sequence.Instructions = {LoadX, LoadB, LoadC, OperateInner, OperateOuter, Return, Tail}; break;
        case 28: Sequence.Instructions = {PushK, OperateOuter, Return, Tail}; break;
        case 29: Sequence.Instructions = {PushK, OperateOuter, Tail}; break;
        case 25: Sequence.Instructions = {PushK, LoadB, Swap, Operate, StoreC, LoadX, StoreC, PushK2}; break;
        case 24:
            Sequence = {{LoadX, PushK, Operate, PushK2, Equal, Jump, LoadB, PushK, Operate, Go, LoadC, PushK2}, 5, 9,
                        9, 11};
            break;
        default: Sequence.Instructions = {LoadX, Return, Tail}; break;
        }
        std::string Combined = Assemble(Sequence, false), Single = Assemble(Sequence, true);
        ASSERT_EQ(RunOn(Combined, Stack, Pointer, Frame), RunOn(Single, Stack, Pointer, Frame))
            << "case " << Case << ": " << testing::PrintToString(DisassembleCode(Combined));
    }
}

// A step may leave its values above the top only for next steps that read no variable there:
// d = a op (b op c) followed by another whose c lies where the first one pushed its own c.
TEST(CombinedSteps, LeaveNothingForNextStepsThatReadAboveTheTop) {
    TSequence Sequence;
    auto Add = [&Sequence](auto Append, auto... Operands) {
        Sequence.Instructions.emplace_back();
        Append(Sequence.Instructions.back(), Operands...);
    };
    for (uint16_t C : {1, 4}) {
        Add(AppendOpSlot, opLoadVar, 0, 0);
        Add(AppendOpSlot, opLoadVar, 0, 0);
        Add(AppendOpSlot, opLoadVar, C, 0);
        Add(AppendOp, opMul);
        Add(AppendOp, opAdd);
        Add(AppendOpSlot, opStoreVar, 0, 0);
    }
    Add(AppendOpInt32, opPushInt, 111);
    std::vector<TXScriptVariable> Stack;
    for (int32_t Value : {2, 5, 0, 0, 7, 0, 0, 0}) Stack.push_back(TXScriptVariable::FromInteger(Value));
    EXPECT_EQ(RunOn(Assemble(Sequence, false), Stack, 1, -1), RunOn(Assemble(Sequence, true), Stack, 1, -1));
}

// A compare-and-jump step spends the jump's step only when it runs combined, and a spent
// budget faults at the jump with its condition on top, as the single jump does.
TEST(CombinedSteps, SpendTheStepBudgetAsTheirInstructionsDo) {
    std::string LoadX, PushK, Less, Jump, Tail, Swap;
    AppendOpSlot(LoadX, opLoadVar, 0, 0);
    AppendOpInt32(PushK, opPushInt, 1);
    AppendOp(Less, opLess);
    AppendOpInt32(Tail, opPushInt, 111);
    AppendOp(Swap, opSwap);
    std::string PushText, Equal;
    AppendOpName(PushText, opPushString, "A");
    AppendOp(Equal, opEqual);
    // Loaded and compared; pushed and compared with the top; loaded and compared with a text, then
    // with both ways pushing over its values.
    std::string Go, Mod;
    AppendOp(Go, opJump);
    AppendOp(Mod, opMod);
    TSequence Loaded{{LoadX, PushK, Less, Jump, Tail}, 3}, Pushed{{LoadX, Swap, PushK, Less, Jump, Tail}, 4},
        Text{{LoadX, PushText, Equal, Jump, Tail}, 3},
        PushedOver{{LoadX, PushText, Equal, Jump, LoadX, PushK, Less, LoadX, PushK, Less}, 3, 7},
        // Ways on that spend steps before they push over what the jump leaves.
        ThroughJump{{LoadX, PushK, Less, Jump, Go, Tail, LoadX, PushK, Less, LoadX, PushK, Less}, 3, 9, 4, 6},
        Remainder{{LoadX, PushK, Mod, PushK, Equal, Jump, Tail}, 5};
    for (const TSequence& Sequence : {Loaded, Pushed, Text, PushedOver, ThroughJump, Remainder})
        for (const TXScriptVariable& X : {TXScriptVariable::FromInteger(0), TXScriptVariable::FromText("0")})
            for (int64_t Budget : {0, 1, 2, 3}) {
                std::string Combined = Assemble(Sequence, false), Single = Assemble(Sequence, true);
                std::vector<TXScriptVariable> Stack(4, X);
                SetScriptStepBudget(Budget);
                std::string CombinedState = RunOn(Combined, Stack, 1, -1);
                std::string SingleState = RunOn(Single, Stack, 1, -1);
                SetScriptStepBudget(-1);
                EXPECT_EQ(CombinedState, SingleState) << Describe(X) << ", budget " << Budget;
            }
}

TEST(CombinedSteps, ChangedCodeIsDecodedAgain) {
    TScript Script;
    AppendOpInt32(Script.Root.Code, opPushInt, 1);
    AppendOpInt32(Script.Root.Code, opPushInt, 2);
    AppendOp(Script.Root.Code, opAdd);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), 3);
    Script.Root.Code[10] = char(opSub);
    Script.Host.SetStackPosition(0);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), -1);
}

} // namespace

#pragma once

// The work of the run loop's steps, melted into the loop: variable slots, the value
// operations on the spot, and the combined steps, each doing what its instructions would do.
// For script/xscriptinterpreter.cpp alone.

#include "xscriptexecution.h"

#include <cstdint>
#include <cstring>

namespace xscriptinterpreter::work {

[[gnu::noinline]] inline void ValueOperation(uint8_t Op, TXScriptVariable& Left,
                                             const TXScriptVariable& Right) {
    switch (Op) {
    case opAdd: Left.Add(Right); break;
    case opSub: Left.Subtract(Right); break;
    case opMul: Left.Multiply(Right); break;
    case opDiv: Left.Divide(Right); break;
    case opAnd: Left.BitAnd(Right); break;
    case opOr: Left.BitOr(Right); break;
    case opShl: Left.ShiftLeft(Right); break;
    case opShr:
    case opShr2: Left.ShiftRight(Right); break;
    case opXor: Left.BitXor(Right); break;
    case opEqual: Left.Equal(Right); break;
    case opLessEqual: Left.LessOrEqual(Right); break;
    case opLess: Left.Less(Right); break;
    case opGreaterEqual: Left.GreaterOrEqual(Right); break;
    default: Left.Greater(Right); break;
    }
}

XINLINE inline bool FindVariableSlot(const TXScriptHost& Host, int32_t FrameBase, int32_t Size,
                                     uint16_t Index, uint16_t Depth, int32_t& Slot) {
    if (Depth != 0) return Host.FindSlot(Index, Depth, Slot);
    uint32_t Position = uint32_t(FrameBase) + Index;
    Slot = Position < uint32_t(Size) ? int32_t(Position) : Host.SlotAt(Position);
    return true;
}

// A variable of the running function (depth 0).
XINLINE inline int32_t OwnSlot(const TXScriptHost& Host, int32_t FrameBase, int32_t Size, uint16_t Index) {
    uint32_t Position = uint32_t(FrameBase) + Index;
    return Position < uint32_t(Size) ? int32_t(Position) : Host.SlotAt(Position);
}

// A variable of the running function in a combined step, which runs only where every
// variable its code names lies on the stack above FrameBase (the run loop's CombinedSize):
// no wrap to check.
XINLINE inline int32_t FrameSlot(int32_t FrameBase, uint16_t Index) {
    return FrameBase + Index;
}

template <uint8_t Op> XINLINE inline int32_t Operate(int32_t Left, int32_t Right) {
    int32_t Result = 0;
    IntegerOperation(Op, Left, Right, Result);
    return Result;
}

// opLoadVar: a copy of the variable on top, or the host's report when it cannot be placed.
XINLINE inline void PushVariable(TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size, int32_t FrameBase,
                                 const TXStep& Step, int32_t& Sp) {
    if (Step.Depth == 0) {
        int32_t Slot = OwnSlot(Host, FrameBase, Size, Step.Index);
        int32_t Next = PushSlot(Host, Sp, Size);
        CopyValue(Slots[Next], Slots[Slot]);
        Sp = Next;
    } else if (int32_t Slot; Host.FindSlot(Step.Index, Step.Depth, Slot)) {
        int32_t Next = PushSlot(Host, Sp, Size);
        CopyValue(Slots[Next], Slots[Slot]);
        Sp = Next;
    } else {
        Host.StackPointer = Sp;
        Host.LoadVariable(Step.Index, Step.Depth);
        Sp = Host.StackPointer;
    }
}

// The arithmetic of numbers that gives a float, as the values' own operations do it: add
// when either side is a float, the others when the right side is one (an integer right
// side rounds the left one instead). False for every other case.
template <uint8_t Op>
XINLINE inline bool FloatOperation(const TXScriptVariable& Left, const TXScriptVariable& Right,
                                   float& Result) {
    if constexpr (Op == opAdd || Op == opSub || Op == opMul || Op == opDiv) {
        bool LeftNumber = Left.kind == vkFloat || Left.kind == vkInteger;
        bool RightFloat = Right.kind == vkFloat;
        if (!LeftNumber) return false;
        if (!RightFloat && !(Op == opAdd && Right.kind == vkInteger && Left.kind == vkFloat)) return false;
        float LeftNumberValue = Left.kind == vkFloat ? Left.floatValue : float(Left.intValue);
        float RightNumberValue = RightFloat ? Right.floatValue : float(Right.intValue);
        if constexpr (Op == opAdd) Result = LeftNumberValue + RightNumberValue;
        if constexpr (Op == opSub) Result = LeftNumberValue - RightNumberValue;
        if constexpr (Op == opMul) Result = LeftNumberValue * RightNumberValue;
        if constexpr (Op == opDiv) Result = LeftNumberValue / RightNumberValue;
        return true;
    } else {
        return false;
    }
}

// A two-operand instruction other than opMod: integers on the spot, anything else by the
// values' own operation.
template <uint8_t Op>
XINLINE inline void OperateOnTop(TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size, int32_t& Sp) {
    int32_t LeftSlot = SlotBelow(Sp, Size);
    TXScriptVariable& Left = Slots[LeftSlot];
    const TXScriptVariable& Right = Slots[Sp];
    if (Left.kind == vkInteger && Right.kind == vkInteger) {
        Left.intValue = Operate<Op>(Left.intValue, Right.intValue);
    } else if (Op == opEqual && Left.kind == vkString && Right.kind == vkString) {
        // Two texts are equal when their characters are.
        SetIntegerValue(Left, Left.text.View() == Right.text.View());
    } else if (float Number; FloatOperation<Op>(Left, Right, Number)) {
        Left.kind = vkFloat;
        Left.floatValue = Number;
        if (!Left.text.Empty()) Left.text.Clear();
    } else {
        Host.StackPointer = Sp;
        ValueOperation(Op, Left, Right);
    }
    Sp = LeftSlot;
}

// Left op k for a combined step's constant k, with the shortcuts its decoding marked (a
// remainder by a power of two, an ordering an integer decides): false where it faults.
template <uint8_t Op>
XINLINE inline bool OperateWithConstant(const TXStep* Step, int32_t Left, int32_t& Number) {
    if (Op == opMod && Step->Operation != 0) {
        Number = RemainderByPowerOfTwo(Left, Step->Value);
    } else if (IsOrdering(Op) && Step->Operation != 0) {
        Number = CompareWithExact<Op>(Left, Step->Value);
    } else {
        if (IntegerOperationFaults<Op>(Left, Step->Value)) return false;
        Number = Operate<Op>(Left, Step->Value);
    }
    return true;
}

// Combined steps. Each does what its instructions would do, down to the slots above the top,
// which keep what the instructions pushed there (unless the step's way on pushes over them
// first: LeavesAbove); false, with nothing changed, when its values are not all integers (or
// the slots lie past Size, the run loop's CombinedSize), and then only its first instruction
// runs.
//
// opLoadVar x, opPushInt k, op [, opJumpIfFalse]: the step to go on with, or null.
template <uint8_t Op, bool Jump>
XINLINE inline const TXStep* LoadOperate(const TXStep* Step, TXScriptVariable* Slots, int32_t Size,
                                         int32_t FrameBase, int32_t& Sp, int64_t Budget) {
    int32_t Slot = FrameSlot(FrameBase, Step->Index);
    if (Sp + 2 >= Size || Slots[Slot].kind != vkInteger) return nullptr;
    int32_t Number;
    if (!OperateWithConstant<Op>(Step, Slots[Slot].intValue, Number)) return nullptr;
    int32_t First = Sp + 1;
    if constexpr (!Jump) {
        if (!LeavesAbove(Step->NextReadsBelow, FrameBase, First, Budget))
            SetIntegerValue(Slots[First + 1], Step->Value);
        SetIntegerValue(Slots[First], Number);
        Sp = First;
        return Step->NextStep;
    } else {
        if (!LeavesAbove(Number != 0 ? Step->NextReadsBelow : Step->Branch.TargetReadsBelow, FrameBase, Sp,
                         Budget)) {
            SetIntegerValue(Slots[First + 1], Step->Value);
            SetIntegerValue(Slots[First], Number);
        }
        return Number != 0 ? Step->NextStep : Step->Target;
    }
}

// opLoadVar x, opPushInt k, op, opPushInt k2, opEqual, opJumpIfFalse: the step to go on with,
// or null.
template <uint8_t Op>
XINLINE inline const TXStep* LoadOperateEqual(const TXStep* Step, TXScriptVariable* Slots, int32_t Size,
                                              int32_t FrameBase, int32_t Sp, int64_t Budget) {
    int32_t Slot = FrameSlot(FrameBase, Step->Index);
    if (Sp + 2 >= Size || Slots[Slot].kind != vkInteger) return nullptr;
    int32_t Number;
    if (!OperateWithConstant<Op>(Step, Slots[Slot].intValue, Number)) return nullptr;
    bool Equal = Number == Step->Branch.Compared;
    // The comparison left its result over the operation's, k2 over k.
    if (!LeavesAbove(Equal ? Step->NextReadsBelow : Step->Branch.TargetReadsBelow, FrameBase, Sp, Budget)) {
        SetIntegerValue(Slots[Sp + 2], Step->Branch.Compared);
        SetIntegerValue(Slots[Sp + 1], Equal);
    }
    return Equal ? Step->NextStep : Step->Target;
}

// opLoadVar a or opPushInt k, then opLoadVar b, opSwap, op, opStoreVar c.
template <uint8_t Op, bool LoadFirst>
XINLINE inline bool Assign(const TXStep* Step, TXScriptVariable* Slots, int32_t Size, int32_t FrameBase,
                           int32_t Sp, int64_t Budget) {
    if (Sp + 2 >= Size) return false;
    int32_t Pushed = Step->Value;
    if constexpr (LoadFirst) {
        const TXScriptVariable& From = Slots[FrameSlot(FrameBase, Step->Index)];
        if (From.kind != vkInteger) return false;
        Pushed = From.intValue;
    }
    int32_t Source = FrameSlot(FrameBase, Step->Assign.SourceIndex);
    // b is read after the push: it must not be the pushed slot itself.
    int32_t First = Sp + 1;
    if (Source == First || Slots[Source].kind != vkInteger) return false;
    if (IntegerOperationFaults<Op>(Slots[Source].intValue, Pushed)) return false;
    int32_t Number = Operate<Op>(Slots[Source].intValue, Pushed);
    if (!LeavesAbove(Step->NextReadsBelow, FrameBase, Sp, Budget)) {
        SetIntegerValue(Slots[First], Number);
        SetIntegerValue(Slots[First + 1], Pushed);
    }
    SetIntegerValue(Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)], Number);
    return true;
}

// opPushInt k, op, opJumpIfFalse on an integer top: the step to go on with, or null.
template <uint8_t Op>
XINLINE inline const TXStep* PushOperateJump(const TXStep* Step, TXScriptVariable* Slots, int32_t Size,
                                             int32_t FrameBase, int32_t& Sp, int64_t Budget) {
    TXScriptVariable& Top = Slots[Sp];
    if (Sp + 1 >= Size || Top.kind != vkInteger || IntegerOperationFaults<Op>(Top.intValue, Step->Value))
        return nullptr;
    int32_t Number = IsOrdering(Op) && Step->Operation != 0 ? CompareWithExact<Op>(Top.intValue, Step->Value)
                                                            : Operate<Op>(Top.intValue, Step->Value);
    // The jump pops the result: the top is the slot below (none below slot 0 leaves nothing).
    if (!LeavesAbove(Number != 0 ? Step->NextReadsBelow : Step->Branch.TargetReadsBelow, FrameBase, Sp - 1,
                     Budget)) {
        SetIntegerValue(Slots[Sp + 1], Step->Value);
        Top.intValue = Number;
    }
    Sp = SlotBelow(Sp, Size);
    return Number != 0 ? Step->NextStep : Step->Target;
}

XINLINE inline bool IsNumber(const TXScriptVariable& Value) {
    return Value.kind == vkInteger || Value.kind == vkFloat;
}

// What an arithmetic operation leaves on two numbers, when it is an integer or a float made
// on the spot (the other mixes go through the values' own operation).
template <uint8_t Op>
XINLINE inline bool OperateOnNumbers(const TXScriptVariable& Left, const TXScriptVariable& Right,
                                     TXScriptKind& Kind, int32_t& Integer, float& Number) {
    if (Left.kind == vkInteger && Right.kind == vkInteger) {
        Kind = vkInteger;
        Integer = Operate<Op>(Left.intValue, Right.intValue);
        return true;
    }
    Kind = vkFloat;
    return FloatOperation<Op>(Left, Right, Number);
}

// Value becomes a copy of From, a number (whose text is empty and whose reference means
// nothing).
XINLINE inline void CopyNumber(TXScriptVariable& Value, const TXScriptVariable& From) {
    if (!Value.text.Empty()) Value.text.Clear();
    Value.kind = From.kind;
    Value.intValue = From.intValue;
    Value.floatValue = From.floatValue;
}

// Value, a copy of a number, takes the result of OperateOnNumbers.
XINLINE inline void SetNumberResult(TXScriptVariable& Value, TXScriptKind Kind, int32_t Integer,
                                    float Number) {
    Value.kind = Kind;
    if (Kind == vkInteger)
        Value.intValue = Integer;
    else
        Value.floatValue = Number;
}

// opLoadVar b, op with the top and b numbers, which no arithmetic faults on: false, with
// nothing changed, for other values (or a push past the end of the stack).
template <uint8_t Op>
XINLINE inline bool VariableOperate(const TXStep* Step, TXScriptHost& Host, TXScriptVariable* Slots,
                                    int32_t Size, int32_t FrameBase, int32_t& Sp) {
    if (Sp + 1 >= Size) return false;
    const TXScriptVariable& Variable = Slots[FrameSlot(FrameBase, Step->Index)];
    if (!IsNumber(Slots[Sp]) || !IsNumber(Variable)) return false;
    CopyNumber(Slots[Sp + 1], Variable);
    Sp++;
    OperateOnTop<Op>(Host, Slots, Size, Sp);
    return true;
}

// opLoadVar a, opLoadVar b, op with a and b numbers; as VariableOperate.
template <uint8_t Op>
XINLINE inline bool LoadLoadOperate(const TXStep* Step, TXScriptHost& Host, TXScriptVariable* Slots,
                                    int32_t Size, int32_t FrameBase, int32_t& Sp) {
    int32_t FirstSlot = FrameSlot(FrameBase, Step->Index);
    int32_t SecondSlot = FrameSlot(FrameBase, Step->Assign.SourceIndex);
    int32_t Top = Sp + 1;
    // b is read after a is pushed, as the single instructions read it.
    if (Top + 1 >= Size || !IsNumber(Slots[FirstSlot]) || SecondSlot == Top || !IsNumber(Slots[SecondSlot]))
        return false;
    TXScriptKind Kind;
    int32_t Integer = 0;
    float Number = 0;
    if (OperateOnNumbers<Op>(Slots[FirstSlot], Slots[SecondSlot], Kind, Integer, Number)) {
        CopyNumber(Slots[Top], Slots[FirstSlot]);
        CopyNumber(Slots[Top + 1], Slots[SecondSlot]);
        SetNumberResult(Slots[Top], Kind, Integer, Number);
        Sp = Top;
        return true;
    }
    CopyNumber(Slots[Top], Slots[FirstSlot]);
    CopyNumber(Slots[Top + 1], Slots[SecondSlot]);
    Sp = Top + 1;
    OperateOnTop<Op>(Host, Slots, Size, Sp);
    return true;
}

// A number's kind and payload.
struct TXNumber {
    TXScriptKind Kind;
    int32_t Integer;
    float Float;
};

XINLINE inline TXNumber NumberOf(const TXScriptVariable& Value) {
    return {Value.kind, Value.intValue, Value.floatValue};
}

// OperateOnNumbers on two numbers apart from their values.
template <uint8_t Op>
XINLINE inline bool OperateNumbers(const TXNumber& Left, const TXNumber& Right, TXNumber& Out) {
    if (Left.Kind == vkInteger && Right.Kind == vkInteger) {
        Out = {vkInteger, Operate<Op>(Left.Integer, Right.Integer), 0};
        return true;
    }
    bool RightFloat = Right.Kind == vkFloat;
    if (!RightFloat && !(Op == opAdd && Left.Kind == vkFloat)) return false;
    float LeftNumber = Left.Kind == vkFloat ? Left.Float : float(Left.Integer);
    float RightNumber = RightFloat ? Right.Float : float(Right.Integer);
    Out.Kind = vkFloat;
    if constexpr (Op == opAdd) Out.Float = LeftNumber + RightNumber;
    if constexpr (Op == opSub) Out.Float = LeftNumber - RightNumber;
    if constexpr (Op == opMul) Out.Float = LeftNumber * RightNumber;
    if constexpr (Op == opDiv) Out.Float = LeftNumber / RightNumber;
    return true;
}

template <uint8_t Op> XINLINE inline float FloatArithmetic(float Left, float Right) {
    if constexpr (Op == opAdd) return Left + Right;
    if constexpr (Op == opSub) return Left - Right;
    if constexpr (Op == opMul) return Left * Right;
    return Left / Right;
}

// opLoadVar a, b, c, Inner, Outer, opStoreVar d: d = a Outer (b Inner c) on three numbers
// whose results are made on the spot; false, with nothing changed, otherwise (or when b or c
// lies where an earlier push of the sequence goes). With Return, opReturn instead of the
// store: the result is left on top, above Sp.
template <uint8_t Outer, uint8_t Inner, bool Return = false>
XINLINE inline bool ArithmeticStore(const TXStep* Step, TXScriptVariable* Slots, int32_t Size,
                                    int32_t FrameBase, int32_t Sp, int64_t Budget) {
    int32_t Top = Sp + 1;
    int32_t A = FrameSlot(FrameBase, Step->Index);
    int32_t B = FrameSlot(FrameBase, Step->Assign.SourceIndex);
    int32_t C = FrameSlot(FrameBase, uint16_t(Step->Value));
    if (Top + 2 >= Size || B == Top || C == Top || C == Top + 1) return false;
    TXNumber First, Second;
    if (Slots[A].kind == vkFloat && Slots[B].kind == vkFloat && Slots[C].kind == vkFloat) {
        // Three floats, the common case, without the cases of the kinds.
        First = {vkFloat, 0, FloatArithmetic<Inner>(Slots[B].floatValue, Slots[C].floatValue)};
        Second = {vkFloat, 0, FloatArithmetic<Outer>(Slots[A].floatValue, First.Float)};
    } else if (!IsNumber(Slots[A]) || !IsNumber(Slots[B]) || !IsNumber(Slots[C]) ||
               !OperateNumbers<Inner>(NumberOf(Slots[B]), NumberOf(Slots[C]), First) ||
               !OperateNumbers<Outer>(NumberOf(Slots[A]), First, Second)) {
        return false;
    }
    if (!Return && LeavesAbove(Step->NextReadsBelow, FrameBase, Sp, Budget)) {
        // The next steps push over the two lowest values, or all three, before they read there.
        if (Step->Operation == 0) CopyNumber(Slots[Top + 2], Slots[C]);
        TXScriptVariable& Variable = Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)];
        if (!Variable.text.Empty()) Variable.text.Clear();
        SetNumberResult(Variable, Second.Kind, Second.Integer, Second.Float);
        return true;
    }
    // The pushes, each read after the one before was written, then the results.
    CopyNumber(Slots[Top], Slots[A]);
    CopyNumber(Slots[Top + 1], Slots[B]);
    CopyNumber(Slots[Top + 2], Slots[C]);
    SetNumberResult(Slots[Top + 1], First.Kind, First.Integer, First.Float);
    SetNumberResult(Slots[Top], Second.Kind, Second.Integer, Second.Float);
    if constexpr (!Return) CopyNumber(Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)], Slots[Top]);
    return true;
}

// opPushInt k, op with the top a number, which no arithmetic faults on: false, with nothing
// changed, for other values (or a push past the end of the stack).
template <uint8_t Op>
XINLINE inline bool PushOperate(const TXStep* Step, TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size,
                                int32_t& Sp) {
    if (Sp + 1 >= Size || !IsNumber(Slots[Sp])) return false;
    SetIntegerValue(Slots[Sp + 1], Step->Value);
    Sp++;
    OperateOnTop<Op>(Host, Slots, Size, Sp);
    return true;
}

// op, opStoreVar c.
template <uint8_t Op>
XINLINE inline void OperateStore(const TXStep* Step, TXScriptHost& Host, TXScriptVariable* Slots,
                                 int32_t Size, int32_t FrameBase, bool FrameFits, int32_t& Sp) {
    OperateOnTop<Op>(Host, Slots, Size, Sp);
    const TXScriptVariable& Top = Slots[Sp];
    uint16_t Index = Step->Assign.DestinationIndex;
    TXScriptVariable& Variable =
        Slots[FrameFits ? FrameSlot(FrameBase, Index) : OwnSlot(Host, FrameBase, Size, Index)];
    if (IsNumber(Top))
        CopyNumber(Variable, Top);
    else
        CopyValue(Variable, Top);
    Sp = SlotBelow(Sp, Size);
}

// opLoadVar b, opSwap, op, opStoreVar c on an integer top and b: c = b op top.
template <uint8_t Op>
XINLINE inline bool SwapAssign(const TXStep* Step, TXScriptVariable* Slots, int32_t Size, int32_t FrameBase,
                               int32_t& Sp, int64_t Budget) {
    int32_t Above = Sp + 1;
    if (Above >= Size) return false;
    const TXScriptVariable& Source = Slots[FrameSlot(FrameBase, Step->Index)];
    TXScriptVariable& Top = Slots[Sp];
    if (Source.kind != vkInteger || Top.kind != vkInteger) return false;
    int32_t Left = Source.intValue, Right = Top.intValue;
    if (IntegerOperationFaults<Op>(Left, Right)) return false;
    int32_t Number = Operate<Op>(Left, Right);
    // The swap left the top above, and b in its place became the result; the store pops it.
    if (!LeavesAbove(Step->NextReadsBelow, FrameBase, Sp - 1, Budget)) {
        SetIntegerValue(Slots[Above], Right);
        Top.intValue = Number;
    }
    SetIntegerValue(Slots[FrameSlot(FrameBase, Step->Assign.DestinationIndex)], Number);
    Sp = SlotBelow(Sp, Size);
    return true;
}

} // namespace xscriptinterpreter::work

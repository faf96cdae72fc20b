#include "xscriptexecution.h"

#include <algorithm>
#include <array>
#include <bit>
#include <memory>
#include <mutex>

// Decoding a function's code into steps, combining common sequences of integer work, and
// the cache that keeps the decoded form beside each function.

std::atomic<const void* const*> StepHandlers{nullptr};

namespace xscriptinterpreter {
namespace {

// The position of an integer operation in X_INTEGER_OPERATIONS, or -1 for the others.
int32_t IntegerOperationIndex(uint8_t Op) {
#define X_OPCODE(Form, Operation) Operation,
    static constexpr uint8_t Operations[] = {X_INTEGER_OPERATIONS(X_OPCODE, )};
#undef X_OPCODE
    if (Op == opShr2) Op = opShr;
    for (int32_t Index = 0; Index < IntegerOperationCount; Index++)
        if (Operations[Index] == Op) return Index;
    return -1;
}

// The step kind of each instruction; Unknown for the bytes that are none.
constexpr std::array<TXStepKind, 256> InstructionStepKinds = [] {
    std::array<TXStepKind, 256> Kinds{};
    Kinds.fill(TXStepKind::Unknown);
#define X_INSTRUCTION_KIND(Form, Name) Kinds[Name] = TXStepKind::Name;
    X_INSTRUCTION_STEPS(X_INSTRUCTION_KIND)
#undef X_INSTRUCTION_KIND
    return Kinds;
}();

// The combined kind of the form whose first kind is First, carrying the integer operation
// numbered Operation.
TXStepKind CombinedKind(TXStepKind First, int32_t Operation) {
    return TXStepKind(uint8_t(uint8_t(First) + Operation));
}

int32_t JumpTarget(const TXInstruction& Instruction, size_t Length) {
    return Instruction.Target >= 0 && Instruction.Target < int64_t(Length) ? int32_t(Instruction.Target)
                                                                           : int32_t(Length);
}

// Whether every way a step of this kind runs starts by pushing two values (d = a op (b op c):
// three), the later ones variables or constants that cannot fail.
bool PushesTwoFirst(TXStepKind Kind) {
    auto Within = [Kind](TXStepKind First, TXStepKind Last) { return Kind >= First && Kind <= Last; };
    return Within(TXStepKind::LoadOperate_opAdd, TXStepKind::PushAssign_opMod) ||
           Within(TXStepKind::LoadLoadOperate_opAdd, TXStepKind::LoadLoadOperate_opDiv) ||
           Within(TXStepKind::ArithmeticStore_opAdd_opAdd, TXStepKind::ArithmeticReturn_opDiv_opDiv) ||
           Kind == TXStepKind::LoadEqualTextJump || Kind == TXStepKind::LoadLoad;
}

bool IsArithmeticStore(TXStepKind Kind) {
    return Kind >= TXStepKind::ArithmeticStore_opAdd_opAdd && Kind <= TXStepKind::ArithmeticStore_opDiv_opDiv;
}

// a op (b op c), stored or returned.
bool IsArithmeticPair(TXStepKind Kind) {
    return Kind >= TXStepKind::ArithmeticStore_opAdd_opAdd &&
           Kind <= TXStepKind::ArithmeticReturn_opDiv_opDiv;
}

// One more than the highest variable index a combined step names (0 for other steps).
int32_t CombinedReach(const TXStep& Step) {
    auto Within = [&Step](TXStepKind First, TXStepKind Last) {
        return Step.Kind >= First && Step.Kind <= Last;
    };
    int32_t Reach = 0;
    auto Names = [&Reach](int32_t Index) { Reach = std::max(Reach, Index + 1); };
    bool Assigns = Within(TXStepKind::LoadAssign_opAdd, TXStepKind::PushAssign_opMod);
    if (Within(TXStepKind::SwapAssign_opAdd, TXStepKind::SwapAssign_opMod)) {
        Names(Step.Index);
        Names(Step.Assign.DestinationIndex);
    }
    if (Step.Kind == TXStepKind::LoadStore || Step.Kind == TXStepKind::LoadEqualTextJump ||
        Step.Kind == TXStepKind::LoadReturn ||
        Within(TXStepKind::LoadOperate_opAdd, TXStepKind::LoadOperateEqualJump_opMod) ||
        Within(TXStepKind::LoadAssign_opAdd, TXStepKind::LoadAssign_opMod) ||
        Within(TXStepKind::VariableOperate_opAdd, TXStepKind::LoadLoadOperate_opDiv) ||
        IsArithmeticPair(Step.Kind))
        Names(Step.Index);
    if (Step.Kind == TXStepKind::LoadLoad) {
        Names(Step.Index);
        Names(Step.Assign.SourceIndex);
    }
    if (Assigns || Within(TXStepKind::LoadLoadOperate_opAdd, TXStepKind::LoadLoadOperate_opDiv) ||
        IsArithmeticPair(Step.Kind))
        Names(Step.Assign.SourceIndex);
    if (Assigns || Step.Kind == TXStepKind::LoadStore ||
        Within(TXStepKind::OperateStore_opAdd, TXStepKind::OperateStore_opDiv) ||
        Within(TXStepKind::ArithmeticStore_opAdd_opAdd, TXStepKind::ArithmeticStore_opDiv_opDiv))
        Names(Step.Assign.DestinationIndex);
    if (IsArithmeticPair(Step.Kind)) Names(uint16_t(Step.Value));
    return Reach;
}

// The highest variable index that a step which starts with two pushes reads before both are
// written (a step of a kind PushesTwoFirst accepts); d = a op (b op c), before all three are.
int32_t PushedReadsHighest(const TXStep& Step) {
    if (IsArithmeticPair(Step.Kind))
        return std::max(
            {int32_t(Step.Index), int32_t(Step.Assign.SourceIndex), int32_t(uint16_t(Step.Value))});
    auto Within = [&Step](TXStepKind First, TXStepKind Last) {
        return Step.Kind >= First && Step.Kind <= Last;
    };
    // The first push reads a variable, except opPushInt k's; the second reads b where it is one.
    bool First = !Within(TXStepKind::PushAssign_opAdd, TXStepKind::PushAssign_opMod);
    bool Second = Within(TXStepKind::LoadAssign_opAdd, TXStepKind::PushAssign_opMod) ||
                  Within(TXStepKind::LoadLoadOperate_opAdd, TXStepKind::LoadLoadOperate_opDiv) ||
                  Within(TXStepKind::ArithmeticStore_opAdd_opAdd, TXStepKind::ArithmeticStore_opDiv_opDiv) ||
                  Step.Kind == TXStepKind::LoadLoad;
    return std::max(First ? int32_t(Step.Index) : 0, Second ? int32_t(Step.Assign.SourceIndex) : 0);
}

// What the steps from a step on do above the top they start from, before anything there is
// read: they push over the Pushes values above it (each pushed, or left by a step whose own
// way on pushes over it), reading no variable above ReadsHighest first (-1: none).
struct TXCover {
    int32_t Pushes = 0;
    int32_t ReadsHighest = -1;
};

// Follows single pushes, variable copies and at most one opJump, a few steps at most.
TXCover CoverFrom(const TXStep& Step, int32_t Hops, bool Jumped) {
    if (PushesTwoFirst(Step.Kind)) return {IsArithmeticPair(Step.Kind) ? 3 : 2, PushedReadsHighest(Step)};
    if (Hops == 0) return {};
    bool Jumps =
        Step.Kind >= TXStepKind::PushOperateJump_opAdd && Step.Kind <= TXStepKind::PushOperateJump_opMod;
    bool PushOne = Jumps || Step.Kind == TXStepKind::opPushInt ||
                   (Step.Kind == TXStepKind::opLoadVar && Step.Depth == 0);
    bool Reads = Step.Kind == TXStepKind::opLoadVar || Step.Kind == TXStepKind::LoadStore;
    if (PushOne || Step.Kind == TXStepKind::LoadStore) {
        // A jump goes on with the top popped again: its own push is all it surely covers.
        TXCover Next = Jumps ? TXCover{} : CoverFrom(*Step.NextStep, Hops - 1, Jumped);
        TXCover Cover;
        // A push starts the next step one slot higher; a copy pops its push again.
        Cover.Pushes = PushOne ? 1 + Next.Pushes : std::max(1, Next.Pushes);
        Cover.ReadsHighest = std::max(Reads ? int32_t(Step.Index) : -1, Next.ReadsHighest);
        return Cover;
    }
    if (Step.Kind == TXStepKind::opJump && !Jumped) return CoverFrom(*Step.Target, Hops - 1, true);
    return {};
}

// How many values a combined step leaves above its top that its way on may push over instead,
// and whether it has a second way (its jump's target); 0 for steps that write all they leave.
int32_t ValuesLeftAbove(TXStepKind Kind, bool& Branches) {
    auto Within = [Kind](TXStepKind First, TXStepKind Last) { return Kind >= First && Kind <= Last; };
    Branches = Kind == TXStepKind::LoadEqualTextJump ||
               Within(TXStepKind::LoadOperateJump_opAdd, TXStepKind::LoadOperateEqualJump_opMod) ||
               Within(TXStepKind::PushOperateJump_opAdd, TXStepKind::PushOperateJump_opMod);
    if (Kind == TXStepKind::LoadStore || Within(TXStepKind::LoadOperate_opAdd, TXStepKind::LoadOperate_opMod))
        return 1;
    // d = a op (b op c) leaves all three where its way on pushes three, else its two lowest.
    if (IsArithmeticStore(Kind)) return 3;
    if (Branches || Within(TXStepKind::LoadAssign_opAdd, TXStepKind::SwapAssign_opMod)) return 2;
    return 0;
}

// NextReadsBelow (and Branch.TargetReadsBelow) of a step, for the ways whose steps push over all the
// values it leaves above its top.
void MarkLeavesAbove(TXStep& Step) {
    bool Branches = false;
    int32_t Left = ValuesLeftAbove(Step.Kind, Branches);
    if (Left == 0) return;
    auto ReadsBelow = [](const TXCover& Cover, int32_t Left) -> uint16_t {
        // (Reading nothing counts as reading variable 0: ReadsBelow is never 0 where it may leave.)
        int32_t Highest = std::max(Cover.ReadsHighest, 0);
        return Cover.Pushes < Left || Highest >= int32_t(UINT16_MAX) ? 0 : uint16_t(Highest + 1);
    };
    TXCover Next = CoverFrom(*Step.NextStep, 4, false);
    if (IsArithmeticStore(Step.Kind)) {
        // All three where the way on pushes three, else the two lowest.
        Step.Operation = Next.Pushes >= 3;
        Left = Next.Pushes >= 3 ? 3 : 2;
    }
    Step.NextReadsBelow = ReadsBelow(Next, Left);
    if (Branches) Step.Branch.TargetReadsBelow = ReadsBelow(CoverFrom(*Step.Target, 4, false), Left);
}

// Whether Op orders values against the constant K, which compares as exactly as a single.
bool ExactOrdering(uint8_t Op, int32_t K) {
    return IsOrdering(Op) && K > -(1 << 24) && K < (1 << 24);
}

// Whether opPushString makes a text of these characters (not a number).
bool IsTextConstant(std::string_view Characters) {
    TXScriptVariable Made;
    try {
        Made.SetFromText(Characters, true);
    } catch (const TXScriptFault&) {
        return false;
    }
    return Made.kind == vkString;
}

// The step at Offset, where it ends (Next) and its jump target (the end of the code when it
// has none). Combine allows the combined steps.
TXStep DecodeStep(std::string_view Code, int32_t Offset, bool Combine, int32_t& Next, int32_t& Target) {
    TXStep Step;
    Target = int32_t(Code.size());
    TXInstruction First;
    TXDecodeStatus Status = DecodeInstruction(Code, Offset, First);
    if (Status == dsUnknown) {
        Step.Operation = First.Opcode;
        Step.Value = Offset;
        Next = Offset + 1;
        return Step;
    }
    Next = First.Next;
    if (Status != dsOk) {
        Step.Kind = TXStepKind::End;
        return Step;
    }
    Step.Kind = InstructionStepKinds[First.Opcode];
    Step.Index = First.Index;
    Step.Depth = First.Depth;
    Step.Operation = First.Operator;
    switch (First.Layout) {
    case olInt32: Step.Value = First.Value; break;
    case olJump: Target = JumpTarget(First, Code.size()); break;
    case olFloat32: Step.Value = std::bit_cast<int32_t>(First.FloatValue); break;
    case olHandle: Step.Value = int32_t(First.Handle); break;
    case olName:
    case olOperatorName:
        Step.Value = int32_t(First.Name.data() - Code.data());
        Step.Length = int32_t(First.Name.size());
        break;
    default: break;
    }
    if (!Combine) return Step;

    // The combined sequences, by the instructions that follow. Their variables are the
    // running function's own (depth 0).
    TXInstruction Second, Third, Fourth, Fifth, Sixth;
    auto Decode = [&](int32_t At, TXInstruction& Out) { return DecodeInstruction(Code, At, Out) == dsOk; };
    if (First.Opcode == opPushSelf) {
        // The member's instruction keeps its own step (the next, or the one after): its
        // look-ups are remembered under that step.
        if (!Decode(First.Next, Second)) return Step;
        if (Second.Opcode == opGetObjectValue) {
            Step.Kind = TXStepKind::SelfValue;
            Next = Second.Next;
        } else if (Second.Opcode == opGetObjectChild) {
            Step.Kind = TXStepKind::SelfChild;
            Next = Second.Next;
        } else if (Second.Opcode == opPushSelf && Decode(Second.Next, Third) &&
                   Third.Opcode == opGetObjectValue) {
            Step.Kind = TXStepKind::SelfSelfValue;
            Next = Third.Next;
        }
        return Step;
    }
    // The arithmetic operations, which combine on any values.
    auto AnyValues = [](uint8_t Op) {
        return Op == opAdd || Op == opSub || Op == opMul || Op == opDiv ? IntegerOperationIndex(Op) : -1;
    };
    if (AnyValues(First.Opcode) >= 0 && Decode(First.Next, Second) && Second.Opcode == opStoreVar &&
        Second.Depth == 0) {
        Step.Kind = CombinedKind(TXStepKind::OperateStore_opAdd, AnyValues(First.Opcode));
        Step.Assign = {0, Second.Index};
        Next = Second.Next;
        return Step;
    }
    if (AnyValues(First.Opcode) >= 0 && Decode(First.Next, Second) && Second.Opcode == opReturn) {
        Step.Kind = CombinedKind(TXStepKind::OperateReturn_opAdd, AnyValues(First.Opcode));
        Next = Second.Next;
        return Step;
    }
    bool Load = First.Opcode == opLoadVar, Push = First.Opcode == opPushInt;
    if ((!Load && !Push) || (Load && First.Depth != 0) || !Decode(First.Next, Second)) return Step;
    if (Load && Second.Opcode == opReturn) {
        Step.Kind = TXStepKind::LoadReturn;
        return Step;
    }
    if (Load && Second.Opcode == opStoreVar && Second.Depth == 0) {
        Step.Kind = TXStepKind::LoadStore;
        Step.Assign = {0, Second.Index};
        Next = Second.Next;
        return Step;
    }
    if (!Decode(Second.Next, Third)) return Step;
    if (Load && Second.Opcode == opSwap && IntegerOperationIndex(Third.Opcode) >= 0 &&
        Decode(Third.Next, Fourth) && Fourth.Opcode == opStoreVar && Fourth.Depth == 0) {
        Step.Kind = CombinedKind(TXStepKind::SwapAssign_opAdd, IntegerOperationIndex(Third.Opcode));
        Step.Assign = {0, Fourth.Index};
        Next = Fourth.Next;
        return Step;
    }
    if (Load && Second.Opcode == opPushString && Third.Opcode == opEqual && Decode(Third.Next, Fourth) &&
        Fourth.Opcode == opJumpIfFalse && IsTextConstant(Second.Name)) {
        Step.Kind = TXStepKind::LoadEqualTextJump;
        Step.Value = int32_t(Second.Name.data() - Code.data());
        Step.Length = int32_t(Second.Name.size());
        Target = JumpTarget(Fourth, Code.size());
        Next = Fourth.Next;
        return Step;
    }
    if (Push && AnyValues(Second.Opcode) >= 0 && Third.Opcode == opReturn) {
        Step.Kind = CombinedKind(TXStepKind::PushOperateReturn_opAdd, AnyValues(Second.Opcode));
        Next = Third.Next;
        return Step;
    }
    if (Push && IntegerOperationIndex(Second.Opcode) >= 0 && Third.Opcode == opJumpIfFalse) {
        Step.Kind = CombinedKind(TXStepKind::PushOperateJump_opAdd, IntegerOperationIndex(Second.Opcode));
        Step.Operation = ExactOrdering(Second.Opcode, First.Value);
        Target = JumpTarget(Third, Code.size());
        Next = Third.Next;
        return Step;
    }
    if (Push && AnyValues(Second.Opcode) >= 0) {
        Step.Kind = CombinedKind(TXStepKind::PushOperate_opAdd, AnyValues(Second.Opcode));
        Next = Second.Next;
        return Step;
    }
    int32_t Operation = IntegerOperationIndex(Third.Opcode);
    if (Load && Second.Opcode == opPushInt && Operation >= 0) {
        Step.Kind = CombinedKind(TXStepKind::LoadOperate_opAdd, Operation);
        Step.Value = Second.Value;
        Step.Operation =
            (Third.Opcode == opMod && Second.Value > 0 && (Second.Value & (Second.Value - 1)) == 0) ||
            ExactOrdering(Third.Opcode, Second.Value);
        Next = Third.Next;
        if (!Decode(Third.Next, Fourth)) return Step;
        if (Fourth.Opcode == opJumpIfFalse) {
            Step.Kind = CombinedKind(TXStepKind::LoadOperateJump_opAdd, Operation);
            Target = JumpTarget(Fourth, Code.size());
            Next = Fourth.Next;
        } else if (Fourth.Opcode == opPushInt && Fourth.Value == int16_t(Fourth.Value) &&
                   Decode(Fourth.Next, Fifth) && Fifth.Opcode == opEqual && Decode(Fifth.Next, Sixth) &&
                   Sixth.Opcode == opJumpIfFalse) {
            Step.Kind = CombinedKind(TXStepKind::LoadOperateEqualJump_opAdd, Operation);
            Step.Branch.Compared = int16_t(Fourth.Value);
            Target = JumpTarget(Sixth, Code.size());
            Next = Sixth.Next;
        }
        return Step;
    }
    if (Load && Second.Opcode == opLoadVar && Second.Depth == 0 && Third.Opcode == opLoadVar &&
        Third.Depth == 0 && Decode(Third.Next, Fourth) && AnyValues(Fourth.Opcode) >= 0 &&
        Decode(Fourth.Next, Fifth) && AnyValues(Fifth.Opcode) >= 0 && Decode(Fifth.Next, Sixth) &&
        ((Sixth.Opcode == opStoreVar && Sixth.Depth == 0) || Sixth.Opcode == opReturn)) {
        TXStepKind Form = Sixth.Opcode == opReturn ? TXStepKind::ArithmeticReturn_opAdd_opAdd
                                                   : TXStepKind::ArithmeticStore_opAdd_opAdd;
        Step.Kind = TXStepKind(uint8_t(Form) + 4 * AnyValues(Fifth.Opcode) + AnyValues(Fourth.Opcode));
        Step.Assign = {Second.Index, uint16_t(Sixth.Opcode == opReturn ? 0 : Sixth.Index)};
        Step.Value = Third.Index;
        Next = Sixth.Next;
        return Step;
    }
    if (Load && Second.Opcode == opLoadVar && Second.Depth == 0 && AnyValues(Third.Opcode) >= 0) {
        Step.Kind = CombinedKind(TXStepKind::LoadLoadOperate_opAdd, AnyValues(Third.Opcode));
        Step.Assign = {Second.Index, 0};
        Next = Third.Next;
        return Step;
    }
    if (Load && AnyValues(Second.Opcode) >= 0) {
        Step.Kind = CombinedKind(TXStepKind::VariableOperate_opAdd, AnyValues(Second.Opcode));
        Next = Second.Next;
        return Step;
    }
    bool LoadAssign = Second.Opcode == opLoadVar && Second.Depth == 0 && Third.Opcode == opSwap;
    if (Load && Second.Opcode == opLoadVar && Second.Depth == 0 && !LoadAssign) {
        Step.Kind = TXStepKind::LoadLoad;
        Step.Assign = {Second.Index, 0};
        Next = Second.Next;
        return Step;
    }
    if (Second.Opcode != opLoadVar || Second.Depth != 0 || Third.Opcode != opSwap ||
        !Decode(Third.Next, Fourth) || !Decode(Fourth.Next, Fifth) || Fifth.Opcode != opStoreVar ||
        Fifth.Depth != 0)
        return Step;
    Operation = IntegerOperationIndex(Fourth.Opcode);
    if (Operation < 0) return Step;
    Step.Kind = CombinedKind(Load ? TXStepKind::LoadAssign_opAdd : TXStepKind::PushAssign_opAdd, Operation);
    Step.Assign = {Second.Index, Fifth.Index};
    Next = Fifth.Next;
    return Step;
}

// Code as the compilers make it has one step per instruction, read from the first byte on,
// and every jump lands on an instruction. Other code (a jump into the operands of an
// instruction, or past a byte that ends the function) gets one uncombined step per byte,
// so that any offset finds its step. Either way a last step stands for the end of the code.
TXPreparedCode* PrepareCode(std::string_view Code, const std::vector<TXCallSite>& CallSites) {
    if (Code.size() > size_t(PreparedCodeLimit)) throw TXScriptFault("code too long to run");
    auto Prepared = std::make_unique<TXPreparedCode>();
    Prepared->Source.assign(Code);
    Prepared->CallSites = CallSites;
    std::string_view Source = Prepared->Source;
    int32_t Length = int32_t(Source.size());

    // The instructions read from the first byte on, by offset.
    std::vector<int32_t> StepAt(size_t(Length) + 1, -1);
    std::vector<int32_t> Starts;
    bool Regular = true;
    for (int32_t Offset = 0; Offset < Length;) {
        StepAt[size_t(Offset)] = int32_t(Starts.size());
        Starts.push_back(Offset);
        TXInstruction Instruction;
        if (DecodeInstruction(Source, Offset, Instruction) != dsOk) break;
        Offset = Instruction.Next;
    }
    for (int32_t Start : Starts) {
        TXInstruction Instruction;
        if (DecodeInstruction(Source, Start, Instruction) == dsOk && Instruction.Layout == olJump &&
            Instruction.Target >= 0 && Instruction.Target < Length && StepAt[size_t(Instruction.Target)] < 0)
            Regular = false;
    }
    if (!Regular) {
        Starts.resize(size_t(Length));
        for (int32_t Offset = 0; Offset < Length; Offset++) {
            Starts[size_t(Offset)] = Offset;
            StepAt[size_t(Offset)] = Offset;
        }
    }
    StepAt[size_t(Length)] = int32_t(Starts.size());

    std::vector<TXStep>& Steps = Prepared->Steps;
    Steps.resize(Starts.size() + 1);
    TXStep& End = Steps.back();
    End.Kind = TXStepKind::End;
    End.Target = End.NextStep = &End;
    auto StepFor = [&](int32_t Offset) {
        int32_t At = Offset >= 0 && Offset <= Length ? StepAt[size_t(Offset)] : -1;
        return At >= 0 ? &Steps[size_t(At)] : &End;
    };
    for (size_t At = 0; At < Starts.size(); At++) {
        int32_t Next, Target;
        Steps[At] = DecodeStep(Source, Starts[At], Regular, Next, Target);
        Steps[At].NextStep = StepFor(Next);
        Steps[At].Target = StepFor(Target);
    }
    // A call's Value: the number of arguments its call site gives, or -1 for none.
    for (size_t At = 0; At < Starts.size(); At++) {
        TXStep& Step = Steps[At];
        if (Step.Kind != TXStepKind::opCallFunction && Step.Kind != TXStepKind::opCallVariable) continue;
        Step.Value = -1;
        for (const TXCallSite& Site : CallSites)
            if (Site.Offset == Starts[At] && Site.Arguments >= 0) Step.Value = Site.Arguments;
    }
    // Pushed texts, made into their values here (a text too long to be one faults when pushed).
    for (TXStep& Step : Steps) {
        if (Step.Kind != TXStepKind::opPushString && Step.Kind != TXStepKind::LoadEqualTextJump) continue;
        TXScriptVariable Constant;
        try {
            Constant.SetFromText(Source.substr(size_t(Step.Value), size_t(Step.Length)), true);
        } catch (const TXScriptFault&) {
            // (A compared text was checked when it was combined; should it fail, the load runs alone.)
            if (Step.Kind == TXStepKind::LoadEqualTextJump) {
                Step.Kind = TXStepKind::opLoadVar;
                Step.NextStep = &Step + 1;
            }
            continue;
        }
        // Every thread that runs the code pushes this one text.
        Constant.text.MakeShared();
        Step.Operation = 1;
        Step.Value = int32_t(Prepared->Constants.size());
        Prepared->Constants.push_back(std::move(Constant));
    }
    for (const TXStep& Step : Steps)
        Prepared->CombinedReach = std::max(Prepared->CombinedReach, CombinedReach(Step));
    // Steps whose ways on push over the values they leave above the top before anything reads
    // there need not write them (see LeavesAbove).
    for (TXStep& Step : Steps) MarkLeavesAbove(Step);
    if (const void* const* Handlers = StepHandlers.load(std::memory_order_acquire))
        for (TXStep& Step : Steps) Step.Handler = Handlers[size_t(Step.Kind)];
    Prepared->Offsets.assign(Starts.begin(), Starts.end());
    Prepared->Offsets.push_back(Length);
    return Prepared.release();
}

} // namespace

// The decoded form of Function's current code, checked once in the Execute numbered
// Execution; null when it cannot be made (code too long, memory exhausted).
TXPreparedCode* CheckPreparedCode(TXScriptObjectFunction& Function, uint64_t Execution) {
    try {
        return Function.ExecutionCache.Prepare(Function, Execution);
    } catch (const std::exception&) {
        return nullptr;
    }
}

int32_t StepOffset(const TXPreparedCode* Prepared, const TXStep* Step) {
    if (!Prepared || !Step || Step < Prepared->Steps.data() ||
        Step >= Prepared->Steps.data() + Prepared->Steps.size())
        return -1;
    return Prepared->Offsets[size_t(Step - Prepared->Steps.data())];
}

} // namespace xscriptinterpreter

using namespace xscriptinterpreter;

TXExecutionCache::~TXExecutionCache() {
    TXPreparedCode* Prepared = Current.load(std::memory_order_relaxed);
    // Member look-ups remembered by the place of a name in this code end with it.
    if (Prepared || !Retired.empty()) PropertyLayoutChanged();
    delete Prepared;
    for (TXPreparedCode* Old : Retired) delete Old;
}

TXPreparedCode* TXExecutionCache::Prepare(TXScriptObjectFunction& Function, uint64_t Execution) {
    std::string_view Code = Function.Code;
    const std::vector<TXCallSite>& CallSites = Function.CallSites;
    // Current steps are only ever replaced, never changed, so finding them current needs no lock.
    TXPreparedCode* Prepared = Current.load(std::memory_order_acquire);
    if (Prepared && Prepared->Source == Code && Prepared->CallSites == CallSites) {
        Prepared->CheckedIn.store(Execution, std::memory_order_relaxed);
        return Prepared;
    }
    std::lock_guard<std::mutex> Guard(Lock);
    Prepared = Current.load(std::memory_order_relaxed);
    if (!Prepared || Prepared->Source != Code || Prepared->CallSites != CallSites) {
        // An execution still running the old steps keeps them until the function goes.
        if (Prepared) Retired.push_back(Prepared);
        Prepared = PrepareCode(Code, CallSites);
        Prepared->Function = &Function;
        Current.store(Prepared, std::memory_order_release);
    }
    Prepared->CheckedIn.store(Execution, std::memory_order_relaxed);
    return Prepared;
}

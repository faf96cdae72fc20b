#pragma once

// What the interpreter's own files share: the decoded steps and their kinds, the value
// moves of the run loop, the object member instructions, one execution's state and the
// reports. Not for other modules: they use xscriptinterpreter.h.

#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The interpreter's small helpers must melt into its loop, so that its state stays in
// registers. Not in the coverage tree (XSCRIPT_COVERAGE): there each copy would count the
// helper's decisions again, once per place it melted into.
#if defined(__GNUC__) && !defined(XSCRIPT_COVERAGE)
#define XINLINE __attribute__((always_inline))
#else
#define XINLINE
#endif

// ---- Steps ----
//
// A function's code is decoded once into steps (see PrepareCode), each holding its
// instruction's operands decoded and the steps it goes on with, so that no operand is read
// from the code while it runs and every jump target is known to lie inside it. Common
// sequences of integer work are combined into one step, which checks its values when it
// runs and otherwise does only its first instruction. The decoded form keeps a copy of the
// code it was made from and is checked against the function's code once in every Execute
// that runs the function, so code changed between runs is decoded again.

// The operations that combined steps may carry, in the order of their step kinds; X(Form,
// Operation) for each. opShr2 is carried as opShr. The value operations cannot fault on
// numbers, and the arithmetic ones are the first four of them; the integer operations add
// the remainder, last, so that an operation's place is the same in every list.
#define X_ARITHMETIC_OPERATIONS(X, Form)                                                                     \
    X(Form, opAdd)                                                                                           \
    X(Form, opSub)                                                                                           \
    X(Form, opMul)                                                                                           \
    X(Form, opDiv)
#define X_VALUE_OPERATIONS(X, Form)                                                                          \
    X_ARITHMETIC_OPERATIONS(X, Form)                                                                         \
    X(Form, opAnd)                                                                                           \
    X(Form, opOr)                                                                                            \
    X(Form, opXor)                                                                                           \
    X(Form, opShl)                                                                                           \
    X(Form, opShr)                                                                                           \
    X(Form, opEqual)                                                                                         \
    X(Form, opLess)                                                                                          \
    X(Form, opLessEqual)                                                                                     \
    X(Form, opGreater)                                                                                       \
    X(Form, opGreaterEqual)
#define X_INTEGER_OPERATIONS(X, Form)                                                                        \
    X_VALUE_OPERATIONS(X, Form)                                                                              \
    X(Form, opMod)

// Two arithmetic operations, as Y(Outer, Inner), the outer one first in the order of
// X_ARITHMETIC_OPERATIONS: the kinds of d = a Outer (b Inner c) on numbers.
// clang-format off
#define X_ARITHMETIC_PAIRS(Y) \
    Y(opAdd, opAdd) \
    Y(opAdd, opSub) \
    Y(opAdd, opMul) \
    Y(opAdd, opDiv) \
    Y(opSub, opAdd) \
    Y(opSub, opSub) \
    Y(opSub, opMul) \
    Y(opSub, opDiv) \
    Y(opMul, opAdd) \
    Y(opMul, opSub) \
    Y(opMul, opMul) \
    Y(opMul, opDiv) \
    Y(opDiv, opAdd) \
    Y(opDiv, opSub) \
    Y(opDiv, opMul) \
    Y(opDiv, opDiv)
// The same sixteen as step kinds of the form Form, in the same order.
#define X_ARITHMETIC_PAIR_KINDS(X, Form) \
    X(Form, opAdd_opAdd) \
    X(Form, opAdd_opSub) \
    X(Form, opAdd_opMul) \
    X(Form, opAdd_opDiv) \
    X(Form, opSub_opAdd) \
    X(Form, opSub_opSub) \
    X(Form, opSub_opMul) \
    X(Form, opSub_opDiv) \
    X(Form, opMul_opAdd) \
    X(Form, opMul_opSub) \
    X(Form, opMul_opMul) \
    X(Form, opMul_opDiv) \
    X(Form, opDiv_opAdd) \
    X(Form, opDiv_opSub) \
    X(Form, opDiv_opMul) \
    X(Form, opDiv_opDiv)
// clang-format on

// The instructions, each a step kind of its own name.
#define X_INSTRUCTION_STEPS(X)                                                                               \
    X(, opReturn)                                                                                            \
    X(, opReturnNil)                                                                                         \
    X(, opPop)                                                                                               \
    X(, opReserve)                                                                                           \
    X(, opAlert)                                                                                             \
    X(, opNop)                                                                                               \
    X(, opDup)                                                                                               \
    X(, opSwap)                                                                                              \
    X(, opMod)                                                                                               \
    X(, opAdd)                                                                                               \
    X(, opSub)                                                                                               \
    X(, opMul)                                                                                               \
    X(, opDiv)                                                                                               \
    X(, opAnd)                                                                                               \
    X(, opOr)                                                                                                \
    X(, opShl)                                                                                               \
    X(, opShr)                                                                                               \
    X(, opShr2)                                                                                              \
    X(, opXor)                                                                                               \
    X(, opNot)                                                                                               \
    X(, opStoreVar)                                                                                          \
    X(, opSetObjectChild)                                                                                    \
    X(, opJumpIfFalse)                                                                                       \
    X(, opJump)                                                                                              \
    X(, opPushInt)                                                                                           \
    X(, opPushFloat)                                                                                         \
    X(, opPushString)                                                                                        \
    X(, opToNumber)                                                                                          \
    X(, opNegate)                                                                                            \
    X(, opPushSelf)                                                                                          \
    X(, opGetObjectChild)                                                                                    \
    X(, opCallMethod)                                                                                        \
    X(, opGetObjectValue)                                                                                    \
    X(, opLoadVar)                                                                                           \
    X(, opCallVariable)                                                                                      \
    X(, opCallFunction)                                                                                      \
    X(, opPushFunction)                                                                                      \
    X(, opEqual)                                                                                             \
    X(, opLessEqual)                                                                                         \
    X(, opLess)                                                                                              \
    X(, opGreaterEqual)                                                                                      \
    X(, opGreater)                                                                                           \
    X(, opRestoreVar)                                                                                        \
    X(, opUpdateObjectChild)                                                                                 \
    X(, opCallNative)                                                                                        \
    X(, opTest)

// Every step kind, as X(Form, Name) with the kind named Form##Name; the run loop has one
// handler of that name for each.
#define X_STEP_KINDS(X)                                                                                      \
    X(, Unknown) /* a byte that is not an instruction; Operation holds it */                                 \
    X(, End)     /* the end of the code, or operands running past it */                                      \
    X_INSTRUCTION_STEPS(X)                                                                                   \
    X(, LoadReturn)                                /* opLoadVar x, opReturn */                               \
    X(, LoadStore)                                 /* opLoadVar a, opStoreVar c */                           \
    X(, LoadLoad)                                  /* opLoadVar a, opLoadVar b */                            \
    X(, LoadEqualTextJump)                         /* opLoadVar x, opPushString t, opEqual, opJumpIfFalse */ \
    X_INTEGER_OPERATIONS(X, LoadOperate_)          /* opLoadVar x, opPushInt k, op */                        \
    X_INTEGER_OPERATIONS(X, LoadOperateJump_)      /* the same, then opJumpIfFalse */                        \
    X_INTEGER_OPERATIONS(X, LoadOperateEqualJump_) /* the same, then opPushInt k2, opEqual, opJumpIfFalse */ \
    X_INTEGER_OPERATIONS(X, LoadAssign_)           /* opLoadVar a, opLoadVar b, opSwap, op, opStoreVar c */  \
    X_INTEGER_OPERATIONS(X, PushAssign_)           /* opPushInt k, opLoadVar b, opSwap, op, opStoreVar c */  \
    X_INTEGER_OPERATIONS(X, PushOperateJump_)      /* opPushInt k, op, opJumpIfFalse */                      \
    X_INTEGER_OPERATIONS(X, SwapAssign_)           /* opLoadVar b, opSwap, op, opStoreVar c */               \
    X_ARITHMETIC_OPERATIONS(X, VariableOperate_)   /* opLoadVar b, op on numbers */                          \
    X_ARITHMETIC_OPERATIONS(X, LoadLoadOperate_)   /* opLoadVar a, opLoadVar b, op on numbers */             \
    X_ARITHMETIC_OPERATIONS(X, OperateStore_)      /* op, opStoreVar c */                                    \
    X_ARITHMETIC_OPERATIONS(X, OperateReturn_)     /* op, opReturn */                                        \
    X_ARITHMETIC_OPERATIONS(X, PushOperateReturn_) /* opPushInt k, op, opReturn on numbers */                \
    X_ARITHMETIC_OPERATIONS(X, PushOperate_)       /* opPushInt k, op on numbers */                          \
    X_ARITHMETIC_PAIR_KINDS(X, ArithmeticStore_)   /* opLoadVar a, b, c, inner op, outer op, opStoreVar d */ \
    X_ARITHMETIC_PAIR_KINDS(X, ArithmeticReturn_)  /* opLoadVar a, b, c, inner op, outer op, opReturn */     \
    X(, SelfValue)                                 /* opPushSelf, opGetObjectValue n */                      \
    X(, SelfChild)                                 /* opPushSelf, opGetObjectChild n */                      \
    X(, SelfSelfValue)                             /* opPushSelf, opPushSelf, opGetObjectValue n */

#define X_STEP_ENUMERATOR(Form, Name) Form##Name,
enum class TXStepKind : uint8_t { X_STEP_KINDS(X_STEP_ENUMERATOR) };
#undef X_STEP_ENUMERATOR

#define X_COUNT_ONE(Form, Name) +1
constexpr int32_t StepKindCount = 0 X_STEP_KINDS(X_COUNT_ONE);
constexpr int32_t IntegerOperationCount = 0 X_INTEGER_OPERATIONS(X_COUNT_ONE, );
#undef X_COUNT_ONE
static_assert(StepKindCount <= 256, "a step kind fits in a byte");

struct TXStep {
    TXStepKind Kind = TXStepKind::Unknown;
    // opUpdateObjectChild: the operator; Unknown: the byte; opPushString: 1 when Value is the
    // index of its made value in the code's Constants (LoadEqualTextJump: always); a remainder
    // by a constant (LoadOperate_opMod and its jumping forms): 1 when k is a power of two;
    // ArithmeticStore: 1 when it may leave all three values it leaves above the top, not two;
    // LoadOperate and PushOperateJump comparing with k: 1 when k compares as exactly as a single.
    uint8_t Operation = 0;
    uint16_t Index = 0; // slot operands; for combined steps the first instruction's
    uint16_t Depth = 0;
    // Combined steps whose next steps surely push over the values they leave above the top:
    // one more than the highest variable those steps read first; 0 for the others (see
    // LeavesAbove). For a jump, the steps that follow it when it does not jump.
    uint16_t NextReadsBelow = 0;
    // int32, float32 bits or handle; combined: the constant k; names: their offset in the
    // code; Unknown: the byte's offset; calls: the number of arguments, or -1 when unknown.
    int32_t Value = 0;
    union {
        int32_t Length = 0; // names
        struct {
            uint16_t SourceIndex,
                DestinationIndex; // combined assignments: the variables b and c (LoadStore: c)
        } Assign;
        struct {
            uint16_t TargetReadsBelow; // NextReadsBelow for the jump's target
            int16_t Compared;          // LoadOperateEqualJump: the constant k2
        } Branch;                      // combined steps with a jump
    };
    const TXStep* Target = nullptr;   // jumps: the target's step; the end for targets outside the code
    const TXStep* NextStep = nullptr; // the step that follows
    const void* Handler = nullptr;    // where the run loop handles the kind (with computed goto)
};
static_assert(sizeof(TXStep) == 16 + 3 * sizeof(void*), "steps stay small");

// The run loop's handler of each step kind, by kind, once it has run (null where it
// dispatches with a switch); decoding writes each step's handler from it.
extern std::atomic<const void* const*> StepHandlers;

struct TXPreparedCode {
    TXScriptObjectFunction* Function = nullptr; // whose code it is
    std::string Source;                         // the code the steps were made from
    std::vector<TXCallSite> CallSites;          // and the call sites
    std::vector<TXStep> Steps;
    std::vector<int32_t> Offsets; // the code offset of each step, for fault diagnostics
    // The value each opPushString makes from its text, made once: a text value shares the
    // characters with every push of it.
    std::vector<TXScriptVariable> Constants;
    std::atomic<uint64_t> CheckedIn{0}; // the Execute that last found Source current
    // One more than the highest variable index the combined steps name: they run where the
    // frame's Base plus this lies within the stack, and otherwise do their first instruction.
    int32_t CombinedReach = 0;
};

namespace xscriptinterpreter {

// The value operations on two integers: what the operation leaves in the left operand. False
// for the other instructions, and for a remainder that faults (see IntegerOperationFaults).
XINLINE inline bool IntegerOperation(uint8_t Op, int32_t Left, int32_t Right, int32_t& Result) {
    switch (Op) {
    case opAdd: Result = IntegerAdd(Left, Right); return true;
    case opSub: Result = IntegerSubtract(Left, Right); return true;
    case opMul: Result = IntegerMultiply(Left, Right); return true;
    case opDiv: Result = IntegerDivisionFaults(Left, Right) ? Left : Left / Right; return true;
    case opAnd: Result = Left & Right; return true;
    case opOr: Result = Left | Right; return true;
    case opXor: Result = Left ^ Right; return true;
    case opShl: Result = int32_t(uint32_t(Left) << (Right & 31)); return true;
    case opShr:
    case opShr2: Result = int32_t(uint32_t(Left) >> (Right & 31)); return true;
    case opEqual: Result = Left == Right; return true;
    // The comparisons compare singles, as they do for any two values.
    case opLess: Result = float(Left) < float(Right); return true;
    case opLessEqual: Result = float(Left) <= float(Right); return true;
    case opGreater: Result = float(Left) > float(Right); return true;
    case opGreaterEqual: Result = float(Left) >= float(Right); return true;
    case opMod:
        if (IntegerDivisionFaults(Left, Right)) return false;
        Result = Left % Right;
        return true;
    default: return false;
    }
}

// Left % Divisor for a Divisor that is a power of two, without a division.
XINLINE inline int32_t RemainderByPowerOfTwo(int32_t Left, int32_t Divisor) {
    uint32_t Mask = uint32_t(Divisor) - 1;
    // The remainder takes the sign of Left.
    return Left >= 0 ? int32_t(uint32_t(Left) & Mask) : -int32_t((0u - uint32_t(Left)) & Mask);
}

// An integer's ordering against a constant K under 2^24 in size (which a single holds exactly,
// with every integer next to it): the same as that of the two singles the comparisons compare.
template <uint8_t Op> XINLINE inline int32_t CompareWithExact(int32_t Left, int32_t K) {
    if constexpr (Op == opLess) return Left < K;
    if constexpr (Op == opLessEqual) return Left <= K;
    if constexpr (Op == opGreater) return Left > K;
    if constexpr (Op == opGreaterEqual) return Left >= K;
    return 0;
}

constexpr bool IsOrdering(uint8_t Op) {
    return Op == opLess || Op == opLessEqual || Op == opGreater || Op == opGreaterEqual;
}

// Whether the integer operation Op faults on these operands (only the remainder can).
template <uint8_t Op> XINLINE inline bool IntegerOperationFaults(int32_t Left, int32_t Right) {
    if constexpr (Op == opMod) return IntegerDivisionFaults(Left, Right);
    return false;
}

// The decoded form of Function's current code, checked once in the Execute numbered
// Execution; null when it cannot be made (code too long, memory exhausted).
TXPreparedCode* CheckPreparedCode(TXScriptObjectFunction& Function, uint64_t Execution);

// Its common case here: the current steps found made from the code as it is (compared as
// TXExecutionCache::Prepare compares them), or already checked in this Execute.
XINLINE inline TXPreparedCode* PreparedCodeOf(TXScriptObjectFunction& Function, uint64_t Execution) {
    TXPreparedCode* Prepared = Function.ExecutionCache.Current.load(std::memory_order_acquire);
    if (Prepared) {
        if (Prepared->CheckedIn.load(std::memory_order_relaxed) == Execution) return Prepared;
        const std::string& Code = Function.Code;
        const std::vector<TXCallSite>& Sites = Function.CallSites;
        static_assert(sizeof(TXCallSite) == 2 * sizeof(int32_t), "call sites compare as their bytes");
        if (Prepared->Source.size() == Code.size() && Prepared->CallSites.size() == Sites.size() &&
            std::memcmp(Prepared->Source.data(), Code.data(), Code.size()) == 0 &&
            (Sites.empty() ||
             std::memcmp(Prepared->CallSites.data(), Sites.data(), Sites.size() * sizeof(TXCallSite)) == 0)) {
            Prepared->CheckedIn.store(Execution, std::memory_order_relaxed);
            return Prepared;
        }
    }
    return CheckPreparedCode(Function, Execution);
}

// CheckPreparedCode for a script call, which finds the callee's steps not yet checked in
// this Execute. Empty code is never left marked as checked, so each call of it comes here.
TXPreparedCode* CheckCalleeCode(TXScriptObjectFunction& Function, uint64_t Execution);

// FunctionAt, without a call.
XINLINE inline TXScriptObjectFunction* NestedFunction(const TXScriptObjectFunction& Function,
                                                      uint16_t Index) {
    return Index < Function.Functions.size() ? Function.Functions[Index].get() : nullptr;
}

// The code offset of Step in Prepared, or -1 when it is none of its steps.
int32_t StepOffset(const TXPreparedCode* Prepared, const TXStep* Step);

// ---- Values ----

const TXScriptText& UndefinedText();
const TXScriptText& NilText();

// Value moves without calls for the common case of two values without text.
// Values move field by field, never as wider words: a value whose fields were just written
// one by one then reads back from the store buffer instead of waiting for it to drain.
XINLINE inline void CopyFields(TXScriptVariable& To, const TXScriptVariable& From) {
    To.kind = From.kind;
    To.intValue = From.intValue;
    To.floatValue = From.floatValue;
    To.reference = From.reference;
}

XINLINE inline void CopyValue(TXScriptVariable& To, const TXScriptVariable& From) {
    if (To.text.Empty() && From.text.Empty()) {
        // Both texts are empty handles.
        CopyFields(To, From);
    } else {
        To.kind = From.kind;
        To.text = From.text;
        To.intValue = From.intValue;
        To.floatValue = From.floatValue;
        To.reference = From.reference;
    }
}

XINLINE inline void SwapValues(TXScriptVariable& First, TXScriptVariable& Second) {
    if (First.text.Empty() && Second.text.Empty()) {
        std::swap(First.kind, Second.kind);
        std::swap(First.intValue, Second.intValue);
        std::swap(First.floatValue, Second.floatValue);
        std::swap(First.reference, Second.reference);
    } else {
        std::swap(First, Second);
    }
}

XINLINE inline void SetIntegerValue(TXScriptVariable& Value, int32_t Number) {
    Value.kind = vkInteger;
    Value.intValue = Number;
    if (!Value.text.Empty()) Value.text.Clear();
}

XINLINE inline void SetTextValue(TXScriptVariable& Value, const TXScriptText& Text) {
    Value.kind = vkString;
    Value.text = Text;
}

XINLINE inline void SetEmptyValue(TXScriptVariable& Value) {
    Value.kind = vkString;
    if (!Value.text.Empty()) Value.text.Clear();
}

// opPushString's value made beforehand, with the effects SetFromText has on the slot.
XINLINE inline void PushConstant(TXScriptVariable& Slot, const TXScriptVariable& Constant) {
    switch (Constant.kind) {
    case vkInteger: SetIntegerValue(Slot, Constant.intValue); break;
    case vkFloat: Slot.SetFloat(Constant.floatValue); break;
    default: SetTextValue(Slot, Constant.text); break;
    }
}

// ---- Object members ----

// opGetObjectChild and opGetObjectValue on the target Target, which becomes the result; Place
// is the step of the instruction, which names the member Name.
void GetObjectChild(TXScriptVariable& Target, const TXStep* Place, std::string_view Name);
void GetObjectValue(TXScriptVariable& Target, const TXStep* Place, std::string_view Name);
// Stores Value into property Name of the object Target by the update operator (uoAssign for
// a plain store); false when Target is not an object.
bool UpdateObjectChild(const TXScriptVariable& Target, const TXStep* Place, std::string_view Name,
                       const TXScriptVariable& Value, uint8_t Operator);

// ---- One execution ----

constexpr int32_t AlertLevel = 5;
constexpr const char* StackOverflowKind = "stack overflow";

// Script functions active on this thread, and native entries among them. While a run goes
// on, its own calls are counted in when native code may read the count.
extern constinit thread_local int32_t CallDepth;
extern constinit thread_local int32_t NativeDepth;
// What the outermost run on this thread has left of the harness's step budget.
extern constinit thread_local int64_t StepsLeft;

// Whether a step may leave the values its instructions leave above the top Top unwritten on
// its way on, whose steps push over them first (ReadsBelow, the step's NextReadsBelow or
// Branch.TargetReadsBelow, is not 0), reading no variable above Top of the frame at FrameBase.
// Never where the step budget (the run's Budget, StepsLeft) may run out first: a fault there
// would show them (a way spends at most two steps before its pushes: the step's jump and one
// opJump).
XINLINE inline bool LeavesAbove(uint16_t ReadsBelow, int32_t FrameBase, int32_t Top, int64_t Budget) {
    return ReadsBelow != 0 && FrameBase + ReadsBelow <= Top + 1 && Budget >= 2;
}

// A number no other Execute of any thread has: each thread takes a block of them at a time.
constexpr uint64_t ExecutionNumberBlock = 1 << 16;
extern constinit thread_local uint64_t NextExecutionNumber;
extern constinit thread_local uint64_t ExecutionNumbersEnd;
uint64_t TakeExecutionNumbers();
XINLINE inline uint64_t NewExecutionNumber() {
    if (NextExecutionNumber == ExecutionNumbersEnd) [[unlikely]]
        return TakeExecutionNumbers();
    return NextExecutionNumber++;
}

// The state of one Execute between faults: the function running now and where it goes on.
// Each script call opens a frame on the host that keeps the caller's place (TXScriptFrame),
// so the callers' places are the frames above the first EntryFrames, the first caller first.
class TXExecution {
public:
    XINLINE TXExecution(TXScriptHost& RunHost, TXScriptObjectFunction* Entry)
        : Host(RunHost), EntryFrames(RunHost.FrameCount), SavedDepth(CallDepth), Number(NewExecutionNumber()),
          Current(Entry) {
        NativeDepth++;
        CallDepth++;
    }
    XINLINE ~TXExecution() {
        CallDepth = SavedDepth;
        NativeDepth--;
    }
    TXExecution(const TXExecution&) = delete;
    TXExecution& operator=(const TXExecution&) = delete;

    // Runs until the entry function ends and leaves its result in Result. A run-time fault
    // leaves by an exception, with Current the function it ended.
    void Run(TXScriptVariable& Result);
    // After a fault: ends Current as a failed call (its caller receives the empty string and
    // goes on). True when Current was the entry function.
    bool EndFaulted();
    // The fault just caught, for the diagnostics: what it was, in Current at FaultOffset.
    void DiagnoseFault();

private:
    TXScriptHost& Host;
    int32_t EntryFrames; // the frames open when the entry function started
    int32_t SavedDepth;
    uint64_t Number; // this Execute's number, for the checks of decoded code
    TXScriptObjectFunction* Current;
    TXPreparedCode* CurrentPrepared = nullptr;
    const TXStep* Resume = nullptr; // where Run goes on; the start of Current when null
    bool CalleeUnprepared = false;  // the last call whose callee's code was checked found none
    // Where the last fault left Run: the code offset (-1 before any step ran) and the kind
    // of the step.
    int32_t FaultOffset = -1;
    TXStepKind FaultStepKind = TXStepKind::Unknown;
};

// ---- Reports ----
//
// The rare ones, out of the loop so that the loop's state stays in registers.

// The diagnostics line of a fault at Offset in Function, when one is asked for.
[[gnu::noinline, gnu::cold]] void Diagnose(std::string_view Kind, const TXScriptObjectFunction& Function,
                                           int32_t Offset);
[[gnu::noinline]] void Alert(const TXScriptVariable& Value);
[[gnu::noinline]] void ReportUnknownByte(uint8_t Byte, int32_t Offset);
[[gnu::noinline]] void ReportFault();
[[gnu::noinline]] void ReportNotCallable();
[[gnu::noinline]] void ReportCallMethod();
[[gnu::noinline]] [[noreturn]] void Fault(const char* Why);
[[gnu::noinline, gnu::cold]] [[noreturn]] void StackOverflow(TXScriptHost& Host, int32_t Sp);

// ---- Stack slots ----

XINLINE inline int32_t SlotAbove(int32_t Slot, int32_t Size) {
    return Slot + 1 == Size ? 0 : Slot + 1;
}

XINLINE inline int32_t SlotBelow(int32_t Slot, int32_t Size) {
    return (Slot == 0 ? Size : Slot) - 1;
}

// The slot a push fills. A run's values lie from slot 0 up to the top, so a top moving past
// the last slot would overwrite the oldest of them: that is a stack overflow instead.
XINLINE inline int32_t PushSlot(TXScriptHost& Host, int32_t Sp, int32_t Size) {
    if (Sp + 1 >= Size) [[unlikely]]
        StackOverflow(Host, Sp);
    return Sp + 1;
}

} // namespace xscriptinterpreter

#include "xscriptinterpreter.h"

#include "xlogging.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace {

std::atomic<TXPropertyFinder> PropertyFinder{nullptr};
std::atomic<TXTestRoutine> TestRoutineSet{nullptr};
std::atomic<TXExecutionsEndedRoutine> ExecutionsEndedSet{nullptr};
std::atomic<TXFaultDiagnostics> FaultDiagnosticsSet{nullptr};

} // namespace

void SetFaultDiagnostics(TXFaultDiagnostics Routine) {
    FaultDiagnosticsSet.store(Routine, std::memory_order_release);
}

std::string FaultDiagnosticLine(const TXFaultReport& Report) {
    std::string Line = "script fault: ";
    Line += Report.Kind;
    Line += " in ";
    Line += Report.Function;
    if (Report.Offset >= 0) Line += " at offset " + std::to_string(Report.Offset);
    if (!Report.File.empty()) {
        Line += ", ";
        Line += Report.File;
        if (Report.Line >= 0) Line += " Line " + std::to_string(Report.Line);
    }
    return Line;
}

void WriteFaultDiagnostic(const TXFaultReport& Report) {
    std::string Line = FaultDiagnosticLine(Report) + "\n";
    std::fwrite(Line.data(), 1, Line.size(), stderr);
    std::fflush(stderr);
}

void SetPropertyFinder(TXPropertyFinder Finder) {
    PropertyFinder.store(Finder, std::memory_order_release);
}

bool FindObjectProperty(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data) {
    TXPropertyFinder Finder = PropertyFinder.load(std::memory_order_acquire);
    return Object && Finder && Finder(Object, Name, Kind, Data);
}

void SetTestRoutine(TXTestRoutine Routine) {
    TestRoutineSet.store(Routine, std::memory_order_release);
}

TXTestRoutine TestRoutine() {
    return TestRoutineSet.load(std::memory_order_acquire);
}

void SetExecutionsEndedRoutine(TXExecutionsEndedRoutine Routine) {
    ExecutionsEndedSet.store(Routine, std::memory_order_release);
}

// ---- The interpreter ----
//
// One Execute runs its function and every script function that function calls in one loop:
// a call saves the caller's place in a record and goes on with the callee's code, a return
// takes the record back. Native recursion happens only when native code that a script
// reaches (the test routine) runs scripts itself, so deep script recursion costs records,
// not native stack, and is stopped at ScriptCallDepthLimit.

namespace {

// The interpreter's small helpers must melt into its loop, so that its state stays in
// registers.
#define XINLINE __attribute__((always_inline))

constexpr std::string_view FaultMessage = "unhandled exception in script.execute";
constexpr std::string_view NoCallableMessage = "callvariable was called with no callable variable";
constexpr std::string_view ObjectNotFoundMessage = "SetObjectChild - object not found";
constexpr std::string_view BypassedMessage = "SetObjectChild bypassed";
constexpr std::string_view CallMethodMessage = "this doesnt even work!";
constexpr int32_t AlertLevel = 5;
constexpr size_t MemberNameLength = 255;

// Script functions active on this thread, and native entries among them.
thread_local int32_t CallDepth = 0;
thread_local int32_t NativeDepth = 0;
// The harness's budget for each outermost run (SetScriptStepBudget), and what the run on
// this thread has left of it.
std::atomic<int64_t> StepBudget{INT64_MAX};
thread_local int64_t StepsLeft = INT64_MAX;

const TXScriptText& UndefinedText() {
    static const TXScriptText Text("undefined");
    return Text;
}

const TXScriptText& NilText() {
    static const TXScriptText Text("NIL");
    return Text;
}

// Value moves without calls for the common case of two values without text.
inline void CopyValue(TXScriptVariable& To, const TXScriptVariable& From) {
    if (To.text.Empty() && From.text.Empty()) {
        To.kind = From.kind;
        To.intValue = From.intValue;
        To.floatValue = From.floatValue;
        To.reference = From.reference;
    } else {
        To = From;
    }
}

inline void SwapValues(TXScriptVariable& First, TXScriptVariable& Second) {
    if (First.text.Empty() && Second.text.Empty()) {
        std::swap(First.kind, Second.kind);
        std::swap(First.intValue, Second.intValue);
        std::swap(First.floatValue, Second.floatValue);
        std::swap(First.reference, Second.reference);
    } else {
        std::swap(First, Second);
    }
}

inline void SetIntegerValue(TXScriptVariable& Value, int32_t Number) {
    Value.kind = vkInteger;
    Value.intValue = Number;
    if (!Value.text.Empty()) Value.text.Clear();
}

inline void SetTextValue(TXScriptVariable& Value, const TXScriptText& Text) {
    Value.kind = vkString;
    Value.text = Text;
}

inline void SetEmptyValue(TXScriptVariable& Value) {
    Value.kind = vkString;
    Value.text.Clear();
}

// The value operations whose integer form cannot fault, on two integers: what the operation
// leaves in the left operand. False for the other instructions.
inline bool IntegerOperation(uint8_t Op, int32_t Left, int32_t Right, int32_t& Result) {
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
    default: return false;
    }
}

std::string UnknownByteMessage(uint8_t Byte, int32_t Offset) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Message = "unknown byte ";
    Message += Digits[Byte >> 4];
    Message += Digits[Byte & 15];
    Message += " at position ";
    Message += std::to_string(int64_t(Offset) + 1);
    return Message;
}

// The object a member instruction works on, or null when the value is not one.
inline TXObject* TargetObject(const TXScriptVariable& Value) {
    return Value.kind == vkObject ? static_cast<TXObject*>(Value.reference) : nullptr;
}

inline std::string_view MemberName(std::string_view Name) {
    return Name.size() > MemberNameLength ? Name.substr(0, MemberNameLength) : Name;
}

void GetObjectChild(TXScriptVariable& Target, std::string_view Name) {
    uint8_t Kind;
    void* Data;
    TXObject* Object = TargetObject(Target);
    if (Object && FindObjectProperty(Object, MemberName(Name), Kind, Data) && Kind == ptObject)
        Target.SetObject(static_cast<TXObject*>(Data));
    else
        SetTextValue(Target, UndefinedText());
}

void GetObjectValue(TXScriptVariable& Target, std::string_view Name) {
    TXObject* Object = TargetObject(Target);
    if (!Object) return;
    uint8_t Kind;
    void* Data;
    if (!FindObjectProperty(Object, MemberName(Name), Kind, Data)) {
        SetTextValue(Target, UndefinedText());
        return;
    }
    switch (Kind) {
    case ptInteger: SetIntegerValue(Target, LoadPropertyInteger(Data)); break;
    case ptFloat: Target.SetFloat(LoadPropertyFloat(Data)); break;
    case ptBoolean: SetIntegerValue(Target, LoadPropertyBoolean(Data) ? 1 : 0); break;
    case ptString:
        Target.kind = vkString;
        Target.text.Assign(LoadPropertyString(Data));
        break;
    case ptObject: Target.SetObject(static_cast<TXObject*>(Data)); break;
    case ptFunction: SetTextValue(Target, UndefinedText()); break;
    default: break;
    }
}

// Stores Value into property Name of the object Target by the update operator (uoAssign for
// a plain store); false when Target is not an object.
bool UpdateObjectChild(const TXScriptVariable& Target, std::string_view Name, const TXScriptVariable& Value,
                       uint8_t Operator) {
    TXObject* Object = TargetObject(Target);
    if (!Object) {
        LogLine(AlertLevel, ObjectNotFoundMessage);
        return false;
    }
    uint8_t Kind;
    void* Data;
    if (!FindObjectProperty(Object, MemberName(Name), Kind, Data)) return true;
    switch (Kind) {
    case ptInteger: {
        int32_t Stored = LoadPropertyInteger(Data), Right = Value.AsInteger();
        switch (Operator) {
        case uoAssign: Stored = Right; break;
        case uoAdd: Stored = IntegerAdd(Stored, Right); break;
        case uoSubtract: Stored = IntegerSubtract(Stored, Right); break;
        case uoDivide: Stored = IntegerDivide(Stored, Right); break;
        case uoMultiply: Stored = IntegerMultiply(Stored, Right); break;
        case uoModulo: Stored = IntegerModulo(Stored, Right); break;
        default: return true;
        }
        StorePropertyInteger(Data, Stored);
        break;
    }
    case ptFloat: {
        float Stored = LoadPropertyFloat(Data), Right = Value.AsFloat();
        switch (Operator) {
        case uoAssign: Stored = Right; break;
        case uoAdd: Stored = Stored + Right; break;
        case uoSubtract: Stored = Stored - Right; break;
        case uoDivide: Stored = Stored / Right; break;
        case uoMultiply: Stored = Stored * Right; break;
        case uoModulo: Stored = FloatModulo(Stored, Right); break;
        default: return true;
        }
        StorePropertyFloat(Data, Stored);
        break;
    }
    case ptBoolean: StorePropertyBoolean(Data, Value.AsInteger() != 0); break;
    case ptString: {
        TXScriptTextScratch Scratch;
        std::string_view Text = Value.ViewText(Scratch);
        if (Operator == uoAdd) {
            auto* Bytes = static_cast<char*>(Data);
            size_t Length = static_cast<uint8_t>(Bytes[0]);
            size_t Added = std::min(Text.size(), size_t(PropertyStringLength) - Length);
            std::memcpy(Bytes + 1 + Length, Text.data(), Added);
            Bytes[0] = static_cast<char>(static_cast<uint8_t>(Length + Added));
        } else {
            StorePropertyString(Data, Text);
        }
        break;
    }
    case ptObject:
    case ptFunction: LogLine(AlertLevel, BypassedMessage); break;
    default: break;
    }
    return true;
}

// ---- Steps ----
//
// A function's code is decoded once into steps (see PrepareCode), each holding its
// instruction's operands decoded and the steps it goes on with, so that no operand is read
// from the code while it runs and every jump target is known to lie inside it. Common
// sequences of integer work are combined into one step, which checks its values when it
// runs and otherwise does only its first instruction. The decoded form keeps a copy of the
// code it was made from and is checked against the function's code once in every Execute
// that runs the function, so code changed between runs is decoded again.

// The integer operations that combined steps may carry, in the order of their step kinds.
#define X_INTEGER_OPERATIONS(X)                                                                              \
    X(0, opAdd)                                                                                              \
    X(1, opSub)                                                                                              \
    X(2, opMul)                                                                                              \
    X(3, opDiv)                                                                                              \
    X(4, opAnd)                                                                                              \
    X(5, opOr)                                                                                               \
    X(6, opXor)                                                                                              \
    X(7, opShl)                                                                                              \
    X(8, opShr) X(9, opEqual) X(10, opLess) X(11, opLessEqual) X(12, opGreater) X(13, opGreaterEqual)
constexpr int32_t IntegerOperationCount = 14;

int32_t IntegerOperationIndex(uint8_t Op) {
#define X_INDEX(Index, Operation)                                                                            \
    if (Op == Operation) return Index;
    X_INTEGER_OPERATIONS(X_INDEX)
#undef X_INDEX
    return Op == opShr2 ? 8 : -1;
}

// Step kinds that are not instructions (values that no instruction has). A combined kind is
// its base plus the index of its integer operation.
enum TXStepKind : uint8_t {
    skUnknown = 0,           // a byte that is not an instruction; Operation holds it
    skEnd = 23,              // the end of the code, or operands running past it
    skLoadReturn = 32,       // opLoadVar x, opReturn
    skLoadOperate = 101,     // opLoadVar x, opPushInt k, op
    skLoadOperateJump = 121, // the same, then opJumpIfFalse
    skLoadAssign = 141,      // opLoadVar a, opLoadVar b, opSwap, op, opStoreVar c: c := b op a
    skPushAssign = 161,      // opPushInt k, opLoadVar b, opSwap, op, opStoreVar c: c := b op k
};
static_assert(skPushAssign + IntegerOperationCount <= 255, "combined kinds stay below opTest");

struct TXStep {
    uint8_t Kind = skUnknown;
    uint8_t Operation = 0; // opUpdateObjectChild: the operator; skUnknown: the byte
    uint16_t Index = 0;    // slot operands; for combined steps the first instruction's
    uint16_t Depth = 0;
    // int32, float32 bits or handle; combined: the constant k; names: their offset in the
    // code; skUnknown: the byte's offset.
    int32_t Value = 0;
    union {
        int32_t Length = 0; // names
        struct {
            uint16_t SourceIndex, DestinationIndex; // combined assignments: the variables b and c
        } Assign;
    };
    const TXStep* Target = nullptr;   // jumps: the target's step; the end for targets outside the code
    const TXStep* NextStep = nullptr; // the step that follows
};
static_assert(sizeof(TXStep) == 16 + 2 * sizeof(void*), "steps stay small");

} // namespace

struct TXPreparedCode {
    std::string Source;                // the code the steps were made from
    std::vector<TXCallSite> CallSites; // and the call sites
    std::vector<TXStep> Steps;
    std::vector<int32_t> Offsets;       // the code offset of each step, for fault diagnostics
    std::atomic<uint64_t> CheckedIn{0}; // the Execute that last found Source current
};

namespace {

std::atomic<uint64_t> ExecutionCount{0};

int32_t JumpTarget(const TXInstruction& Instruction, size_t Length) {
    return Instruction.Target >= 0 && Instruction.Target < int64_t(Length) ? int32_t(Instruction.Target)
                                                                           : int32_t(Length);
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
        Step.Kind = skEnd;
        return Step;
    }
    Step.Kind = First.Opcode;
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
    TXInstruction Second, Third, Fourth, Fifth;
    auto Decode = [&](int32_t At, TXInstruction& Out) { return DecodeInstruction(Code, At, Out) == dsOk; };
    bool Load = First.Opcode == opLoadVar, Push = First.Opcode == opPushInt;
    if ((!Load && !Push) || (Load && First.Depth != 0) || !Decode(First.Next, Second)) return Step;
    if (Load && Second.Opcode == opReturn) {
        Step.Kind = skLoadReturn;
        return Step;
    }
    if (!Decode(Second.Next, Third)) return Step;
    int32_t Operation = IntegerOperationIndex(Third.Opcode);
    if (Load && Second.Opcode == opPushInt && Operation >= 0) {
        Step.Kind = uint8_t(skLoadOperate + Operation);
        Step.Value = Second.Value;
        Next = Third.Next;
        if (Decode(Third.Next, Fourth) && Fourth.Opcode == opJumpIfFalse) {
            Step.Kind = uint8_t(skLoadOperateJump + Operation);
            Target = JumpTarget(Fourth, Code.size());
            Next = Fourth.Next;
        }
        return Step;
    }
    if (Second.Opcode != opLoadVar || Second.Depth != 0 || Third.Opcode != opSwap ||
        !Decode(Third.Next, Fourth) || !Decode(Fourth.Next, Fifth) || Fifth.Opcode != opStoreVar ||
        Fifth.Depth != 0)
        return Step;
    Operation = IntegerOperationIndex(Fourth.Opcode);
    if (Operation < 0) return Step;
    Step.Kind = uint8_t((Load ? skLoadAssign : skPushAssign) + Operation);
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
    End.Kind = skEnd;
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
        if (Step.Kind != opCallFunction && Step.Kind != opCallVariable) continue;
        Step.Value = -1;
        for (const TXCallSite& Site : CallSites)
            if (Site.Offset == Starts[At] && Site.Arguments >= 0) Step.Value = Site.Arguments;
    }
    Prepared->Offsets.assign(Starts.begin(), Starts.end());
    Prepared->Offsets.push_back(Length);
    return Prepared.release();
}

// The decoded form of Function's current code, checked once in the Execute numbered
// Execution; null when it cannot be made (code too long, memory exhausted).
[[gnu::noinline]] TXPreparedCode* CheckPreparedCode(TXScriptObjectFunction& Function, uint64_t Execution) {
    try {
        return Function.ExecutionCache.Prepare(Function.Code, Function.CallSites, Execution);
    } catch (const std::exception&) {
        return nullptr;
    }
}

XINLINE inline TXPreparedCode* PreparedCodeOf(TXScriptObjectFunction& Function, uint64_t Execution) {
    TXPreparedCode* Prepared = Function.ExecutionCache.Current.load(std::memory_order_acquire);
    if (Prepared && Prepared->CheckedIn.load(std::memory_order_relaxed) == Execution) return Prepared;
    return CheckPreparedCode(Function, Execution);
}

XINLINE inline int32_t SlotAbove(int32_t Slot, int32_t Size) {
    return Slot + 1 == Size ? 0 : Slot + 1;
}

XINLINE inline int32_t SlotBelow(int32_t Slot, int32_t Size) {
    return (Slot == 0 ? Size : Slot) - 1;
}

// A caller waiting for its callee: the function, its steps and the step it goes on with.
struct TXCallRecord {
    // Built in place, field by field (a record copied in from elsewhere is read back in
    // pieces other than those it was written in, which stalls the processor).
    TXCallRecord(TXScriptObjectFunction* Caller, TXPreparedCode* CallerSteps, const TXStep* Next,
                 int32_t Base)
        : Function(Caller), Prepared(CallerSteps), Resume(Next), FrameBase(Base) {}

    TXScriptObjectFunction* Function;
    TXPreparedCode* Prepared;
    const TXStep* Resume;
    int32_t FrameBase; // of the caller's own frame
};

// The state of one Execute between faults: the function running now and where it goes on;
// the callers' places are in Calls, the first caller first.
class TXExecution {
public:
    TXExecution(TXScriptHost& RunHost, TXScriptObjectFunction* Entry)
        : Host(RunHost), SavedDepth(CallDepth),
          Number(ExecutionCount.fetch_add(1, std::memory_order_relaxed) + 1), Current(Entry) {
        NativeDepth++;
        CallDepth++;
    }
    ~TXExecution() {
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
    std::vector<TXCallRecord> Calls;
    int32_t SavedDepth;
    uint64_t Number; // this Execute's number, for the checks of decoded code
    TXScriptObjectFunction* Current;
    TXPreparedCode* CurrentPrepared = nullptr;
    const TXStep* Resume = nullptr; // where Run goes on; the start of Current when null
    // Where the last fault left Run: the code offset (-1 before any step ran) and the kind
    // of the step.
    int32_t FaultOffset = -1;
    uint8_t FaultStepKind = skUnknown;
};

// The diagnostics line of a fault at Offset in Function, when one is asked for.
[[gnu::noinline, gnu::cold]] void Diagnose(std::string_view Kind, const TXScriptObjectFunction& Function,
                                           int32_t Offset) {
    TXFaultDiagnostics Routine = FaultDiagnosticsSet.load(std::memory_order_acquire);
    if (!Routine) return;
    TXFaultReport Report;
    Report.Kind = Kind;
    Report.Function = Function.Name;
    Report.Offset = Offset;
    if (!Function.SourceLines.empty()) {
        Report.File = Function.Root->SourceFile;
        for (const TXSourceLine& Entry : Function.SourceLines) {
            if (Entry.Offset > Offset) break;
            Report.Line = Entry.Line;
        }
    }
    try {
        Routine(Report);
    } catch (...) {
    }
}

// The code offset of Step in Prepared, or -1 when it is none of its steps.
int32_t StepOffset(const TXPreparedCode* Prepared, const TXStep* Step) {
    if (!Prepared || !Step || Step < Prepared->Steps.data() ||
        Step >= Prepared->Steps.data() + Prepared->Steps.size())
        return -1;
    return Prepared->Offsets[size_t(Step - Prepared->Steps.data())];
}

void TXExecution::DiagnoseFault() {
    if (!FaultDiagnosticsSet.load(std::memory_order_acquire)) return;
    std::string What;
    bool Script = false;
    try {
        throw;
    } catch (const TXScriptFault& Fault) {
        What = Fault.what();
        Script = true;
    } catch (const std::exception& Fault) {
        What = Fault.what();
    } catch (...) {
    }
    std::string Detail = What.empty() ? std::string() : " (" + What + ")";
    std::string Kind = FaultStepKind == opCallNative ? "fault in a built-in" + Detail
                       : FaultStepKind == opTest     ? "fault in the test instruction" + Detail
                       : Script                      ? What
                                                     : "fault" + Detail;
    Diagnose(Kind, *Current, FaultOffset);
}

bool TXExecution::EndFaulted() {
    if (Calls.empty()) return true;
    TXCallRecord Record = Calls.back();
    Calls.pop_back();
    CallDepth--;
    Host.CloseFrame();
    Host.Push(TXScriptVariable());
    Current = Record.Function;
    CurrentPrepared = Record.Prepared;
    Resume = Record.Resume;
    return false;
}

// The rare instructions, out of the loop so that the loop's state stays in registers.
[[gnu::noinline]] void Alert(const TXScriptVariable& Value) {
    TXScriptTextScratch Scratch;
    LogLine(AlertLevel, Value.ViewText(Scratch));
}

[[gnu::noinline]] void ReportUnknownByte(uint8_t Byte, int32_t Offset) {
    LogLine(7, UnknownByteMessage(Byte, Offset));
}

[[gnu::noinline]] void ReportFault() {
    LogLine(9, FaultMessage);
}

[[gnu::noinline]] void ReportNotCallable() {
    LogLine(AlertLevel, NoCallableMessage);
}

[[gnu::noinline]] void ReportCallMethod() {
    LogLine(9, CallMethodMessage);
}

[[gnu::noinline]] [[noreturn]] void Fault(const char* Why) {
    throw TXScriptFault(Why);
}

constexpr const char* StackOverflowKind = "stack overflow";

[[gnu::noinline, gnu::cold]] [[noreturn]] void StackOverflow(TXScriptHost& Host, int32_t Sp) {
    Host.StackPointer = Sp;
    throw TXScriptFault(StackOverflowKind);
}

// The slot a push fills. A run's values lie from slot 0 up to the top, so a top moving past
// the last slot would overwrite the oldest of them: that is a stack overflow instead.
XINLINE inline int32_t PushSlot(TXScriptHost& Host, int32_t Sp, int32_t Size) {
    if (Sp + 1 >= Size) [[unlikely]]
        StackOverflow(Host, Sp);
    return Sp + 1;
}

[[gnu::noinline]] void ValueOperation(uint8_t Op, TXScriptVariable& Left, const TXScriptVariable& Right) {
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

// FunctionAt, without a call.
XINLINE inline TXScriptObjectFunction* NestedFunction(const TXScriptObjectFunction& Function,
                                                      uint16_t Index) {
    return Index < Function.Functions.size() ? Function.Functions[Index].get() : nullptr;
}

template <uint8_t Op> XINLINE inline int32_t Operate(int32_t Left, int32_t Right) {
    int32_t Result = 0;
    IntegerOperation(Op, Left, Right, Result);
    return Result;
}

// opLoadVar: a copy of the variable on top, or the host's report when it cannot be placed.
XINLINE inline void PushVariable(TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size, int32_t FrameBase,
                                 const TXStep& Step, int32_t& Sp) {
    int32_t Slot;
    if (FindVariableSlot(Host, FrameBase, Size, Step.Index, Step.Depth, Slot)) {
        int32_t Next = PushSlot(Host, Sp, Size);
        CopyValue(Slots[Next], Slots[Slot]);
        Sp = Next;
    } else {
        Host.StackPointer = Sp;
        Host.LoadVariable(Step.Index, Step.Depth);
        Sp = Host.StackPointer;
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
    } else {
        Host.StackPointer = Sp;
        ValueOperation(Op, Left, Right);
    }
    Sp = LeftSlot;
}

// Combined steps. Each does what its instructions would do, down to the two slots above the
// top, which keep what the instructions pushed there; false, with nothing changed, when its
// values are not all integers (or the two slots lie past the end of the stack), and then
// only its first instruction runs.
//
// opLoadVar x, opPushInt k, op [, opJumpIfFalse]: the step to go on with, or null.
template <uint8_t Op, bool Jump>
XINLINE inline const TXStep* LoadOperate(const TXStep* Step, const TXScriptHost& Host,
                                         TXScriptVariable* Slots, int32_t Size, int32_t FrameBase,
                                         int32_t& Sp) {
    int32_t Slot = OwnSlot(Host, FrameBase, Size, Step->Index);
    if (Sp + 2 >= Size || Slots[Slot].kind != vkInteger) return nullptr;
    int32_t Number = Operate<Op>(Slots[Slot].intValue, Step->Value);
    int32_t First = Sp + 1;
    SetIntegerValue(Slots[First + 1], Step->Value);
    SetIntegerValue(Slots[First], Number);
    if constexpr (!Jump) {
        Sp = First;
        return Step->NextStep;
    } else {
        return Number != 0 ? Step->NextStep : Step->Target;
    }
}

// opLoadVar a or opPushInt k, then opLoadVar b, opSwap, op, opStoreVar c.
template <uint8_t Op, bool LoadFirst>
XINLINE inline bool Assign(const TXStep* Step, const TXScriptHost& Host, TXScriptVariable* Slots,
                           int32_t Size, int32_t FrameBase, int32_t Sp) {
    if (Sp + 2 >= Size) return false;
    int32_t Pushed = Step->Value;
    if constexpr (LoadFirst) {
        const TXScriptVariable& From = Slots[OwnSlot(Host, FrameBase, Size, Step->Index)];
        if (From.kind != vkInteger) return false;
        Pushed = From.intValue;
    }
    int32_t Source = OwnSlot(Host, FrameBase, Size, Step->Assign.SourceIndex);
    // b is read after the push: it must not be the pushed slot itself.
    int32_t First = Sp + 1;
    if (Source == First || Slots[Source].kind != vkInteger) return false;
    int32_t Number = Operate<Op>(Slots[Source].intValue, Pushed);
    SetIntegerValue(Slots[First], Number);
    SetIntegerValue(Slots[First + 1], Pushed);
    SetIntegerValue(Slots[OwnSlot(Host, FrameBase, Size, Step->Assign.DestinationIndex)], Number);
    return true;
}

void TXExecution::Run(TXScriptVariable& Result) {
    // The handler of every step kind, filled once.
    static const void* Handlers[256];
    static std::atomic<bool> HandlersReady{false};
    if (!HandlersReady.load(std::memory_order_acquire)) {
        static std::mutex Lock;
        std::lock_guard<std::mutex> Guard(Lock);
        for (const void*& Handler : Handlers) Handler = &&Unknown;
        Handlers[skEnd] = &&EndWithTop;
        Handlers[opReturn] = &&EndWithTop;
        Handlers[opReturnNil] = &&EndWithNil;
        Handlers[opPop] = &&Pop;
        Handlers[opReserve] = &&Reserve;
        Handlers[opAlert] = &&AlertTop;
        Handlers[opNop] = &&Nop;
        Handlers[opDup] = &&Dup;
        Handlers[opSwap] = &&Swap;
        Handlers[opMod] = &&Modulo;
        Handlers[opShr2] = &&Operate_8;
#define X_OPERATION_HANDLERS(Index, Op) Handlers[Op] = &&Operate_##Index;
        X_INTEGER_OPERATIONS(X_OPERATION_HANDLERS)
#undef X_OPERATION_HANDLERS
        Handlers[opNot] = &&Not;
        Handlers[opToNumber] = &&ToNumber;
        Handlers[opNegate] = &&Negate;
        Handlers[opStoreVar] = &&StoreVar;
        Handlers[opLoadVar] = &&LoadVar;
        Handlers[skLoadReturn] = &&LoadReturn;
        Handlers[opRestoreVar] = &&RestoreVar;
        Handlers[opJumpIfFalse] = &&JumpIfFalse;
        Handlers[opJump] = &&Jump;
        Handlers[opPushInt] = &&PushInt;
        Handlers[opPushFloat] = &&PushFloat;
        Handlers[opPushString] = &&PushString;
        Handlers[opGetObjectChild] = &&GetChild;
        Handlers[opGetObjectValue] = &&GetValue;
        Handlers[opCallMethod] = &&CallMethod;
        Handlers[opSetObjectChild] = &&SetChild;
        Handlers[opUpdateObjectChild] = &&SetChild;
        Handlers[opPushSelf] = &&PushSelf;
        Handlers[opPushFunction] = &&PushFunction;
        Handlers[opCallFunction] = &&CallFunction;
        Handlers[opCallVariable] = &&CallVariable;
        Handlers[opCallNative] = &&CallNative;
        Handlers[opTest] = &&Test;
#define X_COMBINED_HANDLERS(Index, Op)                                                                       \
    Handlers[skLoadOperate + Index] = &&LoadOperate_##Index;                                                 \
    Handlers[skLoadOperateJump + Index] = &&LoadOperateJump_##Index;                                         \
    Handlers[skLoadAssign + Index] = &&LoadAssign_##Index;                                                   \
    Handlers[skPushAssign + Index] = &&PushAssign_##Index;
        X_INTEGER_OPERATIONS(X_COMBINED_HANDLERS)
#undef X_COMBINED_HANDLERS
        HandlersReady.store(true, std::memory_order_release);
    }

    FaultOffset = -1;
    FaultStepKind = skUnknown;
    if (!CurrentPrepared) CurrentPrepared = PreparedCodeOf(*Current, Number);
    if (!CurrentPrepared) Fault("code that cannot be run");
    // The running function and its steps, kept here; the members follow for fault handling.
    TXScriptObjectFunction* Function = Current;
    TXPreparedCode* Prepared = CurrentPrepared;
    TXScriptVariable* Slots = Host.Stack.data();
    int32_t Size = Host.StackSize;
    int32_t Sp = Host.StackPointer;
    // The topmost frame's Base, which depth 0 variables are counted from (0 without frames).
    int32_t FrameBase = Host.FrameCount > 0 ? Host.Frames[size_t(Host.FrameCount - 1)].Base : 0;
    const TXStep* Step = Resume ? Resume : CurrentPrepared->Steps.data();
    TXScriptObjectFunction* Callee = nullptr;
    int32_t CalleeFrameDepth = 0;

// Steps go on by jumping straight to the next handler.
#define X_GO(To)                                                                                             \
    do {                                                                                                     \
        Step = (To);                                                                                         \
        goto* Handlers[Step->Kind];                                                                          \
    } while (false)
#define X_NEXT() X_GO(Step->NextStep)
// Before work that may fail or hand the host to other code: the host's pointer is current.
#define X_SYNC() (Host.StackPointer = Sp)
// After native code has had the host: it may have moved or resized anything.
#define X_RELOAD()                                                                                           \
    do {                                                                                                     \
        Slots = Host.Stack.data();                                                                           \
        Size = Host.StackSize;                                                                               \
        Sp = Host.StackPointer;                                                                              \
        FrameBase = Host.FrameCount > 0 ? Host.Frames[size_t(Host.FrameCount - 1)].Base : 0;                 \
    } while (false)
#define X_NAME() std::string_view(Prepared->Source.data() + Step->Value, size_t(Step->Length))
// Every jump and call spends a step of the harness's budget.
#define X_SPEND()                                                                                            \
    do {                                                                                                     \
        if (--StepsLeft < 0) {                                                                               \
            X_SYNC();                                                                                        \
            Fault("step budget spent");                                                                      \
        }                                                                                                    \
    } while (false)

    // A fault leaves by an exception; where it left is kept for the diagnostics. Taking it
    // from the loop's own state costs the steps nothing.
    try {
        X_GO(Step);

    Pop:
        Sp = SlotBelow(Sp, Size);
        X_NEXT();
    Reserve:
        if (int64_t(Sp) + Step->Value >= Size) StackOverflow(Host, Sp);
        Sp = Host.SlotAt(int64_t(Sp) + Step->Value);
        X_NEXT();
    AlertTop : {
        const TXScriptVariable& Top = Slots[Sp];
        Sp = SlotBelow(Sp, Size);
        X_SYNC();
        Alert(Top);
        X_NEXT();
    }
    Nop:
        X_NEXT();
    Dup : {
        int32_t Next = PushSlot(Host, Sp, Size);
        CopyValue(Slots[Next], Slots[Sp]);
        Sp = Next;
        X_NEXT();
    }
    Swap:
        SwapValues(Slots[SlotBelow(Sp, Size)], Slots[Sp]);
        X_NEXT();
#define X_OPERATION_HANDLER(Index, Op)                                                                       \
    Operate_##Index : OperateOnTop<Op>(Host, Slots, Size, Sp);                                               \
    X_NEXT();
        X_INTEGER_OPERATIONS(X_OPERATION_HANDLER)
#undef X_OPERATION_HANDLER
    Modulo : {
        int32_t LeftSlot = SlotBelow(Sp, Size);
        X_SYNC();
        Slots[LeftSlot].Modulo(Slots[Sp]);
        Sp = LeftSlot;
        X_NEXT();
    }
    Not:
        Slots[Sp].BitNot();
        X_NEXT();
    ToNumber:
        X_SYNC();
        Slots[Sp].MakeNumeric();
        X_NEXT();
    Negate:
        X_SYNC();
        Slots[Sp].Negate();
        X_NEXT();
    StoreVar : {
        int32_t Slot;
        if (FindVariableSlot(Host, FrameBase, Size, Step->Index, Step->Depth, Slot)) {
            CopyValue(Slots[Slot], Slots[Sp]);
            Sp = SlotBelow(Sp, Size);
        } else {
            X_SYNC();
            Host.StoreVariable(Step->Index, Step->Depth);
            Sp = Host.StackPointer;
        }
        X_NEXT();
    }
    LoadVar:
    LoadReturn:
    LoadOnly : {
        PushVariable(Host, Slots, Size, FrameBase, *Step, Sp);
        if (Step->Kind == skLoadReturn) goto EndWithTop;
        // A combined step that did only its first instruction goes on right after it.
        X_GO(Step->Kind == opLoadVar ? Step->NextStep : Step + 1);
    }
    PushOnly:
        Sp = PushSlot(Host, Sp, Size);
        SetIntegerValue(Slots[Sp], Step->Value);
        X_GO(Step + 1);

#define X_COMBINED(Index, Op)                                                                                \
    LoadOperate_##Index : {                                                                                  \
        const TXStep* Next = LoadOperate<Op, false>(Step, Host, Slots, Size, FrameBase, Sp);                 \
        if (!Next) goto LoadOnly;                                                                            \
        X_GO(Next);                                                                                          \
    }                                                                                                        \
    LoadOperateJump_##Index : {                                                                              \
        const TXStep* Next = LoadOperate<Op, true>(Step, Host, Slots, Size, FrameBase, Sp);                  \
        if (!Next) goto LoadOnly; /* the single jump spends the step */                                      \
        if (--StepsLeft < 0) {                                                                               \
            /* The jump faults with its condition on top, as it does alone. */                               \
            Sp = SlotAbove(Sp, Size);                                                                        \
            X_SYNC();                                                                                        \
            Fault("step budget spent");                                                                      \
        }                                                                                                    \
        X_GO(Next);                                                                                          \
    }                                                                                                        \
    LoadAssign_##Index : if (!Assign<Op, true>(Step, Host, Slots, Size, FrameBase, Sp)) goto LoadOnly;       \
    X_NEXT();                                                                                                \
    PushAssign_##Index : if (!Assign<Op, false>(Step, Host, Slots, Size, FrameBase, Sp)) goto PushOnly;      \
    X_NEXT();
        X_INTEGER_OPERATIONS(X_COMBINED)
#undef X_COMBINED

    RestoreVar : {
        X_SYNC();
        int32_t Slot;
        // The copy goes above the top for a moment.
        if (Host.FindSlot(Step->Index, Step->Depth, Slot)) PushSlot(Host, Sp, Size);
        Host.LoadVariable(Step->Index, Step->Depth);
        Host.StoreVariable(Step->Index, Step->Depth);
        Sp = Host.StackPointer;
        X_NEXT();
    }
    JumpIfFalse : {
        X_SPEND();
        const TXScriptVariable& Top = Slots[Sp];
        bool Zero = (Top.kind == vkInteger ? Top.intValue : Top.AsInteger()) == 0;
        Sp = SlotBelow(Sp, Size);
        X_GO(Zero ? Step->Target : Step->NextStep);
    }
    Jump:
        X_SPEND();
        X_GO(Step->Target);
    PushInt:
        Sp = PushSlot(Host, Sp, Size);
        SetIntegerValue(Slots[Sp], Step->Value);
        X_NEXT();
    PushFloat:
        Sp = PushSlot(Host, Sp, Size);
        Slots[Sp].SetFloat(std::bit_cast<float>(Step->Value));
        X_NEXT();
    PushString:
        Sp = PushSlot(Host, Sp, Size);
        X_SYNC();
        Slots[Sp].SetFromText(X_NAME(), true);
        X_NEXT();
    GetChild:
        X_SYNC();
        GetObjectChild(Slots[Sp], X_NAME());
        X_NEXT();
    GetValue:
        X_SYNC();
        GetObjectValue(Slots[Sp], X_NAME());
        X_NEXT();
    CallMethod:
        ReportCallMethod();
        X_NEXT();
    SetChild : {
        const TXScriptVariable& Value = Slots[Sp];
        Sp = SlotBelow(Sp, Size);
        X_SYNC();
        uint8_t Operator = Step->Kind == opUpdateObjectChild ? Step->Operation : uint8_t(uoAssign);
        if (UpdateObjectChild(Slots[Sp], X_NAME(), Value, Operator)) Sp = SlotBelow(Sp, Size);
        X_NEXT();
    }
    PushSelf : {
        int32_t Next = PushSlot(Host, Sp, Size);
        Slots[Next].SetObject(Host.Owner);
        Sp = Next;
        X_NEXT();
    }
    PushFunction : {
        X_SYNC();
        TXScriptObjectFunction* Outer = Function;
        for (uint16_t Levels = Step->Depth; Levels > 0 && Outer->Parent; Levels--) Outer = Outer->Parent;
        TXScriptObjectFunction* Found = NestedFunction(*Outer, Step->Index);
        if (!Found) Fault("no function at that slot");
        int32_t Next = PushSlot(Host, Sp, Size);
        Slots[Next].SetFunction(Found);
        Sp = Next;
        X_NEXT();
    }
    CallFunction : {
        TXScriptObjectFunction* Outer = Function;
        for (uint16_t Levels = Step->Depth; Levels > 0 && Outer; Levels--) Outer = Outer->Parent;
        Callee = Outer ? NestedFunction(*Outer, Step->Index) : nullptr;
        if (!Callee) {
            X_SYNC();
            Fault("no function at that slot");
        }
        CalleeFrameDepth = int32_t(Step->Depth) + 1;
        goto Call;
    }
    CallVariable : {
        PushVariable(Host, Slots, Size, FrameBase, *Step, Sp);
        const TXScriptVariable& Pushed = Slots[Sp];
        if (Pushed.kind != vkFunction) {
            ReportNotCallable();
            X_NEXT();
        }
        Callee = static_cast<TXScriptObjectFunction*>(Pushed.reference);
        Sp = SlotBelow(Sp, Size);
        if (!Callee) {
            X_SYNC();
            Fault("no function in that value");
        }
        CalleeFrameDepth = 0;
        goto Call;
    }
    CallNative : {
        X_SYNC();
        TXBuiltinRoutine Routine = BuiltinRoutine(uint32_t(Step->Value));
        if (!Routine) Fault("no built-in under that handle");
        Routine(Host);
        X_RELOAD();
        X_NEXT();
    }
    Test:
        if (TXTestRoutine Routine = TestRoutine()) {
            X_SYNC();
            Routine(Step->Value, Host.Owner);
            X_RELOAD();
        }
        X_NEXT();
    Unknown:
        ReportUnknownByte(Step->Operation, Step->Value);
        Diagnose("unknown instruction", *Function, Step->Value);
        goto EndWithEmpty;

    Call : {
        X_SPEND();
        X_SYNC();
        TXPreparedCode* CalleePrepared = PreparedCodeOf(*Callee, Number);
        // The first argument becomes the frame's first slot; without arguments a new slot does.
        // The compiler tells how many arguments it pushed; without that, the callee's parameters.
        int32_t Parameters = Callee->ParamCount;
        int32_t Arguments = Step->Value >= 0 ? Step->Value : Parameters;
        int32_t Base = Arguments == 0   ? PushSlot(Host, Sp, Size)
                       : Arguments == 1 ? Sp
                                        : Host.SlotAt(int64_t(Sp) - (Arguments - 1));
        if (int64_t(Base) + Callee->VarCount >= Size) {
            // The frame does not fit: the callee ends at once with the empty string in place
            // of the arguments.
            Sp = Base;
            SetEmptyValue(Slots[Sp]);
            X_SYNC();
            ReportFault();
            Diagnose(StackOverflowKind, *Function, StepOffset(Prepared, Step));
            X_NEXT();
        }
        // Parameters without an argument start empty.
        for (int32_t Missing = Arguments; Missing < Parameters && Missing < Callee->VarCount; Missing++)
            SetEmptyValue(Slots[Base + Missing]);
        // The record first, so that a failure from here on ends the callee, not the caller.
        Calls.emplace_back(Function, Prepared, Step->NextStep, FrameBase);
        CallDepth++;
        TXScriptObjectFunction* Caller = Function;
        const TXStep* CallStep = Step;
        Current = Function = Callee;
        Sp = FrameBase = Base;
        Host.StackPointer = Sp;
        Host.OpenFrame(Callee->VarCount, CalleeFrameDepth);
        Sp = Host.StackPointer;
        if (!CalleePrepared || CallDepth > ScriptCallDepthLimit || CalleePrepared->Source.empty()) {
            ReportFault();
            Diagnose(!CalleePrepared                    ? "code that cannot be run"
                     : CallDepth > ScriptCallDepthLimit ? "call depth limit"
                                                        : "empty code",
                     *Caller, StepOffset(Prepared, CallStep));
            goto EndWithEmpty;
        }
        CurrentPrepared = Prepared = CalleePrepared;
        X_GO(Prepared->Steps.data());
    }

    EndWithTop : {
        int32_t From = Sp;
        Sp = SlotBelow(Sp, Size);
        Host.StackPointer = Sp;
        if (Calls.empty()) {
            CopyValue(Result, Slots[From]);
            return;
        }
        Host.CloseFrame();
        Sp = SlotAbove(Host.StackPointer, Size);
        CopyValue(Slots[Sp], Slots[From]);
        goto ResumeCaller;
    }
    EndWithNil:
        Host.StackPointer = Sp;
        if (Calls.empty()) {
            SetTextValue(Result, NilText());
            return;
        }
        Host.CloseFrame();
        Sp = SlotAbove(Host.StackPointer, Size);
        SetTextValue(Slots[Sp], NilText());
        goto ResumeCaller;
    EndWithEmpty:
        Host.StackPointer = Sp;
        if (Calls.empty()) {
            SetEmptyValue(Result);
            return;
        }
        Host.CloseFrame();
        Sp = SlotAbove(Host.StackPointer, Size);
        SetEmptyValue(Slots[Sp]);
    ResumeCaller : {
        const TXCallRecord& Record = Calls.back();
        Current = Function = Record.Function;
        CurrentPrepared = Prepared = Record.Prepared;
        FrameBase = Record.FrameBase;
        Step = Record.Resume;
        Calls.pop_back();
        CallDepth--;
        goto* Handlers[Step->Kind];
    }
    } catch (...) {
        FaultOffset = StepOffset(Prepared, Step);
        FaultStepKind = Step->Kind;
        throw;
    }
#undef X_GO
#undef X_NEXT
#undef X_SYNC
#undef X_RELOAD
#undef X_NAME
#undef X_SPEND
}

} // namespace

void SetScriptStepBudget(int64_t Steps) {
    StepBudget.store(Steps < 0 ? INT64_MAX : Steps, std::memory_order_relaxed);
}

TXExecutionCache::~TXExecutionCache() {
    delete Current.load(std::memory_order_relaxed);
    for (TXPreparedCode* Old : Retired) delete Old;
}

TXPreparedCode* TXExecutionCache::Prepare(std::string_view Code, const std::vector<TXCallSite>& CallSites,
                                          uint64_t Execution) {
    std::lock_guard<std::mutex> Guard(Lock);
    TXPreparedCode* Prepared = Current.load(std::memory_order_relaxed);
    if (!Prepared || Prepared->Source != Code || Prepared->CallSites != CallSites) {
        // An execution still running the old steps keeps them until the function goes.
        if (Prepared) Retired.push_back(Prepared);
        Prepared = PrepareCode(Code, CallSites);
        Current.store(Prepared, std::memory_order_release);
    }
    Prepared->CheckedIn.store(Execution, std::memory_order_relaxed);
    return Prepared;
}

int32_t ActiveExecutions() {
    return NativeDepth;
}

namespace {

// Destroyed after the execution: tells the routine when no Execute is left on the thread.
struct TXExecutionsEndedNotice {
    TXExecutionsEndedNotice() = default;
    TXExecutionsEndedNotice(const TXExecutionsEndedNotice&) = delete;
    TXExecutionsEndedNotice& operator=(const TXExecutionsEndedNotice&) = delete;
    ~TXExecutionsEndedNotice() {
        if (NativeDepth != 0) return;
        TXExecutionsEndedRoutine Routine = ExecutionsEndedSet.load(std::memory_order_acquire);
        if (!Routine) return;
        try {
            Routine();
        } catch (...) {
        }
    }
};

} // namespace

void TXScriptObjectFunction::Execute(TXScriptHost& Host, TXScriptVariable& Result) {
    SetEmptyValue(Result);
    if (Code.empty() || CallDepth >= ScriptCallDepthLimit || NativeDepth >= NativeExecuteDepthLimit) {
        ReportFault();
        Diagnose(Code.empty()                        ? "empty code"
                 : CallDepth >= ScriptCallDepthLimit ? "call depth limit"
                                                     : "native call depth limit",
                 *this, -1);
        return;
    }
    // A function run in a frame its caller opened (a message handler): the frame must fit.
    if (Host.FrameCount > 0 &&
        int64_t(Host.Frames[size_t(Host.FrameCount - 1)].Base) + VarCount >= Host.StackSize) {
        ReportFault();
        Diagnose(StackOverflowKind, *this, -1);
        return;
    }
    if (CallDepth == 0) StepsLeft = StepBudget.load(std::memory_order_relaxed); // an outermost run
    TXExecutionsEndedNotice Notice;
    TXExecution Execution(Host, this);
    for (;;) {
        try {
            Execution.Run(Result);
            return;
        } catch (const abi::__forced_unwind&) {
            throw;
        } catch (...) {
            ReportFault();
            Execution.DiagnoseFault();
            if (Execution.EndFaulted()) {
                SetEmptyValue(Result);
                return;
            }
        }
    }
}

#include "xscriptexecution.h"

#include "xlogging.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#if defined(__GLIBCXX__)
#include <cxxabi.h>
#endif

// Execute, the interpreter's entry from native code: the run's limits, its faults and their
// reports, and the routines that the modules above register with the interpreter.

namespace xscriptinterpreter {
namespace {

std::atomic<TXTestRoutine> TestRoutineSet{nullptr};
std::atomic<TXRunsEndedRoutine> RunsEndedSet{nullptr};
std::atomic<TXFaultDiagnostics> FaultDiagnosticsSet{nullptr};

constexpr std::string_view FaultMessage = "unhandled exception in script.execute";
constexpr std::string_view NoCallableMessage = "callvariable was called with no callable variable";
constexpr std::string_view CallMethodMessage = "this doesnt even work!";

// The harness's budget for each outermost run (SetScriptStepBudget).
std::atomic<int64_t> StepBudget{INT64_MAX};
std::atomic<uint64_t> ExecutionCount{0};

std::string UnknownByteMessage(uint8_t Byte, int32_t Offset) {
    static const char Digits[] = "0123456789ABCDEF";
    std::string Message = "unknown byte ";
    Message += Digits[Byte >> 4];
    Message += Digits[Byte & 15];
    Message += " at position ";
    Message += std::to_string(int64_t(Offset) + 1);
    return Message;
}

} // namespace

namespace {

TXScriptText SharedText(std::string_view Characters) {
    TXScriptText Text(Characters);
    Text.MakeShared();
    return Text;
}

} // namespace

const TXScriptText& UndefinedText() {
    static const TXScriptText Text = SharedText("undefined");
    return Text;
}

const TXScriptText& NilText() {
    static const TXScriptText Text = SharedText("NIL");
    return Text;
}

void Diagnose(std::string_view Kind, const TXScriptObjectFunction& Function, int32_t Offset) {
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

void Alert(const TXScriptVariable& Value) {
    TXScriptTextScratch Scratch;
    LogLine(AlertLevel, Value.ViewText(Scratch));
}

void ReportUnknownByte(uint8_t Byte, int32_t Offset) {
    LogLine(7, UnknownByteMessage(Byte, Offset));
}

void ReportFault() {
    LogLine(9, FaultMessage);
}

void ReportNotCallable() {
    LogLine(AlertLevel, NoCallableMessage);
}

void ReportCallMethod() {
    LogLine(9, CallMethodMessage);
}

void Fault(const char* Why) {
    throw TXScriptFault(Why);
}

void StackOverflow(TXScriptHost& Host, int32_t Sp) {
    Host.StackPointer = Sp;
    throw TXScriptFault(StackOverflowKind);
}

TXPreparedCode* CheckCalleeCode(TXScriptObjectFunction& Function, uint64_t Execution) {
    TXPreparedCode* Prepared = CheckPreparedCode(Function, Execution);
    if (Prepared && Prepared->Source.empty()) Prepared->CheckedIn.store(0, std::memory_order_relaxed);
    return Prepared;
}

constinit thread_local uint64_t NextExecutionNumber = 0;
constinit thread_local uint64_t ExecutionNumbersEnd = 0;

uint64_t TakeExecutionNumbers() {
    // Numbers start at 1: 0 marks steps checked in no Execute.
    uint64_t First = ExecutionCount.fetch_add(ExecutionNumberBlock, std::memory_order_relaxed) + 1;
    NextExecutionNumber = First + 1;
    ExecutionNumbersEnd = First + ExecutionNumberBlock;
    return First;
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
    std::string Kind = FaultStepKind == TXStepKind::opCallNative ? "fault in a built-in" + Detail
                       : FaultStepKind == TXStepKind::opTest     ? "fault in the test instruction" + Detail
                       : Script                                  ? What
                                                                 : "fault" + Detail;
    Diagnose(Kind, *Current, FaultOffset);
}

bool TXExecution::EndFaulted() {
    if (Host.FrameCount <= EntryFrames) return true;
    TXScriptFrame Frame = Host.TopFrame();
    Host.CloseCallFrame();
    CallDepth--;
    Host.StackPointer = Host.SlotAt(int64_t(Frame.Base) - 1);
    Host.Push(TXScriptVariable());
    Current = Frame.CallerCode->Function;
    CurrentPrepared = Frame.CallerCode;
    Resume = Frame.Resume;
    return false;
}

} // namespace xscriptinterpreter

using namespace xscriptinterpreter;

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

void SetTestRoutine(TXTestRoutine Routine) {
    TestRoutineSet.store(Routine, std::memory_order_release);
}

TXTestRoutine TestRoutine() {
    return TestRoutineSet.load(std::memory_order_acquire);
}

void SetRunsEndedRoutine(TXRunsEndedRoutine Routine) {
    RunsEndedSet.store(Routine, std::memory_order_release);
}

void SetScriptStepBudget(int64_t Steps) {
    StepBudget.store(Steps < 0 ? INT64_MAX : Steps, std::memory_order_relaxed);
}

constinit thread_local int32_t TXRunScope::ScriptRunDepth = 0;

void TXRunScope::EndRuns() {
    TXRunsEndedRoutine Routine = RunsEndedSet.load(std::memory_order_acquire);
    if (!Routine) return;
    try {
        Routine();
    } catch (...) {
    }
}

bool RunsActive() {
    return TXRunScope::ScriptRunDepth > 0;
}

namespace {

// TXScriptObjectFunction::Execute, also for ExecuteHandler, which holds a run scope of its own
// and may know that the function's frame fits.
template <bool OwnScope>
XINLINE inline void ExecuteFunction(TXScriptObjectFunction& Function, TXScriptHost& Host,
                                    TXScriptVariable& Result, bool FrameFits = false) {
    SetEmptyValue(Result);
    if (Function.Code.empty() || CallDepth >= ScriptCallDepthLimit || NativeDepth >= NativeExecuteDepthLimit)
        [[unlikely]] {
        ReportFault();
        Diagnose(Function.Code.empty()               ? "empty code"
                 : CallDepth >= ScriptCallDepthLimit ? "call depth limit"
                                                     : "native call depth limit",
                 Function, -1);
        return;
    }
    // A function run in a frame its caller opened (a message handler): the frame must fit.
    if (!FrameFits && Host.FrameCount > 0 &&
        int64_t(Host.Frames[size_t(Host.FrameCount - 1)].Base) + Function.VarCount >= Host.StackSize)
        [[unlikely]] {
        ReportFault();
        Diagnose(StackOverflowKind, Function, -1);
        return;
    }
    if (CallDepth == 0) StepsLeft = StepBudget.load(std::memory_order_relaxed); // an outermost run
    // Ends after the execution: its routine may free the function and host.
    std::optional<TXRunScope> Run;
    if constexpr (OwnScope) Run.emplace();
    TXExecution Execution(Host, &Function);
    for (;;) {
        try {
            Execution.Run(Result);
            return;
#if defined(__GLIBCXX__)
        } catch (const abi::__forced_unwind&) {
            throw; // a thread being cancelled
#endif
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

} // namespace

void TXScriptObjectFunction::Execute(TXScriptHost& Host, TXScriptVariable& Result) {
    ExecuteFunction<true>(*this, Host, Result);
}

void ExecuteHandler(TXScriptObjectFunction& Function, TXScriptHost& Host) {
    TXRunScope Scope; // ends after the frames close: its routine may free the function and host
    int32_t RootVariables = Function.Root->VarCount;
    int32_t Variables = Function.VarCount;
    int32_t Opened = Host.FrameCount;
    bool Fits = RootVariables >= 0 && Variables >= 0 && int64_t(RootVariables) + Variables < Host.StackSize;
    if (Fits && Opened + 2 < Host.FrameCapacity) [[likely]] {
        // What the general way below does when both frames fit and the frames need no room.
        TXScriptFrame* Frames = Host.Frames.data();
        Frames[Opened].Base = 0;
        Frames[Opened].Depth = 1;
        Frames[Opened + 1].Base = RootVariables;
        Frames[Opened + 1].Depth = 1;
        Host.FrameCount = Opened + 2;
        Host.StackPointer = RootVariables + Variables;
        for (int32_t Index = 0; Index < Variables; Index++)
            Host.Stack[size_t(RootVariables + Index)] = TXScriptVariable();
    } else {
        Host.SetStackPosition(0);
        Host.OpenFrame(RootVariables, 1);
        int32_t Base = Host.StackPointer;
        Host.OpenFrame(Variables, 1);
        // A frame that does not fit is a fault of Execute, which writes nothing there.
        if (int64_t(RootVariables) + Variables < Host.StackSize)
            for (int32_t Index = 0; Index < Variables; Index++)
                Host.Stack[size_t(Base + Index)] = TXScriptVariable();
    }
    TXScriptVariable Result;
    ExecuteFunction<false>(Function, Host, Result, Fits);
    if (Host.FrameCount == Opened + 2 && Host.FrameCapacity - Opened <= FrameCapacityShrink) [[likely]] {
        // Both frames close with nothing to give back.
        Host.FrameCount = Opened;
        int32_t Base = Host.Frames[size_t(Opened)].Base;
        Host.StackPointer = Base == 0 ? Host.StackSize - 1 : Host.SlotAt(int64_t(Base) - 1);
    } else {
        Host.CloseFrame();
        Host.CloseFrame();
    }
}

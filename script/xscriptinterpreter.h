#pragma once

#include "xpropertystorage.h"

#include <atomic>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// What the interpreter needs from the modules above it: the objects' properties as script
// code sees them, and the routine behind the test instruction. The object model and the
// GUI application register these at start-up, so this module depends on neither.

class TXObject;
class TXScriptHost;
class TXScriptObjectFunction;

// Looks a property of Object up by name (the object model compares the first 32 characters)
// and gives its kind and data; false when there is none.
using TXPropertyFinder = bool (*)(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data);
// Without a finder every object reads as having no properties.
void SetPropertyFinder(TXPropertyFinder Finder);
bool FindObjectProperty(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data);
// The object model calls this whenever a property is added or removed or an object goes:
// what the interpreter remembers of members it looked up is forgotten.
void PropertyLayoutChanged();

// The test instruction: mode 0 creates the test application, mode 1 frees the application
// that owns Owner; it may throw, which is a run-time fault of the running function. Until a
// routine is set, the instruction does nothing.
using TXTestRoutine = void (*)(int32_t Mode, TXObject* Owner);
void SetTestRoutine(TXTestRoutine Routine);
TXTestRoutine TestRoutine();

// Runs on the calling thread: every Execute holds a TXRunScope while it runs, and so does
// every entry of the modules above that may run scripts (the object model's RunMain,
// Processmessage and script handlers). Work that must not happen while any of them is under
// way on a thread (freeing an application whose own script asked for it) waits for the end
// of the outermost one.
class TXRunScope {
public:
    TXRunScope() { ScriptRunDepth++; }
    ~TXRunScope() {
        if (--ScriptRunDepth == 0) EndRuns();
    }
    TXRunScope(const TXRunScope&) = delete;
    TXRunScope& operator=(const TXRunScope&) = delete;

    // Runs open on this thread.
    static constinit thread_local int32_t ScriptRunDepth;

private:
    // The outermost run has ended: the routine below, if any.
    static void EndRuns();
};
// True while a run is under way on the calling thread.
bool RunsActive();
// Called on a thread each time its outermost run has ended (for an Execute: when neither the
// function nor its host is used any more). One routine for the process; null, as at the
// start, for none. What the routine throws is dropped.
using TXRunsEndedRoutine = void (*)();
void SetRunsEndedRoutine(TXRunsEndedRoutine Routine);

// Runs Function as a message handler on Host: on the stack from slot 0, in a frame (depth 1)
// of its root's variables and then one of its own, whose variables start as the empty string
// (a handler gets no argument); both frames close after it and its result is dropped.
void ExecuteHandler(TXScriptObjectFunction& Function, TXScriptHost& Host);

// Script functions active at once on one thread, counting every script call and every
// entry from native code. A call beyond the limit is a run-time fault of the callee.
constexpr int32_t ScriptCallDepthLimit = 100000;
// The values of a run lie from slot 0 up to the stack pointer (the root's variables first,
// then every open frame and the temporaries above it), so the stack never wraps: a push,
// an opReserve or a call whose frame would move the stack pointer past the last slot is a
// run-time fault ("stack overflow") instead of overwriting the oldest values. A call whose
// frame does not fit ends the callee at once; the caller receives the empty string.
// Entries from native code nested on one thread (a test application's scripts start while
// the script that made it is still running). An entry beyond the limit is a run-time fault.
constexpr int32_t NativeExecuteDepthLimit = 64;
// The longest code a function may have; running a longer one is a run-time fault.
constexpr int32_t PreparedCodeLimit = 16 << 20;

// For test harnesses only (the system never sets it): the jumps and script calls that each
// outermost script run may make, on any thread (runs nested in it, such as the scripts of an
// application a TEST(0) builds, share its budget). Each one spends a step; with none left,
// every further jump or call is a run-time fault of the running function, so that a script
// that loops forever ends. A negative Steps, as at the start, lifts the limit; a new value
// holds from the next outermost run on.
void SetScriptStepBudget(int64_t Steps);

// What the compiler keeps beside a function's code for the interpreter. Code made by hand
// has neither.
//
// A call it emitted (opCallFunction or opCallVariable at Offset) with the number of
// arguments pushed for it. A call with a known count replaces exactly those arguments with
// its result, and parameters without an argument start as the empty string; a call without
// one takes the callee's parameter count as the number of arguments.
struct TXCallSite {
    int32_t Offset = 0;
    int32_t Arguments = 0;
    bool operator==(const TXCallSite&) const = default;
};
// The source line (counted from 0) of the statement whose code starts at Offset; a
// function's entries are in code order.
struct TXSourceLine {
    int32_t Offset = 0;
    int32_t Line = 0;
};

// Fault diagnostics: beside the fixed fault line on standard output, a program may ask for
// one more line per run-time fault saying what and where. Nothing is made unless asked,
// and asking costs nothing while no fault happens.
struct TXFaultReport {
    std::string_view Kind;     // "integer remainder by zero", "stack overflow", ...
    std::string_view Function; // the function running the instruction
    int32_t Offset = -1;       // the instruction's code offset; -1 when there is none
    std::string_view File;     // the source file, empty for code made by hand
    int32_t Line = -1;         // the statement's line (from 0); -1 when unknown
};
using TXFaultDiagnostics = void (*)(const TXFaultReport& Report);
// Null (as at the start) asks for nothing.
void SetFaultDiagnostics(TXFaultDiagnostics Routine);
// "script fault: <kind> in <function> at offset <n>, <file> Line <line>"; the offset, file
// and line parts only when known.
std::string FaultDiagnosticLine(const TXFaultReport& Report);
// Writes FaultDiagnosticLine and a line feed to standard error, in one write.
void WriteFaultDiagnostic(const TXFaultReport& Report);

// Kept by each script function for the interpreter: the function's code decoded once for
// execution. Made on the first run and made again when the code has changed since.
struct TXPreparedCode;
class TXExecutionCache {
public:
    TXExecutionCache() = default;
    ~TXExecutionCache();
    TXExecutionCache(const TXExecutionCache&) = delete;
    TXExecutionCache& operator=(const TXExecutionCache&) = delete;

    // The decoded form of Function's code with its call sites (this is Function's cache),
    // decoded again when either differs from what it was made from, and marked as checked by
    // the Execute numbered Execution.
    TXPreparedCode* Prepare(TXScriptObjectFunction& Function, uint64_t Execution);

    std::atomic<TXPreparedCode*> Current{nullptr};

private:
    std::mutex Lock;
    std::vector<TXPreparedCode*> Retired; // replaced forms, kept for executions still using them
};

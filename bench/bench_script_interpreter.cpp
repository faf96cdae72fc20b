#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>

namespace {

struct TCompiled {
    std::unique_ptr<TFileParser> Parser;
    std::unique_ptr<TXScriptObjectFunction> Main;
};

TCompiled Compile(const std::string& Text) {
    TCompiled Compiled;
    Compiled.Parser = std::make_unique<TFileParser>("bench.txt", nullptr, Text);
    Compiled.Main = CompileMainFunction(*Compiled.Parser);
    return Compiled;
}

// Runs the root function once per iteration on a fresh stack position; Items counts the
// script's own work (calls or loop steps).
void RunScript(benchmark::State& State, const std::string& Text, int64_t Items) {
    TCompiled Compiled = Compile(Text);
    TXScriptHost Host(4096, nullptr);
    TXScriptVariable Result;
    for (auto _ : State) {
        Host.SetStackPosition(0);
        Compiled.Main->Execute(Host, Result);
        benchmark::DoNotOptimize(Result);
    }
    State.SetItemsProcessed(State.iterations() * Items);
}

// fib(n) makes 2 fib(n + 1) - 1 calls.
int64_t FibonacciCalls(int N) {
    int64_t A = 1, B = 1;
    for (int Step = 0; Step < N; Step++) {
        int64_t Next = A + B;
        A = B;
        B = Next;
    }
    return 2 * A - 1;
}

void RecursiveFibonacci(benchmark::State& State) {
    int N = int(State.range(0));
    RunScript(State,
              "FUNCTION FIB(N) { IF (N < 2) RETURN N; RETURN FIB(N - 1) + FIB(N - 2); }\n"
              "VAR R = FIB(" +
                  std::to_string(N) + ");\n",
              FibonacciCalls(N));
}
BENCHMARK(RecursiveFibonacci)->Arg(20)->Unit(benchmark::kMicrosecond);

// The same with fault diagnostics asked for, as xrun asks: no fault happens, so the
// instructions should cost the same.
void RecursiveFibonacciDiagnosed(benchmark::State& State) {
    SetFaultDiagnostics(WriteFaultDiagnostic);
    RecursiveFibonacci(State);
    SetFaultDiagnostics(nullptr);
}
BENCHMARK(RecursiveFibonacciDiagnosed)->Arg(20)->Unit(benchmark::kMicrosecond);

void CountingLoop(benchmark::State& State) {
    std::string Steps = std::to_string(State.range(0));
    RunScript(State, "VAR S = 0;\nFOR (VAR I = 0; I < " + Steps + "; I += 1) S += I;\n", State.range(0));
}
BENCHMARK(CountingLoop)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void CountingLoopDiagnosed(benchmark::State& State) {
    SetFaultDiagnostics(WriteFaultDiagnostic);
    CountingLoop(State);
    SetFaultDiagnostics(nullptr);
}
BENCHMARK(CountingLoopDiagnosed)->Arg(1000000)->Unit(benchmark::kMicrosecond);

// A loop whose values are not all integers runs instruction by instruction.
void MixedLoop(benchmark::State& State) {
    std::string Steps = std::to_string(State.range(0));
    RunScript(State,
              "VAR S = 0.5; VAR T = \"\";\nFOR (VAR I = 0; I < " + Steps +
                  "; I += 1) { S += I; T = \"x\"; }\n",
              State.range(0));
}
BENCHMARK(MixedLoop)->Arg(100000)->Unit(benchmark::kMicrosecond);

// One message handler run, as an object's CallFunction does it.
void HandlerRun(benchmark::State& State) {
    TCompiled Compiled = Compile("VAR CLICKS = 0; FUNCTION ONCLICK() { CLICKS += 1; }");
    TXScriptHost Host(4096, nullptr);
    TXScriptVariable Result;
    Compiled.Main->Execute(Host, Result);
    TXScriptObjectFunction* Handler = Compiled.Main->FunctionAt(0);
    for (auto _ : State) {
        Host.SetStackPosition(0);
        Host.OpenFrame(Compiled.Main->VarCount, 1);
        Host.OpenFrame(Handler->VarCount, 1);
        Handler->Execute(Host, Result);
        Host.CloseFrame();
        Host.CloseFrame();
    }
    State.SetItemsProcessed(State.iterations());
}
BENCHMARK(HandlerRun);

} // namespace

#include "xscripthost.h"

#include <benchmark/benchmark.h>

namespace {

// A push and a pop of an integer: the interpreter's most frequent pair.
void HostPushPop(benchmark::State& State) {
    TXScriptHost Host(4096, nullptr);
    TXScriptVariable Value = TXScriptVariable::FromInteger(7);
    for (auto _ : State) {
        Host.Push(Value);
        Host.Pop();
        benchmark::DoNotOptimize(Host.StackPointer);
    }
}
BENCHMARK(HostPushPop);

// Load and store of a variable Depth levels up, inside a handler-like layout of frames.
void HostLoadStore(benchmark::State& State) {
    int32_t Depth = int32_t(State.range(0));
    TXScriptHost Host(4096, nullptr);
    for (int32_t Frame = 0; Frame <= Depth; Frame++) Host.OpenFrame(4, 1);
    Host.Stack[1].SetInteger(3);
    for (auto _ : State) {
        Host.LoadVariable(1, Depth);
        Host.StoreVariable(2, Depth);
        benchmark::DoNotOptimize(Host.StackPointer);
    }
}
BENCHMARK(HostLoadStore)->Arg(0)->Arg(1)->Arg(4);

// A call's frame: open with four variables, close again.
void HostOpenCloseFrame(benchmark::State& State) {
    TXScriptHost Host(4096, nullptr);
    for (auto _ : State) {
        Host.OpenFrame(4, 1);
        Host.CloseFrame();
        Host.Advance(1);
        benchmark::DoNotOptimize(Host.StackPointer);
    }
}
BENCHMARK(HostOpenCloseFrame);

} // namespace

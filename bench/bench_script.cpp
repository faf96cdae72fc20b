#include "xscriptvariable.h"

#include <benchmark/benchmark.h>

namespace {

// Each operation starts from a copy of the left operand, as the interpreter's stack slots do.
void RunOperation(benchmark::State& State, const TXScriptVariable& Left, const TXScriptVariable& Right,
                  void (TXScriptVariable::*Operation)(const TXScriptVariable&)) {
    TXScriptVariable Slot;
    for (auto _ : State) {
        Slot = Left;
        (Slot.*Operation)(Right);
        benchmark::DoNotOptimize(Slot);
    }
}

void AddIntegers(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromInteger(40), TXScriptVariable::FromInteger(2),
                 &TXScriptVariable::Add);
}

void EqualIntegers(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromInteger(40), TXScriptVariable::FromInteger(2),
                 &TXScriptVariable::Equal);
}

void AddShortStrings(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromText("caption", false),
                 TXScriptVariable::FromText("_left", false), &TXScriptVariable::Add);
}

void EqualShortStrings(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromText("caption", false),
                 TXScriptVariable::FromText("captioN", false), &TXScriptVariable::Equal);
}

void AddStringAndInteger(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromText("item", false), TXScriptVariable::FromInteger(1234),
                 &TXScriptVariable::Add);
}

void AddFloatAndInteger(benchmark::State& State) {
    RunOperation(State, TXScriptVariable::FromFloat(0.5f), TXScriptVariable::FromInteger(2),
                 &TXScriptVariable::Add);
}

// An accumulator that is never copied: the integer fast path alone.
void AccumulateIntegers(benchmark::State& State) {
    TXScriptVariable Sum = TXScriptVariable::FromInteger(0), One = TXScriptVariable::FromInteger(1);
    for (auto _ : State) {
        Sum.Add(One);
        benchmark::DoNotOptimize(Sum);
    }
}

BENCHMARK(AddIntegers);
BENCHMARK(EqualIntegers);
BENCHMARK(AddShortStrings);
BENCHMARK(EqualShortStrings);
BENCHMARK(AddStringAndInteger);
BENCHMARK(AddFloatAndInteger);
BENCHMARK(AccumulateIntegers);

} // namespace

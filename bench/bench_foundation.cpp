#include "xlist.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> MakeKeys(int Count) {
    std::vector<std::string> Keys;
    Keys.reserve(Count);
    for (int I = 0; I < Count; I++) Keys.push_back("PROPERTY" + std::to_string(I));
    return Keys;
}

void ItemListAdd(benchmark::State& State) {
    auto Keys = MakeKeys(static_cast<int>(State.range(0)));
    int64_t Payload = 0;
    for (auto _ : State) {
        TItemList List(8);
        for (auto& Key : Keys) List.Add(Key, &Payload);
        benchmark::DoNotOptimize(List.Count);
    }
    State.SetComplexityN(State.range(0));
}

void ItemListFind(benchmark::State& State) {
    auto Keys = MakeKeys(static_cast<int>(State.range(0)));
    int64_t Payload = 0;
    TItemList List(8);
    for (auto& Key : Keys) List.Add(Key, &Payload);
    for (auto _ : State)
        for (auto& Key : Keys) benchmark::DoNotOptimize(List.Find(Key));
    State.SetComplexityN(State.range(0));
}

void ItemListIndexWalk(benchmark::State& State) {
    auto Keys = MakeKeys(static_cast<int>(State.range(0)));
    int64_t Payload = 0;
    TItemList List(8);
    for (auto& Key : Keys) List.Add(Key, &Payload);
    for (auto _ : State)
        for (int32_t Index = 0; Index < List.Count; Index++) benchmark::DoNotOptimize(List.GetItem(Index));
    State.SetComplexityN(State.range(0));
}

} // namespace

BENCHMARK(ItemListAdd)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();
BENCHMARK(ItemListFind)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity();
BENCHMARK(ItemListIndexWalk)->RangeMultiplier(4)->Range(1 << 10, 1 << 16)->Complexity(benchmark::oN);

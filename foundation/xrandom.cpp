#include "xrandom.h"

#include <atomic>
#include <chrono>

namespace {
std::atomic<uint32_t> Seed{0};
}

uint32_t Random(uint32_t Range) {
    uint32_t Old = Seed.load(std::memory_order_relaxed);
    uint32_t New;
    do {
        New = Old * 134775813u + 1u;
    } while (!Seed.compare_exchange_weak(Old, New, std::memory_order_relaxed));
    return static_cast<uint32_t>((static_cast<uint64_t>(New) * Range) >> 32);
}

void SetRandomSeed(uint32_t Value) {
    Seed.store(Value, std::memory_order_relaxed);
}

uint32_t GetRandomSeed() {
    return Seed.load(std::memory_order_relaxed);
}

void Randomize() {
    auto Ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    SetRandomSeed(static_cast<uint32_t>(Ticks));
}

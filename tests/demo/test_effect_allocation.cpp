// Counts every heap allocation of the process by replacing the global operator new.
#include "effect_fixture.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<int64_t> Allocations{0};
}

void* operator new(std::size_t Size) {
    Allocations++;
    if (void* Block = std::malloc(Size ? Size : 1)) return Block;
    throw std::bad_alloc();
}

void* operator new[](std::size_t Size) {
    return operator new(Size);
}
void operator delete(void* Block) noexcept {
    std::free(Block);
}
void operator delete[](void* Block) noexcept {
    std::free(Block);
}
void operator delete(void* Block, std::size_t) noexcept {
    std::free(Block);
}
void operator delete[](void* Block, std::size_t) noexcept {
    std::free(Block);
}

namespace {

using AllocationTest = EffectTest;

TEST_F(AllocationTest, ThousandFramesAllocateNothing) {
    BassScript::SetFileLength(1000000);
    InitDemo(reinterpret_cast<HWND>(1), 1024, 768);
    // Loud in every band, so that every band fires and every kind of particle lives.
    for (int32_t K = 0; K < SpectrumBins; K++) BassScript::SetSpectrumBin(K, 1.0f);
    BassScript::SetPositionRamp(0, 1000);

    int32_t MostBusy = 0;
    int64_t Before = Allocations.load();
    for (int32_t Frame = 0; Frame < 1000; Frame++) {
        GLRecord::Clear();
        DrawScene();
        MostBusy = std::max(MostBusy, BusySlots());
    }
    int64_t After = Allocations.load();

    EXPECT_EQ(After - Before, 0);
    EXPECT_EQ(MostBusy, ParticleCount);
    EXPECT_FALSE(GLRecord::Overflowed());
}

TEST_F(AllocationTest, TheCounterSeesAllocations) {
    int64_t Before = Allocations.load();
    auto* Block = new int(5);
    EXPECT_EQ(Allocations.load() - Before, 1);
    delete Block;
}

} // namespace

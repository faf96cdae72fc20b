// The platform's sound output alone: SDL's dummy driver on Linux, waveOut on ALSA's null
// device under Wine.
#include "output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct TCounter {
    std::atomic<long long> Frames{0};
    std::atomic<int> Calls{0};
};

void CountFill(void* Context, float* Samples, int Frames) {
    auto* Counter = static_cast<TCounter*>(Context);
    for (int I = 0; I < Frames * 2; I++) Samples[I] = 0.25f;
    Counter->Frames += Frames;
    Counter->Calls++;
}

bool WaitForFrames(const TCounter& Counter, long long Frames) {
    const auto Deadline = std::chrono::steady_clock::now() + 10s;
    while (Counter.Frames.load() < Frames)
        if (std::chrono::steady_clock::now() > Deadline)
            return false;
        else
            std::this_thread::sleep_for(5ms);
    return true;
}

TEST(OutputDevice, AsksForSamplesPeriodByPeriodUntilClosed) {
    TCounter Counter;
    TOutputDevice Device;
    int Latency = 0;
    ASSERT_TRUE(Device.Open(CountFill, &Counter, Latency));
    EXPECT_GT(Latency, 0);
    EXPECT_LE(Latency, 8192);
    ASSERT_TRUE(WaitForFrames(Counter, 44100 / 2));
    EXPECT_GE(Counter.Calls.load(), 2);
    int Latency2 = 0;
    EXPECT_FALSE(Device.Open(CountFill, &Counter, Latency2)); // already open
    Device.Close();
    const int Calls = Counter.Calls.load();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(Counter.Calls.load(), Calls);
    Device.Close(); // closing again does nothing
}

TEST(OutputDevice, OpensAgainAfterClosing) {
    TOutputDevice Device;
    for (int Round = 0; Round < 2; Round++) {
        TCounter Counter;
        int Latency = 0;
        ASSERT_TRUE(Device.Open(CountFill, &Counter, Latency)) << "round " << Round;
        EXPECT_TRUE(WaitForFrames(Counter, 4096)) << "round " << Round;
        Device.Close();
    }
}

} // namespace

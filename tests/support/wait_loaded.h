#pragma once

#include "xguiapp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

// Waits (up to a minute) until Application's worker has loaded its contents.
inline void WaitUntilLoaded(TXGuiApplication& Application) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Application.Loaded.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(Application.Loaded.load(std::memory_order_acquire));
}

#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(ScriptValueSharing, CopiesOnManyThreadsShareOneTextSafely) {
    TXScriptVariable Shared = TXScriptVariable::FromText("shared between threads", false);
    std::vector<std::thread> Workers;
    for (int Worker = 0; Worker < 4; Worker++)
        Workers.emplace_back([Shared] {
            for (int Round = 0; Round < 10000; Round++) {
                TXScriptVariable Copy = Shared;
                Copy.Add(TXScriptVariable::FromInteger(Round)); // writes a private copy
                TXScriptVariable Again = Shared;
                Again.Equal(Shared);
            }
        });
    for (auto& Worker : Workers) Worker.join();
    EXPECT_EQ(Shared.text.ShareCount(), 1u);
    EXPECT_EQ(Shared.text.View(), "shared between threads");
}

} // namespace

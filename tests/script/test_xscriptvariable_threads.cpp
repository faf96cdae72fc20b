#include "compiled_script.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(ScriptValueSharing, CopiesOnManyThreadsShareOneTextSafely) {
    TXScriptVariable Shared = TXScriptVariable::FromText("shared between threads", false);
    Shared.text.MakeShared();
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

// One decoded function run on several threads at once: every run pushes the same text
// constants, and the texts it builds from them stay its own.
TEST(ScriptValueSharing, OneFunctionRunsOnManyThreadsWithItsTextConstants) {
    TCompiled Compiled = CompileScript("VAR W = \"LEFT\"; VAR N = 0;\n"
                                       "FOR (VAR I = 0; I < 20000; I += 1) {\n"
                                       "  IF (W == \"LEFT\") W = \"RIGHT\"; ELSE W = \"LEFT\";\n"
                                       "  IF (W == \"RIGHT\") N += 1;\n"
                                       "}\n"
                                       "RETURN W + N;");
    ASSERT_TRUE(Compiled.Main);
    std::vector<std::string> Results(4);
    std::vector<std::thread> Workers;
    for (size_t Worker = 0; Worker < Results.size(); Worker++)
        Workers.emplace_back([&, Worker] {
            TXScriptHost Host(256, nullptr);
            TXScriptVariable Result;
            Compiled.Main->Execute(Host, Result);
            Results[Worker] = Result.text.ToString();
        });
    for (auto& Worker : Workers) Worker.join();
    for (const std::string& Result : Results) EXPECT_EQ(Result, "LEFT10000");
}

} // namespace

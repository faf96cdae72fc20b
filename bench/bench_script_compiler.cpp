#include "xscriptcompiler.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

constexpr int ScriptLines = 100000;

// A script of functions, loops, branches, member assignments and calls, each block with
// names of its own, so the root collects many variables and functions as it grows.
std::string MakeScript(int Lines) {
    std::string Text;
    int Written = 0;
    auto Line = [&](const std::string& Source) {
        Text += Source;
        Text += "\r\n";
        Written++;
    };
    for (int Block = 0; Written < Lines; Block++) {
        std::string N = std::to_string(Block);
        Line("VAR COUNT" + N + " = 0;");
        Line("FUNCTION STEP" + N + "(A, B) {");
        Line("  VAR T = A + B * 2 - (A % 3);");
        Line("  IF (T > 10) T = T - 1; ELSE T = T + $1F;");
        Line("  RETURN T;");
        Line("}");
        Line("FOR (VAR I" + N + " = 0; I" + N + " < 10; I" + N + " += 1) {");
        Line("  COUNT" + N + " += STEP" + N + "(I" + N + ", 2);");
        Line("  SELF.PANEL.TOP = COUNT" + N + " % 7; // placement");
        Line("}");
        Line("ALERT(\"done \" + COUNT" + N + " * 1.5);");
        Line("");
    }
    return Text;
}

void CompileGeneratedScript(benchmark::State& State) {
    const std::string Text = MakeScript(int(State.range(0)));
    TFileParser Parser("bench.txt", nullptr, Text);
    size_t CodeBytes = 0;
    for (auto _ : State) {
        Parser.Rewind();
        std::unique_ptr<TXScriptObjectFunction> Main = CompileMainFunction(Parser);
        if (Main->Failed) State.SkipWithError("the generated script did not compile");
        CodeBytes = 0;
        for (const TXScriptObjectFunction* Function : ListFunctions(*Main))
            CodeBytes += Function->Code.size();
        benchmark::DoNotOptimize(CodeBytes);
    }
    State.counters["lines_per_second"] =
        benchmark::Counter(double(Parser.LineCount), benchmark::Counter::kIsIterationInvariantRate);
    State.counters["code_bytes"] = double(CodeBytes);
}

BENCHMARK(CompileGeneratedScript)->Arg(10000)->Arg(ScriptLines)->Unit(benchmark::kMillisecond);

} // namespace

#include "fileparser.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// About 10 MB of object definitions: declarations, assignments, strings, numbers, comments.
std::string MakeDefinitions() {
    std::string Text;
    for (int Index = 0; Text.size() < (size_t{10} << 20); Index++) {
        std::string Number = std::to_string(Index);
        Text += "OBJECT Button" + Number + ": BUTTON\r\n";
        Text += "  LEFT = " + Number + "; TOP = 20; WIDTH = 120; HEIGHT = $1F;\r\n";
        Text += "  CAPTION = \"Press \"\"button " + Number + "\"\" now\";\r\n";
        Text += "  FLOAT Scale = 1.25; // relative to the parent\r\n";
        Text += "  LINK Width = PARENT.Width;\r\n";
        Text += "\r\n";
        Text += "END\r\n";
    }
    return Text;
}

const std::string& Definitions() {
    static const std::string Text = MakeDefinitions();
    return Text;
}

void ReadAllTokens(TFileParser& Parser, benchmark::State& State) {
    std::string Token;
    int64_t Tokens = 0;
    for (;;) {
        Parser.NextToken(Token);
        if (Token.empty() && (Parser.AtEnd || Parser.Rules->TokenKind != tkString)) break;
        Tokens++;
    }
    benchmark::DoNotOptimize(Tokens);
    State.counters["tokens"] = static_cast<double>(Tokens);
}

// Cutting tokens from lines already in memory.
void TokenizeLoadedLines(benchmark::State& State) {
    TFileParser Parser("definitions.txt", nullptr, Definitions());
    for (auto _ : State) {
        Parser.Rewind();
        ReadAllTokens(Parser, State);
    }
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Definitions().size()));
}

// Opening and splitting the file into lines as well.
void LoadAndTokenizeFile(benchmark::State& State) {
    auto Path = std::filesystem::temp_directory_path() / "bench_fileparser_definitions.txt";
    std::ofstream(Path, std::ios::binary) << Definitions();
    for (auto _ : State) {
        TFileParser Parser(Path.string(), nullptr);
        ReadAllTokens(Parser, State);
    }
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Definitions().size()));
    std::filesystem::remove(Path);
}

BENCHMARK(TokenizeLoadedLines)->Unit(benchmark::kMillisecond);
BENCHMARK(LoadAndTokenizeFile)->Unit(benchmark::kMillisecond);

} // namespace

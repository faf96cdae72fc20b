// Runs a fuzz target's entry point once over every file named on the command line (a
// folder stands for the files in it, in name order), without libFuzzer, so that a tree
// built by another compiler (the coverage tree) can replay the corpora. Console output goes
// to /dev/null, as libFuzzer's -close_fd_mask=1 sends it; a broken check aborts as it does
// under libFuzzer.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path& Path) {
    std::vector<std::filesystem::path> Inputs;
    if (!std::filesystem::is_directory(Path)) return {std::filesystem::absolute(Path)};
    for (const auto& Entry : std::filesystem::directory_iterator(Path))
        if (Entry.is_regular_file()) Inputs.push_back(std::filesystem::absolute(Entry.path()));
    std::sort(Inputs.begin(), Inputs.end());
    return Inputs;
}

} // namespace

int main(int ArgumentCount, char** Arguments) {
    std::vector<std::filesystem::path> Inputs;
    for (int Index = 1; Index < ArgumentCount; Index++)
        for (const auto& Input : InputsOf(Arguments[Index])) Inputs.push_back(Input);
    if (Inputs.empty()) {
        std::fprintf(stderr, "usage: %s FILE|FOLDER...\n", Arguments[0]);
        return 2;
    }
    int Null = open("/dev/null", O_WRONLY);
    if (Null < 0 || dup2(Null, 1) != 1) return 1;
    for (const auto& Input : Inputs) {
        std::ifstream File(Input, std::ios::binary);
        if (!File) {
            std::fprintf(stderr, "%s: cannot be read\n", Input.c_str());
            return 1;
        }
        std::string Bytes((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
        std::fprintf(stderr, "Running: %s\n", Input.c_str());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(Bytes.data()), Bytes.size());
    }
    std::fprintf(stderr, "%zu inputs passed\n", Inputs.size());
    return 0;
}

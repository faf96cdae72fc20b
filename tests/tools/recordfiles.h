#pragma once

// Scratch folders, files and program output for the recorder's tests.

#include "tempfolder.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

inline std::string ReadFile(const std::filesystem::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// What Command (run by the shell) writes to its standard output.
inline std::string CommandOutput(const std::string& Command) {
    std::FILE* Pipe = popen(Command.c_str(), "r");
    std::string Output;
    char Chunk[4096];
    size_t Read;
    while (Pipe && (Read = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0) Output.append(Chunk, Read);
    if (Pipe) pclose(Pipe);
    return Output;
}

// A folder of the test's own (Directory), made before and removed after each test.
class ScratchTest : public TempFolderTest {
protected:
    std::string In(const std::string& Name) const { return (Directory / Name).string(); }
};

#pragma once

// Scratch folders, files and program output for the recorder's tests.

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

// A folder of the test's own, made before and removed after each test.
class ScratchTest : public testing::Test {
protected:
    void SetUp() override {
        Folder = std::filesystem::temp_directory_path() /
                 ("record-" + std::to_string(getpid()) + "-" +
                  testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Folder);
    }
    void TearDown() override { std::filesystem::remove_all(Folder); }
    std::string In(const std::string& Name) const { return (Folder / Name).string(); }

    std::filesystem::path Folder;
};

#include "fileparser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

class TempDirectory : public testing::Test {
protected:
    void SetUp() override {
        Directory = std::filesystem::temp_directory_path() /
                    ("robustness-" + std::to_string(getpid()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Directory);
    }
    void TearDown() override { std::filesystem::remove_all(Directory); }
    std::filesystem::path Directory;
};

// ---- The size of a single file read ----

constexpr uintmax_t MaxFileSize = uintmax_t{256} << 20;

// A sparse file: the size costs no disk.
std::string MakeFile(const std::filesystem::path& Path, uintmax_t Size, std::string_view Head) {
    std::ofstream(Path, std::ios::binary) << Head;
    std::filesystem::resize_file(Path, Size);
    return Path.string();
}

TEST_F(TempDirectory, FileOverTheBoundIsRefusedWithAMessage) {
    std::string Name = MakeFile(Directory / "huge.txt", MaxFileSize + 1, "SELF .WIDTH = 1;\n");
    testing::internal::CaptureStdout();
    TFileParser Parser(Name, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), Name + ": file too large (over 256 MiB), not read\r\n");
    EXPECT_EQ(Parser.LineCount, 0);
    EXPECT_TRUE(Parser.AtEnd);
    EXPECT_EQ(Parser.NextToken(), "");
}

TEST_F(TempDirectory, FilesThatCannotBeOpenedStaySilent) {
    testing::internal::CaptureStdout();
    TFileParser Missing((Directory / "absent.txt").string(), nullptr);
    TFileParser OfDirectory(Directory.string(), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_TRUE(Missing.AtEnd && OfDirectory.AtEnd);
}

} // namespace

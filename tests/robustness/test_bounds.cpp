#include "fileparser.h"
#include "tempfolder.h"
#include "xlogging.h"
#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using TempDirectory = TempFolderTest;

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
    StartConsoleCapture();
    TFileParser Parser(Name, nullptr);
    EXPECT_EQ(EndConsoleCapture(), Name + ": file too large (over 256 MiB), not read\r\n");
    EXPECT_EQ(Parser.LineCount, 0);
    EXPECT_TRUE(Parser.AtEnd);
    EXPECT_EQ(Parser.NextToken(), "");
}

TEST_F(TempDirectory, FilesThatCannotBeOpenedStaySilent) {
    StartConsoleCapture();
    TFileParser Missing((Directory / "absent.txt").string(), nullptr);
    TFileParser OfDirectory(Directory.string(), nullptr);
    EXPECT_EQ(EndConsoleCapture(), "");
    EXPECT_TRUE(Missing.AtEnd && OfDirectory.AtEnd);
}

// ---- String growth in scripts ----

TEST(ScriptText, ConcatenationUpToTheBoundSucceeds) {
    TXScriptVariable Text = TXScriptVariable::FromText(std::string(MaxScriptTextLength - 1, 'x'));
    Text.Add(TXScriptVariable::FromText("y"));
    EXPECT_EQ(Text.text.Length(), MaxScriptTextLength);
    EXPECT_EQ(Text.text.View().back(), 'y');
}

TEST(ScriptText, ConcatenationPastTheBoundFaultsAndKeepsTheValue) {
    TXScriptVariable Text = TXScriptVariable::FromText(std::string(MaxScriptTextLength, 'x'));
    EXPECT_THROW(Text.Add(TXScriptVariable::FromInteger(7)), TXScriptFault);
    EXPECT_EQ(Text.kind, vkString);
    EXPECT_EQ(Text.text.Length(), MaxScriptTextLength);
    // The doubling a script loop does, on a shared text: the copy is left alone too.
    TXScriptVariable Half = TXScriptVariable::FromText(std::string(MaxScriptTextLength / 2 + 1, 'h'));
    TXScriptVariable Copy = Half;
    EXPECT_THROW(Half.Add(Copy), TXScriptFault);
    EXPECT_EQ(Half.text.Length(), MaxScriptTextLength / 2 + 1);
    EXPECT_EQ(Copy.text.ShareCount(), 2u);
}

TEST(ScriptText, NumberJoinedWithATooLongTextKeepsTheNumber) {
    TXScriptVariable Number = TXScriptVariable::FromInteger(12);
    EXPECT_THROW(Number.Add(TXScriptVariable::FromText(std::string(MaxScriptTextLength, 'x'))),
                 TXScriptFault);
    EXPECT_EQ(Number.kind, vkInteger);
    EXPECT_EQ(Number.intValue, 12);
}

TEST(ScriptText, TooLongTextFromOutsideFaultsAndKeepsTheValue) {
    TXScriptVariable Value = TXScriptVariable::FromFloat(1.5f);
    EXPECT_THROW(Value.SetFromText(std::string(MaxScriptTextLength + 1, '1'), false), TXScriptFault);
    EXPECT_EQ(Value.kind, vkFloat);
    EXPECT_EQ(Value.floatValue, 1.5f);
}

} // namespace

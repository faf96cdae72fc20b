// Names a compile finds that were declared before it began, and a member of a function's
// name, which the compiler refuses wherever it stands.

#include "xscriptcode.h"
#include "xscriptcompiler.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

std::string Listing(std::string_view Code) {
    std::string Text;
    for (const std::string& Line : DisassembleCode(Code)) Text += Line + "\n";
    return Text;
}

TEST(NamesDeclaredBeforeTheCompile, AFunctionDeclaredByHandIsCalledBySlot) {
    TXScriptObjectFunction Root(nullptr, MainFunctionName);
    TFileParser Declaration("d.txt", nullptr, "( ) { }");
    Root.Parser = &Declaration;
    ASSERT_TRUE(Root.DeclareFunction("F"));
    TFileParser Parser("t.txt", nullptr, "F();\nVAR F = 1;\n");
    std::string Output = CaptureOutput([&] { Root.Compile(&Parser, true); });
    EXPECT_EQ(Output, "");
    EXPECT_NE(Listing(Root.Code).find("opCallFunction"), std::string::npos) << Listing(Root.Code);
    EXPECT_EQ(Root.FindVariable("F"), -1); // the function keeps the name
    EXPECT_EQ(Root.FindFunction("F"), 0);
}

// The text compiled as a root "__MAIN" from t.txt: what the compiler wrote, and whether the
// root failed.
std::pair<std::string, bool> Compile(const std::string& Text) {
    TFileParser Parser("t.txt", nullptr, Text);
    std::unique_ptr<TXScriptObjectFunction> Main;
    std::string Output = CaptureOutput([&] { Main = CompileMainFunction(Parser); });
    return {Output, Main->Failed};
}

TEST(MemberOfAFunctionName, IsRefusedInAnExpression) {
    auto [Output, Failed] = Compile("FUNCTION F() { }\nALERT(F.X);\n");
    std::string Report = "t.txt Line 1, near '.': not possible atm\r\n";
    EXPECT_EQ(Output.substr(0, Report.size()), Report);
    EXPECT_TRUE(Failed);
}

TEST(MemberOfAFunctionName, IsRefusedAsAnAssignmentTarget) {
    auto [Output, Failed] = Compile("FUNCTION F() { }\nF.X = 1;\n");
    // The assignment to a function's name is reported too.
    EXPECT_EQ(Output,
              "t.txt Line 1, near '.': not possible atm\r\nt.txt Line 1, near '=': This is not possible\r\n");
    EXPECT_TRUE(Failed);
}

} // namespace

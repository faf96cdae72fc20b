// The code the statement compiler emits: variables, functions, assignments, IF, FOR,
// RETURN, TEST and ALERT.
#include "compiled_script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

TEST(Statements, EmptyRootAndVariables) {
    EXPECT_EQ(CompileScript("").Main->Code, Bytes({0x04, 0, 0, 0, 0, 0x02}));
    EXPECT_EQ(CompileScript("  // nothing\n\n").Main->Code, Bytes({0x04, 0, 0, 0, 0, 0x02}));
    EXPECT_EQ(CompileScript("VAR X = 5;").Main->Code,
              Bytes({0x04, 1, 0, 0, 0, 0x1B, 5, 0, 0, 0, 0x15, 0, 0, 0, 0, 0x02}));
    // VAR X; emits nothing; a second VAR X; ends the loop without a report.
    TCompiled Twice = CompileScript("VAR X; VAR X; ALERT(1);");
    EXPECT_EQ(Twice.Output, "");
    EXPECT_FALSE(Twice.Main->Failed);
    EXPECT_EQ(Twice.Code(), "0000 opReserve 1\n0005 opReturnNil\n");
}

TEST(Statements, NestedFunctionsAndDepths) {
    TCompiled Compiled = CompileScript("VAR R;\n"
                                       "FUNCTION F(P) {\n"
                                       "  VAR L;\n"
                                       "  R = P; L = R;\n"
                                       "  FUNCTION G() { R = L; }\n"
                                       "}\n");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 1\n0005 opReturnNil\n");
    const TXScriptObjectFunction& F = Compiled.Function(0);
    EXPECT_EQ(F.ParamCount, 1);
    EXPECT_EQ(F.VarCount, 2);
    EXPECT_EQ(Listing(F.Code), "0000 opLoadVar index 0 depth 0\n"
                               "0005 opStoreVar index 0 depth 1\n"
                               "0010 opLoadVar index 0 depth 1\n"
                               "0015 opStoreVar index 1 depth 0\n"
                               "0020 opReturn\n");
    EXPECT_EQ(Listing(F.FunctionAt(0)->Code), "0000 opLoadVar index 1 depth 1\n"
                                              "0005 opStoreVar index 0 depth 2\n"
                                              "0010 opReturn\n");
}

TEST(Statements, FunctionDeclarationAndCall) {
    TCompiled Compiled = CompileScript("FUNCTION F(A, B) { RETURN A + B; }\nF(1, 2);");
    const TXScriptObjectFunction& F = Compiled.Function(0);
    EXPECT_EQ(F.ParamCount, 2);
    EXPECT_EQ(F.VarNames, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(Listing(F.Code), "0000 opLoadVar index 0 depth 0\n"
                               "0005 opLoadVar index 1 depth 0\n"
                               "0010 opAdd\n"
                               "0011 opReturn\n"
                               "0012 opReturn\n");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 0\n"
                               "0005 opPushInt 1\n"
                               "0010 opPushInt 2\n"
                               "0015 opCallFunction index 0 depth 0\n"
                               "0020 opPop\n"
                               "0021 opReturnNil\n");
    // An empty string is an argument like any other.
    EXPECT_EQ(CompileScript("VAR V; V(\"\", 1);").Code(), "0000 opReserve 1\n"
                                                          "0005 opPushString \"\"\n"
                                                          "0007 opPushInt 1\n"
                                                          "0012 opCallVariable index 0 depth 0\n"
                                                          "0017 opPop\n"
                                                          "0018 opReturnNil\n");
    // No arguments; a call through a variable drops its result as well.
    EXPECT_EQ(CompileScript("FUNCTION F() {} VAR V; F(); V(1);").Code(),
              "0000 opReserve 1\n"
              "0005 opCallFunction index 0 depth 0\n"
              "0010 opPop\n"
              "0011 opPushInt 1\n"
              "0016 opCallVariable index 0 depth 0\n"
              "0021 opPop\n"
              "0022 opReturnNil\n");
}

TEST(Statements, ParametersThatCannotBeDeclaredLeaveTheBodyToTheParent) {
    TCompiled Compiled = CompileScript("FUNCTION F(A, A) { ALERT(1); }");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Compiled.Function(0).ParamCount, 2);
    EXPECT_EQ(Listing(Compiled.Function(0).Code), "0000 opReturn\n");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 0\n0005 opPushInt 1\n0010 opAlert\n0011 opReturnNil\n");
}

TEST(Statements, CompoundAssignments) {
    TCompiled Compiled = CompileScript("VAR X; X += 2; X *= 2; X /= 2; X -= 2; X %= 2;");
    std::string Expected = "0000 opReserve 1\n";
    int Offset = 5;
    for (const char* Op : {"opAdd", "opMul", "opDiv", "opSub", "opMod"}) {
        char Lines[256];
        std::snprintf(Lines, sizeof Lines,
                      "%04d opPushInt 2\n%04d opLoadVar index 0 depth 0\n%04d opSwap\n%04d %s\n"
                      "%04d opStoreVar index 0 depth 0\n",
                      Offset, Offset + 5, Offset + 10, Offset + 11, Op, Offset + 12);
        Expected += Lines;
        Offset += 17;
    }
    char Last[32];
    std::snprintf(Last, sizeof Last, "%04d opReturnNil\n", Offset);
    EXPECT_EQ(Compiled.Code(), Expected + Last);
}

TEST(Statements, CompoundAssignmentsToMembersCarryTheirOperator) {
    std::string Code = CompileScript("VAR V; V.A -= 1; V.A /= 2; V.A *= 3; V.A %= 4;").Code();
    std::string Updates;
    for (size_t At = Code.find("opUpdateObjectChild"); At != std::string::npos;
         At = Code.find("opUpdateObjectChild", At + 1))
        Updates += Code.substr(At, Code.find('\n', At) - At) + "\n";
    EXPECT_EQ(Updates, "opUpdateObjectChild 2 (-=) \"A\"\n"
                       "opUpdateObjectChild 3 (/=) \"A\"\n"
                       "opUpdateObjectChild 4 (*=) \"A\"\n"
                       "opUpdateObjectChild 5 (%=) \"A\"\n");
}

TEST(Statements, MembersOfVariables) {
    EXPECT_EQ(CompileScript("VAR V; V.A = 3; V.A += 3; V.B.C = 1; V.M(1);").Code(),
              "0000 opReserve 1\n"
              "0005 opLoadVar index 0 depth 0\n"
              "0010 opPushInt 3\n"
              "0015 opSetObjectChild \"A\"\n"
              "0018 opLoadVar index 0 depth 0\n"
              "0023 opPushInt 3\n"
              "0028 opUpdateObjectChild 1 (+=) \"A\"\n"
              "0032 opLoadVar index 0 depth 0\n"
              "0037 opGetObjectChild \"B\"\n"
              "0040 opPushInt 1\n"
              "0045 opSetObjectChild \"C\"\n"
              "0048 opLoadVar index 0 depth 0\n"
              "0053 opPushInt 1\n"
              "0058 opCallMethod \"M\"\n"
              "0061 opReturnNil\n");
    EXPECT_EQ(CompileScript("SELF.A.B = 3;").Code(), "0000 opReserve 0\n"
                                                     "0005 opPushSelf\n"
                                                     "0006 opGetObjectChild \"A\"\n"
                                                     "0009 opPushInt 3\n"
                                                     "0014 opSetObjectChild \"B\"\n"
                                                     "0017 opReturnNil\n");
}

TEST(Statements, IfAndElse) {
    EXPECT_EQ(CompileScript("VAR A; VAR B; IF (A) B = 1; ELSE B = 2;").Code(),
              "0000 opReserve 2\n"
              "0005 opLoadVar index 0 depth 0\n"
              "0010 opJumpIfFalse 15 -> 30\n"
              "0015 opPushInt 1\n"
              "0020 opStoreVar index 1 depth 0\n"
              "0025 opJump 10 -> 40\n"
              "0030 opPushInt 2\n"
              "0035 opStoreVar index 1 depth 0\n"
              "0040 opReturnNil\n");
    // Without ELSE the next statement follows; a function declared in a branch emits nothing.
    TCompiled Compiled = CompileScript("VAR A; IF (A) FUNCTION F() { ALERT(1); } ALERT(2);");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 1\n"
                               "0005 opLoadVar index 0 depth 0\n"
                               "0010 opJumpIfFalse 0 -> 15\n"
                               "0015 opPushInt 2\n"
                               "0020 opAlert\n"
                               "0021 opReturnNil\n");
    EXPECT_EQ(Compiled.Main->FunctionCount, 1);
}

TEST(Statements, ForCompilesTheIncrementAfterTheBody) {
    EXPECT_EQ(CompileScript("FOR (VAR I = 0; I < 10; I += 1) ALERT(I);").Code(),
              "0000 opReserve 1\n"
              "0005 opPushInt 0\n"
              "0010 opStoreVar index 0 depth 0\n"
              "0015 opLoadVar index 0 depth 0\n"
              "0020 opPushInt 10\n"
              "0025 opLess\n"
              "0026 opJumpIfFalse 28 -> 59\n"
              "0031 opLoadVar index 0 depth 0\n"
              "0036 opAlert\n"
              "0037 opPushInt 1\n"
              "0042 opLoadVar index 0 depth 0\n"
              "0047 opSwap\n"
              "0048 opAdd\n"
              "0049 opStoreVar index 0 depth 0\n"
              "0054 opJump -44 -> 15\n"
              "0059 opReturnNil\n");
    // A block body, a string in the increment and a statement after the loop.
    TCompiled Compiled = CompileScript("VAR I; VAR S;\nFOR (I = 0; I; S = \"(\")\n{ ALERT(I); }\nALERT(S);");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 2\n"
                               "0005 opPushInt 0\n"
                               "0010 opStoreVar index 0 depth 0\n"
                               "0015 opLoadVar index 0 depth 0\n"
                               "0020 opJumpIfFalse 19 -> 44\n"
                               "0025 opLoadVar index 0 depth 0\n"
                               "0030 opAlert\n"
                               "0031 opPushString \"(\"\n"
                               "0034 opStoreVar index 1 depth 0\n"
                               "0039 opJump -29 -> 15\n"
                               "0044 opLoadVar index 1 depth 0\n"
                               "0049 opAlert\n"
                               "0050 opReturnNil\n");
    // An empty string in the increment does not end the skip over it.
    TCompiled Empty = CompileScript("VAR I; VAR S; FOR (I = 0; I; S = \"\") ALERT(I); V(\"\", 1);");
    EXPECT_EQ(Empty.Output, "t.txt Line 0, near 'V': V is unknown (b37362)\r\n");
}

TEST(Statements, ReturnForms) {
    TCompiled Compiled = CompileScript("VAR X;\n"
                                       "FUNCTION A() { RETURN; }\n"
                                       "FUNCTION B() { RETURN X + 1; }\n"
                                       "FUNCTION C() { RETURN\n}\n");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Listing(Compiled.Function(0).Code), "0000 opReturnNil\n0001 opReturn\n");
    EXPECT_EQ(Listing(Compiled.Function(1).Code), "0000 opLoadVar index 0 depth 1\n"
                                                  "0005 opPushInt 1\n"
                                                  "0010 opAdd\n"
                                                  "0011 opReturn\n"
                                                  "0012 opReturn\n");
    EXPECT_EQ(Listing(Compiled.Function(2).Code), "0000 opReturnNil\n0001 opReturn\n");
    EXPECT_EQ(CompileScript("RETURN").Code(), "0000 opReserve 0\n0005 opReturn\n0006 opReturnNil\n");
}

TEST(Statements, NameNewNameDeclaresInTheRoot) {
    EXPECT_EQ(CompileScript("VAR X; X Y = 5;").Code(), "0000 opReserve 2\n"
                                                       "0005 opPushInt 5\n"
                                                       "0010 opStoreVar index 1 depth 0\n"
                                                       "0015 opReturnNil\n");
    TCompiled Nested = CompileScript("VAR X; FUNCTION F() { X Y = 5; }");
    EXPECT_EQ(Nested.Code(), "0000 opReserve 2\n0005 opReturnNil\n");
    EXPECT_EQ(Listing(Nested.Function(0).Code), "0000 opPushInt 5\n"
                                                "0005 opStoreVar index 1 depth 1\n"
                                                "0010 opReturn\n");
}

TEST(Statements, TestAndAlert) {
    TCompiled Compiled = CompileScript("TEST(0)\nTEST(1) ALERT(\"x\");");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 0\n"
                               "0005 opTest 0\n"
                               "0010 opTest 1\n"
                               "0015 opPushString \"x\"\n"
                               "0018 opAlert\n"
                               "0019 opReturnNil\n");
}

} // namespace

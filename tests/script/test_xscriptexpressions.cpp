// The code the expression compiler emits: operator classes, comparisons, prefixes,
// constants, member paths and calls.
#include "compiled_script.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Expressions, PrecedenceComesFromTheRightOperandClasses) {
    EXPECT_EQ(CompileExpressionText("1 + 2 * 3;").Code, "0000 opPushInt 1\n"
                                                        "0005 opPushInt 2\n"
                                                        "0010 opPushInt 3\n"
                                                        "0015 opMul\n"
                                                        "0016 opAdd\n");
    // Chains group to the right: 10 - (4 - 3).
    EXPECT_EQ(CompileExpressionText("10 - 4 - 3;").Code, "0000 opPushInt 10\n"
                                                         "0005 opPushInt 4\n"
                                                         "0010 opPushInt 3\n"
                                                         "0015 opSub\n"
                                                         "0016 opSub\n");
    std::vector<std::string> Names = {"X", "Y", "Z", "W"};
    EXPECT_EQ(CompileExpressionText("X * Y - Z;", Names).Code, "0000 opLoadVar index 0 depth 0\n"
                                                               "0005 opLoadVar index 1 depth 0\n"
                                                               "0010 opMul\n"
                                                               "0011 opLoadVar index 2 depth 0\n"
                                                               "0016 opSub\n");
    EXPECT_EQ(CompileExpressionText("X % Y + Z;", Names).Code, "0000 opLoadVar index 0 depth 0\n"
                                                               "0005 opLoadVar index 1 depth 0\n"
                                                               "0010 opLoadVar index 2 depth 0\n"
                                                               "0015 opAdd\n"
                                                               "0016 opMod\n");
    EXPECT_EQ(CompileExpressionText("(1 + 2) * 3;").Code, "0000 opPushInt 1\n"
                                                          "0005 opPushInt 2\n"
                                                          "0010 opAdd\n"
                                                          "0011 opPushInt 3\n"
                                                          "0016 opMul\n");
}

TEST(Expressions, ComparisonsAndTheTestingLines) {
    std::vector<std::string> Names = {"X", "Y", "Z", "W"};
    // x + y == z + w compares the two sums; the name before "=" in the chain says so.
    TExpression Sums = CompileExpressionText("X + Y == Z + W;", Names);
    EXPECT_EQ(Sums.Code, "0000 opLoadVar index 0 depth 0\n"
                         "0005 opLoadVar index 1 depth 0\n"
                         "0010 opAdd\n"
                         "0011 opLoadVar index 2 depth 0\n"
                         "0016 opLoadVar index 3 depth 0\n"
                         "0021 opAdd\n"
                         "0022 opEqual\n");
    EXPECT_EQ(Sums.Output, "testing 2\r\n");
    // x < y + z is (x < y) + z.
    TExpression Less = CompileExpressionText("X < Y + Z;", Names);
    EXPECT_EQ(Less.Code, "0000 opLoadVar index 0 depth 0\n"
                         "0005 opLoadVar index 1 depth 0\n"
                         "0010 opLess\n"
                         "0011 opLoadVar index 2 depth 0\n"
                         "0016 opAdd\n");
    EXPECT_EQ(Less.Output, "");
    // A constant before the comparison: the chain writes "testing ..", once per level.
    TExpression Constant = CompileExpressionText("X - 1 + 2 < Y;", Names);
    EXPECT_EQ(Constant.Output, "testing ..\r\ntesting ..\r\n");
    EXPECT_EQ(Constant.Code, "0000 opLoadVar index 0 depth 0\n"
                             "0005 opPushInt 1\n"
                             "0010 opPushInt 2\n"
                             "0015 opAdd\n"
                             "0016 opSub\n"
                             "0017 opLoadVar index 1 depth 0\n"
                             "0022 opLess\n");
    for (const char* Text : {"A = = B;", "A == B;"}) {
        TExpression Equal = CompileExpressionText(Text, {"A", "B"});
        EXPECT_EQ(Equal.Code, "0000 opLoadVar index 0 depth 0\n"
                              "0005 opLoadVar index 1 depth 0\n"
                              "0010 opEqual\n")
            << Text;
        EXPECT_EQ(Equal.Output, "") << Text;
    }
    struct TCase {
        const char* Text;
        const char* Operator;
    };
    for (TCase Case : {TCase{"X << 2;", "opShl"},
                       {"X >> 2;", "opShr"},
                       {"X >>> 2;", "opShr"},
                       {"X <= 2;", "opLessEqual"},
                       {"X >= 2;", "opGreaterEqual"},
                       {"X > 2;", "opGreater"},
                       {"X < 2;", "opLess"},
                       {"X ^ 2;", "opXor"},
                       {"X / 2;", "opDiv"}})
        EXPECT_EQ(CompileExpressionText(Case.Text, Names).Code,
                  "0000 opLoadVar index 0 depth 0\n0005 opPushInt 2\n0010 " + std::string(Case.Operator) +
                      "\n")
            << Case.Text;
}

TEST(Expressions, PrefixOperators) {
    EXPECT_EQ(CompileExpressionText("-X;", {"X"}).Code, "0000 opLoadVar index 0 depth 0\n0005 opNegate\n");
    EXPECT_EQ(CompileExpressionText("+X;", {"X"}).Code, "0000 opLoadVar index 0 depth 0\n0005 opToNumber\n");
    EXPECT_EQ(CompileExpressionText("~ X;", {"X"}).Code, "0000 opLoadVar index 0 depth 0\n0005 opNot\n");
    EXPECT_EQ(CompileExpressionText("! X;", {"X"}).Code, "0000 opLoadVar index 0 depth 0\n0005 opNot\n");
    // A prefix binds to one operand only.
    EXPECT_EQ(CompileExpressionText("- 1 + 2;").Code, "0000 opPushInt 1\n"
                                                      "0005 opNegate\n"
                                                      "0006 opPushInt 2\n"
                                                      "0011 opAdd\n");
}

TEST(Expressions, Constants) {
    EXPECT_EQ(CompileExpressionText("$1F;").Code, "0000 opPushInt 31\n");
    EXPECT_EQ(CompileExpressionText("0x1F;").Code, "0000 opPushInt 31\n");
    EXPECT_EQ(CompileExpressionText("$FFFFFFFF;").Code, "0000 opPushInt -1\n");
    EXPECT_EQ(CompileExpressionText("2147483647;").Code, "0000 opPushInt 2147483647\n");
    EXPECT_EQ(CompileExpressionText("1.5;").Code, "0000 opPushFloat 1.5\n");
    EXPECT_EQ(CompileExpressionText("\"Ab c\";").Code, "0000 opPushString \"Ab c\"\n");
    EXPECT_EQ(CompileExpressionText("\"\";").Code, "0000 opPushString \"\"\n");
    // A quoted text naming a variable is that variable.
    EXPECT_EQ(CompileExpressionText("\"X\";", {"X"}).Code, "0000 opLoadVar index 0 depth 0\n");
    // A quoted text is never punctuation or a keyword.
    EXPECT_EQ(CompileExpressionText("\"-\";").Code, "0000 opPushString \"-\"\n");
    EXPECT_EQ(CompileExpressionText("\"(\";").Code, "0000 opPushString \"(\"\n");
    EXPECT_EQ(CompileExpressionText("\"SELF\";").Code, "0000 opPushString \"SELF\"\n");
    EXPECT_EQ(CompileExpressionText("1 \";\";").Output,
              "e.txt Line 0, near ';': i didnt expect to find ;\r\n");

    for (const char* Text : {"2147483648;", "$100000000;", "99999999999999999999999999999999999999999.0;"}) {
        TExpression Result = CompileExpressionText(Text);
        std::string Token(Text, std::string_view(Text).size() - 1);
        if (Token[0] == '$') Token.erase(0, 1);
        EXPECT_EQ(Result.Output,
                  "e.txt Line 0, near '" + Token + "': '" + Token + "' seems wrong here :S\r\n");
        EXPECT_TRUE(Result.Failed);
        EXPECT_EQ(Result.Code, "");
    }
}

TEST(Expressions, AmpersandsAndBars) {
    TExpression Joined = CompileExpressionText("X && Y;", {"X", "Y"});
    EXPECT_EQ(Joined.Output, "e.txt Line 0, near '&&': i didnt expect to find &&\r\n");
    EXPECT_TRUE(Joined.Failed);
    for (const char* Text : {"X & & Y;", "X & Y;"})
        EXPECT_EQ(CompileExpressionText(Text, {"X", "Y"}).Code, "0000 opLoadVar index 0 depth 0\n"
                                                                "0005 opLoadVar index 1 depth 0\n"
                                                                "0010 opAnd\n")
            << Text;
    EXPECT_EQ(CompileExpressionText("X | | Y;", {"X", "Y"}).Code, "0000 opLoadVar index 0 depth 0\n"
                                                                  "0005 opLoadVar index 1 depth 0\n"
                                                                  "0010 opOr\n");
}

TEST(Expressions, SelfPaths) {
    EXPECT_EQ(CompileExpressionText("SELF.A.B;").Code, "0000 opPushSelf\n"
                                                       "0001 opGetObjectChild \"A\"\n"
                                                       "0004 opGetObjectValue \"B\"\n");
    EXPECT_EQ(CompileExpressionText("SELF.F(1, 2);").Code, "0000 opPushSelf\n"
                                                           "0001 opPushInt 1\n"
                                                           "0006 opPushInt 2\n"
                                                           "0011 opCallMethod \"F\"\n");
    EXPECT_EQ(CompileExpressionText("SELF;").Code, "0000 opPushSelf\n0001 opGetObjectValue \"\"\n");
}

TEST(Expressions, CallsConsumeTheirClosingParenthesis) {
    TCompiled Compiled = CompileScript("FUNCTION F() { RETURN 1; } FUNCTION G(A, B) { RETURN A; } VAR A;\n"
                                       "ALERT(F() + 1); ALERT(G(A, F())); ALERT(F);");
    EXPECT_EQ(Compiled.Output, "");
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 1\n"
                               "0005 opCallFunction index 0 depth 0\n"
                               "0010 opPushInt 1\n"
                               "0015 opAdd\n"
                               "0016 opAlert\n"
                               "0017 opLoadVar index 0 depth 0\n"
                               "0022 opCallFunction index 0 depth 0\n"
                               "0027 opCallFunction index 1 depth 0\n"
                               "0032 opAlert\n"
                               "0033 opPushFunction index 0 depth 0\n"
                               "0038 opAlert\n"
                               "0039 opReturnNil\n");
    // A function held in a variable; a string argument does not end the list.
    TCompiled Variable = CompileScript("VAR V; ALERT(V(\"\", 2));");
    EXPECT_EQ(Variable.Code(), "0000 opReserve 1\n"
                               "0005 opPushString \"\"\n"
                               "0007 opPushInt 2\n"
                               "0012 opCallVariable index 0 depth 0\n"
                               "0017 opAlert\n"
                               "0018 opReturnNil\n");
}

TEST(Expressions, BuiltinMembersAndMemberPaths) {
    for (const char* Text : {"S.LENGTH;", "S.LENGTH();"}) {
        TExpression Result = CompileExpressionText(Text, {"S"});
        EXPECT_EQ(Result.Code, "0000 opLoadVar index 0 depth 0\n0005 opCallNative 0\n") << Text;
        EXPECT_EQ(Result.Output, "0 00000000\r\n") << Text;
    }
    TExpression Missing = CompileExpressionText("S.FOO;", {"S"});
    EXPECT_EQ(Missing.Output, "e.txt Line 0, near ';': not found %S\r\n");
    EXPECT_TRUE(Missing.Failed);
    EXPECT_EQ(CompileExpressionText("V.A.B;", {"V"}).Code, "0000 opLoadVar index 0 depth 0\n"
                                                           "0005 opGetObjectChild \"A\"\n"
                                                           "0008 opGetObjectValue \"B\"\n");
    EXPECT_EQ(CompileExpressionText("V.A.LENGTH() + 1;", {"V"}).Code, "0000 opLoadVar index 0 depth 0\n"
                                                                      "0005 opGetObjectChild \"A\"\n"
                                                                      "0008 opCallNative 0\n"
                                                                      "0013 opPushInt 1\n"
                                                                      "0018 opAdd\n");
}

TEST(Expressions, TheTextEndingEarly) {
    TExpression NoOperand = CompileExpressionText("1 +");
    EXPECT_EQ(NoOperand.Output, "e.txt Line 0, near '+': '' seems wrong here :S\r\n");
    TExpression AfterConstant = CompileExpressionText("1");
    EXPECT_EQ(AfterConstant.Output, "e.txt Line 0, near '1': i didnt expect to find \r\n");
    EXPECT_EQ(AfterConstant.Code, "0000 opPushInt 1\n");
    TExpression AfterName = CompileExpressionText("X", {"X"});
    EXPECT_EQ(AfterName.Output, "");
    EXPECT_FALSE(AfterName.Failed);
    EXPECT_EQ(AfterName.Code, "0000 opLoadVar index 0 depth 0\n");
    // An empty expression before its terminator is accepted.
    EXPECT_EQ(CompileExpressionText(";").Output, "");
    EXPECT_EQ(CompileExpressionText("").Output, "e.txt Line 0, near '': '' seems wrong here :S\r\n");
}

} // namespace

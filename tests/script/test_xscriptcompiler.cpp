#include "xlogging.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

std::string Listing(std::string_view Code) {
    std::string Text;
    for (const std::string& Line : DisassembleCode(Code)) Text += Line + "\n";
    return Text;
}

std::string Bytes(std::initializer_list<int> List) {
    std::string Text;
    for (int Byte : List) Text += char(Byte);
    return Text;
}

// A script compiled as the root "__MAIN" from a file named t.txt, with the console lines
// the compiler wrote.
struct TCompiled {
    std::unique_ptr<TFileParser> Parser;
    std::unique_ptr<TXScriptObjectFunction> Main;
    std::string Output;

    std::string Code() const { return Listing(Main->Code); }
    const TXScriptObjectFunction& Function(int32_t Index) const { return *Main->FunctionAt(Index); }
};

TCompiled CompileScript(std::string_view Text) {
    TCompiled Compiled;
    Compiled.Parser = std::make_unique<TFileParser>("t.txt", nullptr, Text);
    StartConsoleCapture();
    Compiled.Main = CompileMainFunction(*Compiled.Parser);
    Compiled.Output = EndConsoleCapture();
    return Compiled;
}

// One expression ended by ";", compiled into a root function that has the given variables.
struct TExpression {
    std::string Code;
    std::string Output;
    bool Failed = false;
};

TExpression CompileExpressionText(std::string_view Text, std::vector<std::string> Variables = {}) {
    TFileParser Parser("e.txt", nullptr, Text);
    TXScriptObjectFunction Function(nullptr, MainFunctionName);
    for (const std::string& Variable : Variables) Function.DeclareVariable(Variable);
    Function.Parser = &Parser;
    StartConsoleCapture();
    Function.CompileExpression(";", emSingle);
    TExpression Result;
    Result.Output = EndConsoleCapture();
    Result.Code = Listing(Function.Code);
    Result.Failed = Function.Failed;
    return Result;
}

size_t CountOccurrences(const std::string& Text, const std::string& Part) {
    size_t Count = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) Count++;
    return Count;
}

std::string Repeat(std::string_view Text, int Count) {
    std::string Result;
    for (int Index = 0; Index < Count; Index++) Result += Text;
    return Result;
}

// ---- The function record and its names ----

TEST(FunctionRecord, ConstructorAndTables) {
    TXScriptObjectFunction Root(nullptr, "__MAIN");
    EXPECT_EQ(Root.Root, &Root);
    EXPECT_EQ(Root.Parent, nullptr);
    EXPECT_FALSE(Root.Failed);
    EXPECT_EQ(Root.Parser, nullptr);
    EXPECT_TRUE(Root.DeclareVariable("A"));
    EXPECT_FALSE(Root.DeclareVariable("A"));
    EXPECT_EQ(Root.VarCount, 1);
    EXPECT_EQ(Root.FindVariable("A"), 0);
    EXPECT_EQ(Root.FindVariable("a"), -1); // exact comparison
    EXPECT_EQ(Root.FunctionAt(0), nullptr);
    EXPECT_EQ(Root.FunctionAt(-1), nullptr);
    // Names put into the table directly are found as well.
    Root.VarNames.push_back("B");
    EXPECT_EQ(Root.FindVariable("B"), 1);
    Root.VarNames.pop_back();

    // Declaring a function that is already a variable reads no token.
    TFileParser Parser("t.txt", nullptr, "( ) { }");
    Root.Parser = &Parser;
    EXPECT_FALSE(Root.DeclareFunction("A"));
    EXPECT_EQ(Parser.NextToken(), "(");
    Parser.Rewind();
    EXPECT_TRUE(Root.DeclareFunction("F"));
    EXPECT_EQ(Root.FunctionCount, 1);
    TXScriptObjectFunction* F = Root.FunctionAt(0);
    ASSERT_NE(F, nullptr);
    EXPECT_EQ(F->Parent, &Root);
    EXPECT_EQ(F->Root, &Root);
    EXPECT_EQ(F->Name, "F");
    EXPECT_EQ(Root.FindFunction("F"), 0);
    EXPECT_FALSE(Root.DeclareVariable("F"));
    EXPECT_EQ(Listing(F->Code), "0000 opReturn\n");
}

// The tree keeps its names, code, call sites and lines; nothing refers to the parser, which
// its owner frees.
TEST(FunctionRecord, NothingOfTheCompileOutlivesIt) {
    TCompiled Compiled = CompileScript("FUNCTION F(A) {\n  FUNCTION G() { RETURN 1; }\n  RETURN G();\n}\n"
                                       "VAR X = F(1, 2);\nF();\n");
    Compiled.Parser.reset();
    for (const TXScriptObjectFunction* Function : ListFunctions(*Compiled.Main)) {
        EXPECT_EQ(Function->Parser, nullptr) << Function->Name;
        EXPECT_EQ(Function->SourceFile, "t.txt") << Function->Name;
    }
    const TXScriptObjectFunction& Main = *Compiled.Main;
    EXPECT_EQ(Main.FindFunction("F"), 0);
    EXPECT_EQ(Main.FindVariable("X"), 0);
    EXPECT_EQ(Main.FunctionAt(0)->FindFunction("G"), 0);
    // Offsets count from the start of the finished code, opReserve included.
    EXPECT_EQ(Main.CallSites, (std::vector<TXCallSite>{{15, 2}, {25, 0}}));
    ASSERT_EQ(Main.SourceLines.size(), 2u);
    EXPECT_EQ(Main.SourceLines[0].Offset, 5);
    EXPECT_EQ(Main.SourceLines[0].Line, 4);
    EXPECT_EQ(Main.SourceLines[1].Offset, 25);
    EXPECT_EQ(Main.SourceLines[1].Line, 5);
    EXPECT_EQ(Main.FunctionAt(0)->CallSites, (std::vector<TXCallSite>{{0, 0}}));
    // A second compile with a new parser starts afresh.
    TCompiled Again = CompileScript("VAR Y = 1;\nALERT(Y);\n");
    EXPECT_EQ(Again.Output, "");
    EXPECT_EQ(Again.Main->Parser, nullptr);
}

TEST(FunctionRecord, ResolveNameWithDepth) {
    TCompiled Compiled = CompileScript("VAR R; FUNCTION F(P) { VAR L; FUNCTION G() { } } FUNCTION H(R) { }");
    const TXScriptObjectFunction& F = Compiled.Function(0);
    const TXScriptObjectFunction& G = *F.FunctionAt(0);
    const TXScriptObjectFunction& H = Compiled.Function(1);
    bool IsFunction;
    int32_t Depth;
    EXPECT_EQ(F.ResolveName("R", IsFunction, Depth), 0);
    EXPECT_FALSE(IsFunction);
    EXPECT_EQ(Depth, 1);
    EXPECT_EQ(G.ResolveName("L", IsFunction, Depth), 1);
    EXPECT_EQ(Depth, 1);
    EXPECT_EQ(G.ResolveName("R", IsFunction, Depth), 0);
    EXPECT_EQ(Depth, 2);
    EXPECT_EQ(G.ResolveName("G", IsFunction, Depth), 0);
    EXPECT_TRUE(IsFunction);
    EXPECT_EQ(Depth, 1);
    EXPECT_EQ(G.ResolveName("H", IsFunction, Depth), 1);
    EXPECT_EQ(Depth, 2);
    // A parameter shadows the root's variable.
    EXPECT_EQ(H.ResolveName("R", IsFunction, Depth), 0);
    EXPECT_EQ(Depth, 0);
    EXPECT_EQ(H.ParamCount, 1);
    // Nothing: -1, with the number of functions searched.
    EXPECT_EQ(G.ResolveName("NONE", IsFunction, Depth), -1);
    EXPECT_EQ(Depth, 3);
}

TEST(FunctionRecord, FunctionValuesPrintTheirName) {
    TXScriptObjectFunction Function(nullptr, "HANDLER");
    TXScriptVariable Value;
    Value.SetFunction(&Function);
    EXPECT_EQ(Value.AsText().View(), "HANDLER");
}

TEST(FunctionRecord, ListFunctionsDepthFirstInDeclarationOrder) {
    TCompiled Compiled = CompileScript("FUNCTION A() { FUNCTION B() { FUNCTION C() {} } FUNCTION D() {} } "
                                       "FUNCTION E() {}");
    std::string Names;
    for (const TXScriptObjectFunction* Function : ListFunctions(*Compiled.Main))
        Names += Function->Name + " ";
    EXPECT_EQ(Names, "__MAIN A B C D E ");
}

// ---- Emission and jumps ----

TEST(Emission, JumpLabelsPatchForwardAndEmitBackward) {
    TXScriptObjectFunction Function(nullptr, "__MAIN");
    Function.Code = std::string(10, char(opNop));
    Function.EmitOp(opJumpIfFalse);
    TXJumpLabel Forward;
    Function.StartLabel(Forward, slForwardJump);
    EXPECT_EQ(Forward.State, 1);
    EXPECT_EQ(Forward.OperandPos, 11);
    EXPECT_EQ(Function.Code.substr(11), "0000");
    Function.Code.resize(30, char(opNop));
    Function.ResolveLabel(Forward, rlForwardTarget);
    EXPECT_EQ(Forward.TargetPos, 30);
    EXPECT_EQ(Function.Code.substr(10, 5), Bytes({opJumpIfFalse, 15, 0, 0, 0}));

    Function.Code = std::string(5, char(opNop));
    TXJumpLabel Backward;
    Function.StartLabel(Backward, slLoopTarget);
    EXPECT_EQ(Backward.State, 2);
    EXPECT_EQ(Backward.TargetPos, 5);
    Function.Code.resize(40, char(opNop));
    Function.EmitOp(opJump);
    Function.ResolveLabel(Backward, rlBackwardJump);
    EXPECT_EQ(Function.Code.substr(40), Bytes({opJump, 0xD8, 0xFF, 0xFF, 0xFF})); // -40

    // A label that holds no placeholder is never patched.
    TXJumpLabel Fresh;
    std::string Before = Function.Code;
    Function.ResolveLabel(Fresh, rlForwardTarget);
    EXPECT_EQ(Function.Code, Before);
}

TEST(Emission, StoreToAnUnresolvedNameUsesIndex65535) {
    TXScriptObjectFunction Function(nullptr, "__MAIN");
    Function.EmitStoreVariable("NOWHERE");
    EXPECT_EQ(Function.Code, Bytes({opStoreVar, 0xFF, 0xFF, 0x01, 0x00}));
    Function.Code.clear();
    Function.Emit("AB");
    Function.EmitOp(opPushString, std::string("C\0", 2));
    EXPECT_EQ(Function.Code, std::string("AB\x1D"
                                         "C\0",
                                         5));
}

// ---- Reports ----

TEST(Reports, LineFormatAndTheFailedFlag) {
    TCompiled Compiled = CompileScript("VAR A;\n\n  A = 1; Y = 2;\nALERT(A);");
    EXPECT_EQ(Compiled.Output, "t.txt Line 2, near 'Y': Y is unknown (b37362)\r\n");
    EXPECT_TRUE(Compiled.Main->Failed);
    // Compilation stopped there; what was emitted stays.
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 1\n"
                               "0005 opPushInt 1\n"
                               "0010 opStoreVar index 0 depth 0\n"
                               "0015 opReturnNil\n");
    EXPECT_EQ(CompileScript("Q").Output, "t.txt Line 0, near 'Q': Q is unknown (b37362)\r\n");
}

TEST(Reports, NonFatalReportGoesOn) {
    TExpression Result = CompileExpressionText("A = B;", {"A", "B"});
    EXPECT_EQ(Result.Output, "e.txt Line 0, near 'B': = expected, still interpreting as ==\r\n");
    EXPECT_FALSE(Result.Failed);
    EXPECT_EQ(Result.Code, "0000 opLoadVar index 0 depth 0\n"
                           "0005 opLoadVar index 1 depth 0\n"
                           "0010 opEqual\n");
}

TEST(Reports, AFatalErrorInANestedFunctionStopsOnlyIt) {
    TCompiled Compiled = CompileScript("FUNCTION F() { ALERT(1) } ALERT(2);");
    EXPECT_EQ(Compiled.Output, "t.txt Line 0, near '}': ';' expected\r\n");
    EXPECT_TRUE(Compiled.Function(0).Failed);
    EXPECT_FALSE(Compiled.Main->Failed);
    EXPECT_EQ(Compiled.Code(), "0000 opReserve 0\n"
                               "0005 opPushInt 2\n"
                               "0010 opAlert\n"
                               "0011 opReturnNil\n");
    EXPECT_EQ(Listing(Compiled.Function(0).Code), "0000 opPushInt 1\n"
                                                  "0005 opAlert\n"
                                                  "0006 opReturn\n");
}

// The other statement reports are checked by the script files of tests/scripts/reports.
TEST(Reports, TestReportsWordForWord) {
    struct TCase {
        const char* Text;
        const char* Output;
    };
    const TCase Cases[] = {
        {"TEST(0);", "t.txt Line 0, near ';': ; is unknown (b37362)\r\n"},
        {"TEST(X)", "t.txt Line 0, near 'X': 'X' seems wrong here :S\r\n"},
    };
    for (const TCase& Case : Cases) EXPECT_EQ(CompileScript(Case.Text).Output, Case.Output) << Case.Text;
}

// ---- Expressions ----

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

// ---- Statements and whole functions ----

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

// ---- Safety on hostile input ----

struct TDeepCase {
    const char* Name;
    std::string Text;
};

TEST(Safety, DeepNestingIsReportedNotRecursedInto) {
    const int Count = 100000;
    const TDeepCase Cases[] = {
        {"parentheses", "ALERT(" + Repeat("(", Count) + "1);"},
        {"prefixes", "ALERT(" + Repeat("- ", Count) + "1);"},
        {"chain", "ALERT(1" + Repeat(" + 1", Count) + ");"},
        {"arguments", "FUNCTION F(A) RETURN A;\nALERT(" + Repeat("F(", Count) + ");"},
        {"self calls", "ALERT(" + Repeat("SELF.F(", Count) + ");"},
        {"blocks", Repeat("{", Count)},
        {"functions", Repeat("FUNCTION F() {", Count)},
        {"else chain", "VAR A;\n" + Repeat("IF (A) A = 1; ELSE ", Count) + "A = 2;"},
        {"for bodies", "VAR I;\n" + Repeat("FOR (I = 0; I; I = 1) ", Count) + "ALERT(I);"},
    };
    for (const TDeepCase& Case : Cases) {
        TCompiled Compiled = CompileScript(Case.Text);
        EXPECT_GE(CountOccurrences(Compiled.Output, "': nesting too deep\r\n"), 1u) << Case.Name;
        EXPECT_TRUE(Compiled.Main->Failed || Compiled.Main->FunctionCount > 0) << Case.Name;
    }
    // Just inside the limit compiles cleanly.
    TCompiled Inside = CompileScript("ALERT(" + Repeat("(", 900) + "1" + Repeat(")", 900) + ");");
    EXPECT_EQ(Inside.Output, "");
    EXPECT_EQ(Inside.Code(), "0000 opReserve 0\n0005 opPushInt 1\n0010 opAlert\n0011 opReturnNil\n");
}

TEST(Safety, ReadingIsBoundedWhenIncrementsHoldLoops) {
    // Every FOR skips its increment to find the body, then compiles it: loops nested in
    // increments read the innermost ones once per level.
    std::string Loops = "I = 1";
    for (int Level = 0; Level < 800; Level++) Loops = "FOR (I = 0; I; " + Loops + ") I = 2;";
    TCompiled Compiled = CompileScript("VAR I;\n" + Loops);
    EXPECT_TRUE(Compiled.Main->Failed);
    EXPECT_EQ(CountOccurrences(Compiled.Output, "': script too complex\r\n"), 1u);
    // A long plain script stays far below the limit.
    TCompiled Long =
        CompileScript("VAR I;\n" + Repeat("FOR (I = 0; I < 9; I += 1) { I = I * 2 + 1; }\n", 5000));
    EXPECT_EQ(Long.Output, "");
}

// Random token streams: the compiler ends, and every function's code decodes to whole
// instructions whose jumps stay inside the code.
TEST(Safety, RandomTokenStreamsGiveWholeInstructions) {
    const char* Vocabulary[] = {
        "VAR", "FUNCTION", "IF",    "ELSE", "FOR", "RETURN", "ALERT", "TEST", "SELF", "X", "Y", "F",
        "A",   "LENGTH",   "(",     ")",    "{",   "}",      ";",     ",",    ".",    "=", "+", "-",
        "*",   "/",        "%",     "<",    ">",   "&",      "|",     "^",    "~",    "!", "1", "2.5",
        "$1F", "\"\"",     "\"X\"", "&&",   "\n",  "0",      "=",     "(",    ")",    ";", "X", "F"};
    std::mt19937 Random(12345);
    std::uniform_int_distribution<size_t> Pick(0, std::size(Vocabulary) - 1);
    std::uniform_int_distribution<int> Length(1, 120);
    for (int Round = 0; Round < 3000; Round++) {
        std::string Text;
        for (int Index = Length(Random); Index > 0; Index--) {
            Text += Vocabulary[Pick(Random)];
            Text += ' ';
        }
        TCompiled Compiled = CompileScript(Text);
        for (const TXScriptObjectFunction* Function : ListFunctions(*Compiled.Main)) {
            std::string_view Code = Function->Code;
            TXInstruction Instruction;
            for (int32_t Offset = 0; Offset < int32_t(Code.size()); Offset = Instruction.Next) {
                TXDecodeStatus Status = DecodeInstruction(Code, Offset, Instruction);
                ASSERT_EQ(Status, dsOk) << Text;
                if (Instruction.Layout == olJump) {
                    EXPECT_GE(Instruction.Target, 0) << Text;
                    EXPECT_LE(Instruction.Target, int64_t(Code.size())) << Text;
                }
            }
            EXPECT_EQ(Code.find(JumpPlaceholder), std::string_view::npos) << Text;
        }
    }
}

} // namespace

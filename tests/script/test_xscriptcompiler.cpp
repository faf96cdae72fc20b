// The compiler's function records, emission and jumps, reports, and hostile input.
#include "compiled_script.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

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

// The other statement reports are checked by the script files of tests/scripts/reports
// (TEST(X) by test-operand.txt). TEST(0); stays here: the TEST compiled before the report
// starts an application whose worker thread may or may not write before xrun ends.
TEST(Reports, TestReportsWordForWord) {
    EXPECT_EQ(CompileScript("TEST(0);").Output, "t.txt Line 0, near ';': ; is unknown (b37362)\r\n");
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
        EXPECT_GE(CountOf(Compiled.Output, "': nesting too deep\r\n"), 1u) << Case.Name;
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
    EXPECT_EQ(CountOf(Compiled.Output, "': script too complex\r\n"), 1u);
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

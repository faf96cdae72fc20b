#include "xscriptcompiling.h"

#include "xlogging.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

// Statements: blocks, TEST, ALERT, RETURN, IF, FOR, VAR, and assignments and calls on names
// and SELF paths.

using namespace xscriptcompiler;

namespace {

TXOpcode CompoundOpcode(char Operator) {
    switch (Operator) {
    case '+': return opAdd;
    case '-': return opSub;
    case '*': return opMul;
    case '/': return opDiv;
    default: return opMod;
    }
}

TXUpdateOperator CompoundUpdateOperator(char Operator) {
    switch (Operator) {
    case '+': return uoAdd;
    case '-': return uoSubtract;
    case '/': return uoDivide;
    case '*': return uoMultiply;
    default: return uoModulo;
    }
}

} // namespace

// ---- Statements ----

void TXScriptObjectFunction::CompileStatements(int32_t Mode) {
    if (!EnterNesting()) return;
    TToken Token;
    for (;;) {
        ReadToken(Token);
        if (Token.End) break;
        if (!CompileStatement(Token, Mode)) break;
        if (Mode == smSingle || Mode == smBranch || Parser->AtEnd || Failed) break;
    }
    LeaveNesting();
}

// False when the statement loop ends here.
bool TXScriptObjectFunction::CompileStatement(const TToken& Token, int32_t Mode) {
    NoteSourceLine();
    if (Token.Is("TEST")) {
        CompileTest();
    } else if (Token.Is("ALERT")) {
        CompileAlert();
    } else if (Token.Is("{")) {
        CompileStatements(smBlock);
    } else if (Token.Is("}") && Mode == smBlock) {
        return false;
    } else if (Token.Is("RETURN")) {
        CompileReturn();
    } else if (Token.Is("FUNCTION")) {
        if (Mode == smSingle) {
            CompileError("FUNCTION() is not a valid thing here", true);
            return false;
        }
        TToken FunctionName;
        ReadToken(FunctionName);
        return DeclareFunction(FunctionName.Text);
    } else if (Token.Is("IF")) {
        CompileIf();
    } else if (Token.Is("FOR")) {
        return CompileFor();
    } else if (Token.Is("VAR")) {
        return CompileVar();
    } else if (Token.Is("SELF")) {
        CompileSelfStatement();
    } else {
        CompileNameStatement(Token, Mode);
    }
    return true;
}

void TXScriptObjectFunction::CompileTest() {
    Expect("(");
    TToken Number;
    ReadToken(Number);
    int32_t TestMode;
    if (ParseDecimal(Number.Text, TestMode))
        AppendOpInt32(Code, opTest, TestMode);
    else
        CompileError("'" + Number.Text + "' seems wrong here :S", true);
    Expect(")");
}

void TXScriptObjectFunction::CompileAlert() {
    Expect("(");
    CompileExpression(")", emSingle);
    EmitOp(opAlert);
    Expect(";");
}

// RETURN; and a RETURN that ends its line return nil; otherwise the expression up to ";".
void TXScriptObjectFunction::CompileReturn() {
    int32_t Line = Parser->LineIndex;
    TToken Next;
    ReadToken(Next);
    if (Next.Is(";")) {
        EmitOp(opReturnNil);
        return;
    }
    bool SameLine = Parser->LineIndex == Line;
    PushBack();
    if (!SameLine) {
        EmitOp(opReturnNil);
        return;
    }
    CompileExpression(";", emSingle);
    EmitOp(opReturn);
}

void TXScriptObjectFunction::CompileIf() {
    Expect("(");
    CompileExpression(")", emSingle);
    EmitOp(opJumpIfFalse);
    TXJumpLabel SkipThen;
    StartLabel(SkipThen, slForwardJump);
    CompileStatements(smBranch);
    TToken Next;
    ReadToken(Next);
    if (!Next.Is("ELSE")) {
        ResolveLabel(SkipThen, rlForwardTarget);
        PushBack();
        return;
    }
    EmitOp(opJump);
    TXJumpLabel SkipElse;
    StartLabel(SkipElse, slForwardJump);
    ResolveLabel(SkipThen, rlForwardTarget);
    CompileStatements(smSingle);
    ResolveLabel(SkipElse, rlForwardTarget);
}

// FOR ( [VAR] name = start ; condition ; increment ) body: the increment is skipped,
// the body compiled, then the increment compiled from its saved position.
bool TXScriptObjectFunction::CompileFor() {
    Expect("(");
    TToken Token;
    ReadToken(Token);
    if (Token.Is("VAR")) {
        ReadToken(Token);
        if (!DeclareVariable(Token.Text) && FindVariable(Token.Text) < 0) return false;
    }
    std::string Counter = Token.Text;
    Expect("=");
    CompileExpression(";", emSingle);
    EmitStoreVariable(Counter);

    TXJumpLabel Top, Exit;
    StartLabel(Top, slLoopTarget);
    CompileExpression(";", emSingle);
    EmitOp(opJumpIfFalse);
    StartLabel(Exit, slForwardJump);

    TFileParserPosition Increment, AfterBody;
    Parser->SavePosition(Increment);
    int32_t Open = 1;
    do {
        ReadToken(Token);
        if (Token.Is(")"))
            Open--;
        else if (Token.Is("("))
            Open++;
    } while (Open > 0 && !Token.End);
    CompileStatements(smSingle);
    Parser->SavePosition(AfterBody);
    Parser->RestorePosition(Increment);
    CompileStatements(smSingle);
    Parser->RestorePosition(AfterBody);

    EmitOp(opJump);
    ResolveLabel(Top, rlBackwardJump);
    ResolveLabel(Exit, rlForwardTarget);
    return true;
}

// False (the loop ends silently) for a name already declared, and after "; expected".
bool TXScriptObjectFunction::CompileVar() {
    TToken VariableName, Next;
    ReadToken(VariableName);
    if (!DeclareVariable(VariableName.Text)) return false;
    ReadToken(Next);
    if (Next.Is("=")) {
        CompileExpression(";", emSingle);
        EmitStoreVariable(VariableName.Text);
        return true;
    }
    if (Next.Is(";")) return true;
    CompileError("; expected", true);
    return false;
}

void TXScriptObjectFunction::CompileSelfStatement() {
    std::string Member;
    TToken Next;
    CompileSelfPath(Member, Next);
    if (!Next.Is("=")) {
        CompileError("'=' expected", true);
        return;
    }
    CompileExpression(";", emSingle);
    AppendOpName(Code, opSetObjectChild, Member);
}

void TXScriptObjectFunction::CompileNameStatement(const TToken& Token, int32_t Mode) {
    bool IsFunction;
    int32_t Depth;
    int32_t Index = ResolveName(Token.Text, IsFunction, Depth);
    if (Index < 0) {
        CompileError(Token.Text + " is unknown (b37362)", true);
        return;
    }
    TToken Next;
    ReadToken(Next);
    bool HasMember = Next.Is(".");
    std::string Member;
    if (HasMember) {
        if (IsFunction)
            CompileError("not possible atm", true);
        else
            AppendOpSlot(Code, opLoadVar, Index, Depth);
        TToken Step;
        ReadToken(Step);
        Member = Step.Text;
        ReadToken(Next);
        while (Next.Is(".")) {
            AppendOpName(Code, opGetObjectChild, Member);
            ReadToken(Step);
            Member = Step.Text;
            ReadToken(Next);
        }
    }
    char Compound = 0;
    if (!IsFunction && (Next.Is("+") || Next.Is("-") || Next.Is("*") || Next.Is("/") || Next.Is("%"))) {
        Compound = Next.Text[0];
        ReadToken(Next);
    }

    if (Next.Is("=")) {
        if (IsFunction) CompileError("This is not possible", true);
        CompileExpression(Mode == smRoot || Mode == smBlock ? ";" : ";)", emSingle);
        if (IsFunction) return;
        if (HasMember && Compound)
            AppendOpOperatorName(Code, opUpdateObjectChild, CompoundUpdateOperator(Compound), Member);
        else if (HasMember)
            AppendOpName(Code, opSetObjectChild, Member);
        else if (Compound) {
            AppendOpSlot(Code, opLoadVar, Index, Depth);
            EmitOp(opSwap);
            EmitOp(CompoundOpcode(Compound));
            AppendOpSlot(Code, opStoreVar, Index, Depth);
        } else {
            AppendOpSlot(Code, opStoreVar, Index, Depth);
        }
        return;
    }
    if (Next.Is("(")) {
        CompileCallStatement(Index, Depth, IsFunction, HasMember, Member);
        return;
    }

    // NAME NEWNAME = expression ; declares NEWNAME in the root function.
    TToken Following;
    ReadToken(Following);
    if (!Following.Is("=")) {
        CompileError("not sure how to handle " + Next.Text + " " + Following.Text, true);
        return;
    }
    Root->DeclareVariable(Next.Text);
    CompileExpression(";", emSingle);
    EmitStoreVariable(Next.Text);
}

void TXScriptObjectFunction::CompileCallStatement(int32_t Index, int32_t Depth, bool IsFunction,
                                                  bool HasMember, std::string_view Member) {
    TToken Token;
    ReadToken(Token);
    int32_t Arguments = 0;
    while (!Token.Is(")") && !Token.End && !Failed) {
        PushBack();
        size_t Before = Code.size();
        CompileExpression(",)", emArgument);
        if (Code.size() != Before) Arguments++;
        if (LastTokenClosesList()) break;
        ReadToken(Token);
    }
    if (IsFunction) {
        NoteCallSite(Arguments);
        AppendOpSlot(Code, opCallFunction, Index, Depth);
        EmitOp(opPop);
    } else if (!HasMember) {
        NoteCallSite(Arguments);
        AppendOpSlot(Code, opCallVariable, Index, Depth);
        EmitOp(opPop);
    } else {
        AppendOpName(Code, opCallMethod, Member);
    }
    Expect(";");
}


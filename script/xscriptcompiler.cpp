#include "xscriptcompiler.h"

#include "xlogging.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

#include <cstdio>

namespace {

constexpr std::string_view NestingMessage = "nesting too deep";
constexpr std::string_view BudgetMessage = "script too complex";
constexpr int64_t ReadsMinimum = 4096;

// Decimal digits only, within the 32-bit signed range.
bool ParseDecimal(std::string_view Text, int32_t& Value) {
    if (Text.empty()) return false;
    int64_t Magnitude = 0;
    for (char C : Text) {
        if (C < '0' || C > '9') return false;
        Magnitude = Magnitude * 10 + (C - '0');
        if (Magnitude > INT32_MAX) return false;
    }
    Value = int32_t(Magnitude);
    return true;
}

// Upper-case hexadecimal digits (as the tokenizer delivers them), at most eight
// significant ones, read as the 32-bit pattern.
bool ParseHexadecimal(std::string_view Text, int32_t& Value) {
    if (Text.empty()) return false;
    uint64_t Bits = 0;
    for (char C : Text) {
        int Digit = C >= '0' && C <= '9' ? C - '0' : C >= 'A' && C <= 'F' ? C - 'A' + 10 : -1;
        if (Digit < 0) return false;
        Bits = Bits * 16 + uint64_t(Digit);
        if (Bits > UINT32_MAX) return false;
    }
    Value = int32_t(uint32_t(Bits));
    return true;
}

int64_t ReadBudget(const TFileParser& Parser) {
    int64_t Bytes = 0;
    for (const std::string& Line : Parser.Lines) Bytes += int64_t(Line.size()) + 1;
    return Bytes * ReadsPerTextByte + ReadsMinimum;
}

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

bool ReadFunctionName(const TXScriptObjectFunction* Function, std::string_view& Name) {
    Name = Function->Name;
    return true;
}

} // namespace

// ---- The function record ----

TXScriptObjectFunction::TXScriptObjectFunction(TXScriptObjectFunction* ParentFunction,
                                               std::string_view FunctionName)
    : Root(ParentFunction ? ParentFunction->Root : this), Parent(ParentFunction), Name(FunctionName) {}

TXScriptObjectFunction::~TXScriptObjectFunction() = default;

int32_t TXScriptObjectFunction::FindVariable(std::string_view VariableName) const {
    if (Compiling && Compiling->VariableIndex.size() == VarNames.size()) {
        auto Found = Compiling->VariableIndex.find(VariableName);
        return Found == Compiling->VariableIndex.end() ? -1 : Found->second;
    }
    for (size_t Index = 0; Index < VarNames.size(); Index++)
        if (VarNames[Index] == VariableName) return int32_t(Index);
    return -1;
}

int32_t TXScriptObjectFunction::FindFunction(std::string_view FunctionName) const {
    if (Compiling && Compiling->FunctionIndex.size() == Functions.size()) {
        auto Found = Compiling->FunctionIndex.find(FunctionName);
        return Found == Compiling->FunctionIndex.end() ? -1 : Found->second;
    }
    for (size_t Index = 0; Index < Functions.size(); Index++)
        if (Functions[Index]->Name == FunctionName) return int32_t(Index);
    return -1;
}

TXScriptObjectFunction* TXScriptObjectFunction::FunctionAt(int32_t Index) const {
    if (Index < 0 || size_t(Index) >= Functions.size()) return nullptr;
    return Functions[size_t(Index)].get();
}

bool TXScriptObjectFunction::DeclareVariable(std::string_view VariableName) {
    if (FindVariable(VariableName) >= 0 || FindFunction(VariableName) >= 0) return false;
    if (Compiling && Compiling->VariableIndex.size() == VarNames.size())
        Compiling->VariableIndex.emplace(VariableName, int32_t(VarNames.size()));
    VarNames.emplace_back(VariableName);
    VarCount++;
    return true;
}

bool TXScriptObjectFunction::DeclareFunction(std::string_view FunctionName) {
    if (FindVariable(FunctionName) >= 0 || FindFunction(FunctionName) >= 0) return false;
    if (Compiling && Compiling->FunctionIndex.size() == Functions.size())
        Compiling->FunctionIndex.emplace(FunctionName, int32_t(Functions.size()));
    Functions.push_back(std::make_unique<TXScriptObjectFunction>(this, FunctionName));
    FunctionCount++;
    Functions.back()->Compile(Parser, false);
    return true;
}

int32_t TXScriptObjectFunction::ResolveName(std::string_view SearchName, bool& IsFunction,
                                            int32_t& Depth) const {
    IsFunction = false;
    Depth = 0;
    for (const TXScriptObjectFunction* Function = this; Function; Function = Function->Parent, Depth++) {
        int32_t Index = Function->FindVariable(SearchName);
        if (Index >= 0) return Index;
        Index = Function->FindFunction(SearchName);
        if (Index >= 0) {
            IsFunction = true;
            return Index;
        }
    }
    return -1;
}

// ---- Compiling a function ----

TXScriptObjectFunction::TCompileState& TXScriptObjectFunction::State() {
    if (!Compiling) {
        Compiling = std::make_unique<TCompileState>();
        Compiling->Tree = Parent && Parent->Compiling ? Parent->Compiling->Tree : Compiling.get();
        // Names declared before (by hand); a table with a name twice stays unindexed.
        for (size_t Index = 0; Index < VarNames.size(); Index++)
            Compiling->VariableIndex.emplace(VarNames[Index], int32_t(Index));
        for (size_t Index = 0; Index < Functions.size(); Index++)
            Compiling->FunctionIndex.emplace(Functions[Index]->Name, int32_t(Index));
    }
    return *Compiling;
}

// Before and after the outermost compile: no function of the subtree keeps compile state or
// refers to a parser.
void TXScriptObjectFunction::DropCompileState() {
    std::vector<TXScriptObjectFunction*> Pending{this};
    while (!Pending.empty()) {
        TXScriptObjectFunction* Function = Pending.back();
        Pending.pop_back();
        Function->Parser = nullptr;
        Function->Compiling.reset();
        for (const auto& Nested : Function->Functions) Pending.push_back(Nested.get());
    }
}

void TXScriptObjectFunction::Compile(TFileParser* SourceParser, bool IsMain) {
    // A compile not started by an enclosing one is a new compile with a new reading budget.
    bool Outermost = !(Parent && Parent->Compiling);
    if (Outermost) DropCompileState();
    Parser = SourceParser;
    SourceFile = Parser ? Parser->FileName : std::string();
    State();
    if (IsMain) {
        CompileStatements(smRoot);
        std::string Reserve;
        AppendOpInt32(Reserve, opReserve, VarCount);
        Code.insert(0, Reserve);
        for (TXCallSite& Site : CallSites) Site.Offset += int32_t(Reserve.size());
        for (TXSourceLine& Entry : SourceLines) Entry.Offset += int32_t(Reserve.size());
        EmitOp(opReturnNil);
    } else {
        CompileNested();
    }
    if (Outermost) DropCompileState();
}

void TXScriptObjectFunction::CompileNested() {
    bool Declared = Expect("(");
    TToken Token;
    do {
        ReadToken(Token);
        if (!Token.Is(")") && !Token.End) {
            ParamCount++;
            if (Declared && !DeclareVariable(Token.Text)) Declared = false;
            ReadToken(Token);
        }
    } while (Token.Is(","));
    if (!Token.Is(")")) {
        CompileError(") expected", true);
        return;
    }
    if (Declared) CompileStatements(smSingle);
    EmitOp(opReturn);
}

bool TXScriptObjectFunction::Expect(std::string_view Text) {
    TToken Token;
    ReadToken(Token);
    if (Token.Is(Text)) return true;
    CompileError("'" + std::string(Text) + "' expected", true);
    return false;
}

void TXScriptObjectFunction::CompileError(std::string_view Message, bool Fatal) {
    std::string Line;
    if (Parser) Line = Parser->FileName;
    Line += " Line ";
    Line += std::to_string(Parser ? Parser->LineIndex : 0);
    Line += ", near '";
    if (Parser) Line += Parser->LastToken;
    Line += "': ";
    Line += Message;
    LogLine(3, Line);
    if (Fatal) Failed = true;
}

// ---- Reading ----

void TXScriptObjectFunction::ReadToken(TToken& Token) {
    Token.Text.clear();
    Token.Kind = tkWord;
    Token.End = true;
    State().LastKind = tkWord;
    if (!Parser) return;
    TCompileState& Tree = TreeState();
    if (Tree.BudgetParser != Parser) {
        Tree.BudgetParser = Parser;
        Tree.ReadsLeft = ReadBudget(*Parser);
    }
    if (Tree.ReadsLeft <= 0) {
        if (Tree.ReadsLeft == 0) {
            Tree.ReadsLeft = -1;
            CompileError(BudgetMessage, true);
        }
        return;
    }
    Tree.ReadsLeft--;
    bool WasAtEnd = Parser->AtEnd;
    Parser->NextToken(Token.Text);
    Token.Kind = Parser->Rules->TokenKind;
    // The read that runs past the last line leaves the kind of the token before it, which
    // may be a "" string.
    Token.End = Token.Text.empty() && (Token.Kind != tkString || (!WasAtEnd && Parser->AtEnd));
    if (Token.End) Token.Kind = tkWord;
    State().LastKind = Token.Kind;
}

void TXScriptObjectFunction::PushBack() {
    if (Parser) Parser->PushBack();
}

bool TXScriptObjectFunction::LastTokenClosesList() const {
    return Parser && Compiling && Compiling->LastKind != tkString && Parser->LastToken == ")";
}

bool TXScriptObjectFunction::EnterNesting() {
    TCompileState& Tree = TreeState();
    if (++Tree.NestingDepth <= MaxNestingDepth) return true;
    Tree.NestingDepth--;
    CompileError(NestingMessage, true);
    return false;
}

void TXScriptObjectFunction::LeaveNesting() {
    TreeState().NestingDepth--;
}

// ---- Emitting ----

void TXScriptObjectFunction::Emit(std::string_view Bytes) {
    Code.append(Bytes);
}

void TXScriptObjectFunction::EmitOp(TXOpcode Op, std::string_view Operand) {
    AppendOp(Code, Op);
    Code.append(Operand);
}

void TXScriptObjectFunction::EmitStoreVariable(std::string_view VariableName) {
    bool IsFunction;
    int32_t Depth;
    int32_t Index = ResolveName(VariableName, IsFunction, Depth);
    AppendOpSlot(Code, opStoreVar, Index, Depth);
}

void TXScriptObjectFunction::StartLabel(TXJumpLabel& Label, int32_t Mode) {
    Label = TXJumpLabel{};
    if (Mode == slForwardJump) {
        Label.State = 1;
        Label.OperandPos = AppendJumpPlaceholder(Code);
    } else {
        Label.State = 2;
        Label.TargetPos = int32_t(Code.size());
    }
}

void TXScriptObjectFunction::ResolveLabel(TXJumpLabel& Label, int32_t Mode) {
    if (Mode == rlForwardTarget) {
        if (Label.State != 1) return;
        Label.TargetPos = int32_t(Code.size());
        PatchJump(Code, Label.OperandPos, Label.TargetPos);
    } else if (Label.State != 1) {
        Label.OperandPos = int32_t(Code.size());
        AppendJumpOperand(Code, Label.TargetPos);
    }
}

// ---- Expressions ----

void TXScriptObjectFunction::CompileExpression(std::string_view Terminators, int32_t Mode) {
    if (!EnterNesting()) return;
    bool OperandRead = false;
    TToken Token;
    do {
        ReadToken(Token);
        bool Going;
        if (!OperandRead) {
            OperandRead = true;
            Going = CompileOperand(Token, Terminators);
        } else {
            Going = CompileOperator(Token, Terminators, Mode);
        }
        if (!Going) break;
    } while ((!Terminators.empty() || Mode == emChain) && Parser && !Parser->AtEnd && !Failed);
    LeaveNesting();
}

// False when the expression ends at once (an empty operand before a terminator, or a
// comparison handed back to the level that has terminators).
bool TXScriptObjectFunction::CompileOperand(const TToken& Token, std::string_view Terminators) {
    if (Token.Is("~") || Token.Is("!") || Token.Is("+") || Token.Is("-")) {
        CompileExpression("", emSingle);
        EmitOp(Token.Is("+") ? opToNumber : Token.Is("-") ? opNegate : opNot);
        return true;
    }
    if (Token.Is("(")) {
        CompileExpression(")", emSingle);
        return true;
    }
    if (Token.Is("SELF")) {
        std::string Member;
        TToken Next;
        CompileSelfPath(Member, Next);
        if (Next.Is("(")) {
            CompileArgumentList();
            AppendOpName(Code, opCallMethod, Member);
        } else {
            PushBack();
            AppendOpName(Code, opGetObjectValue, Member);
        }
        return true;
    }
    bool IsFunction = false;
    int32_t Depth = 0;
    int32_t Index = Token.End ? -1 : ResolveName(Token.Text, IsFunction, Depth);
    if (Index < 0) return CompileConstant(Token, Terminators);

    TToken Next;
    ReadToken(Next);
    if (Next.Is("(")) {
        NoteCallSite(CompileArgumentList());
        AppendOpSlot(Code, IsFunction ? opCallFunction : opCallVariable, Index, Depth);
        return true;
    }
    if (Next.Is(".")) {
        if (IsFunction)
            CompileError("not possible atm", true);
        else
            CompileMemberPath(Index, Depth);
        return true;
    }
    AppendOpSlot(Code, IsFunction ? opPushFunction : opLoadVar, Index, Depth);
    PushBack();
    if (Terminators.empty() && (Next.Is("<") || Next.Is(">") || Next.Is("="))) {
        LogLine(0, "testing 2");
        return false;
    }
    return true;
}

bool TXScriptObjectFunction::CompileConstant(const TToken& Token, std::string_view Terminators) {
    int32_t Integer = 0;
    float Float = 0;
    switch (Token.Kind) {
    case tkNumber:
        if (!ParseDecimal(Token.Text, Integer)) break;
        AppendOpInt32(Code, opPushInt, Integer);
        return true;
    case tkHexNumber:
        if (!ParseHexadecimal(Token.Text, Integer)) break;
        AppendOpInt32(Code, opPushInt, Integer);
        return true;
    case tkFloat:
        if (!ParseScriptFloat(Token.Text, Float)) break;
        AppendOpFloat32(Code, opPushFloat, Float);
        return true;
    case tkString: AppendOpName(Code, opPushString, Token.Text); return true;
    default:
        if (!Token.End && !Token.Text.empty() && Terminators.find(Token.Text) != std::string_view::npos)
            return false;
        break;
    }
    CompileError("'" + Token.Text + "' seems wrong here :S", true);
    return true;
}

// False when the expression ends here.
bool TXScriptObjectFunction::CompileOperator(const TToken& Token, std::string_view Terminators,
                                             int32_t Mode) {
    bool Comparison = Token.Is("=") || Token.Is("<") || Token.Is(">");
    if (Terminators.empty() && Comparison) {
        LogLine(0, "testing ..");
        PushBack();
        return false;
    }
    struct TBinary {
        const char* Text;
        TXOpcode Op;
        bool Chain;
    };
    static constexpr TBinary Binaries[] = {{"+", opAdd, true},  {"-", opSub, true}, {"*", opMul, false},
                                           {"/", opDiv, false}, {"%", opMod, true}, {"&", opAnd, true},
                                           {"|", opOr, true},   {"^", opXor, false}};
    for (const TBinary& Binary : Binaries) {
        if (!Token.Is(Binary.Text)) continue;
        if (Binary.Op == opAnd || Binary.Op == opOr) { // "&&" and "||" written apart
            TToken Second;
            ReadToken(Second);
            if (!Second.Is(Binary.Text)) PushBack();
        }
        CompileRightOperand("", Binary.Chain ? emChain : emSingle, false);
        EmitOp(Binary.Op);
        return true;
    }
    if (Comparison) {
        TToken Second;
        ReadToken(Second);
        TXOpcode Op;
        bool Rest = true;
        if (Token.Is("=")) {
            Op = opEqual;
            if (!Second.Is("=")) {
                CompileError("= expected, still interpreting as ==", false);
                PushBack();
            }
        } else if (Token.Is("<")) {
            Op = Second.Is("<") ? opShl : Second.Is("=") ? opLessEqual : opLess;
            Rest = Op == opLessEqual;
            if (Op == opLess) PushBack();
        } else {
            Op = Second.Is(">") ? opShr : Second.Is("=") ? opGreaterEqual : opGreater;
            Rest = Op != opShr;
            if (Op == opShr) {
                TToken Third;
                ReadToken(Third);
                if (!Third.Is(">")) PushBack();
            } else if (Op == opGreater) {
                PushBack();
            }
        }
        CompileRightOperand(Terminators, emSingle, Rest);
        EmitOp(Op);
        return true;
    }
    if (Mode == emChain) {
        PushBack();
        return false;
    }
    if (!Token.End && Token.Kind != tkString && !Token.Text.empty() &&
        Terminators.find(Token.Text) != std::string_view::npos)
        return false;
    CompileError("i didnt expect to find " + Token.Text, true);
    return false;
}

// One operand or a chain (no terminators), or the rest up to the caller's terminator,
// which is handed back so that the caller's level reads it again.
void TXScriptObjectFunction::CompileRightOperand(std::string_view Terminators, int32_t Mode, bool Rest) {
    if (!Rest) {
        CompileExpression("", Mode);
        return;
    }
    CompileExpression(Terminators, emSingle);
    PushBack();
}

int32_t TXScriptObjectFunction::CompileArgumentList() {
    int32_t Arguments = 0;
    for (;;) {
        TToken Token;
        ReadToken(Token);
        PushBack();
        if (Token.Is(")")) {
            ReadToken(Token);
            return Arguments;
        }
        size_t Before = Code.size();
        CompileExpression(",)", emSingle);
        if (Code.size() != Before) Arguments++;
        if (Token.End || Failed || LastTokenClosesList()) return Arguments;
    }
}

void TXScriptObjectFunction::NoteCallSite(int32_t Arguments) {
    CallSites.push_back({int32_t(Code.size()), Arguments});
}

// The statement whose first token was just read starts here.
void TXScriptObjectFunction::NoteSourceLine() {
    if (!Parser) return;
    int32_t Offset = int32_t(Code.size()), Line = Parser->LineIndex;
    if (!SourceLines.empty() && SourceLines.back().Offset == Offset) SourceLines.pop_back();
    if (SourceLines.empty() || SourceLines.back().Line != Line) SourceLines.push_back({Offset, Line});
}

// After a variable and ".": v.M and v.M(...) call the built-in M on v; longer paths step
// through child objects.
void TXScriptObjectFunction::CompileMemberPath(int32_t Index, int32_t Depth) {
    TToken Member, Next;
    ReadToken(Member);
    ReadToken(Next);
    if (Next.Is("(")) {
        CompileArgumentList();
        AppendOpSlot(Code, opLoadVar, Index, Depth);
        CompileBuiltinCall(Member.Text);
        return;
    }
    AppendOpSlot(Code, opLoadVar, Index, Depth);
    if (!Next.Is(".")) {
        PushBack();
        CompileBuiltinCall(Member.Text);
        return;
    }
    std::string Current = Member.Text;
    while (Next.Is(".")) {
        AppendOpName(Code, opGetObjectChild, Current);
        ReadToken(Member);
        Current = Member.Text;
        ReadToken(Next);
        if (Next.Is("(")) {
            CompileArgumentList();
            CompileBuiltinCall(Current);
            return;
        }
    }
    PushBack();
    AppendOpName(Code, opGetObjectValue, Current);
}

void TXScriptObjectFunction::CompileBuiltinCall(std::string_view Member) {
    std::optional<uint32_t> Handle = FindBuiltin("STRINGS." + std::string(Member));
    if (!Handle) {
        CompileError("not found %S", true);
        return;
    }
    char Line[32];
    std::snprintf(Line, sizeof Line, "%u %08X", unsigned(*Handle), unsigned(*Handle));
    LogLine(0, Line);
    AppendOpHandle(Code, opCallNative, *Handle);
}

// "SELF" has been read: emits opPushSelf and a child step for every member but the last,
// which is left in Member; Next is the token after the path.
void TXScriptObjectFunction::CompileSelfPath(std::string& Member, TToken& Next) {
    EmitOp(opPushSelf);
    Member.clear();
    ReadToken(Next);
    TToken Step;
    while (Next.Is(".")) {
        if (!Member.empty()) AppendOpName(Code, opGetObjectChild, Member);
        ReadToken(Step);
        Member = Step.Text;
        ReadToken(Next);
    }
}

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

// ---- Helpers of the module ----

std::unique_ptr<TXScriptObjectFunction> CompileMainFunction(TFileParser& Parser) {
    auto Main = std::make_unique<TXScriptObjectFunction>(nullptr, MainFunctionName);
    Main->Compile(&Parser, true);
    return Main;
}

std::vector<const TXScriptObjectFunction*> ListFunctions(const TXScriptObjectFunction& Function) {
    std::vector<const TXScriptObjectFunction*> Listed;
    std::vector<const TXScriptObjectFunction*> Pending{&Function};
    while (!Pending.empty()) {
        const TXScriptObjectFunction* Next = Pending.back();
        Pending.pop_back();
        Listed.push_back(Next);
        for (size_t Index = Next->Functions.size(); Index-- > 0;)
            Pending.push_back(Next->Functions[Index].get());
    }
    return Listed;
}

void StartScriptFunctions() {
    SetFunctionNameReader(ReadFunctionName);
}

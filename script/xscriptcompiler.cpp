#include "xscriptcompiling.h"

#include "xlogging.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

#include <cstdio>

// The compiler's function records and what every part of compiling shares: the compile
// driver, reading tokens under the reading budget, nesting, and emitting code and jumps.

namespace {

constexpr std::string_view NestingMessage = "nesting too deep";
constexpr std::string_view BudgetMessage = "script too complex";
constexpr int64_t ReadsMinimum = 4096;

int64_t ReadBudget(const TFileParser& Parser) {
    int64_t Bytes = 0;
    for (const std::string& Line : Parser.Lines) Bytes += int64_t(Line.size()) + 1;
    return Bytes * ReadsPerTextByte + ReadsMinimum;
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

#pragma once

#include "fileparser.h"
#include "xscriptcode.h"
#include "xscriptinterpreter.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

class TXScriptHost;
struct TXScriptVariable;

// The script compiler: TXScriptObjectFunction is one compiled script function (its names,
// the functions declared inside it and its code), and its Compile turns the token stream
// of a TFileParser into that function and its nested functions.
//
// Entry points:
//   - CompileMainFunction(Parser): the root "__MAIN" of a script, compiled from the
//     parser's current position to the end of the text (the text after "IMPLEMENTATION");
//   - TXScriptObjectFunction(nullptr, Name) then Compile(&Parser, true): the same by hand;
//   - nested functions are created and compiled by the compiler itself at "FUNCTION".
//
// What the interpreter reads after compilation: Code (the bytecode of xscriptcode.h),
// VarCount (variables, parameters included), ParamCount (the parameters are the first
// ParamCount entries of VarNames), Parent (null for the root), Functions / FunctionAt
// (nested functions in declaration order; slot operands of opCallFunction and
// opPushFunction index them) and Name. A root's code starts with opReserve VarCount and
// ends with opReturnNil; a nested function's ends with opReturn, unless its parameter list
// was not closed (then it may be empty). The tree never changes after compilation.
//
// Reports. Every problem is one console line at level 3, "<file> Line <line index from 0>,
// near '<last token>': <message>". A fatal report sets Failed of the function being
// compiled, which ends every loop of the compiler for that function (the code emitted so
// far stays); the enclosing function goes on with the tokens that follow. The compiler
// also writes "testing .." and "testing 2" at level 0 where a comparison character ends a
// sub-expression without terminators, and, for each built-in call it compiles, the
// handle in decimal, a space and the handle as eight upper-case hexadecimal digits.
//
// Safety: on any token stream the compiler ends, stays inside its buffers and never
// exhausts the native stack:
//   - recursion that the input controls (parentheses, prefix operators, operator chains,
//     argument lists, blocks, IF branches and ELSE chains, FOR bodies, nested functions)
//     is limited to MaxNestingDepth levels over the whole tree; one level more reports
//     "nesting too deep" (fatal);
//   - a compile reads at most ReadsPerTextByte tokens per byte of the parser's text (FOR
//     compiles its increment after the body, so text can be read more than once); past
//     that it reports "script too complex" (fatal) once and every further read is the end
//     of the text, so every function ends.
//
// Choices where the language leaves a form open, and mended faults:
//   - The end of the text is told exactly: the empty token is the end unless a real ""
//     was read (the read that runs past the last line after a final "" is the end too).
//     The FOR header skip and argument lists stop at the end of the text, not at a ""
//     string.
//   - A quoted text is a value, never punctuation or a keyword: "(" or "-" or "SELF" in
//     quotes is compiled as a string (or as the variable of that name), and does not end
//     an expression or argument list.
//   - Integer constants must fit in 32 signed bits; hexadecimal ones may have up to eight
//     digits ($FFFFFFFF is -1); a float constant must convert to a finite single. Any
//     other is reported as "'<token>' seems wrong here :S" (fatal). TEST takes a decimal
//     number of that range, with the same report otherwise.
//   - A function name followed by "." in an expression reports "not possible atm"
//     (fatal), as the statement form does.
//   - A member path of two or more steps reads like a SELF path: v.A.B is opLoadVar v,
//     opGetObjectChild A, opGetObjectValue B; with a call at its end, v.A.M(x) is opLoadVar
//     v, opGetObjectChild A, x, then the built-in call of M. A path ends after a built-in
//     call; a "." after it is read as the next operator.
//   - A SELF statement whose path is not followed by "=" reports "'=' expected" (fatal)
//     and emits no store.
//   - A call statement through a variable (F(1); where F holds a function) ends with
//     opPop like a call of a nested function, so that its result does not stay on the
//     stack.
//   - An assignment to a function name, after its report, compiles the expression and
//     emits no store.
//   - A statement led by the name of a top-level built-in record: built-ins are registered
//     only under dotted names, so there is none, and no such look-up is made.
//   - FOR without VAR over a name that resolves nowhere stores to slot index 65535 with
//     the depth of the whole chain searched (the host places or refuses it safely).
//   - Nested functions are owned by their parent and destroyed with it.

// A jump being emitted. State: 0 fresh, 1 a forward placeholder has been emitted, 2 a
// backward target has been noted. Offsets count from 0 in the function's Code.
struct TXJumpLabel {
    uint8_t State = 0;
    int32_t OperandPos = 0; // of the 4-byte jump operand
    int32_t TargetPos = 0;  // of the jump target
};

// StartLabel modes.
constexpr int32_t slForwardJump = 0; // right after a jump's opcode: the placeholder operand
constexpr int32_t slLoopTarget = 1;  // where a loop begins: the backward target
// ResolveLabel modes.
constexpr int32_t rlBackwardJump = 0;  // right after a jump's opcode: the operand back to the target
constexpr int32_t rlForwardTarget = 1; // the forward target is here: patch the placeholder

// CompileStatements modes.
constexpr int32_t smRoot = 0;   // root body: until the end of the text
constexpr int32_t smSingle = 1; // nested function body, ELSE branch, FOR body and increment: one statement
constexpr int32_t smBlock = 2;  // after "{": until the closing "}"
constexpr int32_t smBranch = 3; // IF branch: one statement, FUNCTION allowed

// CompileExpression modes.
constexpr int32_t emSingle = 0;   // up to the terminator, or exactly one operand without terminators
constexpr int32_t emChain = 1;    // operators keep being compiled until a token that is not one
constexpr int32_t emArgument = 3; // a call argument; behaves as emSingle

constexpr std::string_view MainFunctionName = "__MAIN";
constexpr int32_t MaxNestingDepth = 1000;
constexpr int64_t ReadsPerTextByte = 16;

class TXScriptObjectFunction {
public:
    // Parent null makes a root function: Root is then the function itself.
    TXScriptObjectFunction(TXScriptObjectFunction* ParentFunction, std::string_view FunctionName);
    virtual ~TXScriptObjectFunction();
    TXScriptObjectFunction(const TXScriptObjectFunction&) = delete;
    TXScriptObjectFunction& operator=(const TXScriptObjectFunction&) = delete;

    // Compiles the function from SourceParser (not owned; Parser while compiling). Main:
    // statements to the end of the text, then opReserve with the final VarCount in front
    // and opReturnNil at the end. Nested (the name already read by the caller): the
    // parameter list "( A, B )", one statement as the body, then opReturn. When the
    // outermost compile returns, Parser is null again in every function it compiled and
    // the compiler's own state (name indexes, nesting, reading budget) is gone.
    void Compile(TFileParser* SourceParser, bool IsMain);

    // Positions in VarNames / Functions, or -1. Names compare exactly.
    int32_t FindVariable(std::string_view VariableName) const;
    int32_t FindFunction(std::string_view FunctionName) const;
    // The nested function at Index, or null outside 0 .. FunctionCount - 1.
    TXScriptObjectFunction* FunctionAt(int32_t Index) const;
    // False, and nothing changed, when the name is already a variable or a nested function
    // of this function.
    bool DeclareVariable(std::string_view VariableName);
    // As DeclareVariable; on success the nested function is created and compiled at once
    // from the parser's position (reading nothing otherwise).
    bool DeclareFunction(std::string_view FunctionName);
    // Looks the name up among the variables, then the nested functions, of this function
    // and then each enclosing one; Depth counts the steps outward. -1 when nothing has it
    // (Depth then holds the number of functions searched).
    int32_t ResolveName(std::string_view SearchName, bool& IsFunction, int32_t& Depth) const;

    // Reads one token (it stays consumed); a different one is the fatal report
    // "'<Text>' expected". Returns whether it matched.
    bool Expect(std::string_view Text);
    // The report line at level 3 (see above); Fatal sets Failed.
    void CompileError(std::string_view Message, bool Fatal);

    void Emit(std::string_view Bytes);
    void EmitOp(TXOpcode Op, std::string_view Operand = {});
    // opStoreVar with the slot ResolveName gives the name.
    void EmitStoreVariable(std::string_view VariableName);
    // Jumps: slForwardJump appends the placeholder and notes its offset; slLoopTarget notes
    // the current length as the target. rlForwardTarget patches a forward placeholder to
    // jump here (a label that holds no placeholder is left alone); rlBackwardJump appends
    // the operand of a jump back to the noted target.
    void StartLabel(TXJumpLabel& Label, int32_t Mode);
    void ResolveLabel(TXJumpLabel& Label, int32_t Mode);

    // One expression from the parser's position. Terminators: the characters that end it
    // (consumed), e.g. ";" or ",)"; empty for a sub-expression. Mode: emSingle, emChain or
    // emArgument.
    void CompileExpression(std::string_view Terminators, int32_t Mode);
    // Statements from the parser's position, by Mode (smRoot ... smBranch).
    void CompileStatements(int32_t Mode);

    // Runs Code on Host and leaves the function's result in Result; never raises (see
    // xscriptinterpreter.h).
    void Execute(TXScriptHost& Host, TXScriptVariable& Result);

    bool Failed = false;
    TFileParser* Parser = nullptr; // not owned; set only while compiling
    TXScriptObjectFunction* Root;
    TXScriptObjectFunction* Parent;
    int32_t FunctionCount = 0;
    std::vector<std::unique_ptr<TXScriptObjectFunction>> Functions;
    int32_t VarCount = 0;
    std::vector<std::string> VarNames;
    std::string Code;
    std::string Name;
    int32_t ParamCount = 0;
    // Kept beside the code for the interpreter: the argument count of each call emitted,
    // and the source line of each statement's code with the file it was read from.
    std::vector<TXCallSite> CallSites;
    std::vector<TXSourceLine> SourceLines;
    std::string SourceFile;
    // The interpreter's decoded form of Code.
    TXExecutionCache ExecutionCache;

private:
    struct TNameHash {
        using is_transparent = void;
        size_t operator()(std::string_view Text) const { return std::hash<std::string_view>{}(Text); }
    };
    // Positions of the names Declare* added, so that look-ups stay fast in large scripts.
    // A table changed by other means is searched from index 0 up instead.
    using TNameIndex = std::unordered_map<std::string, int32_t, TNameHash, std::equal_to<>>;

    struct TToken {
        std::string Text;
        TTokenKind Kind = tkWord;
        bool End = false; // the end of the text
        // The punctuation or keyword Word; a quoted text never is.
        bool Is(std::string_view Word) const { return Kind != tkString && Text == Word; }
    };

    // What the compiler keeps only while it compiles: each function's name indexes and
    // the last token's kind; the tree's nesting depth and reading budget live in the
    // state of the function where the compile began (Tree).
    struct TCompileState {
        TNameIndex VariableIndex;
        TNameIndex FunctionIndex;
        TTokenKind LastKind = tkWord;
        TCompileState* Tree = nullptr;
        int32_t NestingDepth = 0;
        const TFileParser* BudgetParser = nullptr;
        int64_t ReadsLeft = 0;
    };
    TCompileState& State();
    TCompileState& TreeState() { return *State().Tree; }
    void DropCompileState();
    void CompileNested();
    void NoteSourceLine();
    void NoteCallSite(int32_t Arguments);

    void ReadToken(TToken& Token);
    void PushBack();
    bool LastTokenClosesList() const;
    bool EnterNesting();
    void LeaveNesting();

    bool CompileOperand(const TToken& Token, std::string_view Terminators);
    bool CompileConstant(const TToken& Token, std::string_view Terminators);
    bool CompileOperator(const TToken& Token, std::string_view Terminators, int32_t Mode);
    void CompileRightOperand(std::string_view Terminators, int32_t Mode, bool Rest);
    // The number of arguments that pushed a value.
    int32_t CompileArgumentList();
    void CompileMemberPath(int32_t Index, int32_t Depth);
    void CompileBuiltinCall(std::string_view Member);
    void CompileSelfPath(std::string& Member, TToken& Next);

    bool CompileStatement(const TToken& Token, int32_t Mode);
    void CompileTest();
    void CompileAlert();
    void CompileReturn();
    void CompileIf();
    bool CompileFor();
    bool CompileVar();
    void CompileSelfStatement();
    void CompileNameStatement(const TToken& Token, int32_t Mode);
    void CompileCallStatement(int32_t Index, int32_t Depth, bool IsFunction, bool HasMember,
                              std::string_view Member);

    std::unique_ptr<TCompileState> Compiling;
};

// A new root function "__MAIN" compiled from the parser's position to the end of the text.
std::unique_ptr<TXScriptObjectFunction> CompileMainFunction(TFileParser& Parser);

// The function and all its nested functions, depth-first in declaration order, the
// function itself first.
std::vector<const TXScriptObjectFunction*> ListFunctions(const TXScriptObjectFunction& Function);

// The script module's start-up part for functions: lets a function value print its name.
void StartScriptFunctions();

#include "xscriptcompiling.h"

#include "xlogging.h"
#include "xscripthost.h"
#include "xscriptvariable.h"

// Expressions: operands, constants, operators and their precedence, argument lists, member
// paths and built-in calls.

namespace xscriptcompiler {

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

} // namespace xscriptcompiler

using namespace xscriptcompiler;

namespace {

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

} // namespace

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


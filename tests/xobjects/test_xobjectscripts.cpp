#include "xobjects.h"

#include "fileparser.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

namespace {

const std::string& Fault = ScriptFaultLine;

// SELF with one property of every kind and a child.
struct TSelf {
    TXObject Object{nullptr, "SELF"};
    void* Integer = Object.DeclareInteger("I");
    void* Float = Object.DeclareFloat("F");
    void* Boolean = Object.DeclareBoolean("B");
    void* String = Object.DeclareString("S");
    TXObject* Child = new TXObject(&Object, "CHILD");
    TXHandler Handler;
    TSelf() {
        Object.AddProperty("H", ptFunction, &Handler);
        Child->DeclareInteger("DEPTH");
        StorePropertyInteger(Child->FindProperty("DEPTH")->Data, 2);
    }
};

// Runs Code as a root function with SELF as the owner; the result as text.
struct TRun {
    std::string Output;
    TXScriptVariable Result;
    int32_t StackPointer = 0;
};

TRun RunCode(TXObject& Self, const std::string& Code) {
    TXScriptObjectFunction Root(nullptr, "__MAIN");
    Root.Code = Code;
    TXScriptHost Host(64, &Self);
    TRun Outcome;
    Outcome.Output = CaptureOutput([&] { Root.Execute(Host, Outcome.Result); });
    Outcome.StackPointer = Host.StackPointer;
    return Outcome;
}

std::string GetValue(TXObject& Self, const std::string& Name) {
    std::string Code;
    AppendOp(Code, opPushSelf);
    AppendOpName(Code, opGetObjectValue, Name);
    AppendOp(Code, opReturn);
    TRun Outcome = RunCode(Self, Code);
    const char* Kinds[] = {"s:", "i:", "f:", "o:", "fn:"};
    return Kinds[Outcome.Result.kind] + Outcome.Result.AsText().ToString();
}

using MemberReads = testing::Test;

TEST_F(MemberReads, GetObjectValueByPropertyKind) {
    TSelf Self;
    StorePropertyInteger(Self.Integer, -5);
    StorePropertyFloat(Self.Float, 2.5f);
    *static_cast<uint8_t*>(Self.Boolean) = 7;
    StorePropertyString(Self.String, "12");
    EXPECT_EQ(GetValue(Self.Object, "I"), "i:-5");
    EXPECT_EQ(GetValue(Self.Object, "F"), "f:2.5");
    EXPECT_EQ(GetValue(Self.Object, "B"), "i:1");
    EXPECT_EQ(GetValue(Self.Object, "S"), "s:12"); // no number detection
    EXPECT_EQ(GetValue(Self.Object, "CHILD"), "o:CHILD");
    EXPECT_EQ(GetValue(Self.Object, "H"), "s:undefined");
    EXPECT_EQ(GetValue(Self.Object, "MISSING"), "s:undefined");
    EXPECT_EQ(GetValue(Self.Object, ""), "s:undefined");
    Self.Object.AddProperty("NOWHERE", ptString, nullptr);
    EXPECT_EQ(GetValue(Self.Object, "NOWHERE"), "s:undefined");
    int32_t Odd = 0;
    Self.Object.AddProperty("ODD", 9, &Odd);
    EXPECT_EQ(GetValue(Self.Object, "ODD"), "o:SELF");
}

TEST_F(MemberReads, NamesAreCutTo32CharactersForTheLookUp) {
    TSelf Self;
    std::string Long(32, 'L');
    StorePropertyInteger(Self.Object.DeclareInteger(Long), 32);
    EXPECT_EQ(GetValue(Self.Object, Long + std::string(300, 'X')), "i:32");
}

TEST_F(MemberReads, GetObjectChildFollowsOnlyObjects) {
    TSelf Self;
    std::string Code;
    AppendOp(Code, opPushSelf);
    AppendOpName(Code, opGetObjectChild, "CHILD");
    AppendOpName(Code, opGetObjectValue, "DEPTH");
    AppendOp(Code, opAlert);
    AppendOp(Code, opPushSelf);
    AppendOpName(Code, opGetObjectChild, "I");
    AppendOp(Code, opAlert);
    AppendOp(Code, opPushSelf);
    AppendOpName(Code, opGetObjectChild, "NONE");
    AppendOpName(Code, opGetObjectValue, "DEPTH");
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    EXPECT_EQ(RunCode(Self.Object, Code).Output, "2\r\nundefined\r\nundefined\r\n");
}

// Stores Value (pushed as text with number detection, or as the float) into property Name
// with opSetObjectChild, or opUpdateObjectChild when Operator is given.
TRun Store(TXObject& Self, const std::string& Name, const std::string& Value, int Operator = -1) {
    std::string Code;
    AppendOp(Code, opPushSelf);
    AppendOpName(Code, opPushString, Value);
    if (Operator < 0)
        AppendOpName(Code, opSetObjectChild, Name);
    else
        AppendOpOperatorName(Code, opUpdateObjectChild, uint8_t(Operator), Name);
    AppendOp(Code, opReturnNil);
    return RunCode(Self, Code);
}

using MemberStores = testing::Test;

TEST_F(MemberStores, SetObjectChildConvertsByKindAndPopsBoth) {
    TSelf Self;
    TRun Outcome = Store(Self.Object, "I", "2.6");
    EXPECT_EQ(Outcome.Output, "");
    EXPECT_EQ(Outcome.StackPointer, 0);
    EXPECT_EQ(LoadPropertyInteger(Self.Integer), 3);
    Store(Self.Object, "F", "7");
    EXPECT_EQ(LoadPropertyFloat(Self.Float), 7.0f);
    Store(Self.Object, "B", "5");
    EXPECT_EQ(*static_cast<uint8_t*>(Self.Boolean), 1);
    Store(Self.Object, "B", "0.4");
    EXPECT_EQ(*static_cast<uint8_t*>(Self.Boolean), 0);
    Store(Self.Object, "S", "1.50");
    EXPECT_EQ(LoadPropertyString(Self.String), "1.5");
    std::string Long(300, 'Q');
    Long[254] = 'E';
    Store(Self.Object, "S", Long);
    EXPECT_EQ(LoadPropertyString(Self.String), Long.substr(0, 255));
    Outcome = Store(Self.Object, "MISSING", "1");
    EXPECT_EQ(Outcome.Output, "");
    EXPECT_EQ(Outcome.StackPointer, 0);
}

TEST_F(MemberStores, ObjectsAndHandlersAreBypassed) {
    TSelf Self;
    for (const char* Name : {"CHILD", "H"}) {
        TRun Outcome = Store(Self.Object, Name, "1");
        EXPECT_EQ(Outcome.Output, "SetObjectChild bypassed\r\n");
        EXPECT_EQ(Outcome.StackPointer, 0);
        Outcome = Store(Self.Object, Name, "1", uoAdd);
        EXPECT_EQ(Outcome.Output, "SetObjectChild bypassed\r\n");
    }
    EXPECT_EQ(Self.Object.FindProperty("CHILD")->Data, Self.Child);
    EXPECT_EQ(Self.Handler.Kind, hkNone);
}

int32_t UpdateInteger(int32_t Start, int Operator, const std::string& Value) {
    TSelf Self;
    StorePropertyInteger(Self.Integer, Start);
    Store(Self.Object, "I", Value, Operator);
    return LoadPropertyInteger(Self.Integer);
}

float UpdateFloat(float Start, int Operator, const std::string& Value) {
    TSelf Self;
    StorePropertyFloat(Self.Float, Start);
    Store(Self.Object, "F", Value, Operator);
    return LoadPropertyFloat(Self.Float);
}

TEST_F(MemberStores, IntegerUpdatesWrapAndTruncate) {
    EXPECT_EQ(UpdateInteger(9, uoAssign, "4"), 4);
    EXPECT_EQ(UpdateInteger(INT32_MAX, uoAdd, "1"), INT32_MIN);
    EXPECT_EQ(UpdateInteger(9, uoSubtract, "2.5"), 7); // 2.5 rounds to even
    EXPECT_EQ(UpdateInteger(-7, uoDivide, "2"), -3);
    EXPECT_EQ(UpdateInteger(0x10000, uoMultiply, "65536"), 0);
    EXPECT_EQ(UpdateInteger(-7, uoModulo, "3"), -1);
    EXPECT_EQ(UpdateInteger(9, 6, "4"), 9);
    EXPECT_EQ(UpdateInteger(9, 255, "4"), 9);
}

TEST_F(MemberStores, IntegerDivisionByZeroIsAFault) {
    for (int Operator : {uoDivide, uoModulo}) {
        TSelf Self;
        StorePropertyInteger(Self.Integer, 9);
        EXPECT_EQ(Store(Self.Object, "I", "0", Operator).Output, Fault);
        EXPECT_EQ(LoadPropertyInteger(Self.Integer), 9);
        StorePropertyInteger(Self.Integer, INT32_MIN);
        EXPECT_EQ(Store(Self.Object, "I", "-1", Operator).Output, Fault);
    }
}

TEST_F(MemberStores, FloatUpdates) {
    EXPECT_EQ(UpdateFloat(1.5f, uoAssign, "2"), 2.0f);
    EXPECT_EQ(UpdateFloat(1.5f, uoAdd, "0.25"), 1.75f);
    EXPECT_EQ(UpdateFloat(1.5f, uoSubtract, "2"), -0.5f);
    EXPECT_EQ(UpdateFloat(1.0f, uoDivide, "0"), INFINITY);
    EXPECT_EQ(UpdateFloat(1.5f, uoMultiply, "4"), 6.0f);
    EXPECT_EQ(UpdateFloat(7.5f, uoModulo, "2"), -0.5f);
    EXPECT_EQ(UpdateFloat(1.5f, 9, "2"), 1.5f);
}

TEST_F(MemberStores, BooleansTakeTheTruthOfTheValueForEveryOperator) {
    for (int Operator = 0; Operator <= 7; Operator++) {
        TSelf Self;
        Store(Self.Object, "B", "3", Operator);
        EXPECT_EQ(*static_cast<uint8_t*>(Self.Boolean), 1) << Operator;
        Store(Self.Object, "B", "0", Operator);
        EXPECT_EQ(*static_cast<uint8_t*>(Self.Boolean), 0) << Operator;
    }
}

TEST_F(MemberStores, StringsAppendWithAddAndAreAssignedOtherwise) {
    TSelf Self;
    StorePropertyString(Self.String, "AB");
    Store(Self.Object, "S", "12", uoAdd);
    EXPECT_EQ(LoadPropertyString(Self.String), "AB12");
    for (int Operator : {uoAssign, uoSubtract, uoDivide, uoMultiply, uoModulo}) {
        StorePropertyString(Self.String, "AB");
        Store(Self.Object, "S", "XY", Operator);
        EXPECT_EQ(LoadPropertyString(Self.String), "XY") << Operator;
    }
    StorePropertyString(Self.String, std::string(250, 'a'));
    Store(Self.Object, "S", "bcdefghij", uoAdd);
    EXPECT_EQ(LoadPropertyString(Self.String), std::string(250, 'a') + "bcdef");
}

// An object whose script is compiled from Source, as a GUI object keeps it.
class TScripted : public TXObject {
public:
    TScripted(TXObject* Parent, std::string_view Name, const std::string& Source)
        : TXObject(Parent, Name), Parser("t.txt", nullptr, Source), Main(CompileMainFunction(Parser)),
          Host(4096, this) {}
    TXScriptObjectFunction* ScriptFunction() const override { return Main.get(); }
    TXScriptHost* ScriptHost() const override { return const_cast<TXScriptHost*>(&Host); }
    std::string RunMain() {
        TXScriptVariable Result;
        return CaptureOutput([&] { Main->Execute(Host, Result); });
    }

    TFileParser Parser;
    std::unique_ptr<TXScriptObjectFunction> Main;
    TXScriptHost Host;
};

using ScriptHandlers = testing::Test;

TEST_F(ScriptHandlers, AHandlerReachesTheRootVariablesThroughTwoFrames) {
    TScripted Object(nullptr, "OWNER",
                     "VAR A = 5; VAR B = 7;\n"
                     "FUNCTION ONCLICK() { VAR L = 100; A += 1; ALERT(A * 10 + B + L); }\n"
                     "ALERT(A);\n");
    EXPECT_EQ(Object.RunMain(), "5\r\n");
    TXHandler Handler;
    ASSERT_TRUE(Object.AddProperty("CLICK", ptFunction, &Handler));
    ASSERT_TRUE(Object.SetPropertyFromString("CLICK", "ONCLICK"));
    bool Handled = true;
    EXPECT_EQ(CaptureOutput([&] { Handled = Object.CallFunction(Handler, nullptr); }), "167\r\n");
    EXPECT_FALSE(Handled);
    EXPECT_EQ(Handler.Kind, hkScriptFunction);
    EXPECT_EQ(Handler.Func, Object.Main->FunctionAt(0));
    EXPECT_EQ(Handler.Host, &Object.Host);
    EXPECT_EQ(CaptureOutput([&] { Handled = Object.CallFunction(Handler, nullptr); }), "177\r\n");
    EXPECT_FALSE(Handled);
    EXPECT_EQ(Object.Host.FrameCount, 0);
}

TEST_F(ScriptHandlers, AHandlerWhoseCallsGrowTheFramesLeavesThemAsAShallowOne) {
    TScripted Object(nullptr, "OWNER",
                     "FUNCTION DOWN(N) { IF (N > 0) RETURN DOWN(N - 1); RETURN 7; }\n"
                     "FUNCTION DEEP() { VAR L; ALERT(\"[\" + L + \"]\" + DOWN(1200)); L = 1; }\n");
    Object.RunMain();
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("DEEP");
    for (int32_t Run = 0; Run < 2; Run++) {
        EXPECT_EQ(CaptureOutput([&] { Object.CallFunction(Handler, nullptr); }), "[]7\r\n");
        EXPECT_EQ(Object.Host.FrameCount, 0);
        EXPECT_EQ(Object.Host.FrameCapacity, FrameCapacityMinimum);
        EXPECT_EQ(Object.Host.StackPointer, 4095);
    }
}

TEST_F(ScriptHandlers, AChildWithoutAScriptUsesItsParentsScript) {
    TScripted Owner(nullptr, "OWNER", "VAR N = 3; FUNCTION SHOW() { ALERT(N); }");
    Owner.RunMain();
    auto* Child = new TXObject(&Owner, "BUTTON");
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("SHOW");
    EXPECT_EQ(CaptureOutput([&] { Child->CallFunction(Handler, nullptr); }), "3\r\n");
    EXPECT_EQ(Handler.Host, &Owner.Host);
}

TEST_F(ScriptHandlers, ANameNotFoundStaysANameAndIsLookedUpAgain) {
    TScripted Object(nullptr, "OWNER", "FUNCTION LATER() { ALERT(\"found\"); }");
    Object.RunMain();
    TXHandler Handler;
    Object.AddProperty("H", ptFunction, &Handler);
    Object.SetPropertyFromString("H", "later");
    EXPECT_EQ(CaptureOutput([&] { EXPECT_FALSE(Object.CallFunction(Handler, nullptr)); }), "");
    EXPECT_EQ(Handler.Kind, hkScriptName);
    Object.SetPropertyFromString("H", "LATER");
    EXPECT_EQ(CaptureOutput([&] { EXPECT_FALSE(Object.CallFunction(Handler, nullptr)); }), "found\r\n");
    EXPECT_EQ(Handler.Kind, hkScriptFunction);
}

TEST_F(ScriptHandlers, AFaultInAHandlerIsReportedAndTheCallEnds) {
    TScripted Object(nullptr, "OWNER", "VAR Z = 0; FUNCTION BAD() { ALERT(1 % Z); ALERT(2); }");
    Object.RunMain();
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("BAD");
    EXPECT_EQ(CaptureOutput([&] { EXPECT_FALSE(Object.CallFunction(Handler, nullptr)); }), Fault);
    EXPECT_EQ(Object.Host.FrameCount, 0);
}

TEST_F(ScriptHandlers, ScriptsReadAndUpdateTheirOwnerProperties) {
    TScripted Object(nullptr, "OWNER",
                     "SELF.COUNT = 2; VAR P = SELF.PANEL;\n"
                     "P.COUNT = 2; P.COUNT += 40; P.COUNT -= 1; P.NAME = \"AB\"; P.NAME += 12;\n"
                     "ALERT(SELF.PANEL.COUNT); ALERT(SELF.PANEL.NAME); ALERT(SELF.MISSING);\n"
                     "ALERT(SELF.PANEL); ALERT(SELF.COUNT); ALERT(SELF);");
    Object.DeclareInteger("COUNT");
    auto* Panel = new TXObject(&Object, "PANEL");
    Panel->DeclareInteger("COUNT");
    Panel->DeclareString("NAME");
    EXPECT_EQ(Object.RunMain(), "41\r\nAB12\r\nundefined\r\nPANEL\r\n2\r\nundefined\r\n");
}

} // namespace

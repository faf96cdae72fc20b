// Member look-ups that the interpreter remembers must follow the object tree: a property
// removed and declared again, another object under the same instruction, and new code in
// the place of freed code all read what the tree holds now. The quick forms of remembered
// look-ups and the combined member steps leave what the single instructions leave.

#include "xobjects.h"

#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include "capture.h"
#include "describe_value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// SELF.Y = SELF.X + 1, run on Self from one function that stays.
struct TCopyScript {
    TXScriptObjectFunction Root{nullptr, "__MAIN"};
    TCopyScript(const std::string& From, const std::string& To) {
        AppendOp(Root.Code, opPushSelf);
        AppendOp(Root.Code, opPushSelf);
        AppendOpName(Root.Code, opGetObjectValue, From);
        AppendOpInt32(Root.Code, opPushInt, 1);
        AppendOp(Root.Code, opAdd);
        AppendOpName(Root.Code, opSetObjectChild, To);
        AppendOp(Root.Code, opReturnNil);
    }
    void Run(TXObject& Self) {
        TXScriptHost Host(64, &Self);
        TXScriptVariable Result;
        Root.Execute(Host, Result);
    }
};

int32_t Integer(TXObject& Object, const char* Name) {
    TXProperty* Property = Object.FindProperty(Name);
    return Property && Property->Data ? LoadPropertyInteger(Property->Data) : -1000;
}

TEST(MemberCache, APropertyDeclaredAgainIsReadFromItsNewStorage) {
    TXObject Self(nullptr, "SELF");
    StorePropertyInteger(Self.DeclareInteger("X"), 1);
    Self.DeclareInteger("Y");
    TCopyScript Script("X", "Y");
    Script.Run(Self);
    EXPECT_EQ(Integer(Self, "Y"), 2);
    // X as a child object's entry that goes, then X again with storage of its own.
    ASSERT_TRUE(RemoveChild(&Self, "X"));
    Script.Run(Self);
    EXPECT_EQ(Integer(Self, "Y"), 0); // "undefined" + 1 is the text "undefined1": Y takes 0
    StorePropertyInteger(Self.DeclareInteger("X"), 40);
    Script.Run(Self);
    EXPECT_EQ(Integer(Self, "Y"), 41);
}

TEST(MemberCache, OneInstructionOnManyObjectsReadsEachOwnProperty) {
    std::unique_ptr<TXObject> Objects[8];
    TCopyScript Script("X", "Y");
    for (int32_t Round = 0; Round < 3; Round++)
        for (int32_t Index = 0; Index < 8; Index++) {
            if (!Objects[Index]) {
                Objects[Index] = std::make_unique<TXObject>(nullptr, "SELF");
                StorePropertyInteger(Objects[Index]->DeclareInteger("X"), Index * 10);
                Objects[Index]->DeclareInteger("Y");
            }
            Script.Run(*Objects[Index]);
            EXPECT_EQ(Integer(*Objects[Index], "Y"), Index * 10 + 1);
            // Every other object is replaced between rounds, often at the same address.
            if (Index % 2) Objects[Index].reset();
        }
}

TEST(MemberCache, NewCodeWhereFreedCodeWasReadsItsOwnNames) {
    TXObject Self(nullptr, "SELF");
    StorePropertyInteger(Self.DeclareInteger("A"), 5);
    StorePropertyInteger(Self.DeclareInteger("B"), 7);
    Self.DeclareInteger("Y");
    for (int32_t Round = 0; Round < 6; Round++) {
        auto Script = std::make_unique<TCopyScript>(Round % 2 ? "B" : "A", "Y");
        Script->Run(Self);
        EXPECT_EQ(Integer(Self, "Y"), Round % 2 ? 8 : 6) << Round;
    }
}

// SELF with a property of each kind and a child; the values are set again before each run.
struct TMembers {
    TXObject Self{nullptr, "SELF"};
    TXObject* Child = new TXObject(&Self, "CHILD");
    TXHandler Handler;
    TMembers() {
        Self.DeclareInteger("I");
        Self.DeclareFloat("F");
        Self.DeclareBoolean("B");
        Self.DeclareString("S");
        Self.AddProperty("H", ptFunction, &Handler);
        Child->DeclareInteger("I");
    }
    void Reset() {
        StorePropertyInteger(Self.FindProperty("I")->Data, INT32_MAX);
        StorePropertyFloat(Self.FindProperty("F")->Data, 2.5f);
        StorePropertyBoolean(Self.FindProperty("B")->Data, true);
        StorePropertyString(Self.FindProperty("S")->Data, "12");
        StorePropertyInteger(Child->FindProperty("I")->Data, -3);
    }
    std::string Describe() {
        return std::to_string(Integer(Self, "I")) + "," +
               std::to_string(std::bit_cast<uint32_t>(LoadPropertyFloat(Self.FindProperty("F")->Data))) +
               "," + std::to_string(LoadPropertyBoolean(Self.FindProperty("B")->Data)) + "," +
               std::string(LoadPropertyString(Self.FindProperty("S")->Data)) + "," +
               std::to_string(Integer(*Child, "I"));
    }
};

// Runs Function on a host of Stack's size whose top is Pointer, after Members.Reset().
std::string RunOn(TXScriptObjectFunction& Function, TMembers& Members, TXObject* Owner,
                  const std::vector<TXScriptVariable>& Stack, int32_t Pointer) {
    Members.Reset();
    TXScriptHost Host(int32_t(Stack.size()), Owner);
    for (size_t Slot = 0; Slot < Stack.size(); Slot++) Host.Stack[Slot] = Stack[Slot];
    Host.SetStackPosition(Pointer);
    TXScriptVariable Result;
    std::string Output = CaptureOutput([&] { Function.Execute(Host, Result); });
    std::string State = Output + "|" + Describe(Result) + "|" + std::to_string(Host.StackPointer) + "|";
    for (const TXScriptVariable& Slot : Host.Stack) State += Describe(Slot) + ",";
    return State + "|" + Members.Describe();
}

// Random member instructions, as written (combined where they can be) and with opNop
// between them (never combined), each run twice: the first run looks the members up, the
// second finds them remembered.
TEST(MemberSteps, LeaveWhatTheirInstructionsLeaveLookedUpOrRemembered) {
    TMembers Members;
    uint32_t Seed = 20261209;
    auto Next = [&Seed](uint32_t Range) {
        Seed = Seed * 1103515245u + 12345u;
        return int32_t((Seed >> 16) % Range);
    };
    const char* Names[] = {"I", "F", "B", "S", "CHILD", "H", "NONE"};
    for (int32_t Case = 0; Case < 3000; Case++) {
        std::vector<std::string> Instructions;
        for (int32_t Count = 2 + Next(5); Count > 0; Count--) {
            std::string Instruction;
            std::string Name = Names[Next(7)];
            switch (Next(9)) {
            case 0:
            case 1:
            case 2: AppendOp(Instruction, opPushSelf); break;
            case 3:
            case 4: AppendOpName(Instruction, opGetObjectValue, Name); break;
            case 5: AppendOpName(Instruction, opGetObjectChild, Name); break;
            case 6: AppendOpName(Instruction, opSetObjectChild, Name); break;
            case 7: AppendOpOperatorName(Instruction, opUpdateObjectChild, uint8_t(Next(7)), Name); break;
            default:
                if (Next(3))
                    AppendOpInt32(Instruction, opPushInt, Next(3) - 1);
                else
                    AppendOpFloat32(Instruction, opPushFloat, -1.5f);
                break;
            }
            Instructions.push_back(Instruction);
        }
        TXScriptObjectFunction Combined(nullptr, "__MAIN"), Single(nullptr, "__MAIN");
        for (size_t At = 0; At < Instructions.size(); At++) {
            Combined.Code += Instructions[At];
            if (At > 0) AppendOp(Single.Code, opNop);
            Single.Code += Instructions[At];
        }
        std::vector<TXScriptVariable> Stack;
        for (int32_t Slot = 3 + Next(4); Slot > 0; Slot--) {
            TXScriptVariable Value;
            switch (Next(5)) {
            case 0: Value.SetObject(&Members.Self); break;
            case 1: Value.SetObject(Members.Child); break;
            case 2: Value = TXScriptVariable::FromInteger(Next(2) ? 7 : INT32_MIN); break;
            case 3: Value = TXScriptVariable::FromText("AB"); break;
            default: Value = TXScriptVariable::FromFloat(0.5f); break;
            }
            Stack.push_back(Value);
        }
        int32_t Pointer = Next(uint32_t(Stack.size()));
        TXObject* Owner = Next(8) ? &Members.Self : nullptr;
        std::string Expected = RunOn(Single, Members, Owner, Stack, Pointer);
        std::string Where =
            "case " + std::to_string(Case) + ": " + testing::PrintToString(DisassembleCode(Combined.Code));
        ASSERT_EQ(RunOn(Single, Members, Owner, Stack, Pointer), Expected) << Where;
        ASSERT_EQ(RunOn(Combined, Members, Owner, Stack, Pointer), Expected) << Where;
        ASSERT_EQ(RunOn(Combined, Members, Owner, Stack, Pointer), Expected) << Where;
    }
}

} // namespace

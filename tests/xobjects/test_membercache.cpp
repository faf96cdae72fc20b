// Member look-ups that the interpreter remembers must follow the object tree: a property
// removed and declared again, another object under the same instruction, and new code in
// the place of freed code all read what the tree holds now.

#include "xobjects.h"

#include "xscriptcode.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

} // namespace

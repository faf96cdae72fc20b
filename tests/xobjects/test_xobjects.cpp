#include "xobjects.h"

#include "xguiobject.h"

#include "xrandom.h"
#include "xscriptvariable.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

std::vector<std::string>* DestroyedNames = nullptr;

// Records its name when destroyed, after its children.
class TTracked : public TXObject {
public:
    using TXObject::TXObject;
    ~TTracked() override {
        Destroy();
        if (DestroyedNames) DestroyedNames->push_back(std::string(Name.View()));
    }
};

// Its destructor throws after recording.
class TThrowing : public TTracked {
public:
    using TTracked::TTracked;
    ~TThrowing() noexcept(false) override { throw std::runtime_error("broken child"); }
};

// Taking a child out of it throws.
class TBrokenParent : public TXObject {
public:
    using TXObject::TXObject;
    ~TBrokenParent() override { Destroy(); }

protected:
    bool ForgetChild(std::string_view) override { throw std::runtime_error("broken list"); }
};

class ObjectTest : public testing::Test {
protected:
    void SetUp() override { DestroyedNames = &Destroyed; }
    void TearDown() override { DestroyedNames = nullptr; }
    std::vector<std::string> Destroyed;
};

using ObjectNames = ObjectTest;

TEST_F(ObjectNames, FortyCharactersAreStoredAsThirtyTwoAndFoundByTheFullName) {
    TXObject Parent(nullptr, "PARENT");
    std::string Long(40, 'N');
    Long[35] = 'X';
    auto* Child = new TXObject(&Parent, Long);
    EXPECT_EQ(Child->Name.View(), Long.substr(0, 32));
    TXProperty* Entry = Parent.FindProperty(Long);
    ASSERT_NE(Entry, nullptr);
    EXPECT_EQ(Entry->Kind, ptObject);
    EXPECT_EQ(Entry->Data, Child);
    EXPECT_EQ(Entry->Name.View(), Long.substr(0, 32));
}

TEST_F(ObjectNames, AnUnnamedObjectGetsAGeneratedNameAndOneLine) {
    std::unique_ptr<TXObject> Object;
    std::string Output = CaptureOutput([&] { Object = std::make_unique<TXObject>(nullptr, ""); });
    std::string Name(Object->Name.View());
    EXPECT_TRUE(std::regex_match(Name, std::regex("UNKNOWN_[0-7][0-9A-F]{3}"))) << Name;
    EXPECT_EQ(Output, "Created object with no name, renamed to " + Name + "\r\n");
}

TEST_F(ObjectNames, TheGeneratedNameComesFromTheProcessGenerator) {
    SetRandomSeed(12345);
    uint32_t Expected = Random(32768);
    SetRandomSeed(12345);
    std::unique_ptr<TXObject> Object;
    CaptureOutput([&] { Object = std::make_unique<TXObject>(nullptr, ""); });
    char Digits[8];
    std::snprintf(Digits, sizeof Digits, "%04X", Expected);
    EXPECT_EQ(Object->Name.View(), std::string("UNKNOWN_") + Digits);
}

using ObjectChildren = ObjectTest;

TEST_F(ObjectChildren, AChildIsAnObjectPropertyAndLeavesItWhenDestroyed) {
    TXObject Parent(nullptr, "PARENT");
    auto* Child = new TXObject(&Parent, "CHILD");
    EXPECT_EQ(Child->Parent, &Parent);
    EXPECT_EQ(Parent.PropertyCount(), 1);
    delete Child;
    EXPECT_EQ(Parent.FindProperty("CHILD"), nullptr);
    EXPECT_EQ(Parent.PropertyCount(), 0);
}

TEST_F(ObjectChildren, DestroyingATreeGoesChildrenFirstFromTheLast) {
    auto* Root = new TTracked(nullptr, "ROOT");
    auto* A = new TTracked(Root, "A");
    new TTracked(A, "A1");
    new TTracked(A, "A2");
    new TTracked(Root, "B");
    Root->DeclareInteger("VALUE");
    delete Root;
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"B", "A2", "A1", "A", "ROOT"}));
}

TEST_F(ObjectChildren, TheSecondOfTwoNamesakesIsNotRegisteredNorDestroyedByTheParent) {
    auto* Parent = new TTracked(nullptr, "PARENT");
    auto* First = new TTracked(Parent, "TWIN");
    auto* Second = new TTracked(Parent, "TWIN");
    EXPECT_EQ(Second->Parent, Parent);
    EXPECT_EQ(Parent->FindProperty("TWIN")->Data, First);
    EXPECT_EQ(Parent->PropertyCount(), 1);
    delete Parent;
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"TWIN", "PARENT"}));
    // The parent is gone; the second one no longer refers to it.
    EXPECT_EQ(Second->Parent, nullptr);
    delete Second;
}

TEST_F(ObjectChildren, DestroyingTheUnregisteredNamesakeLeavesTheFirstInPlace) {
    auto* Parent = new TTracked(nullptr, "PARENT");
    auto* First = new TTracked(Parent, "TWIN");
    delete new TTracked(Parent, "TWIN");
    EXPECT_EQ(Parent->FindProperty("TWIN")->Data, First);
    delete Parent;
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"TWIN", "TWIN", "PARENT"}));
}

TEST_F(ObjectChildren, LinkedObjectsAndValuesAreNotDestroyedByTheLinker) {
    auto* Owner = new TTracked(nullptr, "OWNER");
    auto* Child = new TTracked(Owner, "CHILD");
    auto* Width = static_cast<int32_t*>(Owner->DeclareInteger("WIDTH"));
    auto* Linker = new TTracked(nullptr, "LINKER");
    ASSERT_TRUE(Linker->AddProperty("C", ptObject, Child));
    ASSERT_TRUE(Linker->AddProperty("W", ptInteger, Width));
    ASSERT_TRUE(Linker->SetPropertyFromString("W", "77"));
    delete Linker;
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"LINKER"}));
    EXPECT_EQ(Owner->FindProperty("CHILD")->Data, Child);
    EXPECT_EQ(LoadPropertyInteger(Owner->FindProperty("WIDTH")->Data), 77);
    delete Owner;
}

TEST_F(ObjectChildren, AThrowingChildIsReportedAndTheWalkGoesOn) {
    auto* Parent = new TTracked(nullptr, "PARENT");
    new TTracked(Parent, "FIRST");
    new TThrowing(Parent, "BAD");
    new TTracked(Parent, "LAST");
    std::string Output = CaptureOutput([&] { delete Parent; });
    EXPECT_EQ(Output, "exception in PARENT.Destroy, deleting child 1/1\r\n");
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"LAST", "BAD", "FIRST", "PARENT"}));
}

TEST_F(ObjectChildren, AFailureOutsideAChildIsReportedAndDestructionCompletes) {
    auto* Parent = new TBrokenParent(nullptr, "PARENT");
    auto* Child = new TTracked(Parent, "CHILD");
    new TTracked(Child, "GRANDCHILD");
    std::string Output = CaptureOutput([&] { delete Child; });
    EXPECT_EQ(Output, "exception in CHILD.Destroy, 0\r\n");
    EXPECT_EQ(Destroyed, (std::vector<std::string>{"GRANDCHILD", "CHILD"}));
    EXPECT_EQ(Parent->FindProperty("CHILD"), nullptr);
    delete Parent;
}

TEST_F(ObjectChildren, RemoveChildReportsWhetherItDeletedAnything) {
    TXObject Parent(nullptr, "PARENT");
    auto* Child = new TXObject(&Parent, "CHILD");
    EXPECT_FALSE(RemoveChild(&Parent, "OTHER"));
    EXPECT_TRUE(RemoveChild(&Parent, "CHILD"));
    EXPECT_FALSE(RemoveChild(&Parent, "CHILD"));
    EXPECT_FALSE(RemoveChild(nullptr, "CHILD"));
    delete Child;
}

TEST(ObjectProperties, DeclarationsTakeTheirSizesAndStartEmpty) {
    TXObject Object(nullptr, "O");
    auto* Integer = static_cast<unsigned char*>(Object.DeclareInteger("I"));
    auto* Float = static_cast<unsigned char*>(Object.DeclareFloat("F"));
    auto* Boolean = static_cast<unsigned char*>(Object.DeclareBoolean("B"));
    auto* String = static_cast<unsigned char*>(Object.DeclareString("S"));
    auto* After = static_cast<unsigned char*>(Object.DeclareInteger("AFTER"));
    EXPECT_EQ(Float - Integer, 4);
    EXPECT_EQ(Boolean - Float, 4);
    EXPECT_EQ(String - Boolean, 1);
    EXPECT_EQ(After - String, 256);
    EXPECT_EQ(LoadPropertyInteger(Integer), 0);
    EXPECT_EQ(LoadPropertyFloat(Float), 0.0f);
    EXPECT_FALSE(LoadPropertyBoolean(Boolean));
    EXPECT_EQ(LoadPropertyString(String), "");
    const char* Names[] = {"I", "F", "B", "S", "AFTER"};
    const uint8_t Kinds[] = {ptInteger, ptFloat, ptBoolean, ptString, ptInteger};
    for (int32_t Index = 0; Index < 5; Index++) {
        TXProperty* Property = Object.PropertyByIndex(Index);
        ASSERT_NE(Property, nullptr);
        EXPECT_EQ(Property->Name.View(), Names[Index]);
        EXPECT_EQ(Property->Kind, Kinds[Index]);
    }
    EXPECT_EQ(Object.PropertyByIndex(-1), nullptr);
    EXPECT_EQ(Object.PropertyByIndex(5), nullptr);
}

TEST(ObjectProperties, ATakenNameRefusesTheEntryButKeepsTheBytes) {
    TXObject Object(nullptr, "O");
    int32_t Value = 5;
    EXPECT_TRUE(Object.AddProperty("X", ptInteger, &Value));
    EXPECT_FALSE(Object.AddProperty("X", ptFloat, nullptr));
    EXPECT_FALSE(Object.AddProperty("", ptInteger, &Value));
    auto* Refused = static_cast<unsigned char*>(Object.DeclareString("X"));
    ASSERT_NE(Refused, nullptr);
    auto* Next = static_cast<unsigned char*>(Object.DeclareInteger("Y"));
    EXPECT_EQ(Next - Refused, 256);
    EXPECT_EQ(Object.PropertyCount(), 2);
    EXPECT_EQ(Object.FindProperty("X")->Data, &Value);
}

TEST(ObjectProperties, TheSixteenthStringIsRefusedAndTheSeventeenthAccepted) {
    TXObject Object(nullptr, "O");
    for (int32_t Index = 1; Index <= 15; Index++)
        ASSERT_NE(Object.DeclareString("S" + std::to_string(Index)), nullptr);
    void* Sixteenth = nullptr;
    std::string Output = CaptureOutput([&] { Sixteenth = Object.DeclareString("S16"); });
    EXPECT_EQ(Sixteenth, nullptr);
    EXPECT_EQ(Output, "Resizing buffer: 4096 + 1024, 256 needed.\r\n");
    EXPECT_EQ(Object.FindProperty("S16"), nullptr);
    EXPECT_NE(Object.DeclareString("S17"), nullptr);
    EXPECT_EQ(Object.PropertyCount(), 16);
}

using PropertyText = testing::Test;

TEST_F(PropertyText, IntegersTakeSignDigitsAndHexadecimalPrefixes) {
    TXObject Object(nullptr, "O");
    void* Data = Object.DeclareInteger("I");
    struct {
        const char* Text;
        int32_t Value;
    } Good[] = {{"42", 42}, {"-7", -7}, {"+5", 5}, {"$1F", 31}, {"0x1F", 31}, {"-2147483648", INT32_MIN}};
    for (auto& Case : Good) {
        EXPECT_TRUE(Object.SetPropertyFromString("I", Case.Text)) << Case.Text;
        EXPECT_EQ(LoadPropertyInteger(Data), Case.Value) << Case.Text;
    }
    for (const char* Bad : {"1.5", "abc", "", "12x", "2147483648", "-"}) {
        EXPECT_FALSE(Object.SetPropertyFromString("I", Bad)) << Bad;
        EXPECT_EQ(LoadPropertyInteger(Data), INT32_MIN) << Bad;
    }
}

TEST_F(PropertyText, FloatsTakeSignDigitsAndOnePointWhateverTheLocale) {
    TXObject Object(nullptr, "O");
    void* Data = Object.DeclareFloat("F");
    std::string Saved = std::setlocale(LC_NUMERIC, nullptr);
    for (const char* Locale : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"})
        if (std::setlocale(LC_NUMERIC, Locale)) break;
    EXPECT_TRUE(Object.SetPropertyFromString("F", "1.5"));
    EXPECT_EQ(LoadPropertyFloat(Data), 1.5f);
    EXPECT_TRUE(Object.SetPropertyFromString("F", "-2"));
    EXPECT_EQ(LoadPropertyFloat(Data), -2.0f);
    EXPECT_TRUE(Object.SetPropertyFromString("F", "+0.25"));
    EXPECT_EQ(LoadPropertyFloat(Data), 0.25f);
    for (const char* Bad : {"1,5", "1.2.3", "", "x", "."}) {
        EXPECT_FALSE(Object.SetPropertyFromString("F", Bad)) << Bad;
        EXPECT_EQ(LoadPropertyFloat(Data), 0.25f) << Bad;
    }
    std::setlocale(LC_NUMERIC, Saved.c_str());
}

TEST_F(PropertyText, TrueInAnyCaseSetsABooleanAndAnythingElseClearsIt) {
    TXObject Object(nullptr, "O");
    void* Data = Object.DeclareBoolean("B");
    for (const char* Text : {"TRUE", "true", "TrUe"}) {
        StorePropertyBoolean(Data, false);
        EXPECT_TRUE(Object.SetPropertyFromString("B", Text));
        EXPECT_EQ(*static_cast<uint8_t*>(Data), 1) << Text;
    }
    for (const char* Text : {"1", "YES", "TRUE ", ""}) {
        StorePropertyBoolean(Data, true);
        EXPECT_TRUE(Object.SetPropertyFromString("B", Text));
        EXPECT_EQ(*static_cast<uint8_t*>(Data), 0) << Text;
    }
}

TEST_F(PropertyText, AStringKeepsItsFirst255Characters) {
    TXObject Object(nullptr, "O");
    auto* Data = static_cast<unsigned char*>(Object.DeclareString("S"));
    std::string Long(300, 'a');
    for (size_t Index = 0; Index < Long.size(); Index++) Long[Index] = char('a' + Index % 26);
    EXPECT_TRUE(Object.SetPropertyFromString("S", Long));
    EXPECT_EQ(Data[0], 255);
    EXPECT_EQ(LoadPropertyString(Data), Long.substr(0, 255));
    EXPECT_TRUE(Object.SetPropertyFromString("S", "Mixed Case"));
    EXPECT_EQ(LoadPropertyString(Data), "Mixed Case");
}

TEST_F(PropertyText, ObjectsRefuseTextAndFunctionsTakeAScriptName) {
    TXObject Object(nullptr, "O");
    auto* Child = new TXObject(&Object, "CHILD");
    EXPECT_FALSE(Object.SetPropertyFromString("CHILD", "X"));
    EXPECT_EQ(Object.FindProperty("CHILD")->Data, Child);
    EXPECT_FALSE(Object.SetPropertyFromString("MISSING", "1"));
    TXHandler Handler;
    Handler.Kind = hkProcedure;
    ASSERT_TRUE(Object.AddProperty("ONCLICK", ptFunction, &Handler));
    EXPECT_TRUE(Object.SetPropertyFromString("ONCLICK", std::string(40, 'F')));
    EXPECT_EQ(Handler.Kind, hkScriptName);
    EXPECT_EQ(Handler.FuncName.View(), std::string(32, 'F'));
    ASSERT_TRUE(Object.AddProperty("NOWHERE", ptInteger, nullptr));
    EXPECT_FALSE(Object.SetPropertyFromString("NOWHERE", "1"));
    int32_t Odd = 0;
    ASSERT_TRUE(Object.AddProperty("ODD", 9, &Odd));
    EXPECT_TRUE(Object.SetPropertyFromString("ODD", "1"));
    EXPECT_EQ(Odd, 0);
}

bool PassedParameter(void* Parameter) {
    return *static_cast<int*>(Parameter) == 42;
}

class TCounter : public TXObject {
public:
    using TXObject::TXObject;
    bool Handle(void* Parameter) {
        Calls++;
        return Parameter != nullptr;
    }
    int Calls = 0;
};

TEST(Handlers, ARecordIs64ZeroBytes) {
    EXPECT_EQ(sizeof(TXHandler), 64u);
    alignas(TXHandler) unsigned char Bytes[sizeof(TXHandler)];
    std::memset(Bytes, 0xAB, sizeof Bytes);
    auto* Handler = new (Bytes) TXHandler;
    unsigned char Zero[sizeof(TXHandler)] = {};
    EXPECT_EQ(std::memcmp(Bytes, Zero, sizeof Bytes), 0);
    Handler->~TXHandler();
}

TEST(Handlers, EachKindCallsItsOwnRoutine) {
    TCounter Object(nullptr, "O");
    int Parameter = 42;
    TXHandler Handler;
    EXPECT_TRUE(Object.CallFunction(Handler, nullptr));
    Handler.Kind = hkProcedure;
    Handler.Proc = PassedParameter;
    EXPECT_TRUE(Object.CallFunction(Handler, &Parameter));
    Parameter = 1;
    EXPECT_FALSE(Object.CallFunction(Handler, &Parameter));
    TCounter Target(nullptr, "T");
    Handler.Kind = hkMethod;
    Handler.Code = MethodCode<&TCounter::Handle>;
    Handler.Data = &Target;
    EXPECT_TRUE(Object.CallFunction(Handler, &Parameter));
    EXPECT_FALSE(Object.CallFunction(Handler, nullptr));
    EXPECT_EQ(Target.Calls, 2);
    EXPECT_EQ(Object.Calls, 0);
    Handler.Kind = 5;
    EXPECT_FALSE(Object.CallFunction(Handler, &Parameter));
    Handler.Kind = 200;
    EXPECT_FALSE(Object.CallFunction(Handler, &Parameter));
    TXHandler Empty;
    Empty.Kind = hkProcedure;
    EXPECT_FALSE(Object.CallFunction(Empty, &Parameter));
}

TEST(Handlers, AScriptNameWithoutAScriptAnywhereUpTheChainIsAnError) {
    TXObject Root(nullptr, "ROOT");
    auto* Child = new TXObject(&Root, "CHILD");
    TXHandler Handler;
    Handler.Kind = hkScriptName;
    Handler.FuncName.Assign("ONCLICK");
    bool Result = true;
    std::string Output = CaptureOutput([&] { Result = Child->CallFunction(Handler, nullptr); });
    EXPECT_FALSE(Result);
    EXPECT_EQ(Output, "callfunction error\r\n");
    EXPECT_EQ(Handler.Kind, hkScriptName);
}

TXObject* BuildNothing(std::string_view, TXObject*, std::string_view, std::string_view) {
    return nullptr;
}

TEST(ObjectTypes, ObjectIsRegisteredAtStartUpAndTheFirstRegistrationStays) {
    ASSERT_NE(ObjectTypes, nullptr);
    EXPECT_EQ(FindObjectType("OBJECT"), &CreateBaseObject);
    EXPECT_EQ(FindObjectType("object"), nullptr);
    EXPECT_EQ(FindObjectType("BUTTON"), nullptr);
    EXPECT_FALSE(RegisterObjectType("OBJECT", BuildNothing));
    EXPECT_EQ(FindObjectType("OBJECT"), &CreateBaseObject);
    EXPECT_FALSE(RegisterObjectType("", BuildNothing));
    EXPECT_FALSE(RegisterObjectType("NOTHING", nullptr));
    EXPECT_TRUE(RegisterObjectType("NOTHING", BuildNothing));
    EXPECT_EQ(FindObjectType("NOTHING"), &BuildNothing);
}

TEST(ObjectTypes, TheBaseFactoryBuildsOnlyObjects) {
    TXObject Parent(nullptr, "PARENT");
    TXObject* Child = CreateBaseObject("OBJECT", &Parent, "", "CHILD");
    ASSERT_NE(Child, nullptr);
    EXPECT_EQ(Child->Parent, &Parent);
    EXPECT_EQ(Child->Name.View(), "CHILD");
    EXPECT_EQ(Parent.FindProperty("CHILD")->Data, Child);
    EXPECT_EQ(CreateBaseObject("BUTTON", &Parent, "", "OTHER"), nullptr);
    EXPECT_EQ(Parent.PropertyCount(), 1);
}

TEST(ObjectTypes, ScriptValuesReadObjectNamesAndProperties) {
    TXObject Object(nullptr, "SELF");
    void* Data = Object.DeclareInteger("COUNT");
    TXScriptVariable Value;
    Value.SetObject(&Object);
    EXPECT_EQ(Value.AsText(), "SELF");
    uint8_t Kind = 99;
    void* Found = nullptr;
    EXPECT_TRUE(FindObjectProperty(&Object, "COUNT", Kind, Found));
    EXPECT_EQ(Kind, ptInteger);
    EXPECT_EQ(Found, Data);
    EXPECT_FALSE(FindObjectProperty(&Object, "OTHER", Kind, Found));
    EXPECT_FALSE(FindObjectProperty(nullptr, "COUNT", Kind, Found));
}

} // namespace

namespace {

TEST(ObjectTypes, TheRegistryLivesFromTheModulesStartUpToItsShutDown) {
    std::string Output;
    if (FILE* Pipe = popen(STARTUP_PROBE, "r")) {
        char Buffer[4096];
        size_t Read;
        while ((Read = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Output.append(Buffer, Read);
        pclose(Pipe);
    }
    EXPECT_EQ(Output, "0\r\n"
                      "below start none\r\n"
                      "above start OBJECT\r\n"
                      "main OBJECT\r\n"
                      "above stop OBJECT\r\n"
                      "below stop none\r\n");
}

} // namespace

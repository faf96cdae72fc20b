#include "xobjects.h"

#include "xlogging.h"
#include "xrandom.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"
#include "xscriptvariable.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

std::string_view CutName(std::string_view Text) {
    return Text.substr(0, std::min(Text.size(), size_t(ObjectNameLength)));
}

std::string UnknownName() {
    char Digits[8];
    std::snprintf(Digits, sizeof Digits, "%04X", static_cast<unsigned>(Random(32768)));
    return std::string("UNKNOWN_") + Digits;
}

bool EqualsUpperCase(std::string_view Text, std::string_view Upper) {
    if (Text.size() != Upper.size()) return false;
    for (size_t Index = 0; Index < Text.size(); Index++) {
        char Character = Text[Index];
        if (Character >= 'a' && Character <= 'z') Character = char(Character - 'a' + 'A');
        if (Character != Upper[Index]) return false;
    }
    return true;
}

bool ReadObjectName(const TXObject* Object, std::string_view& Name) {
    if (!Object) return false;
    Name = Object->Name.View();
    return true;
}

bool FindPropertyForScript(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data) {
    // A value property without storage reads and stores as none.
    TXProperty* Property = Object->FindProperty(Name);
    if (!Property || (!Property->Data && Property->Kind != ptObject)) return false;
    Kind = Property->Kind;
    Data = Property->Data;
    return true;
}

// The handler's function with the root's variables one frame up, the root frame at slot 0;
// the result is discarded.
void RunScriptHandler(const TXHandler& Handler) {
    if (Handler.Func && Handler.Host) ExecuteHandler(*Handler.Func, *Handler.Host);
}

} // namespace

TXObject::TXObject(TXObject* InitialParent, std::string_view InitialName)
    : Properties(std::make_unique<TItemList>(int32_t(sizeof(TXProperty)))),
      Storage(std::make_unique<TXMemory>(ObjectStorageCapacity, ObjectStorageGrowth)) {
    Parent = InitialParent;
    if (!InitialName.empty())
        Name.Assign(InitialName);
    else {
        std::string Generated = UnknownName();
        Name.Assign(Generated);
        LogLine(1, "Created object with no name, renamed to " + Generated);
    }
    Initialize();
    if (Parent && !Parent->AddProperty(Name.View(), ptObject, this)) Parent->UnlistedChildren.push_back(this);
}

TXObject::~TXObject() noexcept(false) {
    Destroy();
}

void TXObject::Initialize() {}

bool TXObject::ForgetChild(std::string_view) {
    return false;
}

bool TXObject::ListsChild(const TXObject&) const {
    return false;
}

void TXObject::DestroyListedChildren() {}

bool TXObject::OwnsChild(const TXObject& Child) const {
    if (Child.Parent != this) return false;
    TXProperty* Entry = FindProperty(Child.Name.View());
    return (Entry && Entry->Kind == ptObject && Entry->Data == &Child) || ListsChild(Child);
}

void TXObject::Destroy() {
    if (Destroyed) return;
    Destroyed = true;
    // Each step is guarded on its own, so a failure in one still lets the others run.
    int32_t Index = 0;
    auto Report = [this, &Index] {
        LogLine(9, "exception in " + std::string(Name.View()) + ".Destroy, " + std::to_string(Index));
    };
    try {
        if (Parent) {
            TXProperty* Entry = Parent->FindProperty(Name.View());
            if (Entry && Entry->Kind == ptObject && Entry->Data == this) {
                RemoveChild(Parent, Name.View());
            } else {
                std::erase(Parent->UnlistedChildren, this);
                if (Parent->ListsChild(*this)) Parent->ForgetChild(Name.View());
            }
        }
    } catch (...) {
        Report();
    }
    try {
        DestroyChildren(Index);
    } catch (...) {
        Report();
    }
    try {
        DestroyListedChildren();
    } catch (...) {
        Report();
    }
    Index = -1;
    for (TXObject* Child : UnlistedChildren) Child->Parent = nullptr;
    UnlistedChildren.clear();
    Properties.reset();
    Storage.reset();
    PropertyLayoutChanged();
}

void TXObject::DestroyChildren(int32_t& Index) {
    for (Index = PropertyCount() - 1; Index >= 0; Index--) {
        TXProperty* Property = PropertyByIndex(Index);
        if (!Property || Property->Kind != ptObject) continue;
        auto* Child = static_cast<TXObject*>(Property->Data);
        // A link to a child is not its entry; the walk reaches the child through that.
        if (!Child || Child->Parent != this || Property->Name.View() != Child->Name.View()) continue;
        try {
            delete Child;
        } catch (...) {
            LogLine(9, "exception in " + std::string(Name.View()) + ".Destroy, deleting child " +
                           std::to_string(Index) + "/" + std::to_string(PropertyCount()));
        }
    }
}

bool TXObject::AddProperty(std::string_view PropertyName, uint8_t Kind, void* Data) {
    if (!Properties) return false;
    TXProperty Property;
    std::string_view Key = CutName(PropertyName);
    Property.Name.Assign(Key);
    Property.Kind = Kind;
    Property.Data = Data;
    PropertyLayoutChanged();
    return Properties->Add(Key, &Property);
}

void* TXObject::DeclareValue(std::string_view PropertyName, TXPropertyKind Kind, int32_t Size) {
    void* Data = Alloc(Storage.get(), Size);
    if (!Data) return nullptr;
    std::memset(Data, 0, size_t(Size));
    AddProperty(PropertyName, Kind, Data);
    return Data;
}

void* TXObject::DeclareInteger(std::string_view PropertyName) {
    return DeclareValue(PropertyName, ptInteger, sizeof(int32_t));
}

void* TXObject::DeclareFloat(std::string_view PropertyName) {
    void* Data = DeclareValue(PropertyName, ptFloat, sizeof(float));
    if (Data) StorePropertyFloat(Data, 0.0f);
    return Data;
}

void* TXObject::DeclareBoolean(std::string_view PropertyName) {
    return DeclareValue(PropertyName, ptBoolean, 1);
}

void* TXObject::DeclareString(std::string_view PropertyName) {
    return DeclareValue(PropertyName, ptString, PropertyStringSize);
}

TXProperty* TXObject::FindProperty(std::string_view PropertyName) const {
    if (!Properties) return nullptr;
    return static_cast<TXProperty*>(Properties->Find(CutName(PropertyName)));
}

TXProperty* TXObject::PropertyByIndex(int32_t Index) const {
    if (!Properties) return nullptr;
    TItemNode* Node = Properties->GetItem(Index);
    return Node ? static_cast<TXProperty*>(Node->Payload()) : nullptr;
}

bool TXObject::SetPropertyFromString(std::string_view PropertyName, std::string_view Value) {
    TXProperty* Property = FindProperty(PropertyName);
    if (!Property || !Property->Data) return false;
    switch (Property->Kind) {
    case ptInteger: {
        int32_t Number;
        if (!ParseScriptInteger(Value, Number)) return false;
        StorePropertyInteger(Property->Data, Number);
        return true;
    }
    case ptFloat: {
        float Number;
        if (!ParseScriptFloat(Value, Number)) return false;
        StorePropertyFloat(Property->Data, Number);
        return true;
    }
    case ptBoolean: StorePropertyBoolean(Property->Data, EqualsUpperCase(Value, "TRUE")); return true;
    case ptString: StorePropertyString(Property->Data, Value); return true;
    case ptObject: return false;
    case ptFunction: {
        auto* Handler = static_cast<TXHandler*>(Property->Data);
        Handler->Kind = hkScriptName;
        Handler->FuncName.Assign(Value);
        return true;
    }
    default: return true;
    }
}

bool TXObject::CallFunction(TXHandler& Handler, void* Parameter) {
    // The common case first, without the others' entry costs.
    if (Handler.Kind == hkScriptFunction) [[likely]] {
        RunScriptHandler(Handler);
        return false;
    }
    switch (Handler.Kind) {
    case hkNone: return true;
    case hkProcedure: return Handler.Proc ? Handler.Proc(Parameter) : false;
    case hkMethod: return Handler.Code ? Handler.Code(Handler.Data, Parameter) : false;
    case hkScriptName: {
        TXObject* Owner = this;
        while (!Owner->ScriptFunction() && Owner->Parent) Owner = Owner->Parent;
        TXScriptObjectFunction* Main = Owner->ScriptFunction();
        TXScriptHost* Host = Owner->ScriptHost();
        if (!Main || !Host) {
            LogLine(2, "callfunction error");
            return false;
        }
        TXScriptObjectFunction* Function = Main->FunctionAt(Main->FindFunction(Handler.FuncName.View()));
        if (!Function) return false;
        Handler.Func = Function;
        Handler.Host = Host;
        Handler.Kind = hkScriptFunction;
        RunScriptHandler(Handler);
        return false;
    }
    case hkScriptFunction: RunScriptHandler(Handler); return false;
    default: return false;
    }
}

bool RemoveChild(TXObject* Parent, std::string_view ChildName) {
    if (!Parent) return false;
    std::string_view Key = CutName(ChildName);
    bool Deleted = Parent->Properties && Parent->Properties->Delete(Key);
    PropertyLayoutChanged();
    if (Parent->ForgetChild(Key)) Deleted = true;
    return Deleted;
}

TItemList* ObjectTypes = nullptr;

bool RegisterObjectType(std::string_view TypeName, TXObjectFactory Factory) {
    if (!ObjectTypes || !Factory) return false;
    return ObjectTypes->Add(CutName(TypeName), &Factory);
}

TXObjectFactory FindObjectType(std::string_view TypeName) {
    if (!ObjectTypes) return nullptr;
    void* Entry = ObjectTypes->Find(CutName(TypeName));
    if (!Entry) return nullptr;
    TXObjectFactory Factory;
    std::memcpy(&Factory, Entry, sizeof Factory);
    return Factory;
}

void StartObjects() {
    ObjectTypes = new TItemList(int32_t(sizeof(TXObjectFactory)));
    SetObjectNameReader(ReadObjectName);
    SetPropertyFinder(FindPropertyForScript);
}

void StopObjects() {
    SetPropertyFinder(nullptr);
    SetObjectNameReader(nullptr);
    delete ObjectTypes;
    ObjectTypes = nullptr;
}

#include "xscriptmembers.h"

#include "xlogging.h"

#include <algorithm>
#include <atomic>
#include <cstring>

// Object members as script code sees them: properties found through the routine the object
// model registers, read into values and written from them.

namespace {

std::atomic<TXPropertyFinder> PropertyFinder{nullptr};

constexpr std::string_view ObjectNotFoundMessage = "SetObjectChild - object not found";
constexpr std::string_view BypassedMessage = "SetObjectChild bypassed";
constexpr size_t MemberNameLength = 255;

// The object a member instruction works on, or null when the value is not one.
inline TXObject* TargetObject(const TXScriptVariable& Value) {
    return Value.kind == vkObject ? static_cast<TXObject*>(Value.reference) : nullptr;
}

inline std::string_view MemberName(std::string_view Name) {
    return Name.size() > MemberNameLength ? Name.substr(0, MemberNameLength) : Name;
}

} // namespace

namespace xscriptinterpreter {

std::atomic<uint64_t> PropertyLayout{0};
constinit thread_local TXMemberCacheEntry MemberCache[MemberCacheSize];

namespace {

// FindObjectProperty for the member that Place names, remembered for the quick forms.
inline bool FindMember(TXObject* Object, const TXStep* Place, std::string_view Name, uint8_t& Kind,
                       void*& Data) {
    uint64_t Layout;
    const TXMemberCacheEntry* Entry = RememberedMember(Object, Place, Layout);
    if (Entry && Entry->Tag - Layout < LayoutStep) {
        Kind = uint8_t(Entry->Tag - Layout);
        Data = Entry->Data;
        return true;
    }
    if (!FindObjectProperty(Object, MemberName(Name), Kind, Data)) return false;
    MemberCacheEntry(Object, Place) = {Object, Place, Layout + Kind, Data};
    return true;
}

} // namespace

} // namespace xscriptinterpreter

void SetPropertyFinder(TXPropertyFinder Finder) {
    PropertyFinder.store(Finder, std::memory_order_release);
    PropertyLayoutChanged();
}

void PropertyLayoutChanged() {
    xscriptinterpreter::PropertyLayout.fetch_add(xscriptinterpreter::LayoutStep, std::memory_order_acq_rel);
}

bool FindObjectProperty(TXObject* Object, std::string_view Name, uint8_t& Kind, void*& Data) {
    TXPropertyFinder Finder = PropertyFinder.load(std::memory_order_acquire);
    return Object && Finder && Finder(Object, Name, Kind, Data);
}

namespace xscriptinterpreter {

void GetObjectChild(TXScriptVariable& Target, const TXStep* Place, std::string_view Name) {
    uint8_t Kind;
    void* Data;
    TXObject* Object = TargetObject(Target);
    if (Object && FindMember(Object, Place, Name, Kind, Data) && Kind == ptObject)
        Target.SetObject(static_cast<TXObject*>(Data));
    else
        SetTextValue(Target, UndefinedText());
}

void GetObjectValue(TXScriptVariable& Target, const TXStep* Place, std::string_view Name) {
    TXObject* Object = TargetObject(Target);
    if (!Object) return;
    uint8_t Kind;
    void* Data;
    if (!FindMember(Object, Place, Name, Kind, Data)) {
        SetTextValue(Target, UndefinedText());
        return;
    }
    switch (Kind) {
    case ptInteger: SetIntegerValue(Target, LoadPropertyInteger(Data)); break;
    case ptFloat: Target.SetFloat(LoadPropertyFloat(Data)); break;
    case ptBoolean: SetIntegerValue(Target, LoadPropertyBoolean(Data) ? 1 : 0); break;
    case ptString:
        Target.kind = vkString;
        Target.text.Assign(LoadPropertyString(Data));
        break;
    case ptObject: Target.SetObject(static_cast<TXObject*>(Data)); break;
    case ptFunction: SetTextValue(Target, UndefinedText()); break;
    default: break;
    }
}

bool UpdateObjectChild(const TXScriptVariable& Target, const TXStep* Place, std::string_view Name,
                       const TXScriptVariable& Value, uint8_t Operator) {
    TXObject* Object = TargetObject(Target);
    if (!Object) {
        LogLine(AlertLevel, ObjectNotFoundMessage);
        return false;
    }
    uint8_t Kind;
    void* Data;
    if (!FindMember(Object, Place, Name, Kind, Data)) return true;
    switch (Kind) {
    case ptInteger: {
        int32_t Stored = LoadPropertyInteger(Data), Right = Value.AsInteger();
        switch (Operator) {
        case uoAssign: Stored = Right; break;
        case uoAdd: Stored = IntegerAdd(Stored, Right); break;
        case uoSubtract: Stored = IntegerSubtract(Stored, Right); break;
        case uoDivide: Stored = IntegerDivide(Stored, Right); break;
        case uoMultiply: Stored = IntegerMultiply(Stored, Right); break;
        case uoModulo: Stored = IntegerModulo(Stored, Right); break;
        default: return true;
        }
        StorePropertyInteger(Data, Stored);
        break;
    }
    case ptFloat: {
        float Stored = LoadPropertyFloat(Data), Right = Value.AsFloat();
        switch (Operator) {
        case uoAssign: Stored = Right; break;
        case uoAdd: Stored = Stored + Right; break;
        case uoSubtract: Stored = Stored - Right; break;
        case uoDivide: Stored = Stored / Right; break;
        case uoMultiply: Stored = Stored * Right; break;
        case uoModulo: Stored = FloatModulo(Stored, Right); break;
        default: return true;
        }
        StorePropertyFloat(Data, Stored);
        break;
    }
    case ptBoolean: StorePropertyBoolean(Data, Value.AsInteger() != 0); break;
    case ptString: {
        TXScriptTextScratch Scratch;
        std::string_view Text = Value.ViewText(Scratch);
        if (Operator == uoAdd) {
            auto* Bytes = static_cast<char*>(Data);
            size_t Length = static_cast<uint8_t>(Bytes[0]);
            size_t Added = std::min(Text.size(), size_t(PropertyStringLength) - Length);
            std::memcpy(Bytes + 1 + Length, Text.data(), Added);
            Bytes[0] = static_cast<char>(static_cast<uint8_t>(Length + Added));
        } else {
            StorePropertyString(Data, Text);
        }
        break;
    }
    case ptObject:
    case ptFunction: LogLine(AlertLevel, BypassedMessage); break;
    default: break;
    }
    return true;
}

} // namespace xscriptinterpreter

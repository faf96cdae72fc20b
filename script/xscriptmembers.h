#pragma once

// The member instructions' quick forms for the run loop: look-ups remembered per thread, read
// and written without a call when they hit and the value is a number (or, followed, a
// child). Anything else goes the long way (GetObjectValue and the others of
// xscriptobjectaccess.cpp).

#include "xscriptexecution.h"

#include <atomic>
#include <cstdint>

namespace xscriptinterpreter {

// Member look-ups of the run loop, remembered per thread by object and by the step of the
// instruction that names the member (the decoded code keeps its steps until its function
// goes), as long as no property was added or removed, no object went and no code was freed
// since: each of those moves PropertyLayout on, by LayoutStep, so that an entry's Tag holds
// the layout it was made in and the member's kind beneath it, checked in one comparison.
extern std::atomic<uint64_t> PropertyLayout;
constexpr uint64_t LayoutStep = 256;

struct TXMemberCacheEntry {
    const void* Object = nullptr;
    const TXStep* Place = nullptr;
    uint64_t Tag = 0;
    void* Data = nullptr;
};
constexpr size_t MemberCacheSize = 256;
extern constinit thread_local TXMemberCacheEntry MemberCache[MemberCacheSize];

// Steps lie 40 bytes apart (28 on 32-bit machines) and objects further: the key's bits from
// the fourth (the third) up tell them apart.
constexpr int MemberKeyShift = sizeof(TXStep) >= 32 ? 3 : 2;

XINLINE inline TXMemberCacheEntry& MemberCacheEntry(const void* Object, const TXStep* Place) {
    uintptr_t Key = reinterpret_cast<uintptr_t>(Object) ^ reinterpret_cast<uintptr_t>(Place);
    return MemberCache[(Key >> MemberKeyShift) % MemberCacheSize];
}

// The entry that remembers the member Place names on Object, or null; Layout gets the
// current layout, which the entry's Tag holds plus the member's kind when it is current.
XINLINE inline const TXMemberCacheEntry* RememberedMember(const void* Object, const TXStep* Place,
                                                          uint64_t& Layout) {
    Layout = PropertyLayout.load(std::memory_order_acquire);
    const TXMemberCacheEntry& Entry = MemberCacheEntry(Object, Place);
    if (Entry.Object == Object && Entry.Place == Place) [[likely]]
        return &Entry;
    return nullptr;
}

XINLINE inline void SetObjectValue(TXScriptVariable& Value, TXObject* Object) {
    Value.kind = vkObject;
    Value.reference = Object;
    if (!Value.text.Empty()) Value.text.Clear();
}

// opGetObjectValue's read into Value of the member Entry remembers, when it is a number
// of the current layout; false, with nothing changed, otherwise.
XINLINE inline bool LoadRememberedNumber(TXScriptVariable& Value, const TXMemberCacheEntry& Entry,
                                         uint64_t Layout) {
    if (Entry.Tag == Layout + ptInteger) [[likely]] {
        SetIntegerValue(Value, LoadPropertyInteger(Entry.Data));
        return true;
    }
    if (Entry.Tag != Layout + ptFloat) return false;
    Value.kind = vkFloat;
    Value.floatValue = LoadPropertyFloat(Entry.Data);
    if (!Value.text.Empty()) Value.text.Clear();
    return true;
}

// opGetObjectValue on Target when Place's member of the object is remembered as a number;
// false, with nothing changed, otherwise.
XINLINE inline bool ReadRememberedNumber(TXScriptVariable& Target, const TXStep* Place) {
    uint64_t Layout;
    if (Target.kind != vkObject) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, Layout);
    return Entry && LoadRememberedNumber(Target, *Entry, Layout);
}

// opGetObjectChild on Target when Place's member of the object is remembered as a child.
XINLINE inline bool FollowRememberedChild(TXScriptVariable& Target, const TXStep* Place) {
    uint64_t Layout;
    if (Target.kind != vkObject) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, Layout);
    if (!Entry || Entry->Tag != Layout + ptObject) return false;
    SetObjectValue(Target, static_cast<TXObject*>(Entry->Data));
    return true;
}

// opSetObjectChild (uoAssign) or opUpdateObjectChild of a number into a number member that
// Place names on the object beneath it, when it is remembered: both are popped. False, with
// nothing changed, otherwise and for the operators that may fault.
XINLINE inline bool StoreRememberedNumber(const TXScriptVariable* Slots, int32_t Size, int32_t& Sp,
                                          const TXStep* Place, uint8_t Operator) {
    int32_t Below = SlotBelow(Sp, Size);
    const TXScriptVariable &Target = Slots[Below], &Value = Slots[Sp];
    uint64_t Layout;
    if (Target.kind != vkObject || Operator > uoSubtract) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, Layout);
    if (!Entry) return false;
    if (Entry->Tag == Layout + ptInteger && Value.kind == vkInteger) [[likely]] {
        int32_t Stored = LoadPropertyInteger(Entry->Data);
        Stored = Operator == uoAssign ? Value.intValue
                 : Operator == uoAdd  ? IntegerAdd(Stored, Value.intValue)
                                      : IntegerSubtract(Stored, Value.intValue);
        StorePropertyInteger(Entry->Data, Stored);
    } else if (Entry->Tag == Layout + ptFloat && (Value.kind == vkFloat || Value.kind == vkInteger)) {
        float Stored = LoadPropertyFloat(Entry->Data), Right = Value.AsFloat();
        Stored = Operator == uoAssign ? Right : Operator == uoAdd ? Stored + Right : Stored - Right;
        StorePropertyFloat(Entry->Data, Stored);
    } else {
        return false;
    }
    Sp = SlotBelow(Below, Size);
    return true;
}

// opPushSelf (twice with Twice), then opGetObjectValue (Read) or opGetObjectChild, named by
// Place, when the member is remembered as a number (a child): the slots are left as the
// instructions leave them. False, with nothing changed, otherwise or when a push would
// overflow.
template <bool Read, bool Twice>
XINLINE inline bool PushRememberedMember(const TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size,
                                         int32_t& Sp, const TXStep* Place) {
    TXObject* Owner = Host.Owner;
    uint64_t Layout;
    if (Sp + (Twice ? 2 : 1) >= Size) return false; // a null owner is never remembered
    const TXMemberCacheEntry* Entry = RememberedMember(Owner, Place, Layout);
    if (!Entry) return false;
    TXScriptVariable& Slot = Slots[Sp + (Twice ? 2 : 1)];
    if constexpr (Read) {
        if (!LoadRememberedNumber(Slot, *Entry, Layout)) return false;
        Slot.reference = Owner;
    } else {
        if (Entry->Tag != Layout + ptObject) return false;
        SetObjectValue(Slot, static_cast<TXObject*>(Entry->Data));
    }
    if constexpr (Twice) SetObjectValue(Slots[Sp + 1], Owner);
    Sp += Twice ? 2 : 1;
    return true;
}

} // namespace xscriptinterpreter

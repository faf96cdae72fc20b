#pragma once

// The member instructions' quick forms for the run loop: look-ups remembered per thread, read
// and written without a call when they hit and the value is an integer. Anything else goes
// the long way (GetObjectValue and the others of xscriptobjectaccess.cpp).

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

// Steps lie 32 bytes apart (24 on 32-bit machines) and objects further: the bits from the
// fifth up tell them apart.
XINLINE inline TXMemberCacheEntry& MemberCacheEntry(const void* Object, const TXStep* Place) {
    uintptr_t Key = reinterpret_cast<uintptr_t>(Object) ^ reinterpret_cast<uintptr_t>(Place);
    return MemberCache[(Key >> 5) % MemberCacheSize];
}

// The entry of the member that Place names on Object when it is remembered as of Kind, or null.
XINLINE inline const TXMemberCacheEntry* RememberedMember(const void* Object, const TXStep* Place,
                                                          uint8_t Kind) {
    uint64_t Tag = PropertyLayout.load(std::memory_order_acquire) + Kind;
    const TXMemberCacheEntry& Entry = MemberCacheEntry(Object, Place);
    if (Entry.Object == Object && Entry.Place == Place && Entry.Tag == Tag) [[likely]]
        return &Entry;
    return nullptr;
}

XINLINE inline void SetObjectValue(TXScriptVariable& Value, TXObject* Object) {
    Value.kind = vkObject;
    Value.reference = Object;
    if (!Value.text.Empty()) Value.text.Clear();
}

// opGetObjectValue on Target when Place's member of the object is remembered as an integer;
// false, with nothing changed, otherwise.
XINLINE inline bool ReadRememberedInteger(TXScriptVariable& Target, const TXStep* Place) {
    if (Target.kind != vkObject) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, ptInteger);
    if (!Entry) return false;
    SetIntegerValue(Target, LoadPropertyInteger(Entry->Data));
    return true;
}

// opGetObjectChild on Target when Place's member of the object is remembered as a child.
XINLINE inline bool FollowRememberedChild(TXScriptVariable& Target, const TXStep* Place) {
    if (Target.kind != vkObject) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, ptObject);
    if (!Entry) return false;
    SetObjectValue(Target, static_cast<TXObject*>(Entry->Data));
    return true;
}

// opSetObjectChild (uoAssign) or opUpdateObjectChild of an integer value into an integer
// member that Place names on the object beneath it, when it is remembered: both are popped.
// False, with nothing changed, otherwise and for the operators that may fault.
XINLINE inline bool StoreRememberedInteger(const TXScriptVariable* Slots, int32_t Size, int32_t& Sp,
                                           const TXStep* Place, uint8_t Operator) {
    int32_t Below = SlotBelow(Sp, Size);
    const TXScriptVariable &Target = Slots[Below], &Value = Slots[Sp];
    if (Target.kind != vkObject || Value.kind != vkInteger) return false;
    const TXMemberCacheEntry* Entry = RememberedMember(Target.reference, Place, ptInteger);
    if (!Entry) return false;
    int32_t Stored;
    switch (Operator) {
    case uoAssign: Stored = Value.intValue; break;
    case uoAdd: Stored = IntegerAdd(LoadPropertyInteger(Entry->Data), Value.intValue); break;
    case uoSubtract: Stored = IntegerSubtract(LoadPropertyInteger(Entry->Data), Value.intValue); break;
    default: return false;
    }
    StorePropertyInteger(Entry->Data, Stored);
    Sp = SlotBelow(Below, Size);
    return true;
}

// opPushSelf (twice with Twice), then opGetObjectValue (Read) or opGetObjectChild, named by
// Place, when the member is remembered as an integer (a child): the slots are left as the
// instructions leave them. False, with nothing changed, otherwise or when a push would
// overflow.
template <bool Read, bool Twice>
XINLINE inline bool PushRememberedMember(const TXScriptHost& Host, TXScriptVariable* Slots, int32_t Size,
                                         int32_t& Sp, const TXStep* Place) {
    TXObject* Owner = Host.Owner;
    if (Sp + (Twice ? 2 : 1) >= Size) return false; // a null owner is never remembered
    const TXMemberCacheEntry* Entry = RememberedMember(Owner, Place, Read ? ptInteger : ptObject);
    if (!Entry) return false;
    if constexpr (Twice) SetObjectValue(Slots[++Sp], Owner);
    TXScriptVariable& Slot = Slots[++Sp];
    if constexpr (Read) {
        Slot.reference = Owner;
        SetIntegerValue(Slot, LoadPropertyInteger(Entry->Data));
    } else {
        SetObjectValue(Slot, static_cast<TXObject*>(Entry->Data));
    }
    return true;
}

} // namespace xscriptinterpreter

#include "xscripthost.h"

#include "xlogging.h"
#include "xstringobjects.h"

#include <algorithm>
#include <cstring>
#include <string>

TXScriptHost::TXScriptHost(int32_t InitialStackSize, TXObject* InitialOwner)
    : Owner(InitialOwner), FrameCapacity(FrameCapacityMinimum), Frames(size_t(FrameCapacityMinimum)) {
    SetStackSize(InitialStackSize);
}

TXScriptHost::~TXScriptHost() = default;

void TXScriptHost::SetStackSize(int32_t Size) {
    StackSize = std::max(Size, 1);
    Stack.resize(size_t(StackSize));
    if (StackPointer >= StackSize) StackPointer = SlotAt(StackPointer);
}

void TXScriptHost::GrowFrames() {
    FrameCapacity += FrameCapacityGrowth;
    Frames.resize(size_t(FrameCapacity));
}

void TXScriptHost::ShrinkFrames() {
    FrameCapacity = std::max(FrameCapacity - FrameCapacityShrink, FrameCapacityMinimum);
    Frames.resize(size_t(FrameCapacity));
    Frames.shrink_to_fit();
}

void TXScriptHost::ReportBrokenLoad() {
    LogLine(9, "script stack is broken ;)");
}
void TXScriptHost::ReportBrokenStore() {
    LogLine(9, "script stack is broken :S");
}

namespace {

constexpr int32_t BuiltinValueSize = 8; // the handle in the first 4 bytes, the rest unused

struct TBuiltinRegistry {
    TXStringTree Names{"", BuiltinValueSize};
    std::vector<TXBuiltinRoutine> Routines;
};

// Behind a plain pointer: it is created and freed by the module's start-up and shut-down,
// which run outside the lifetime of ordinary static objects.
TBuiltinRegistry* Registry = nullptr;

} // namespace

bool RegisterBuiltin(std::string_view Name, TXBuiltinRoutine Routine) {
    if (!Registry || !Routine) return false;
    uint32_t Handle = uint32_t(Registry->Routines.size());
    WriteConsole(std::to_string(Handle) + "\r\n");
    unsigned char Value[BuiltinValueSize] = {};
    std::memcpy(Value, &Handle, sizeof Handle);
    Registry->Routines.push_back(Routine);
    if (!Registry->Names.Add(Name, Value)) {
        Registry->Routines.pop_back();
        return false;
    }
    return true;
}

std::optional<uint32_t> FindBuiltin(std::string_view Name) {
    if (!Registry) return std::nullopt;
    void* Value = Registry->Names.Find(Name);
    if (!Value) return std::nullopt;
    uint32_t Handle;
    std::memcpy(&Handle, Value, sizeof Handle);
    return Handle;
}

TXBuiltinRoutine BuiltinRoutine(uint32_t Handle) {
    if (!Registry || Handle >= Registry->Routines.size()) return nullptr;
    return Registry->Routines[Handle];
}

void BuiltinStringLength(TXScriptHost& Host) {
    // Popping and pushing land on the same slot, so the value is replaced in place.
    TXScriptVariable& Value = Host.Top();
    TXScriptTextScratch Scratch;
    size_t Length = Value.ViewText(Scratch).size();
    Value.SetInteger(int32_t(std::min<size_t>(Length, INT32_MAX)));
}

void StartBuiltins() {
    if (Registry) return;
    Registry = new TBuiltinRegistry;
    RegisterBuiltin("STRINGS.LENGTH", BuiltinStringLength);
}

void StopBuiltins() {
    delete Registry;
    Registry = nullptr;
}

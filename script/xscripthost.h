#pragma once

#include "xscriptvariable.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

class TXObject;
struct TXPreparedCode;
struct TXStep;

// One open call frame: Base is the stack pointer when the frame was opened, which is the
// slot of the frame's variable 0; Depth is the static distance its opener recorded. A frame
// the interpreter opens for a script call also keeps the caller's place: its steps (which
// know their function), the step it goes on with and its own frame's Base.
struct TXScriptFrame {
    int32_t Base = 0;
    int32_t Depth = 0;
    int32_t CallerBase = 0;
    // The caller's stack size for its combined steps when it called (the run loop's CombinedSize).
    int32_t CallerCombinedSize = 0;
    TXPreparedCode* CallerCode = nullptr;
    const TXStep* Resume = nullptr;
};

constexpr int32_t FrameCapacityMinimum = 1024;
constexpr int32_t FrameCapacityGrowth = 256;
constexpr int32_t FrameCapacityShrink = 1024;

// The run-time home of one script: the operand stack on which every value lives, the open
// call frames and the object that script code sees as SELF. One thread at a time.
//
// The stack is a ring: every movement of StackPointer is taken modulo StackSize, so pushing
// more than StackSize values overwrites the oldest slots and popping an empty stack moves
// to the last slot. Popping never clears a slot. StackSize is at least 1 and StackPointer
// always lies in 0 .. StackSize - 1.
//
// Variable addressing. A variable is named by (index, depth). The root function runs with
// no frame open and its variables are the absolute slots 0, 1, ...; any other function's
// variables are the slots Base + index of its frame. The slot is found by walking the
// frames from the topmost down:
//   - no frame open: the absolute slot index;
//   - at a frame, depth 0: that frame's Base + index;
//   - at a frame, depth positive: depth minus the frame's Depth, on to the frame beneath;
//   - at a frame, depth negative (a function called by another one than the one it is
//     declared in, such as one function of the root calling another): the absolute slot
//     index, the root's variable, for load and store alike. In a message handler's layout
//     the bottom frame's Base is 0, so this is also the bottom frame's Base + index.
//     Deeper nesting follows the same rule: functions of a nested function calling each
//     other reach the root's slot, not their enclosing function's;
//   - frames run out: depth 0 gives the absolute slot index, anything else cannot be
//     placed ("script stack is broken ;)" for a load, "script stack is broken :S" for a
//     store, at level 9) and the operation does nothing.
// Every slot is taken modulo StackSize.
class TXScriptHost {
public:
    TXScriptHost(int32_t InitialStackSize, TXObject* InitialOwner);
    virtual ~TXScriptHost();
    TXScriptHost(const TXScriptHost&) = delete;
    TXScriptHost& operator=(const TXScriptHost&) = delete;

    // New slots are empty strings, kept slots keep their values. A size below 1 is taken
    // as 1; a StackPointer beyond the new size wraps into it.
    void SetStackSize(int32_t Size);
    // StackPointer becomes Position (modulo StackSize).
    void SetStackPosition(int32_t Position) { StackPointer = SlotAt(Position); }

    // StackPointer moves by Count slots; the slots are not written.
    void Advance(int32_t Count) { StackPointer = SlotAt(int64_t(StackPointer) + Count); }
    void Push(const TXScriptVariable& Value) {
        StepUp();
        Stack[size_t(StackPointer)] = Value;
    }
    void Pop() { StackPointer = (StackPointer == 0 ? StackSize : StackPointer) - 1; }
    void PopInto(TXScriptVariable& Destination) {
        Destination = Top();
        Pop();
    }
    TXScriptVariable& Top() { return Stack[size_t(StackPointer)]; }
    // The slot Offset places above the top (0 the top, -1 the slot beneath), in place.
    TXScriptVariable& Peek(int32_t Offset) { return Stack[size_t(SlotAt(int64_t(StackPointer) + Offset))]; }
    void PushSelf() {
        StepUp();
        Top().SetObject(Owner);
    }

    // Records (StackPointer, Depth) and moves StackPointer by Slots.
    void OpenFrame(int32_t Slots, int32_t Depth) {
        TXScriptFrame& Frame = Frames[size_t(FrameCount)];
        Frame.Base = StackPointer;
        Frame.Depth = Depth;
        Advance(Slots);
        if (++FrameCount == FrameCapacity) GrowFrames();
    }
    // The interpreter's script calls: a frame at Base that keeps the caller's place.
    // StackPointer is left alone; the interpreter keeps its own.
    void OpenCallFrame(int32_t Base, int32_t Depth, int32_t CallerBase, int32_t CallerCombinedSize,
                       TXPreparedCode* CallerCode, const TXStep* Resume) {
        TXScriptFrame& Frame = Frames[size_t(FrameCount)];
        Frame.Base = Base;
        Frame.Depth = Depth;
        Frame.CallerBase = CallerBase;
        Frame.CallerCombinedSize = CallerCombinedSize;
        Frame.CallerCode = CallerCode;
        Frame.Resume = Resume;
        if (++FrameCount == FrameCapacity) GrowFrames();
    }
    // Nothing without an open frame; otherwise StackPointer goes to the slot beneath the
    // frame's Base, which drops the frame's variables and everything pushed since.
    void CloseFrame() {
        if (FrameCount == 0) return;
        FrameCount--;
        StackPointer = SlotAt(int64_t(Frames[size_t(FrameCount)].Base) - 1);
        if (FrameCapacity - FrameCount > FrameCapacityShrink) ShrinkFrames();
    }
    // Closes the topmost frame, which OpenCallFrame opened (read what it keeps first);
    // StackPointer is left alone (the caller's top is the slot beneath the frame's Base).
    void CloseCallFrame() {
        FrameCount--;
        if (FrameCapacity - FrameCount > FrameCapacityShrink) ShrinkFrames();
    }
    const TXScriptFrame& TopFrame() const { return Frames[size_t(FrameCount - 1)]; }

    // Pushes a copy of the variable.
    void LoadVariable(int32_t Index, int32_t Depth) {
        int32_t Slot;
        if (FindSlot(Index, Depth, Slot))
            Push(Stack[size_t(Slot)]);
        else
            ReportBrokenLoad();
    }
    // Pops the top into the variable.
    void StoreVariable(int32_t Index, int32_t Depth) {
        int32_t Slot;
        if (!FindSlot(Index, Depth, Slot)) {
            ReportBrokenStore();
            return;
        }
        Stack[size_t(Slot)] = Top();
        Pop();
    }
    // The slot of a variable by the walk above; false when it cannot be placed.
    bool FindSlot(int32_t Index, int32_t Depth, int32_t& Slot) const {
        int64_t Remaining = Depth;
        for (int32_t Frame = FrameCount - 1; Frame >= 0; Frame--) {
            if (Remaining == 0) {
                Slot = SlotAt(int64_t(Frames[size_t(Frame)].Base) + Index);
                return true;
            }
            if (Remaining < 0) {
                Slot = SlotAt(Index);
                return true;
            }
            Remaining -= Frames[size_t(Frame)].Depth;
        }
        if (FrameCount > 0 && Remaining != 0) return false;
        Slot = SlotAt(Index);
        return true;
    }

    // Position taken modulo StackSize.
    int32_t SlotAt(int64_t Position) const {
        if (uint64_t(Position) < uint64_t(StackSize)) return int32_t(Position);
        if (Position < 0 && Position >= -int64_t(StackSize)) return int32_t(Position + StackSize);
        if (Position >= StackSize && Position < 2 * int64_t(StackSize)) return int32_t(Position - StackSize);
        int64_t Slot = Position % StackSize;
        return int32_t(Slot < 0 ? Slot + StackSize : Slot);
    }

    int32_t StackSize = 0;
    std::vector<TXScriptVariable> Stack;
    TXObject* Owner = nullptr;
    int32_t StackPointer = 0;
    int32_t FrameCapacity = 0;
    std::vector<TXScriptFrame> Frames;
    int32_t FrameCount = 0;

private:
    void StepUp() { StackPointer = StackPointer + 1 == StackSize ? 0 : StackPointer + 1; }
    void GrowFrames();
    void ShrinkFrames();
    static void ReportBrokenLoad();
    static void ReportBrokenStore();
};

// Built-in functions: native routines that script code calls by a dotted name such as
// "STRINGS.LENGTH". A routine works on the host's stack: it pops its arguments and pushes
// its result. The registry is a process-wide string tree, written only at module start-up
// and shut-down and only read in between. A handle is a 0-based index into the table of
// registered routines and fits the uint32 operand of opCallNative.
using TXBuiltinRoutine = void (*)(TXScriptHost& Host);

// Writes the handle the routine will get in decimal as a console line of its own, then
// adds Name with the handle. False when the registry does not exist (before start-up or
// after shut-down: nothing is written), when Routine is null (nothing is written), or when
// the registry refuses the name (already taken, or an empty segment); then the routine is
// not kept.
bool RegisterBuiltin(std::string_view Name, TXBuiltinRoutine Routine);
// The handle stored under the full dotted name, or nothing.
std::optional<uint32_t> FindBuiltin(std::string_view Name);
// The routine of a handle, or null for a handle nothing was registered under.
TXBuiltinRoutine BuiltinRoutine(uint32_t Handle);

// "STRINGS.LENGTH": pops a value and pushes the number of characters of its text.
void BuiltinStringLength(TXScriptHost& Host);

// The script module's start-up (the registry, then "STRINGS.LENGTH") and shut-down (the
// registry freed); the module's start-up unit runs them, once each.
void StartBuiltins();
void StopBuiltins();

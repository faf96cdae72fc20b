#include "xlogging.h"
#include "xscripthost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TXScriptVariable Integer(int32_t Value) {
    return TXScriptVariable::FromInteger(Value);
}

// Fills every slot with its own number, so a load shows which slot it read.
void NumberSlots(TXScriptHost& Host) {
    for (int32_t Slot = 0; Slot < Host.StackSize; Slot++) Host.Stack[size_t(Slot)].SetInteger(Slot);
}

TEST(HostRing, FourPushesWrapAndAFifthOverwrites) {
    TXScriptHost Host(4, nullptr);
    for (int32_t Value = 1; Value <= 4; Value++) Host.Push(Integer(Value));
    EXPECT_EQ(Host.StackPointer, 0);
    EXPECT_EQ(Host.Stack[1].AsInteger(), 1);
    EXPECT_EQ(Host.Stack[2].AsInteger(), 2);
    EXPECT_EQ(Host.Stack[3].AsInteger(), 3);
    EXPECT_EQ(Host.Stack[0].AsInteger(), 4);
    Host.Push(Integer(5));
    EXPECT_EQ(Host.StackPointer, 1);
    EXPECT_EQ(Host.Stack[1].AsInteger(), 5);
}

TEST(HostRing, PopAtZeroMovesToLastSlotAndKeepsContents) {
    TXScriptHost Host(4, nullptr);
    Host.Stack[0].SetInteger(9);
    Host.Pop();
    EXPECT_EQ(Host.StackPointer, 3);
    EXPECT_EQ(Host.Stack[0].AsInteger(), 9);
    TXScriptVariable Out;
    Host.Stack[3].SetInteger(7);
    Host.PopInto(Out);
    EXPECT_EQ(Out.AsInteger(), 7);
    EXPECT_EQ(Host.StackPointer, 2);
    EXPECT_EQ(Host.Stack[3].AsInteger(), 7);
}

TEST(HostRing, PeekAndAdvanceWrapBothWays) {
    TXScriptHost Host(4, nullptr);
    NumberSlots(Host);
    EXPECT_EQ(Host.Peek(0).AsInteger(), 0);
    EXPECT_EQ(Host.Peek(-1).AsInteger(), 3);
    Host.Peek(-1).SetInteger(30);
    EXPECT_EQ(Host.Stack[3].AsInteger(), 30);
    Host.Advance(-5);
    EXPECT_EQ(Host.StackPointer, 3);
    Host.Advance(INT32_MAX);
    EXPECT_EQ(Host.StackPointer, int32_t((3 + int64_t(INT32_MAX)) % 4));
    Host.Advance(INT32_MIN);
    EXPECT_GE(Host.StackPointer, 0);
    EXPECT_LT(Host.StackPointer, 4);
}

TEST(HostRing, StackSizeAndPosition) {
    TXScriptHost Host(4, nullptr);
    Host.Stack[1].SetInteger(11);
    Host.SetStackPosition(3);
    Host.SetStackSize(8);
    EXPECT_EQ(Host.StackSize, 8);
    EXPECT_EQ(Host.StackPointer, 3);
    EXPECT_EQ(Host.Stack[1].AsInteger(), 11);
    EXPECT_EQ(Host.Stack[7].kind, vkString);
    EXPECT_TRUE(Host.Stack[7].text.Empty());
    // Shrinking below the pointer, or below one slot, keeps every movement inside the ring.
    Host.SetStackPosition(7);
    Host.SetStackSize(2);
    EXPECT_EQ(Host.StackPointer, 1);
    Host.SetStackSize(0);
    EXPECT_EQ(Host.StackSize, 1);
    Host.Push(Integer(1));
    Host.Pop();
    EXPECT_EQ(Host.StackPointer, 0);
    Host.SetStackSize(4);
    Host.SetStackPosition(-1);
    EXPECT_EQ(Host.StackPointer, 3);
}

TEST(HostRing, PushSelfRefersToOwner) {
    auto* Owner = reinterpret_cast<TXObject*>(0x1000);
    TXScriptHost Host(4, Owner);
    Host.PushSelf();
    EXPECT_EQ(Host.StackPointer, 1);
    EXPECT_EQ(Host.Top().kind, vkObject);
    EXPECT_EQ(Host.Top().AsObject(), Owner);
}

TEST(HostFrames, OpenAndCloseMoveTheStackPointer) {
    TXScriptHost Host(4096, nullptr);
    Host.SetStackPosition(10);
    Host.OpenFrame(3, 1);
    EXPECT_EQ(Host.FrameCount, 1);
    EXPECT_EQ(Host.Frames[0].Base, 10);
    EXPECT_EQ(Host.Frames[0].Depth, 1);
    EXPECT_EQ(Host.StackPointer, 13);
    Host.CloseFrame();
    EXPECT_EQ(Host.StackPointer, 9);
    EXPECT_EQ(Host.FrameCount, 0);
    Host.CloseFrame();
    EXPECT_EQ(Host.StackPointer, 9);
}

TEST(HostFrames, CloseAtBaseZeroWrapsToLastSlot) {
    TXScriptHost Host(16, nullptr);
    Host.OpenFrame(20, 0);
    EXPECT_EQ(Host.StackPointer, 4);
    Host.CloseFrame();
    EXPECT_EQ(Host.StackPointer, 15);
}

TEST(HostFrames, GrowTo1280AndShrinkBack) {
    TXScriptHost Host(4096, nullptr);
    EXPECT_EQ(Host.FrameCapacity, 1024);
    EXPECT_EQ(Host.Frames.size(), 1024u);
    for (int32_t Frame = 0; Frame < 1023; Frame++) Host.OpenFrame(1, 1);
    EXPECT_EQ(Host.FrameCapacity, 1024);
    Host.OpenFrame(1, 1);
    EXPECT_EQ(Host.FrameCount, 1024);
    EXPECT_EQ(Host.FrameCapacity, 1280);
    EXPECT_EQ(Host.Frames.size(), 1280u);
    while (Host.FrameCount > 256) Host.CloseFrame();
    EXPECT_EQ(Host.FrameCapacity, 1280); // exactly 1024 free
    Host.CloseFrame();
    EXPECT_EQ(Host.FrameCapacity, 1024);
    EXPECT_EQ(Host.Frames.size(), 1024u);
    while (Host.FrameCount > 0) Host.CloseFrame();
    EXPECT_EQ(Host.FrameCapacity, 1024);
    EXPECT_EQ(Host.StackPointer, 4095);
}

TEST(HostFrames, DeepNestingGrowsAndShrinksInSteps) {
    TXScriptHost Host(64, nullptr);
    for (int32_t Frame = 0; Frame < 3000; Frame++) Host.OpenFrame(0, 1);
    EXPECT_EQ(Host.FrameCapacity, 3072);
    while (Host.FrameCount > 0) Host.CloseFrame();
    EXPECT_EQ(Host.FrameCapacity, 1024);
}

class HostVariables : public testing::Test {
protected:
    TXScriptHost Host{4096, nullptr};
    void SetUp() override { NumberSlots(Host); }

    // The slot a load reads, or -1 when it pushes nothing.
    int32_t LoadedSlot(int32_t Index, int32_t Depth) {
        int32_t Before = Host.StackPointer;
        Host.LoadVariable(Index, Depth);
        if (Host.StackPointer == Before) return -1;
        int32_t Value = Host.Top().AsInteger();
        Host.Pop();
        return Value;
    }
};

TEST_F(HostVariables, NoFrameMeansAbsoluteSlots) {
    Host.SetStackPosition(100);
    EXPECT_EQ(LoadedSlot(2, 0), 2);
    EXPECT_EQ(LoadedSlot(2, 5), 2);
}

TEST_F(HostVariables, OwnFrameIsBasePlusIndex) {
    Host.SetStackPosition(20);
    Host.OpenFrame(3, 1);
    EXPECT_EQ(LoadedSlot(2, 0), 22);
}

TEST_F(HostVariables, HandlerReachesRootVariables) {
    // The message handler layout: the root's frame at 0, then the handler's.
    Host.SetStackPosition(0);
    Host.OpenFrame(5, 1);
    Host.OpenFrame(2, 1);
    EXPECT_EQ(LoadedSlot(0, 1), 0);
    EXPECT_EQ(LoadedSlot(4, 1), 4);
    EXPECT_EQ(LoadedSlot(1, 0), 6);
    EXPECT_EQ(LoadedSlot(3, 2), 3); // frames run out at depth 0: absolute
}

TEST_F(HostVariables, NestedCallReachesEnclosingFrame) {
    // The root (no frame) calls F, F calls its own nested G.
    Host.SetStackPosition(10);
    Host.OpenFrame(2, 1);
    Host.OpenFrame(2, 1);
    EXPECT_EQ(LoadedSlot(1, 1), 11);
    EXPECT_EQ(LoadedSlot(1, 2), 1);
}

TEST_F(HostVariables, BrokenLoadWritesItsLineAndPushesNothing) {
    Host.SetStackPosition(50);
    Host.OpenFrame(1, 1);
    StartConsoleCapture();
    EXPECT_EQ(LoadedSlot(0, 3), -1);
    EXPECT_EQ(EndConsoleCapture(), "script stack is broken ;)\r\n");
    EXPECT_EQ(Host.StackPointer, 51);
}

TEST_F(HostVariables, BrokenStoreWritesItsLineAndPopsNothing) {
    Host.SetStackPosition(50);
    Host.OpenFrame(1, 1);
    Host.Push(Integer(-7));
    StartConsoleCapture();
    Host.StoreVariable(0, 3);
    EXPECT_EQ(EndConsoleCapture(), "script stack is broken :S\r\n");
    EXPECT_EQ(Host.StackPointer, 52);
    EXPECT_EQ(Host.Top().AsInteger(), -7);
    EXPECT_EQ(Host.Stack[0].AsInteger(), 0);
}

TEST_F(HostVariables, SiblingCallLoadsAndStoresTheRootSlot) {
    // The root runs without a frame and calls F; F calls G, declared beside it in the root,
    // which records depth 2. A root variable (depth 1) is the absolute slot for both.
    Host.SetStackPosition(30);
    Host.OpenFrame(2, 1);
    Host.OpenFrame(2, 2);
    EXPECT_EQ(LoadedSlot(3, 1), 3);
    Host.Push(Integer(-1));
    Host.StoreVariable(3, 1);
    EXPECT_EQ(Host.Stack[3].AsInteger(), -1);
    EXPECT_EQ(Host.Stack[30 + 3].AsInteger(), 33); // not the bottom frame's slot
    EXPECT_EQ(Host.StackPointer, 34);
}

TEST_F(HostVariables, StoreCopiesTopThenPops) {
    Host.SetStackPosition(10);
    Host.OpenFrame(2, 1);
    Host.Push(TXScriptVariable::FromText("text"));
    Host.StoreVariable(1, 0);
    EXPECT_EQ(Host.StackPointer, 12);
    EXPECT_EQ(Host.Stack[11].AsText(), "text");
    EXPECT_EQ(Host.Stack[13].AsText(), "text"); // popping does not clear
    // Storing the top into its own slot leaves it as it was.
    Host.Stack[12].SetInteger(5);
    Host.StoreVariable(2, 0);
    EXPECT_EQ(Host.Stack[12].AsInteger(), 5);
    EXPECT_EQ(Host.StackPointer, 11);
}

TEST_F(HostVariables, IndexBeyondTheStackWraps) {
    TXScriptHost Small(8, nullptr);
    NumberSlots(Small);
    Small.LoadVariable(65535, 0);
    EXPECT_EQ(Small.Top().AsInteger(), 65535 % 8);
    Small.OpenFrame(0, 1);
    Small.LoadVariable(65535, 0);
    EXPECT_EQ(Small.Top().AsInteger(), (1 + 65535) % 8);
}

TEST(Builtins, StringsLengthIsRegisteredAtStartUp) {
    std::optional<uint32_t> Handle = FindBuiltin("STRINGS.LENGTH");
    ASSERT_TRUE(Handle.has_value());
    EXPECT_EQ(*Handle, 0u);
    EXPECT_EQ(BuiltinRoutine(*Handle), &BuiltinStringLength);
    EXPECT_FALSE(FindBuiltin("STRINGS").has_value());
    EXPECT_FALSE(FindBuiltin("LENGTH").has_value());
    EXPECT_FALSE(FindBuiltin("strings.length").has_value());
    EXPECT_EQ(BuiltinRoutine(1000), nullptr);
}

TEST(Builtins, StringsLengthCountsTheTextOfAnyValue) {
    TXScriptHost Host(4, nullptr);
    Host.Push(TXScriptVariable::FromText("hello"));
    Host.Push(Integer(-123));
    BuiltinRoutine (*FindBuiltin("STRINGS.LENGTH"))(Host);
    EXPECT_EQ(Host.StackPointer, 2);
    EXPECT_EQ(Host.Top().kind, vkInteger);
    EXPECT_EQ(Host.Top().AsInteger(), 4);
    Host.Pop();
    BuiltinStringLength(Host);
    EXPECT_EQ(Host.Top().AsInteger(), 5);
    Host.Push(TXScriptVariable::FromFloat(0.1f));
    BuiltinStringLength(Host);
    EXPECT_EQ(Host.Top().AsInteger(), 17); // 0.100000001490116
}

void Nothing(TXScriptHost&) {}

TEST(Builtins, RegisterWritesTheNextHandleThenAdds) {
    StartConsoleCapture();
    EXPECT_TRUE(RegisterBuiltin("TEST.NOTHING", Nothing));
    EXPECT_EQ(EndConsoleCapture(), "1\r\n");
    EXPECT_EQ(FindBuiltin("TEST.NOTHING"), 1u);
    EXPECT_EQ(BuiltinRoutine(1), &Nothing);

    // A refused name keeps no routine: the next registration gets the same handle.
    StartConsoleCapture();
    EXPECT_FALSE(RegisterBuiltin("STRINGS.LENGTH", Nothing));
    EXPECT_FALSE(RegisterBuiltin("TEST..EMPTY", Nothing));
    EXPECT_FALSE(RegisterBuiltin("TEST.NULL", nullptr));
    EXPECT_TRUE(RegisterBuiltin("TEST.OTHER", Nothing));
    EXPECT_EQ(EndConsoleCapture(), "2\r\n2\r\n2\r\n");
    EXPECT_EQ(FindBuiltin("STRINGS.LENGTH"), 0u);
    EXPECT_EQ(FindBuiltin("TEST.OTHER"), 2u);
    EXPECT_EQ(BuiltinRoutine(3), nullptr);
}

} // namespace

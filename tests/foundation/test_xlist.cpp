#include "xlist.h"
#include "xlogging.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

// Nodes whose release a test made fail; the test frees them so no leak is reported.
std::vector<const TItemNode*> FailedNodes;

void FailRelease(const TItemNode* Node) {
    FailedNodes.push_back(Node);
    throw std::runtime_error("release");
}

void FreeFailedNodes() {
    ItemListReleaseHook = nullptr;
    for (const TItemNode* Node : FailedNodes) ::operator delete(const_cast<TItemNode*>(Node));
    FailedNodes.clear();
}

int32_t Value(void* Payload) {
    return Payload ? *static_cast<int32_t*>(Payload) : -1;
}

bool AddValue(TItemList& List, std::string_view Key, int32_t Number) {
    return List.Add(Key, &Number);
}

std::string KeyAt(TItemList& List, int32_t Index) {
    TItemNode* Node = List.GetItem(Index);
    return Node ? std::string(Node->Key.View()) : "<none>";
}

TEST(ItemListOrder, EmptyListHasNoItems) {
    TItemList List(4);
    EXPECT_EQ(List.Count, 0);
    EXPECT_EQ(List.GetItem(0), nullptr);
    EXPECT_EQ(List.GetItem(-1), nullptr);
    EXPECT_EQ(List.Find("A"), nullptr);
}

TEST(ItemListOrder, IndexFollowsInsertionAndDeletion) {
    TItemList List(4);
    AddValue(List, "FIRST", 1);
    AddValue(List, "SECOND", 2);
    EXPECT_EQ(KeyAt(List, 1), "SECOND");
    EXPECT_EQ(List.GetItem(2), nullptr);
    EXPECT_TRUE(List.Delete("FIRST"));
    EXPECT_EQ(List.Count, 1);
    EXPECT_EQ(KeyAt(List, 0), "SECOND");
    EXPECT_EQ(List.GetItem(1), nullptr);
}

TEST(ItemListOrder, DeletingTheOnlyItemThenAddingMakesItFirst) {
    TItemList List(4);
    AddValue(List, "ONLY", 1);
    EXPECT_TRUE(List.Delete("ONLY"));
    EXPECT_EQ(List.First, nullptr);
    AddValue(List, "NEXT", 2);
    EXPECT_EQ(KeyAt(List, 0), "NEXT");
    EXPECT_EQ(Value(List.Find("NEXT")), 2);
}

TEST(ItemListOrder, DeletingTheLastItemKeepsAppendingRight) {
    TItemList List(4);
    AddValue(List, "A", 1);
    AddValue(List, "B", 2);
    List.Delete("B");
    AddValue(List, "C", 3);
    EXPECT_EQ(KeyAt(List, 0), "A");
    EXPECT_EQ(KeyAt(List, 1), "C");
}

TEST(ItemListOrder, CursorWalksBothWays) {
    TItemList List(4);
    for (int I = 0; I < 100; I++) AddValue(List, "K" + std::to_string(I), I);
    EXPECT_EQ(Value(List.GetItem(70)->Payload()), 70);
    EXPECT_EQ(Value(List.GetItem(65)->Payload()), 65);
    EXPECT_EQ(Value(List.GetItem(3)->Payload()), 3);
    EXPECT_EQ(Value(List.GetItem(99)->Payload()), 99);
    for (int I = 99; I >= 0; I--) EXPECT_EQ(Value(List.GetItem(I)->Payload()), I);
}

TEST(ItemListKeys, DuplicateKeyKeepsFirstRecord) {
    TItemList List(4);
    EXPECT_TRUE(AddValue(List, "X", 1));
    EXPECT_FALSE(AddValue(List, "X", 2)); // the only key in its bucket
    EXPECT_EQ(List.Count, 1);
    EXPECT_EQ(Value(List.Find("X")), 1);
}

TEST(ItemListKeys, DuplicateDeeperInABucketChain) {
    // "AB" and "CB": same last character, same parity before it, so the same bucket.
    ASSERT_EQ(TItemList::BucketOf("AB"), TItemList::BucketOf("CB"));
    TItemList List(4);
    AddValue(List, "AB", 1);
    AddValue(List, "CB", 2);
    EXPECT_FALSE(AddValue(List, "CB", 3));
    EXPECT_EQ(Value(List.Find("AB")), 1);
    EXPECT_EQ(Value(List.Find("CB")), 2);
    EXPECT_TRUE(List.Delete("AB")); // the head goes, its successor takes over
    EXPECT_EQ(Value(List.Find("CB")), 2);
    EXPECT_EQ(List.Find("AB"), nullptr);
}

TEST(ItemListKeys, CaseMattersAndEmptyKeyIsRefused) {
    TItemList List(4);
    AddValue(List, "name", 1);
    AddValue(List, "NAME", 2);
    EXPECT_EQ(Value(List.Find("name")), 1);
    EXPECT_EQ(Value(List.Find("NAME")), 2);
    EXPECT_FALSE(AddValue(List, "", 3));
    EXPECT_EQ(List.Count, 2);
}

TEST(ItemListKeys, DeleteTwiceFailsSecondTime) {
    TItemList List(4);
    AddValue(List, "K", 1);
    EXPECT_TRUE(List.Delete("K"));
    EXPECT_FALSE(List.Delete("K"));
    EXPECT_EQ(List.Count, 0);
}

TEST(ItemListKeys, LongKeyIsStoredCutAndReachableByIndex) {
    std::string Long(40, 'a');
    Long += "Z";
    TItemList List(4);
    EXPECT_TRUE(AddValue(List, Long, 7));
    EXPECT_EQ(List.GetItem(0)->Key.Length, 32);
    EXPECT_EQ(KeyAt(List, 0), std::string(32, 'a'));
    EXPECT_EQ(List.Find(Long), nullptr);
    EXPECT_EQ(Value(List.GetItem(0)->Payload()), 7);
}

TEST(ItemListKeys, BucketHashDependsOnLastCharacterAndParity) {
    EXPECT_EQ(TItemList::BucketOf("A"), (1 * 32 + 'A') % 64);
    EXPECT_EQ(TItemList::BucketOf("XB"), TItemList::BucketOf("ZB"));
    EXPECT_NE(TItemList::BucketOf("XB"), TItemList::BucketOf("YB"));
}

TEST(ItemListFailures, FailedReleaseInDeleteIsReportedAndDeleteCompletes) {
    TItemList List(4);
    AddValue(List, "AB", 1);
    AddValue(List, "CB", 2);
    ItemListReleaseHook = FailRelease;
    StartConsoleCapture();
    EXPECT_TRUE(List.Delete("CB"));
    std::string Output = EndConsoleCapture();
    FreeFailedNodes();
    EXPECT_EQ(Output, "unhandled Exception in TItemlist.Delete(CB)\r\n");
    EXPECT_EQ(List.Count, 1);
    EXPECT_EQ(KeyAt(List, 0), "AB");
}

TEST(ItemListFailures, DeleteMessageWithAFullLengthKey) {
    // 40 characters of text and a 32-character key fill the 72 the message keeps.
    std::string Key(32, 'k');
    TItemList List(4);
    AddValue(List, Key, 1);
    ItemListReleaseHook = FailRelease;
    StartConsoleCapture();
    AddValue(List, "j" + Key.substr(1), 2); // same bucket parity, so the chain has two nodes
    List.Delete("j" + Key.substr(1));
    std::string Output = EndConsoleCapture();
    FreeFailedNodes();
    EXPECT_EQ(Output, "unhandled Exception in TItemlist.Delete(j" + Key.substr(1) + ")\r\n");
    EXPECT_EQ(Output.size(), 72u + 3u);
}

TEST(ItemListFailures, FailedReleaseInDestructorIsReportedPerNode) {
    auto* List = new TItemList(4);
    AddValue(*List, "A", 1);
    static int Calls;
    Calls = 0;
    ItemListReleaseHook = [](const TItemNode* Node) {
        Calls++;
        if (Node->Key.Length > 0) FailRelease(Node);
    };
    StartConsoleCapture();
    delete List;
    std::string Output = EndConsoleCapture();
    FreeFailedNodes();
    EXPECT_EQ(Output, "exception causing memory leak \\o/\r\n");
    EXPECT_EQ(Calls, 64);
}

TEST(IntegerList, KeysSharingABucketAreToldApart) {
    ASSERT_EQ(TIntegerList::BucketOf(0), TIntegerList::BucketOf(64));
    TIntegerList List(4);
    int32_t A = 10, B = 20, C = 30;
    EXPECT_TRUE(List.Add(0, &A));
    EXPECT_TRUE(List.Add(64, &B));
    EXPECT_FALSE(List.Add(64, &C));
    EXPECT_EQ(Value(List.Find(0)), 10);
    EXPECT_EQ(Value(List.Find(64)), 20);
    EXPECT_EQ(List.Find(128), nullptr);
    EXPECT_EQ(List.Find(1), nullptr);
}

TEST(IntegerList, HashMixesHighBits) {
    EXPECT_EQ(TIntegerList::BucketOf(0x10000), 1);
    EXPECT_EQ(TIntegerList::BucketOf(0x1000000), (0x100 ^ 1) % 64);
    TIntegerList List(4);
    int32_t Negative = -5;
    EXPECT_TRUE(List.Add(-1, &Negative));
    EXPECT_EQ(Value(List.Find(-1)), -5);
}

} // namespace

#include "xstringobjects.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

uint64_t Read(void* Payload) {
    uint64_t Value = 0;
    if (Payload) std::memcpy(&Value, Payload, sizeof Value);
    return Value;
}

TEST(StringTree, DottedNameCreatesSubTreeOnce) {
    TXStringTree Root("", 8);
    uint64_t Length = 11, Upper = 12;
    EXPECT_TRUE(Root.Add("STRINGS.LENGTH", &Length));
    ASSERT_EQ(Root.Children.Count, 1);
    EXPECT_TRUE(Root.Add("STRINGS.UPPER", &Upper));
    EXPECT_EQ(Root.Children.Count, 1);
    EXPECT_EQ(Read(Root.Find("STRINGS.LENGTH")), 11u);
    EXPECT_EQ(Read(Root.Find("STRINGS.UPPER")), 12u);
    EXPECT_EQ(Root.Items.Count, 0);
}

TEST(StringTree, SubTreeIsNotARecord) {
    TXStringTree Root("", 8);
    uint64_t Length = 1;
    Root.Add("STRINGS.LENGTH", &Length);
    EXPECT_EQ(Root.Find("STRINGS"), nullptr);
    EXPECT_EQ(Root.Find("LENGTH"), nullptr);
    EXPECT_EQ(Root.Find("OTHER.LENGTH"), nullptr);
    EXPECT_EQ(Root.Find("A.MISSING.LENGTH"), nullptr);
}

TEST(StringTree, SameSegmentNamesRecordAndSubTree) {
    TXStringTree Root("", 8);
    uint64_t One = 1, Two = 2;
    EXPECT_TRUE(Root.Add("STRINGS", &One));
    EXPECT_TRUE(Root.Add("STRINGS.LENGTH", &Two));
    EXPECT_EQ(Read(Root.Find("STRINGS")), 1u);
    EXPECT_EQ(Read(Root.Find("STRINGS.LENGTH")), 2u);
    EXPECT_FALSE(Root.Add("STRINGS.LENGTH", &One));
    EXPECT_EQ(Read(Root.Find("STRINGS.LENGTH")), 2u);
}

TEST(StringTree, CaseMatters) {
    TXStringTree Root("", 8);
    uint64_t One = 1;
    Root.Add("Strings.Length", &One);
    EXPECT_EQ(Root.Find("STRINGS.LENGTH"), nullptr);
    EXPECT_NE(Root.Find("Strings.Length"), nullptr);
}

TEST(StringTree, EmptySegmentsAreRefused) {
    TXStringTree Root("", 8);
    uint64_t One = 1;
    for (const char* Name : {"", ".A", "A.", "A..B", "."}) {
        EXPECT_FALSE(Root.Add(Name, &One)) << Name;
        EXPECT_EQ(Root.Find(Name), nullptr) << Name;
    }
    EXPECT_EQ(Root.Items.Count, 0);
    EXPECT_EQ(Root.Children.Count, 0);
}

TEST(StringTree, CreateWithDottedNameBuildsAChain) {
    TXStringTree Root("A.B.C", 8);
    EXPECT_EQ(Root.Name, "A");
    void* Payload = Root.Children.Find("B");
    ASSERT_NE(Payload, nullptr);
    TXStringTree* B;
    std::memcpy(&B, Payload, sizeof B);
    EXPECT_EQ(B->Name, "B");
    EXPECT_EQ(B->Children.Count, 1);
}

TEST(StringTree, ThreeLevelNames) {
    TXStringTree Root("", 8);
    uint64_t Value = 42;
    EXPECT_TRUE(Root.Add("A.B.C", &Value));
    EXPECT_EQ(Read(Root.Find("A.B.C")), 42u);
    EXPECT_EQ(Root.Find("A.B"), nullptr);
}

} // namespace

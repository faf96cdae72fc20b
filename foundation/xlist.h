#pragma once

#include <cstdint>
#include <string_view>

// Keyed containers with 64 fixed buckets and separate chaining. Records are copied in by
// value: a list owns its copies, never what they point to.

constexpr int32_t ListBucketCount = 64;
constexpr int32_t ListKeyLength = 32;

// A key as stored: a length byte and at most 32 characters.
struct TListKey {
    uint8_t Length = 0;
    char Text[ListKeyLength] = {};

    std::string_view View() const { return {Text, Length}; }
    void Assign(std::string_view Key); // keeps the first 32 characters
};

struct TItemNode {
    TListKey Key;
    TItemNode* PrevInBucket = nullptr;
    TItemNode* NextInBucket = nullptr;
    TItemNode* PrevInOrder = nullptr;
    TItemNode* NextInOrder = nullptr;

    // DataSize bytes follow the header.
    void* Payload() { return this + 1; }
};

// For tests: when set, called before each item node is released; it may throw to stand
// for a failed release, which the list reports and survives.
extern void (*ItemListReleaseHook)(const TItemNode* Node);

// Text keys to fixed-size records, in insertion order, walkable by index. Keys compare
// byte for byte; the empty key is refused. A key longer than 32 characters is hashed whole
// but stored cut to 32, so it stays reachable by index only.
class TItemList {
public:
    explicit TItemList(int32_t DataSize);
    virtual ~TItemList();
    TItemList(const TItemList&) = delete;
    TItemList& operator=(const TItemList&) = delete;

    bool Add(std::string_view Key, const void* Data);
    void* Find(std::string_view Key) const;
    bool Delete(std::string_view Key);
    // Index walks 0, 1, 2 ... cost one step per item thanks to the cursor.
    TItemNode* GetItem(int32_t Index);

    static int32_t BucketOf(std::string_view Key);

    TItemNode* First = nullptr;
    TItemNode* Cursor = nullptr;
    int32_t CursorIndex = 0;
    int32_t DataSize;
    int32_t NodeSize;
    TItemNode* Buckets[ListBucketCount] = {};
    int32_t Count = 0;

private:
    static void ReleaseNode(TItemNode* Node);
    TItemNode* Last = nullptr; // tail of the order list, so Add costs no walk
    TItemNode* NewNode();
    TItemNode* FindNode(std::string_view Key) const;
    void UnlinkFromBucket(TItemNode* Node, int32_t Bucket);
};

struct TIntegerNode {
    int32_t Key = 0;
    TIntegerNode* PrevInBucket = nullptr;
    TIntegerNode* NextInBucket = nullptr;

    void* Payload() { return this + 1; }
};

// Integer keys to fixed-size records: add and look-up only. Negative keys are bucketed
// by their bit pattern like any other.
class TIntegerList {
public:
    explicit TIntegerList(int32_t DataSize);
    virtual ~TIntegerList();
    TIntegerList(const TIntegerList&) = delete;
    TIntegerList& operator=(const TIntegerList&) = delete;

    bool Add(int32_t Key, const void* Data);
    void* Find(int32_t Key) const;

    static int32_t BucketOf(int32_t Key);

    int32_t DataSize;
    int32_t NodeSize;
    TIntegerNode* Buckets[ListBucketCount] = {};
};

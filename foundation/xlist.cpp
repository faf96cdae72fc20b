#include "xlist.h"

#include "xlogging.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

void TListKey::Assign(std::string_view Key) {
    Length = static_cast<uint8_t>(Key.size() < ListKeyLength ? Key.size() : ListKeyLength);
    std::memcpy(Text, Key.data(), Length);
}

static bool KeyEquals(const TListKey& Stored, std::string_view Key) {
    return Stored.Length == Key.size() && std::memcmp(Stored.Text, Key.data(), Key.size()) == 0;
}

int32_t TItemList::BucketOf(std::string_view Key) {
    uint32_t Hash = static_cast<uint32_t>(Key.size());
    for (unsigned char Character : Key) Hash = (Hash * 32 + Character) % ListBucketCount;
    return static_cast<int32_t>(Hash % ListBucketCount);
}

TItemList::TItemList(int32_t Size) : DataSize(Size < 0 ? 0 : Size) {
    NodeSize = static_cast<int32_t>(sizeof(TItemNode)) + DataSize;
    for (auto& Head : Buckets) Head = NewNode();
}

TItemList::~TItemList() {
    for (auto& Head : Buckets) {
        TItemNode* Node = Head;
        while (Node && Node->NextInBucket) Node = Node->NextInBucket;
        while (Node) {
            TItemNode* Previous = Node->PrevInBucket;
            try {
                ReleaseNode(Node);
            } catch (...) {
                LogLine(8, "exception causing memory leak \\o/");
            }
            Node = Previous;
        }
        Head = nullptr;
    }
}

TItemNode* TItemList::NewNode() {
    void* Memory = ::operator new(static_cast<size_t>(NodeSize));
    std::memset(Memory, 0, static_cast<size_t>(NodeSize));
    return new (Memory) TItemNode;
}

void (*ItemListReleaseHook)(const TItemNode* Node) = nullptr;

void TItemList::ReleaseNode(TItemNode* Node) {
    if (ItemListReleaseHook) ItemListReleaseHook(Node);
    ::operator delete(Node);
}

TItemNode* TItemList::FindNode(std::string_view Key) const {
    for (TItemNode* Node = Buckets[BucketOf(Key)]; Node; Node = Node->NextInBucket)
        if (Node->Key.Length > 0 && KeyEquals(Node->Key, Key)) return Node;
    return nullptr;
}

bool TItemList::Add(std::string_view Key, const void* Data) {
    if (Key.empty()) return false;
    TItemNode* Node = Buckets[BucketOf(Key)];
    while (true) {
        if (Node->Key.Length == 0) break; // a vacant head has no successors
        if (KeyEquals(Node->Key, Key)) return false;
        if (!Node->NextInBucket) break;
        Node = Node->NextInBucket;
    }
    if (Node->Key.Length != 0) {
        TItemNode* Added = NewNode();
        Added->PrevInBucket = Node;
        Node->NextInBucket = Added;
        Node = Added;
    }
    Node->Key.Assign(Key);
    if (DataSize > 0) std::memcpy(Node->Payload(), Data, static_cast<size_t>(DataSize));

    if (!First) {
        First = Node;
    } else {
        Last->NextInOrder = Node;
        Node->PrevInOrder = Last;
    }
    Last = Node;
    Count++;
    Cursor = First;
    CursorIndex = 0;
    return true;
}

void* TItemList::Find(std::string_view Key) const {
    TItemNode* Node = FindNode(Key);
    return Node ? Node->Payload() : nullptr;
}

void TItemList::UnlinkFromBucket(TItemNode* Node, int32_t Bucket) {
    if (Node != Buckets[Bucket]) {
        Node->PrevInBucket->NextInBucket = Node->NextInBucket;
        if (Node->NextInBucket) Node->NextInBucket->PrevInBucket = Node->PrevInBucket;
        ReleaseNode(Node);
    } else if (Node->NextInBucket) {
        Buckets[Bucket] = Node->NextInBucket;
        Buckets[Bucket]->PrevInBucket = nullptr;
        ReleaseNode(Node);
    } else {
        Node->Key.Length = 0;
        Node->PrevInOrder = nullptr;
        Node->NextInOrder = nullptr;
    }
}

bool TItemList::Delete(std::string_view Key) {
    TItemNode* Node = FindNode(Key);
    if (!Node) return false;

    if (Node->PrevInOrder) Node->PrevInOrder->NextInOrder = Node->NextInOrder;
    if (Node->NextInOrder) Node->NextInOrder->PrevInOrder = Node->PrevInOrder;
    if (Node == First) First = Node->NextInOrder;
    if (Node == Last) Last = Node->PrevInOrder;

    try {
        UnlinkFromBucket(Node, BucketOf(Key));
    } catch (...) {
        std::string Message = "unhandled Exception in TItemlist.Delete(";
        Message.append(Key);
        if (Message.size() > 72) Message.resize(72);
        Message.append(")");
        LogLine(7, Message);
    }
    Count--;
    Cursor = First;
    CursorIndex = 0;
    return true;
}

TItemNode* TItemList::GetItem(int32_t Index) {
    if (Index < 0 || Index >= Count) return nullptr;
    int32_t Distance = CursorIndex > Index ? CursorIndex - Index : Index - CursorIndex;
    if (!Cursor || Index < Distance) {
        Cursor = First;
        CursorIndex = 0;
    }
    while (CursorIndex < Index) {
        Cursor = Cursor->NextInOrder;
        CursorIndex++;
    }
    while (CursorIndex > Index) {
        Cursor = Cursor->PrevInOrder;
        CursorIndex--;
    }
    return Cursor;
}

int32_t TIntegerList::BucketOf(int32_t Key) {
    uint32_t Bits = static_cast<uint32_t>(Key);
    uint32_t Mixed = Bits ^ (Bits >> 16) ^ (Bits >> 24);
    return static_cast<int32_t>(Mixed % ListBucketCount);
}

TIntegerList::TIntegerList(int32_t Size) : DataSize(Size < 0 ? 0 : Size) {
    NodeSize = static_cast<int32_t>(sizeof(TIntegerNode)) + DataSize;
}

TIntegerList::~TIntegerList() {
    for (auto& Head : Buckets) {
        TIntegerNode* Last = Head;
        while (Last && Last->NextInBucket) Last = Last->NextInBucket;
        while (Last) {
            TIntegerNode* Previous = Last->PrevInBucket;
            ::operator delete(Last);
            Last = Previous;
        }
        Head = nullptr;
    }
}

bool TIntegerList::Add(int32_t Key, const void* Data) {
    TIntegerNode*& Head = Buckets[BucketOf(Key)];
    TIntegerNode* Last = nullptr;
    for (TIntegerNode* Node = Head; Node; Node = Node->NextInBucket) {
        if (Node->Key == Key) return false;
        Last = Node;
    }
    void* Memory = ::operator new(static_cast<size_t>(NodeSize));
    std::memset(Memory, 0, static_cast<size_t>(NodeSize));
    auto* Added = new (Memory) TIntegerNode;
    Added->Key = Key;
    if (DataSize > 0) std::memcpy(Added->Payload(), Data, static_cast<size_t>(DataSize));
    if (Last) {
        Last->NextInBucket = Added;
        Added->PrevInBucket = Last;
    } else {
        Head = Added;
    }
    return true;
}

void* TIntegerList::Find(int32_t Key) const {
    for (TIntegerNode* Node = Buckets[BucketOf(Key)]; Node; Node = Node->NextInBucket)
        if (Node->Key == Key) return Node->Payload();
    return nullptr;
}

#include "xstringobjects.h"

#include <cstring>

namespace {

constexpr size_t ShortStringLength = 255;

struct TNameSplit {
    std::string_view Head;
    std::string_view Remainder;
};

TNameSplit SplitName(std::string_view Name) {
    size_t Dot = Name.find('.');
    if (Dot == std::string_view::npos) return {Name, {}};
    return {Name.substr(0, Dot), Name.substr(Dot + 1)};
}

std::string_view ShortName(std::string_view Name) {
    return Name.substr(0, ShortStringLength);
}

bool HasEmptySegment(std::string_view Name) {
    return Name.empty() || Name.front() == '.' || Name.back() == '.' ||
           Name.find("..") != std::string_view::npos;
}

TXStringTree* StoredTree(void* Payload) {
    TXStringTree* Tree;
    std::memcpy(&Tree, Payload, sizeof Tree);
    return Tree;
}

} // namespace

TXStringTree::TXStringTree(std::string_view Text, int32_t Size)
    : DataSize(Size), Children(sizeof(TXStringTree*)), Items(Size) {
    TNameSplit Split = SplitName(ShortName(Text));
    Name = Split.Head;
    if (!Split.Remainder.empty()) {
        auto* Tree = new TXStringTree(Split.Remainder, DataSize);
        if (!Children.Add(SplitName(Split.Remainder).Head, &Tree)) delete Tree;
    }
}

TXStringTree::~TXStringTree() {
    for (int32_t Index = 0; Index < Children.Count; Index++)
        delete StoredTree(Children.GetItem(Index)->Payload());
}

TXStringTree* TXStringTree::SubTree(std::string_view Segment) {
    if (void* Payload = Children.Find(Segment)) return StoredTree(Payload);
    auto* Tree = new TXStringTree(Segment, DataSize);
    if (!Children.Add(Segment, &Tree)) {
        // A segment over 32 characters is stored cut and cannot be found again.
        delete Tree;
        return nullptr;
    }
    return Tree;
}

bool TXStringTree::Add(std::string_view Text, const void* Data) {
    std::string_view Key = ShortName(Text);
    if (HasEmptySegment(Key)) return false;
    TNameSplit Split = SplitName(Key);
    if (Split.Remainder.empty()) return Items.Add(Key, Data);
    TXStringTree* Tree = SubTree(Split.Head);
    return Tree && Tree->Add(Split.Remainder, Data);
}

void* TXStringTree::Find(std::string_view Text) const {
    std::string_view Key = ShortName(Text);
    if (HasEmptySegment(Key)) return nullptr;
    TNameSplit Split = SplitName(Key);
    if (Split.Remainder.empty()) return Items.Find(Key);
    void* Payload = Children.Find(Split.Head);
    return Payload ? StoredTree(Payload)->Find(Split.Remainder) : nullptr;
}

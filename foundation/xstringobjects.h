#pragma once

#include "xlist.h"

#include <cstdint>
#include <string>
#include <string_view>

// Fixed-size records under dotted names such as "STRINGS.LENGTH": every segment but the
// last selects a sub-tree, the last is the record's key in it. Segments compare byte for
// byte and are stored to at most 32 characters. A name with an empty segment (a leading,
// trailing or doubled dot, or the empty name) is refused: Add gives false, Find none.
class TXStringTree {
public:
    TXStringTree(std::string_view Name, int32_t DataSize);
    virtual ~TXStringTree();
    TXStringTree(const TXStringTree&) = delete;
    TXStringTree& operator=(const TXStringTree&) = delete;

    bool Add(std::string_view Name, const void* Data);
    void* Find(std::string_view Name) const;

    int32_t DataSize;
    TItemList Children; // payload: an owned TXStringTree*
    TItemList Items;    // payload: DataSize bytes
    std::string Name;

private:
    TXStringTree* SubTree(std::string_view Segment);
};

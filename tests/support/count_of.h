#pragma once

#include <cstddef>
#include <string>

// How often Part occurs in Text (overlapping occurrences counted).
inline size_t CountOf(const std::string& Text, const std::string& Part) {
    size_t Count = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) Count++;
    return Count;
}

#pragma once

// A script value as a short text that tells every kind apart, for comparing whole stacks.

#include "xscriptvariable.h"

#include <bit>
#include <cstdint>
#include <string>

inline std::string Describe(const TXScriptVariable& Value) {
    switch (Value.kind) {
    case vkInteger: return "i" + std::to_string(Value.intValue);
    case vkFloat: return "f" + std::to_string(std::bit_cast<uint32_t>(Value.floatValue));
    case vkString: return "s" + Value.text.ToString();
    default:
        return "r" + std::to_string(Value.kind) + ":" +
               std::to_string(reinterpret_cast<uintptr_t>(Value.reference));
    }
}

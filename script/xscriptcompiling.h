#pragma once

#include "xscriptcompiler.h"

#include <cstdint>
#include <string_view>

// What the compiler's parts (xscriptcompiler.cpp, xscriptexpressions.cpp,
// xscriptstatements.cpp) share beyond the function record; not for other modules.

namespace xscriptcompiler {

// Decimal digits only, within the 32-bit signed range.
bool ParseDecimal(std::string_view Text, int32_t& Value);

} // namespace xscriptcompiler

#include "xmodules.h"

#include <cfenv>

namespace {

// A division by zero or an invalid operation anywhere yields an infinity or a NaN, never a
// trap; results round to nearest.
void StartFloatingPoint() {
    std::feclearexcept(FE_ALL_EXCEPT);
    fedisableexcept(FE_ALL_EXCEPT);
    std::fesetround(FE_TONEAREST);
}

TXModuleStartup FloatingPointStartup XMODULE_RANK(ModuleRankFloatingPoint){StartFloatingPoint, nullptr};

} // namespace

#include "xmodules.h"

#include <cfenv>
#ifdef _WIN32
#include <float.h>
#endif

namespace {

// A division by zero or an invalid operation anywhere yields an infinity or a NaN, never a
// trap; results round to nearest.
void StartFloatingPoint() {
    std::feclearexcept(FE_ALL_EXCEPT);
#ifdef _WIN32
    // The x87 unit and SSE alike; the x87 one also computes in extended precision.
    _controlfp(_MCW_EM, _MCW_EM);
    _controlfp(_PC_64, _MCW_PC);
#else
    fedisableexcept(FE_ALL_EXCEPT);
#endif
    std::fesetround(FE_TONEAREST);
}

TXModuleStartup FloatingPointStartup XMODULE_RANK(ModuleRankFloatingPoint){StartFloatingPoint, nullptr};

} // namespace

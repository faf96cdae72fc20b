// Shows the order of module start-up and shut-down around the script module's, from the
// first unit on the link line: ranked modules of its own below and above the script's.
#include "xlogging.h"
#include "xmodules.h"
#include "xscripthost.h"

#include <cfenv>
#include <cmath>
#include <string>

namespace {

std::string LengthHandle() {
    std::optional<uint32_t> Handle = FindBuiltin("STRINGS.LENGTH");
    return Handle ? std::to_string(*Handle) : "none";
}

void LateStart() {
    LogLine(0, "late start " + LengthHandle());
}
void LateStop() {
    LogLine(0, "late stop " + LengthHandle());
}

// Traps a division by zero, which the floating-point start-up that follows must mask again.
void EarlyStart() {
    feenableexcept(FE_DIVBYZERO | FE_INVALID);
    LogLine(0, "early start " + LengthHandle());
}
void EarlyStop() {
    LogLine(0, "early stop " + LengthHandle());
}

TXModuleStartup Late XMODULE_RANK(ModuleRankScript + 1){LateStart, LateStop};
TXModuleStartup Early XMODULE_RANK(ModuleRankFloatingPoint - 1){EarlyStart, EarlyStop};

} // namespace

int main() {
    volatile float Zero = 0;
    float Quotient = 1.0f / Zero;
    LogLine(0, std::isinf(Quotient) ? "main inf" : "main finite");
    return 0;
}

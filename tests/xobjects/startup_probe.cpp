// Shows when the object type registry exists around the object model's start-up and
// shut-down: one ranked module just below it, one just above.
#include "xlogging.h"
#include "xmodules.h"
#include "xobjects.h"

#include <string>

namespace {

std::string Registry() {
    if (!ObjectTypes) return "none";
    return FindObjectType("OBJECT") == &CreateBaseObject ? "OBJECT" : "empty";
}

void BelowStart() {
    LogLine(0, "below start " + Registry());
}
void BelowStop() {
    LogLine(0, "below stop " + Registry());
}
void AboveStart() {
    LogLine(0, "above start " + Registry());
}
void AboveStop() {
    LogLine(0, "above stop " + Registry());
}

TXModuleStartup Below XMODULE_RANK(ModuleRankObjects - 1){BelowStart, BelowStop};
TXModuleStartup Above XMODULE_RANK(ModuleRankObjects + 1){AboveStart, AboveStop};

} // namespace

int main() {
    LogLine(0, "main " + Registry());
    return 0;
}

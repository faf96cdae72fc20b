// Shows when the object type registry exists, with "OBJECT" in it, around the start-up and
// shut-down of the object model and the GUI objects: one ranked module just below the
// object model, one just above the GUI objects.
#include "xguiobject.h"
#include "xlogging.h"
#include "xmodules.h"

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
TXModuleStartup Above XMODULE_RANK(ModuleRankGuiObjects + 1){AboveStart, AboveStop};

} // namespace

int main() {
    LogLine(0, "main " + Registry());
    return 0;
}

#include "xguiobject.h"
#include "xmodules.h"

namespace {

TXModuleStartup GuiObjectsStartup XMODULE_RANK(ModuleRankGuiObjects){StartGuiObjects, StopGuiObjects};

} // namespace

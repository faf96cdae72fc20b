#include "xguiapp.h"
#include "xmodules.h"

namespace {

TXModuleStartup GuiApplicationStartup XMODULE_RANK(ModuleRankGuiApplication){StartGuiApplications,
                                                                             StopGuiApplications};

} // namespace

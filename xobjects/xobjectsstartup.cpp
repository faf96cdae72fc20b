#include "xmodules.h"
#include "xobjects.h"

namespace {

TXModuleStartup ObjectsStartup XMODULE_RANK(ModuleRankObjects){StartObjects, StopObjects};

} // namespace

#include "xmodules.h"
#include "xscripthost.h"

namespace {

TXModuleStartup ScriptStartup XMODULE_RANK(ModuleRankScript){StartBuiltins, StopBuiltins};

} // namespace

#include "xmodules.h"
#include "xscriptcompiler.h"
#include "xscripthost.h"

namespace {

TXModuleStartup ScriptStartup XMODULE_RANK(ModuleRankScript){StartBuiltins, StopBuiltins};
TXModuleStartup FunctionStartup XMODULE_RANK(ModuleRankScript){StartScriptFunctions, nullptr};

} // namespace

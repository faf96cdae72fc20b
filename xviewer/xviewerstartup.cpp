#include "xmodules.h"
#include "xviewpaint.h"

namespace {

TXModuleStartup ViewerStartup XMODULE_RANK(ModuleRankViewer){StartViewer, StopViewer};

} // namespace

#include "effect_fixture.h"

#include <cstring>

namespace {
std::string ProgramPath = "/usr/local/bin/demo";
}

void SetProgramPath(const std::string& Path) {
    ProgramPath = Path;
}

// Stands in for the window layer's call: the path of the running program.
extern "C" DWORD GetModuleFileNameA(HMODULE, LPSTR FileName, DWORD Size) {
    if (Size == 0) return 0;
    size_t Length = std::min<size_t>(ProgramPath.size(), Size - 1);
    std::memcpy(FileName, ProgramPath.data(), Length);
    FileName[Length] = 0;
    return static_cast<DWORD>(Length);
}

#pragma once

#include <cstdint>
#include <string_view>

// The one report channel: Text, then CR LF, written to standard output as a single
// write under a process-wide lock and flushed. Level (0..9, higher is graver) does not
// change the output. A failed write ends the process with exit status 74.
void LogLine(int32_t Level, std::string_view Text);

// Writes Text as it is (no line end) under the same lock and with the same failure rule,
// for the few console texts that are not log lines.
void WriteConsole(std::string_view Text);
#ifdef _WIN32
// <windows.h> makes WriteConsole a macro for its own WriteConsoleA: where it is included,
// the writer above is reached under that name.
void WriteConsoleA(std::string_view Text);
#endif

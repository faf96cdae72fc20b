#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The one report channel: Text, then CR LF, written to standard output as a single
// write under a process-wide lock and flushed. Level (0..9, higher is graver) does not
// change the output. A failed write ends the process with exit status 74.
void LogLine(int32_t Level, std::string_view Text);
// The LogLine calls made so far in the process at Level or above (levels below 0 count as
// 0, above 9 as 9): level 0 is progress, anything above a report.
int64_t LogLinesAtOrAbove(int32_t Level);

// Writes Text as it is (no line end) under the same lock and with the same failure rule,
// for the few console texts that are not log lines.
void WriteConsole(std::string_view Text);

// The tests' console: from StartConsoleCapture on, every console text (LogLine's lines with
// their CR LF, WriteConsole's texts) is collected, whole and in the order written, instead of
// going to standard output; EndConsoleCapture sends text to standard output again and gives
// what was collected. Starting again drops what was collected so far.
void StartConsoleCapture();
std::string EndConsoleCapture();

#ifdef _WIN32
// <windows.h> makes WriteConsole a macro for its own WriteConsoleA: where it is included,
// the writer above is reached under that name.
void WriteConsoleA(std::string_view Text);
#endif

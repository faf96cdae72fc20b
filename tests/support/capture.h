#pragma once

#include "count_of.h"
#include "xlogging.h"

#include <functional>
#include <string>

// What Action writes to the console (LogLine and WriteConsole, collected by the console
// capture instead of reaching standard output).
inline std::string CaptureOutput(const std::function<void()>& Action) {
    StartConsoleCapture();
    Action();
    return EndConsoleCapture();
}

// The line the interpreter writes when a run-time fault ends a script function.
inline const std::string ScriptFaultLine = "unhandled exception in script.execute\r\n";

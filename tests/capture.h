#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

// What Action writes to standard output (console lines included).
inline std::string CaptureOutput(const std::function<void()>& Action) {
    testing::internal::CaptureStdout();
    Action();
    return testing::internal::GetCapturedStdout();
}

// The line the interpreter writes when a run-time fault ends a script function.
inline const std::string ScriptFaultLine = "unhandled exception in script.execute\r\n";

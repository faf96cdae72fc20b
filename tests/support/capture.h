#pragma once

#include <gtest/gtest.h>

#include <cstddef>
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

// How often Part occurs in Text (overlapping occurrences counted).
inline size_t CountOf(const std::string& Text, const std::string& Part) {
    size_t Count = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) Count++;
    return Count;
}

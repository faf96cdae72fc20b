#pragma once

// What the tests need from the operating system, the same on Linux and on Windows:
// running a program with its output captured, the test's own path, floating-point traps.

#include <string>
#include <vector>

// Which of the program's streams RunProgram collects; the others are discarded.
enum class TCapture { Output, Errors, OutputAndErrors };

struct TProgramRun {
    std::string Text;
    int Status = -1; // exit code; -1 when the program did not start or did not exit normally
};

// Runs Program with Arguments (passed as they are, no shell in between), standard input
// empty, and waits for it to end.
TProgramRun RunProgram(const std::string& Program, const std::vector<std::string>& Arguments,
                       TCapture Capture = TCapture::Output);

// The full path of the running executable.
std::string OwnProgramPath();

// Makes a floating-point division by zero or invalid operation trap.
void TrapDivisionByZeroAndInvalid();

// True when no floating-point exception traps.
bool FloatingPointExceptionsMasked();

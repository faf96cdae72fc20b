// Part of every Windows executable: standard streams and files opened without "b" are binary,
// as on Linux. Console lines end in the CR LF they are written with (text mode would turn
// it into CR CR LF), and what a program writes to a file reads back unchanged.

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>

namespace {

// Before every other static object, so before anything can write.
__attribute__((constructor(101))) void MakeStandardStreamsBinary() {
    _fmode = _O_BINARY;
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

} // namespace

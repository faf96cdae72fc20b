#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

// Helpers shared by the fuzz targets.

// A broken invariant is a finding: say which and abort, so that libFuzzer keeps the input.
#define FUZZ_CHECK(Condition)                                                                                \
    do {                                                                                                     \
        if (!(Condition)) {                                                                                  \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #Condition);               \
            std::abort();                                                                                    \
        }                                                                                                    \
    } while (0)

// A file in memory holding the current input, for readers that open files by name. The
// name stays the same from input to input.
class TFuzzFile {
public:
    TFuzzFile() {
        Handle = memfd_create("fuzz-input", MFD_CLOEXEC);
        FUZZ_CHECK(Handle >= 0);
        Path = "/proc/self/fd/" + std::to_string(Handle);
    }
    ~TFuzzFile() { close(Handle); }
    TFuzzFile(const TFuzzFile&) = delete;
    TFuzzFile& operator=(const TFuzzFile&) = delete;

    // Replaces the contents with Size bytes of Data.
    void Write(const uint8_t* Data, size_t Size) {
        FUZZ_CHECK(ftruncate(Handle, 0) == 0);
        size_t Done = 0;
        while (Done < Size) {
            ssize_t Written = pwrite(Handle, Data + Done, Size - Done, static_cast<off_t>(Done));
            FUZZ_CHECK(Written > 0);
            Done += static_cast<size_t>(Written);
        }
    }
    const std::string& Name() const { return Path; }
    int Descriptor() const { return Handle; }
    // Everything written so far, by whoever wrote it.
    std::string Read() const {
        std::string Text;
        char Block[4096];
        for (off_t At = 0;;) {
            ssize_t Got = pread(Handle, Block, sizeof Block, At);
            FUZZ_CHECK(Got >= 0);
            if (Got == 0) return Text;
            Text.append(Block, static_cast<size_t>(Got));
            At += Got;
        }
    }

private:
    int Handle = -1;
    std::string Path;
};

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
        Descriptor = memfd_create("fuzz-input", MFD_CLOEXEC);
        FUZZ_CHECK(Descriptor >= 0);
        Path = "/proc/self/fd/" + std::to_string(Descriptor);
    }
    ~TFuzzFile() { close(Descriptor); }
    TFuzzFile(const TFuzzFile&) = delete;
    TFuzzFile& operator=(const TFuzzFile&) = delete;

    // Replaces the contents with Size bytes of Data.
    void Write(const uint8_t* Data, size_t Size) {
        FUZZ_CHECK(ftruncate(Descriptor, 0) == 0);
        size_t Done = 0;
        while (Done < Size) {
            ssize_t Written = pwrite(Descriptor, Data + Done, Size - Done, static_cast<off_t>(Done));
            FUZZ_CHECK(Written > 0);
            Done += static_cast<size_t>(Written);
        }
    }
    const std::string& Name() const { return Path; }

private:
    int Descriptor = -1;
    std::string Path;
};

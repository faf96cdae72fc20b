#pragma once

// Fixture paths and scratch files for the audio tests.

#include "tempfolder.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

inline std::string Fixture(const char* Name) {
    return std::string(TEST_DATA_DIR) + "/" + Name;
}

inline std::vector<char> ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// A file in a folder of its own, removed with the object.
class TScratchFile {
public:
    explicit TScratchFile(const char* Name) : Folder("tallowmesh-audio"), Path((Folder.Path() / Name).string()) {}

    void Write(const std::vector<char>& Bytes) const {
        std::ofstream Out(Path, std::ios::binary);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    }

private:
    TTempFolder Folder;

public:
    std::string Path;
};

// Count random bytes, the same every run: no MPEG audio, though single headers turn up.
inline std::vector<char> Junk(size_t Count) {
    std::mt19937 Generator(12345);
    std::vector<char> Bytes(Count);
    for (auto& Byte : Bytes) Byte = static_cast<char>(Generator() & 0xFF);
    return Bytes;
}

inline std::vector<char> Concatenated(std::vector<char> Front, const std::vector<char>& Back) {
    Front.insert(Front.end(), Back.begin(), Back.end());
    return Front;
}

#ifdef _WIN32
// Open handles of this process, files among them.
inline int OpenFileCount() {
    DWORD Count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &Count);
    return static_cast<int>(Count);
}

// A file that is no regular one.
inline const char* const DeviceFile = "NUL";
#else
// Open file descriptors of this process.
inline int OpenFileCount() {
    int Count = 0;
    for ([[maybe_unused]] auto& Entry : std::filesystem::directory_iterator("/proc/self/fd")) Count++;
    return Count;
}

// A file that is no regular one.
inline const char* const DeviceFile = "/dev/zero";
#endif

// A folder, which is no regular file either.
inline std::string FolderPath() {
    return std::filesystem::temp_directory_path().string();
}

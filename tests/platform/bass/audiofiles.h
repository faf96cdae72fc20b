#pragma once

// Fixture paths and scratch files for the audio tests.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

inline std::string Fixture(const char* Name) {
    return std::string(TEST_DATA_DIR) + "/" + Name;
}

inline std::vector<char> ReadAll(const std::string& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// A file in a folder of this process's own, removed with the object.
class TScratchFile {
public:
    explicit TScratchFile(const char* Name) {
        Folder = std::filesystem::temp_directory_path() / ("tallowmesh-audio-" + std::to_string(getpid()));
        std::filesystem::create_directories(Folder);
        Path = (Folder / Name).string();
    }
    ~TScratchFile() {
        std::error_code Ignored;
        std::filesystem::remove(Path, Ignored);
        std::filesystem::remove(Folder, Ignored); // once empty
    }

    void Write(const std::vector<char>& Bytes) const {
        std::ofstream Out(Path, std::ios::binary);
        Out.write(Bytes.data(), static_cast<std::streamsize>(Bytes.size()));
    }

    std::string Path;

private:
    std::filesystem::path Folder;
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

// Open file descriptors of this process.
inline int OpenFileCount() {
    int Count = 0;
    for ([[maybe_unused]] auto& Entry : std::filesystem::directory_iterator("/proc/self/fd")) Count++;
    return Count;
}

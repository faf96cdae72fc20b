#include "tempfolder.h"

#include <fstream>

#ifdef _WIN32
#include <process.h>
#define getpid _getpid
#else
#include <unistd.h>
#endif

TTempFolder::TTempFolder(const std::string& Prefix) {
    const std::filesystem::path Base = std::filesystem::temp_directory_path();
    const std::string Stem = Prefix + "-" + std::to_string(getpid()) + "-";
    // create_directory is false for a folder that is there already: take the next number.
    for (int Number = 0;; Number++) {
        Folder = Base / (Stem + std::to_string(Number));
        if (std::filesystem::create_directory(Folder)) break;
    }
}

TTempFolder::~TTempFolder() {
    std::error_code Ignored;
    std::filesystem::remove_all(Folder, Ignored);
}

std::string TTempFolder::Write(const std::string& Name, std::string_view Text) const {
    const std::filesystem::path File = Folder / Name;
    std::filesystem::create_directories(File.parent_path());
    std::ofstream(File, std::ios::binary).write(Text.data(), static_cast<std::streamsize>(Text.size()));
    return File.string();
}

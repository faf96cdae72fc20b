#pragma once

#include <filesystem>

// The working directory at Folder while it lives, then back where it was: file names
// relative to the working directory (the test instruction's data folder among them) are
// found there meanwhile.
class TInFolder {
public:
    explicit TInFolder(const std::filesystem::path& Folder) : Saved(std::filesystem::current_path()) {
        std::filesystem::current_path(Folder);
    }
    ~TInFolder() { std::filesystem::current_path(Saved); }
    TInFolder(const TInFolder&) = delete;
    TInFolder& operator=(const TInFolder&) = delete;

private:
    std::filesystem::path Saved;
};

#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

// A folder of its own under the system's temporary folder: made new and empty when the
// object is built (the name is Prefix, the process id and a number no other folder holds),
// removed with everything in it when the object goes.
class TTempFolder {
public:
    explicit TTempFolder(const std::string& Prefix);
    ~TTempFolder();
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    const std::filesystem::path& Path() const { return Folder; }
    // Writes Text to Name (a path below the folder, '/' between folders, made as needed)
    // and gives the file's path.
    std::string Write(const std::string& Name, std::string_view Text) const;

private:
    std::filesystem::path Folder;
};

// A fixture with a fresh folder per test, named after the test: Directory while the test
// runs, removed after it.
class TempFolderTest : public testing::Test {
protected:
    void SetUp() override {
        std::string Name = testing::UnitTest::GetInstance()->current_test_info()->name();
        for (char& Character : Name)
            if (Character == '/') Character = '_'; // "Case/0" of a parameterised test
        TestFolder = std::make_unique<TTempFolder>(Name);
        Directory = TestFolder->Path();
    }
    void TearDown() override { TestFolder.reset(); }

    std::string Write(const std::string& Name, std::string_view Text) const { return TestFolder->Write(Name, Text); }

    std::filesystem::path Directory;

private:
    std::unique_ptr<TTempFolder> TestFolder;
};

#pragma once

#include "xguiobject.h"

#include "../capture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

// A fresh folder per test for definition files, and loading them with the output caught.
class DefinitionFiles : public testing::Test {
protected:
    void SetUp() override {
        Directory = std::filesystem::temp_directory_path() /
                    ("xobjects-" + std::to_string(getpid()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Directory);
    }
    void TearDown() override { std::filesystem::remove_all(Directory); }

    // Writes Text to Name (a path below the folder, '/' between folders) and gives the path.
    std::string Write(const std::string& Name, const std::string& Text) {
        std::filesystem::path Path = Directory / Name;
        std::filesystem::create_directories(Path.parent_path());
        std::ofstream(Path, std::ios::binary) << Text;
        return Path.string();
    }

    // A GUI object named SELF without a parent, built from FileName.
    std::unique_ptr<TXGuiObject> Load(const std::string& FileName) {
        std::unique_ptr<TXGuiObject> Object;
        Output = CaptureOutput([&] { Object = std::make_unique<TXGuiObject>(nullptr, FileName, "SELF"); });
        return Object;
    }

    // The lines "Loading <file>" and then Lines, each ending in CR LF.
    static std::string Expected(const std::string& File, std::initializer_list<std::string> Lines = {}) {
        std::string Text = "Loading " + File + "\r\n";
        for (const std::string& Line : Lines) Text += Line + "\r\n";
        return Text;
    }

    std::filesystem::path Directory;
    std::string Output;
};

inline int32_t IntegerOf(TXObject& Object, const std::string& Name) {
    TXProperty* Property = Object.FindProperty(Name);
    return Property && Property->Data ? LoadPropertyInteger(Property->Data) : -12345;
}

inline std::string StringOf(TXObject& Object, const std::string& Name) {
    TXProperty* Property = Object.FindProperty(Name);
    return Property && Property->Data ? std::string(LoadPropertyString(Property->Data)) : "<none>";
}

inline TXGuiObject* ChildOf(TXObject& Object, const std::string& Name) {
    TXProperty* Property = Object.FindProperty(Name);
    if (!Property || Property->Kind != ptObject) return nullptr;
    return dynamic_cast<TXGuiObject*>(static_cast<TXObject*>(Property->Data));
}

#pragma once

#include "xguiobject.h"

#include "capture.h"
#include "tempfolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// A fresh folder per test for definition files (Write), and loading them with the output caught.
class DefinitionFiles : public TempFolderTest {
protected:
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

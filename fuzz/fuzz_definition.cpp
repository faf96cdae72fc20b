// Definition files through the loader, the whole road: the input is the main file and the
// child files it may name, which are written into a folder of their own; the tree is loaded,
// its scripts run (RunMain, with TEST(0) and TEST(1) reaching real applications built from
// the input's own window and contents files), and then it gets the messages of a frame:
// layout, drawing with the recording OpenGL, pointer messages, and the script functions of
// each object run as message handlers. Every script run is held to a step budget.
//
// Input: the main file's text, then for every further file a line "@@ NAME" and its text
// (at most 8 files). NAME may hold folders ('\' or '/'), never ".." or a leading '/'; the
// folder is the working directory, so "data\types\window.txt" and "data\testapp.txt" are
// what TEST(0) builds from.

#include "fuzzsupport.h"
#include "glrecord.h"
#include "xguiapp.h"
#include "xguiobject.h"
#include "xscriptinterpreter.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view MainFile = "main.txt";
constexpr std::string_view FileMarker = "\n@@ ";
constexpr size_t MaxFiles = 8;
constexpr int64_t StepBudget = 1000;
constexpr int32_t HandlerMessageBase = 100; // message numbers given to script handlers
constexpr size_t HandlersPerObject = 4;
constexpr size_t HandlerObjects = 16;

// A file name the folder can hold, with '/' between folders; empty when there is none.
std::string SafeName(std::string_view Name) {
    while (!Name.empty() && (Name.back() == ' ' || Name.back() == '\r')) Name.remove_suffix(1);
    std::string Safe;
    for (char C : Name) {
        bool Plain = (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '_' ||
                     C == '.' || C == '-' || C == ' ';
        if (C == '\\' || C == '/')
            Safe += '/';
        else if (Plain)
            Safe += C;
        else
            return "";
    }
    if (Safe.empty() || Safe.size() > 100 || Safe.front() == '/' || Safe.back() == '/') return "";
    for (const auto& Part : std::filesystem::path(Safe))
        if (Part == ".." || Part == "." || Part.empty()) return "";
    return Safe;
}

// The folder every input's files go to, made once; the working directory from then on.
const std::filesystem::path& Folder() {
    static const std::filesystem::path Made = [] {
        char Template[] = "/tmp/fuzz-definition-XXXXXX";
        FUZZ_CHECK(mkdtemp(Template) != nullptr);
        std::filesystem::current_path(Template);
        std::atexit([] { std::filesystem::remove_all(Folder()); });
        SetScriptStepBudget(StepBudget);
        return std::filesystem::path(Template);
    }();
    return Made;
}

void WriteFiles(std::string_view Input) {
    const std::filesystem::path& Root = Folder();
    for (const auto& Entry : std::filesystem::directory_iterator(Root)) std::filesystem::remove_all(Entry);
    std::string Name(MainFile);
    for (size_t Count = 0; Count < MaxFiles; Count++) {
        size_t Marker = Input.find(FileMarker);
        std::string_view Text = Input.substr(0, Marker);
        if (!Name.empty()) {
            std::filesystem::path Path = Root / Name;
            std::error_code Ignored;
            std::filesystem::create_directories(Path.parent_path(), Ignored);
            std::ofstream(Path, std::ios::binary).write(Text.data(), std::streamsize(Text.size()));
        }
        if (Marker == std::string_view::npos) return;
        Input.remove_prefix(Marker + FileMarker.size());
        size_t LineEnd = Input.find('\n');
        Name = SafeName(Input.substr(0, LineEnd));
        Input.remove_prefix(LineEnd == std::string_view::npos ? Input.size() : LineEnd + 1);
    }
}

// The GUI objects of the tree, parents first.
void Collect(TXGuiObject* Object, std::vector<TXGuiObject*>& Objects) {
    if (!Object) return;
    Objects.push_back(Object);
    for (int32_t Index = 0; Index < Object->ChildCount(); Index++) Collect(Object->Child(Index), Objects);
}

// Each object's first script functions become handlers of messages of their own, and the
// root is sent each of them: the handlers run, and the messages pass on to the children.
void RunHandlers(TXGuiObject& Root) {
    std::vector<TXGuiObject*> Objects;
    Collect(&Root, Objects);
    std::vector<int32_t> Messages;
    for (size_t At = 0; At < Objects.size() && At < HandlerObjects; At++) {
        TXScriptObjectFunction* Main = Objects[At]->MainFunction.get();
        if (!Main) continue;
        for (size_t Index = 0; Index < Main->Functions.size() && Index < HandlersPerObject; Index++) {
            int32_t Message = HandlerMessageBase + int32_t(Index);
            TXHandler& Handler = Objects[At]->HandlerFor(Message);
            Handler.Kind = hkScriptName;
            Handler.FuncName.Assign(Main->Functions[Index]->Name);
            if (Messages.size() <= Index) Messages.push_back(Message);
        }
    }
    for (int32_t Message : Messages) Root.Processmessage(Message, nullptr);
}

void SendFrame(TXGuiObject& Root) {
    Root.Processmessage(xmAlign, nullptr);
    GLRecord::Reset();
    TXDrawMessage Draw;
    Root.Processmessage(xmDraw, &Draw);
    Root.Processmessage(xmDraw, nullptr);
    Draw.Msg = xmPaint;
    Root.Processmessage(xmPaint, &Draw);
    // A press inside, a drag out of the object and back, a release; then the same outside.
    const int32_t Points[][3] = {{xmMouseMove, 2, 2},   {xmMouseDown, 5, 5},         {xmMouseMove, 40, 12},
                                 {xmMouseMove, -3, 9},  {xmMouseMove, 100000, -100}, {xmMouseUp, 40, 12},
                                 {xmMouseDown, -1, -1}, {xmMouseUp, -1, -1},         {xmMouseMove, 0, 0}};
    for (const auto& Point : Points) {
        TXMouseMessage Mouse;
        Mouse.Msg = Point[0];
        Mouse.X = Point[1];
        Mouse.Y = Point[2];
        Mouse.Button = 1;
        Root.Processmessage(Point[0], &Mouse);
    }
    TXMouseMessage Enter;
    Enter.Msg = xmMouseEnter;
    Root.Processmessage(xmMouseEnter, &Enter);
    Enter.Msg = xmMouseLeave;
    Root.Processmessage(xmMouseLeave, &Enter);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    WriteFiles(std::string_view(reinterpret_cast<const char*>(Data), Size));
    {
        TXGuiObject Root(nullptr, MainFile, "MAIN");
        Root.RunMain();
        Root.RunMain(); // runs nothing more
        SendFrame(Root);
        RunHandlers(Root);
        SendFrame(Root);
    }
    // What TEST(0) made and no TEST(1) freed.
    DestroyTestApplications();
    FUZZ_CHECK(TestApplicationCount() == 0);
    return 0;
}

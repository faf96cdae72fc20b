#pragma once

#include "xguiobject.h"
#include "xmessage.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

// The GUI application: a GUI object built from a window type file, loaded and run on the
// caller's thread, whose contents file is loaded and run on a worker thread of its own.
// Also the routine behind the interpreter's test instruction.

class TXGuiApplication;

// The worker: runs its body on a system thread of its own from construction on; the
// destructor waits for the body to end (the body looks at no stop request), so it is never
// called on the worker itself. What escapes the body ends it and is kept in Failure, unlogged.
class TXGuiThread {
public:
    explicit TXGuiThread(TXGuiApplication* OwnerApplication);
    virtual ~TXGuiThread();
    TXGuiThread(const TXGuiThread&) = delete;
    TXGuiThread& operator=(const TXGuiThread&) = delete;

    TXGuiApplication* Application; // not owned
    std::exception_ptr Failure;    // read it only once the thread object is gone or joined

private:
    // Builds the contents object "APPLICATION" (no parent) from the application's contents
    // file, publishes it, runs its scripts, stamps the CONTENT record and sets Loaded.
    void Execute();
    std::thread Worker;
};

class TXGuiApplication : public TXGuiObject {
public:
    // Loads TypeFile into this object and runs its scripts (RunMain) on the calling thread,
    // notes where a "STRING" property "CONTENT" keeps its value, then starts the worker.
    TXGuiApplication(TXObject* InitialParent, std::string_view TypeFile, std::string_view ContentsFileName,
                     std::string_view InitialName);
    // Waits for the worker, frees the contents object, then the GUI object.
    ~TXGuiApplication() noexcept(false) override;

    void Processmessage(int32_t Message, void* Parameter) override;

    std::string ContentsFile;
    std::unique_ptr<TXGuiThread> Thread;
    // Published by the worker: a thread that reads Loaded true (acquire) sees the whole
    // contents tree, its scripts run and the stamp made. The contents tree and the CONTENT
    // record belong to the worker until then.
    std::atomic<TXGuiObject*> ContentsObject{nullptr};
    TXMessage* ContentsTarget = nullptr; // the "CONTENT" string's storage, or null
    std::atomic<bool> Loaded{false};

    // A test instruction asked for this application's end while it was being built.
    bool DestroyRequested = false;

private:
    friend void RunTest(int32_t Mode, TXObject* Owner);
    friend TXGuiApplication* MakeTestApplication();
    bool Constructing = true;
    bool MadeForTest = false; // counted among the test applications until it goes
};

// The names the test instruction builds its application from.
constexpr std::string_view TestTypeFile = "data\\types\\window.txt";
constexpr std::string_view TestContentsFile = "data\\testapp.txt";

// The application of the test instruction's mode 0: "TEST<ticks mod 382624>" built from the
// two test files (relative to the working directory), placed at left 160, top 80, 180 by 200,
// and laid out. The caller, or a TEST(1) of its own tree, frees it.
TXGuiApplication* CreateTestApplication();

// Test applications alive at once in the process. Past it TEST(0) starts none and writes
// "TEST(0): 16 test applications are running already, none started" (level 3); the script
// goes on. CreateTestApplication called directly is counted but never refused.
constexpr int32_t MaxTestApplications = 16;
// The test applications alive now (an application counts until its worker has ended), and
// the freeing of them all, for harnesses: nothing else records what TEST(0) made. Frees
// under way on other threads are waited for; an application is freed once, by whoever
// claims it first.
int32_t TestApplicationCount();
void DestroyTestApplications();

// The test instruction (opTest). Mode 0 is CreateTestApplication within
// MaxTestApplications; the script does not get the application. Mode 1 frees the
// application above Owner (Owner itself, or the first application up its parent chain; none
// is a fault, thrown), once however often asked: at once when no script or run is under way
// on the thread, otherwise when the outermost one has returned. An application asked for its end while being
// built by native code outside any run stays with that code, marked DestroyRequested. Other modes do nothing.
void RunTest(int32_t Mode, TXObject* Owner);

// The module's start-up (the test routine, the deferred frees) and shut-down.
void StartGuiApplications();
void StopGuiApplications();

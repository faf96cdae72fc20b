// When applications end: one freed by the harness while its own free is still pending, and
// applications whose construction or worker ends with an exception.

#include "xguiapp.h"

#include "xlogging.h"
#include "xscripthost.h"

#include "capture.h"
#include "in_folder.h"
#include "loader_fixture.h"
#include "wait_loaded.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

// A gate a script stops at: "X = X.TESTHOLD" (the built-in STRINGS.TESTHOLD) says it has arrived,
// then waits until the test opens the gate. Only the worker's script calls it. The test's
// wait for the arrival is bounded only so that a script that never arrives fails the test.
struct TGate {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Arrived = false;
    bool Open = false;

    void Reset() {
        std::lock_guard<std::mutex> Guard(Lock);
        Arrived = Open = false;
    }
    bool WaitForArrival() {
        std::unique_lock<std::mutex> Guard(Lock);
        return Changed.wait_for(Guard, std::chrono::seconds(60), [this] { return Arrived; });
    }
    void Release() {
        std::lock_guard<std::mutex> Guard(Lock);
        Open = true;
        Changed.notify_all();
    }
};
TGate Gate;

void HoldAtGate(TXScriptHost&) {
    std::unique_lock<std::mutex> Guard(Gate.Lock);
    Gate.Arrived = true;
    Gate.Changed.notify_all();
    Gate.Changed.wait(Guard, [] { return Gate.Open; });
}

// "PROBE" objects count their frees; "THROWER" objects cannot be built.
int32_t ProbesDestroyed = 0;

class TProbe : public TXGuiObject {
public:
    using TXGuiObject::TXGuiObject;
    ~TProbe() noexcept(false) override { ProbesDestroyed++; }
};

TXObject* BuildProbe(std::string_view, TXObject* Parent, std::string_view FileName, std::string_view Name) {
    return new TProbe(Parent, FileName, Name);
}

TXObject* BuildThrower(std::string_view, TXObject*, std::string_view, std::string_view) {
    throw std::runtime_error("no thrower today");
}

class ApplicationLifetime : public DefinitionFiles {
protected:
    void SetUp() override {
        DefinitionFiles::SetUp();
        RegisterObjectType("PROBE", BuildProbe);
        RegisterObjectType("THROWER", BuildThrower);
        // Once per process: the registry keeps the first routine under a name.
        static bool Registered = false;
        if (!Registered) CaptureOutput([] { Registered = RegisterBuiltin("STRINGS.TESTHOLD", HoldAtGate); });
        ASSERT_TRUE(Registered);
        Gate.Reset();
        ProbesDestroyed = 0;
    }
    void TearDown() override {
        DestroyTestApplications();
        DefinitionFiles::TearDown();
    }
};

// The worker of an application makes a test application whose own TEST(1) is to free it
// when that worker's script ends; the harness frees it first. The worker, let go on, must
// not free it again.
TEST_F(ApplicationLifetime, AFreeByTheHarnessCancelsTheFreeItsOwnScriptAskedFor) {
    Write("data/types/window.txt", "NEW P = PROBE:\nEND;\nIMPLEMENTATION\nTEST(1)\n");
    Write("data/testapp.txt", "END.");
    std::string Type = Write("type.txt", "END.");
    std::string Contents = Write("contents.txt", "IMPLEMENTATION\nTEST(0)\nVAR X = 0;\nX = X.TESTHOLD;\n"
                                                 "ALERT(\"let go\");\n");
    TInFolder InFolder(Directory);
    std::string Lines = CaptureOutput([&] {
        auto* Application = new TXGuiApplication(nullptr, Type, Contents, "WINDOW");
        if (Gate.WaitForArrival()) {
            // Built on the worker and waiting there for the end of the worker's script.
            EXPECT_EQ(TestApplicationCount(), 1);
            EXPECT_EQ(ProbesDestroyed, 0);
            DestroyTestApplications();
            EXPECT_EQ(TestApplicationCount(), 0);
            EXPECT_EQ(ProbesDestroyed, 1);
        } else {
            ADD_FAILURE() << "the worker's script never reached the gate";
        }
        Gate.Release();
        WaitUntilLoaded(*Application);
        delete Application;
    });
    EXPECT_EQ(CountOf(Lines, "let go\r\n"), 1u) << Lines;
    EXPECT_EQ(ProbesDestroyed, 1);
}

// The same test application freed by its pending request once the worker's script ends:
// the request still stands when nothing freed it before.
TEST_F(ApplicationLifetime, APendingFreeHappensOnTheWorkerWhenItsScriptEnds) {
    Write("data/types/window.txt", "NEW P = PROBE:\nEND;\nIMPLEMENTATION\nTEST(1)\n");
    Write("data/testapp.txt", "END.");
    std::string Type = Write("type.txt", "END.");
    std::string Contents = Write("contents.txt", "IMPLEMENTATION\nTEST(0)\nVAR X = 0;\nX = X.TESTHOLD;\n");
    TInFolder InFolder(Directory);
    std::string Lines = CaptureOutput([&] {
        auto* Application = new TXGuiApplication(nullptr, Type, Contents, "WINDOW");
        EXPECT_TRUE(Gate.WaitForArrival());
        EXPECT_EQ(TestApplicationCount(), 1);
        Gate.Release();
        WaitUntilLoaded(*Application);
        delete Application;
    });
    EXPECT_EQ(TestApplicationCount(), 0) << Lines;
    EXPECT_EQ(ProbesDestroyed, 1);
}

// The harness frees the test applications while a worker is freeing one of them for its
// pending request (and waiting there for that application's own worker, held at the gate):
// the harness waits for that free instead of freeing the application a second time.
TEST_F(ApplicationLifetime, TheHarnessWaitsForAFreeUnderWayOnAWorker) {
    Write("data/types/window.txt", "NEW P = PROBE:\nEND;\nIMPLEMENTATION\nTEST(1)\n");
    Write("data/testapp.txt", "IMPLEMENTATION\nVAR X = 0;\nX = X.TESTHOLD;\n");
    std::string Type = Write("type.txt", "END.");
    std::string Contents = Write("contents.txt", "IMPLEMENTATION\nTEST(0)\n");
    TInFolder InFolder(Directory);
    CaptureOutput([&] {
        auto* Application = new TXGuiApplication(nullptr, Type, Contents, "WINDOW");
        const bool Arrived = Gate.WaitForArrival();
        std::atomic<bool> HarnessDone{false};
        std::thread Harness([&] {
            DestroyTestApplications();
            HarnessDone = true;
        });
        // Time for the window's worker to take the test application up and for the harness
        // to reach it; what follows must hold whichever comes first.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_FALSE(HarnessDone) << "returned while the test application's worker still runs";
        Gate.Release();
        Harness.join();
        WaitUntilLoaded(*Application);
        delete Application;
        EXPECT_TRUE(Arrived);
    });
    EXPECT_EQ(TestApplicationCount(), 0);
    EXPECT_EQ(ProbesDestroyed, 1);
}

// A window type that cannot be built: TEST(0) is a fault of the script, and the failed
// application takes no room among the test applications.
TEST_F(ApplicationLifetime, ATestApplicationThatCannotBeBuiltGivesItsRoomBack) {
    Write("data/types/window.txt", "NEW P = PROBE:\nEND;\nNEW T = THROWER:\nEND;\nEND.");
    Write("data/testapp.txt", "END.");
    TInFolder InFolder(Directory);
    std::string Outer = Write("outer.txt", "IMPLEMENTATION\nTEST(0)\nALERT(\"not reached\");\n");
    std::string Lines = CaptureOutput([&] {
        TXGuiObject Object(nullptr, Outer, "OUTER");
        Object.RunMain();
    });
    EXPECT_EQ(CountOf(Lines, ScriptFaultLine), 1u);
    EXPECT_EQ(CountOf(Lines, "not reached"), 0u);
    EXPECT_EQ(TestApplicationCount(), 0);
    EXPECT_EQ(ProbesDestroyed, 1); // the part already built is freed
    bool Threw = false;
    CaptureOutput([&] {
        try {
            CreateTestApplication();
        } catch (const std::runtime_error&) {
            Threw = true;
        }
    });
    EXPECT_TRUE(Threw);
    EXPECT_EQ(TestApplicationCount(), 0);
}

// What escapes the worker's body ends it quietly: nothing is logged, no contents object is
// published, Loaded stays false, and the application is freed as usual.
TEST_F(ApplicationLifetime, AContentsTreeThatCannotBeBuiltEndsTheWorkerQuietly) {
    std::string Type = Write("type.txt", "END.");
    std::string Contents = Write("contents.txt", "NEW P = PROBE:\nEND;\nNEW T = THROWER:\nEND;\nEND.");
    std::string Lines = CaptureOutput([&] {
        auto* Application = new TXGuiApplication(nullptr, Type, Contents, "WINDOW");
        Application->Thread.reset(); // waits for the worker
        EXPECT_FALSE(Application->Loaded.load(std::memory_order_acquire));
        EXPECT_EQ(Application->ContentsObject.load(std::memory_order_acquire), nullptr);
        delete Application;
    });
    EXPECT_EQ(Lines, "Loading " + Type + "\r\nLoading " + Contents + "\r\n");
    EXPECT_EQ(ProbesDestroyed, 1);
}

} // namespace

#include "xguiapp.h"

#include "capture.h"
#include "in_folder.h"
#include "wait_loaded.h"
#include "loader_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

// Runs the definition file File and its script as a GUI object.
std::string RunScript(const std::string& File) {
    return CaptureOutput([&] {
        TXGuiObject Object(nullptr, File, "OUTER");
        Object.RunMain();
    });
}

const std::string TooMany = "TEST(0): 16 test applications are running already, none started\r\n";

using TestApplications = DefinitionFiles;

TEST_F(TestApplications, OneScriptStartsNoMoreThanTheBound) {
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "END.");
    std::string File =
        Write("outer.txt", "IMPLEMENTATION\nVAR I;\nFOR (I = 0; I < 40; I += 1) TEST(0)\nALERT(I);\n");
    TInFolder InFolder(Directory);
    std::string Lines = RunScript(File);
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
    // The refusals come in the script's order; the workers' lines may come in between.
    EXPECT_EQ(CountOf(Lines, TooMany), 40u - MaxTestApplications);
    ASSERT_NE(Lines.find("\n40\r\n"), std::string::npos) << Lines;
    EXPECT_LT(Lines.rfind(TooMany), Lines.find("\n40\r\n")) << Lines;
    CaptureOutput(DestroyTestApplications);
    EXPECT_EQ(TestApplicationCount(), 0);
}

TEST_F(TestApplications, ApplicationsStartingApplicationsStopAtTheBoundToo) {
    // Every contents file starts one more application from its worker thread, which finds
    // the files in the working directory: it stays the test's folder until all are freed.
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "IMPLEMENTATION\nTEST(0)\n");
    TInFolder InFolder(Directory);
    std::string Lines = CaptureOutput([] {
        RunTest(0, nullptr);
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (TestApplicationCount() < MaxTestApplications && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
        DestroyTestApplications();
    });
    EXPECT_EQ(TestApplicationCount(), 0);
    EXPECT_LE(CountOf(Lines, TooMany), 1u);
}

TEST_F(TestApplications, AFreedApplicationMakesRoomAgain) {
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "END.");
    TInFolder InFolder(Directory);
    std::vector<TXGuiApplication*> Made;
    CaptureOutput([&] {
        for (int32_t Index = 0; Index < MaxTestApplications; Index++) Made.push_back(CreateTestApplication());
    });
    // The workers may still be writing their lines.
    EXPECT_EQ(CountOf(CaptureOutput([] { RunTest(0, nullptr); }), TooMany), 1u);
    CaptureOutput([&] { delete Made.back(); });
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications - 1);
    CaptureOutput([] { RunTest(0, nullptr); });
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
    CaptureOutput(DestroyTestApplications);
}

// The shipped application, started and freed again and again: by the test instruction from a
// script and freed by the harness, or made directly and closed by its own CLOSE function
// (TEST(1) from a message handler). AddressSanitizer sees every leak, ThreadSanitizer every
// race between the caller and the workers.
TEST_F(TestApplications, SoakTheShippedApplication) {
    std::string File = Write("outer.txt", "IMPLEMENTATION\nTEST(0)\nTEST(0)\n");
    TInFolder InFolder(SOURCE_DIR);
    for (int Round = 0; Round < 50; Round++) {
        RunScript(File);
        TXGuiApplication* Application = nullptr;
        CaptureOutput([&] {
            Application = CreateTestApplication();
            WaitUntilLoaded(*Application);
        });
        ASSERT_EQ(TestApplicationCount(), 3);
        TXHandler& Close = Application->HandlerFor(50);
        Close.Kind = hkScriptName;
        Close.FuncName.Assign("CLOSE");
        CaptureOutput([&] { Application->Processmessage(50, nullptr); });
        ASSERT_EQ(TestApplicationCount(), 2);
        CaptureOutput(DestroyTestApplications);
        ASSERT_EQ(TestApplicationCount(), 0);
    }
}

} // namespace

#include "xguiapp.h"

#include "../capture.h"
#include "../xobjects/loader_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

void WaitUntilLoaded(TXGuiApplication& Application) {
    auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!Application.Loaded.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < Deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(Application.Loaded.load(std::memory_order_acquire));
}

// Runs Text as the script of a GUI object, with the working directory at Folder.
std::string RunScript(const std::string& File, const std::filesystem::path& Folder) {
    std::filesystem::path Saved = std::filesystem::current_path();
    std::filesystem::current_path(Folder);
    std::string Lines = CaptureOutput([&] {
        TXGuiObject Object(nullptr, File, "OUTER");
        Object.RunMain();
    });
    std::filesystem::current_path(Saved);
    return Lines;
}

size_t CountOf(const std::string& Text, const std::string& Part) {
    size_t Count = 0;
    for (size_t At = Text.find(Part); At != std::string::npos; At = Text.find(Part, At + 1)) Count++;
    return Count;
}

const std::string TooMany = "TEST(0): 16 test applications are running already, none started\r\n";

using TestApplications = DefinitionFiles;

TEST_F(TestApplications, OneScriptStartsNoMoreThanTheBound) {
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "END.");
    std::string File =
        Write("outer.txt", "IMPLEMENTATION\nVAR I;\nFOR (I = 0; I < 40; I += 1) TEST(0)\nALERT(I);\n");
    std::string Lines = RunScript(File, Directory);
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
    EXPECT_EQ(CountOf(Lines, TooMany), 40u - MaxTestApplications);
    EXPECT_TRUE(Lines.ends_with(TooMany + "40\r\n")) << Lines;
    CaptureOutput(DestroyTestApplications);
    EXPECT_EQ(TestApplicationCount(), 0);
}

TEST_F(TestApplications, ApplicationsStartingApplicationsStopAtTheBoundToo) {
    // Every contents file starts one more application from its worker thread, which finds
    // the files in the working directory: it stays the test's folder until all are freed.
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "IMPLEMENTATION\nTEST(0)\n");
    std::filesystem::path Saved = std::filesystem::current_path();
    std::filesystem::current_path(Directory);
    std::string Lines = CaptureOutput([] {
        RunTest(0, nullptr);
        auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (TestApplicationCount() < MaxTestApplications && std::chrono::steady_clock::now() < Deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
        DestroyTestApplications();
    });
    std::filesystem::current_path(Saved);
    EXPECT_EQ(TestApplicationCount(), 0);
    EXPECT_LE(CountOf(Lines, TooMany), 1u);
}

TEST_F(TestApplications, AFreedApplicationMakesRoomAgain) {
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "END.");
    std::filesystem::path Saved = std::filesystem::current_path();
    std::filesystem::current_path(Directory);
    std::vector<TXGuiApplication*> Made;
    CaptureOutput([&] {
        for (int32_t Index = 0; Index < MaxTestApplications; Index++) Made.push_back(CreateTestApplication());
    });
    EXPECT_EQ(CaptureOutput([] { RunTest(0, nullptr); }), TooMany);
    CaptureOutput([&] { delete Made.back(); });
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications - 1);
    CaptureOutput([] { RunTest(0, nullptr); });
    EXPECT_EQ(TestApplicationCount(), MaxTestApplications);
    std::filesystem::current_path(Saved);
    CaptureOutput(DestroyTestApplications);
}

// The shipped application, started and freed again and again: by the test instruction from a
// script and freed by the harness, or made directly and closed by its own CLOSE function
// (TEST(1) from a message handler). AddressSanitizer sees every leak, ThreadSanitizer every
// race between the caller and the workers.
TEST_F(TestApplications, SoakTheShippedApplication) {
    std::string File = Write("outer.txt", "IMPLEMENTATION\nTEST(0)\nTEST(0)\n");
    std::filesystem::path Saved = std::filesystem::current_path();
    for (int Round = 0; Round < 50; Round++) {
        RunScript(File, SOURCE_DIR);
        std::filesystem::current_path(SOURCE_DIR);
        TXGuiApplication* Application = nullptr;
        CaptureOutput([&] {
            Application = CreateTestApplication();
            WaitUntilLoaded(*Application);
        });
        std::filesystem::current_path(Saved);
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

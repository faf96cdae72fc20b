#include "xguiapp.h"

#include "xlogging.h"
#include "xscriptinterpreter.h"

#include <windows.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

// The stamp writes a whole record, so only storage of a string property takes it.
static_assert(sizeof(TXMessage) <= size_t(PropertyStringSize), "a message record fits a string property");

namespace {

constexpr std::string_view ContentsObjectName = "APPLICATION";
constexpr std::string_view ContentPropertyName = "CONTENT";
constexpr uint32_t TestNameModulus = 382624;

// Applications whose end a script asked for, each with the thread it is to be freed on; the
// test applications made by the test instruction (or CreateTestApplication) and not yet
// freed; and the applications being freed. One lock for all, so that whoever claims an
// application for its free first is the only one to free it.
std::mutex ApplicationsLock;
std::vector<std::pair<std::thread::id, TXGuiApplication*>> Pending;
std::atomic<int32_t> PendingCount{0};
std::vector<TXGuiApplication*> TestApplications;
int32_t TestCount = 0; // TestApplications, those still being built and those being freed
// Each application being freed, and whether it was taken out of TestApplications for it.
std::vector<std::pair<TXGuiApplication*, bool>> Freeing;
std::condition_variable TestFreed;

constexpr std::string_view TooManyTestsMessage =
    "TEST(0): 16 test applications are running already, none started";
static_assert(MaxTestApplications == 16, "the message names the bound");

bool IsPending(TXGuiApplication* Application) {
    return std::any_of(Pending.begin(), Pending.end(),
                       [&](const auto& Entry) { return Entry.second == Application; });
}

void RemovePending(TXGuiApplication* Application) {
    auto Gone = std::remove_if(Pending.begin(), Pending.end(),
                               [&](const auto& Entry) { return Entry.second == Application; });
    PendingCount.fetch_sub(int32_t(Pending.end() - Gone), std::memory_order_release);
    Pending.erase(Gone, Pending.end());
}

auto FindFreeing(TXGuiApplication* Application) {
    return std::find_if(Freeing.begin(), Freeing.end(),
                        [&](const auto& Entry) { return Entry.first == Application; });
}

bool TestBeingFreed() {
    return std::any_of(Freeing.begin(), Freeing.end(), [](const auto& Entry) { return Entry.second; });
}

// With the lock held: true when Application was not being freed and now is, by the caller.
bool ClaimFree(TXGuiApplication* Application) {
    if (FindFreeing(Application) != Freeing.end()) return false;
    RemovePending(Application);
    auto Listed = std::find(TestApplications.begin(), TestApplications.end(), Application);
    const bool WasListed = Listed != TestApplications.end();
    if (WasListed) TestApplications.erase(Listed);
    Freeing.emplace_back(Application, WasListed);
    return true;
}

// Application's free is over (or ended in a fault): no longer counted, nor being freed.
void EndFree(TXGuiApplication* Application, bool MadeForTest) {
    std::lock_guard<std::mutex> Guard(ApplicationsLock);
    Freeing.erase(FindFreeing(Application));
    if (MadeForTest) TestCount--;
    TestFreed.notify_all();
}

void AddPending(TXGuiApplication* Application) {
    std::lock_guard<std::mutex> Guard(ApplicationsLock);
    if (IsPending(Application) || FindFreeing(Application) != Freeing.end()) return;
    Pending.emplace_back(std::this_thread::get_id(), Application);
    PendingCount.fetch_add(1, std::memory_order_release);
}

// The next application to be freed on this thread, claimed; null when none is left.
TXGuiApplication* TakePending() {
    std::lock_guard<std::mutex> Guard(ApplicationsLock);
    std::thread::id Self = std::this_thread::get_id();
    auto Found =
        std::find_if(Pending.begin(), Pending.end(), [&](const auto& Entry) { return Entry.first == Self; });
    if (Found == Pending.end()) return nullptr;
    TXGuiApplication* Application = Found->second;
    ClaimFree(Application); // takes it off the list too; an application being freed is never pending
    return Application;
}

// The outermost run on this thread has ended: the applications asked to go on it go now.
void DestroyPendingApplications() {
    if (PendingCount.load(std::memory_order_acquire) == 0) return;
    while (TXGuiApplication* Application = TakePending()) delete Application;
}

// Counts one more test application; false, counting nothing, when Limited and the bound is
// reached.
bool ReserveTestApplication(bool Limited) {
    std::lock_guard<std::mutex> Guard(ApplicationsLock);
    if (Limited && TestCount >= MaxTestApplications) return false;
    TestCount++;
    return true;
}

void DestroyApplication(TXGuiApplication* Application) {
    if (RunsActive()) {
        AddPending(Application);
        return;
    }
    bool Claimed;
    {
        std::lock_guard<std::mutex> Guard(ApplicationsLock);
        Claimed = ClaimFree(Application);
    }
    if (Claimed) delete Application;
}

} // namespace

TXGuiThread::TXGuiThread(TXGuiApplication* OwnerApplication) : Application(OwnerApplication) {
    Worker = std::thread([this] {
        try {
            Execute();
        } catch (...) {
            Failure = std::current_exception();
        }
    });
}

TXGuiThread::~TXGuiThread() {
    Worker.join();
}

void TXGuiThread::Execute() {
    auto* Contents = new TXGuiObject(nullptr, Application->ContentsFile, ContentsObjectName);
    Application->ContentsObject.store(Contents, std::memory_order_release);
    Contents->RunMain();
    if (Application->ContentsTarget) StampMessage(Application->ContentsTarget, Contents);
    Application->Loaded.store(true, std::memory_order_release);
}

TXGuiApplication::TXGuiApplication(TXObject* InitialParent, std::string_view TypeFile,
                                   std::string_view ContentsFileName, std::string_view InitialName)
    : TXGuiObject(InitialParent, TypeFile, InitialName) {
    RunMain();
    ContentsFile = ContentsFileName;
    TXProperty* Content = FindProperty(ContentPropertyName);
    if (Content && Content->Kind == ptString && Content->Data)
        ContentsTarget = static_cast<TXMessage*>(Content->Data);
    Thread = std::make_unique<TXGuiThread>(this);
    Constructing = false;
    // Asked to go while its own scripts ran: once the run that built it is over.
    if (DestroyRequested && RunsActive()) AddPending(this);
}

TXGuiApplication::~TXGuiApplication() noexcept(false) {
    {
        // Freed directly by its owner: claimed here, so that nobody else frees it too.
        std::lock_guard<std::mutex> Guard(ApplicationsLock);
        ClaimFree(this);
    }
    try {
        Thread.reset();
        delete ContentsObject.exchange(nullptr, std::memory_order_acq_rel);
    } catch (...) {
        EndFree(this, MadeForTest);
        throw;
    }
    // Room for another test application only once this one's scripts can start none.
    EndFree(this, MadeForTest);
}

void TXGuiApplication::Processmessage(int32_t Message, void* Parameter) {
    TXRunScope Scope; // a free its handlers ask for waits until this returns as well
    TXGuiObject::Processmessage(Message, Parameter);
}

// The test application, already counted by ReserveTestApplication.
TXGuiApplication* MakeTestApplication() {
    std::string Name = "TEST" + std::to_string(GetTickCount() % TestNameModulus);
    TXGuiApplication* Application;
    try {
        Application = new TXGuiApplication(nullptr, TestTypeFile, TestContentsFile, Name);
    } catch (...) {
        std::lock_guard<std::mutex> Guard(ApplicationsLock);
        TestCount--;
        throw;
    }
    {
        std::lock_guard<std::mutex> Guard(ApplicationsLock);
        Application->MadeForTest = true;
    }
    {
        // Listed only once laid out, so that a harness freeing the test applications never
        // frees it under this thread; a TEST(1) of its handlers waits for this scope's end.
        TXRunScope Scope;
        Application->Top = 80;
        Application->Left = 160;
        Application->Height = 200;
        Application->Width = 180;
        Application->Processmessage(xmAlign, nullptr);
        std::lock_guard<std::mutex> Guard(ApplicationsLock);
        TestApplications.push_back(Application);
    }
    return Application;
}

TXGuiApplication* CreateTestApplication() {
    ReserveTestApplication(false);
    return MakeTestApplication();
}

int32_t TestApplicationCount() {
    std::lock_guard<std::mutex> Guard(ApplicationsLock);
    return TestCount;
}

void DestroyTestApplications() {
    for (;;) {
        TXGuiApplication* Application = nullptr;
        {
            std::unique_lock<std::mutex> Guard(ApplicationsLock);
            TestFreed.wait(Guard, [] { return !TestApplications.empty() || !TestBeingFreed(); });
            if (TestApplications.empty()) return;
            Application = TestApplications.back();
            ClaimFree(Application); // a listed application is being freed by nobody
        }
        delete Application;
    }
}

void RunTest(int32_t Mode, TXObject* Owner) {
    if (Mode == 0) {
        if (ReserveTestApplication(true))
            MakeTestApplication();
        else
            LogLine(3, TooManyTestsMessage);
        return;
    }
    if (Mode != 1) return;
    TXObject* Current = Owner;
    while (Current && Current->Parent && !dynamic_cast<TXGuiApplication*>(Current)) Current = Current->Parent;
    auto* Application = dynamic_cast<TXGuiApplication*>(Current);
    if (!Application) throw std::runtime_error("no application above the script's owner");
    if (Application->Constructing)
        Application->DestroyRequested = true;
    else
        DestroyApplication(Application);
}

void StartGuiApplications() {
    SetRunsEndedRoutine(DestroyPendingApplications);
    SetTestRoutine(RunTest);
}

void StopGuiApplications() {
    SetTestRoutine(nullptr);
    SetRunsEndedRoutine(nullptr);
}

#include "xguiapp.h"

#include "xlogging.h"
#include "xscriptinterpreter.h"

#include <windows.h>

#include <algorithm>
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

// Applications whose end a script asked for, each with the thread it is to be freed on.
std::mutex PendingLock;
std::vector<std::pair<std::thread::id, TXGuiApplication*>> Pending;
std::atomic<int32_t> PendingCount{0};

bool IsPending(TXGuiApplication* Application) {
    return std::any_of(Pending.begin(), Pending.end(),
                       [&](const auto& Entry) { return Entry.second == Application; });
}

void AddPending(TXGuiApplication* Application) {
    std::lock_guard<std::mutex> Guard(PendingLock);
    if (IsPending(Application)) return;
    Pending.emplace_back(std::this_thread::get_id(), Application);
    PendingCount.fetch_add(1, std::memory_order_release);
}

void ForgetPending(TXGuiApplication* Application) {
    if (PendingCount.load(std::memory_order_acquire) == 0) return;
    std::lock_guard<std::mutex> Guard(PendingLock);
    auto Gone = std::remove_if(Pending.begin(), Pending.end(),
                               [&](const auto& Entry) { return Entry.second == Application; });
    PendingCount.fetch_sub(int32_t(Pending.end() - Gone), std::memory_order_release);
    Pending.erase(Gone, Pending.end());
}

TXGuiApplication* TakePending() {
    std::lock_guard<std::mutex> Guard(PendingLock);
    std::thread::id Self = std::this_thread::get_id();
    auto Found =
        std::find_if(Pending.begin(), Pending.end(), [&](const auto& Entry) { return Entry.first == Self; });
    if (Found == Pending.end()) return nullptr;
    TXGuiApplication* Application = Found->second;
    Pending.erase(Found);
    PendingCount.fetch_sub(1, std::memory_order_release);
    return Application;
}

// The outermost run on this thread has ended: the applications asked to go on it go now.
void DestroyPendingApplications() {
    if (PendingCount.load(std::memory_order_acquire) == 0) return;
    while (TXGuiApplication* Application = TakePending()) delete Application;
}

// The applications made by the test instruction (or CreateTestApplication) and not yet
// freed, with those still being built counted in TestCount too.
std::mutex TestLock;
std::vector<TXGuiApplication*> TestApplications;
int32_t TestCount = 0;
constexpr std::string_view TooManyTestsMessage =
    "TEST(0): 16 test applications are running already, none started";
static_assert(MaxTestApplications == 16, "the message names the bound");

// Counts one more test application; false, counting nothing, when Limited and the bound is
// reached.
bool ReserveTestApplication(bool Limited) {
    std::lock_guard<std::mutex> Guard(TestLock);
    if (Limited && TestCount >= MaxTestApplications) return false;
    TestCount++;
    return true;
}

void DestroyApplication(TXGuiApplication* Application) {
    if (RunsActive())
        AddPending(Application);
    else
        delete Application;
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
    ForgetPending(this);
    Thread.reset();
    delete ContentsObject.exchange(nullptr, std::memory_order_acq_rel);
    // Room for another test application only once this one's scripts can start none.
    if (MadeForTest) {
        std::lock_guard<std::mutex> Guard(TestLock);
        TestApplications.erase(std::remove(TestApplications.begin(), TestApplications.end(), this),
                               TestApplications.end());
        TestCount--;
    }
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
        std::lock_guard<std::mutex> Guard(TestLock);
        TestCount--;
        throw;
    }
    {
        std::lock_guard<std::mutex> Guard(TestLock);
        Application->MadeForTest = true;
        TestApplications.push_back(Application);
    }
    Application->Top = 80;
    Application->Left = 160;
    Application->Height = 200;
    Application->Width = 180;
    Application->Processmessage(xmAlign, nullptr);
    return Application;
}

TXGuiApplication* CreateTestApplication() {
    ReserveTestApplication(false);
    return MakeTestApplication();
}

int32_t TestApplicationCount() {
    std::lock_guard<std::mutex> Guard(TestLock);
    return TestCount;
}

void DestroyTestApplications() {
    for (;;) {
        TXGuiApplication* Application = nullptr;
        {
            std::lock_guard<std::mutex> Guard(TestLock);
            if (TestApplications.empty()) return;
            Application = TestApplications.back();
        }
        delete Application; // takes itself out of the list
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

// The window layer: timers and the message queue.

#include "windowlayer.h"

#include <algorithm>

namespace {

// ---- Queue and timers ----

TEST_F(WindowLayer, TimerPostsWmTimerAtItsPeriod) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    EXPECT_EQ(SetTimer(Window, 12648430, 30, NULL), 12648430u);
    ASSERT_TRUE(PumpUntil([] {
        return std::count_if(Received.begin(), Received.end(),
                             [](const TReceived& Each) { return Each.Message == WM_TIMER; }) >= 3;
    }));
    const TReceived* Tick = Find(WM_TIMER);
    EXPECT_EQ(Tick->WParam, 12648430u);
    EXPECT_EQ(Tick->Window, Window);
}

TEST_F(WindowLayer, LateTimerGivesOneMessageNotABacklog) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetTimer(Window, 7, 10, NULL);
    Sleep(100);
    int Ticks = 0;
    MSG Message;
    while (PeekMessageA(&Message, Window, WM_TIMER, WM_TIMER, PM_REMOVE)) ++Ticks;
    EXPECT_EQ(Ticks, 1);
}

VOID CALLBACK CountingTimerProcedure(HWND, UINT Message, UINT_PTR Id, DWORD) {
    Received.push_back({NULL, Message, Id, 0});
}

TEST_F(WindowLayer, TimerProcedureIsCalledByDispatch) {
    UINT_PTR Id = SetTimer(NULL, 0, 10, CountingTimerProcedure);
    ASSERT_NE(Id, 0u);
    ASSERT_TRUE(PumpUntil(Arrived(WM_TIMER)));
    EXPECT_EQ(Find(WM_TIMER)->WParam, Id);
    EXPECT_EQ(Find(WM_TIMER)->Window, nullptr);
}

TEST_F(WindowLayer, PeekWithoutRemoveLeavesTheMessage) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_NONE);
    MSG First{};
    MSG Second{};
    bool Queued = false;
    for (int Pass = 0; Pass < 2000 && !Queued; ++Pass, Sleep(1))
        Queued = PeekMessageA(&First, Window, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE);
    ASSERT_TRUE(Queued);
    ASSERT_TRUE(PeekMessageA(&Second, Window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
    EXPECT_EQ(First.wParam, Second.wParam);
    EXPECT_FALSE(PeekMessageA(&Second, Window, WM_KEYDOWN, WM_KEYDOWN, PM_REMOVE));
}

} // namespace

// The window layer: keyboard, close requests and the mouse, as messages.

#include "windowlayer.h"

#include <algorithm>
#include <cstdlib>

namespace {

// ---- Keyboard ----

TEST_F(WindowLayer, EscapeArrivesAsCharacter27) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_NONE);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CHAR)));
    const TReceived* Key = Find(WM_KEYDOWN);
    ASSERT_NE(Key, nullptr);
    EXPECT_EQ(Key->WParam, static_cast<WPARAM>(VK_ESCAPE));
    EXPECT_LT(Key, Find(WM_CHAR)); // the key-down comes first
    EXPECT_EQ(Find(WM_CHAR)->WParam, 27u);
    EXPECT_EQ(Find(WM_CHAR)->Window, Window);
}

TEST_F(WindowLayer, EscapeTypedOnTheXServerArrivesAsCharacter27) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetForegroundWindow(Window);
    SetFocus(Window);
    std::string Command = "xdotool search --name '^" + Title + "$' key --window %1 Escape";
    ASSERT_EQ(std::system(Command.c_str()), 0);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CHAR)));
    EXPECT_EQ(Find(WM_CHAR)->WParam, 27u);
}

TEST_F(WindowLayer, AltKeysArriveAsSystemKeysAndCharacters) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_ESCAPE, KMOD_LALT);
    ASSERT_TRUE(PumpUntil(Arrived(WM_SYSCHAR)));
    EXPECT_EQ(Find(WM_SYSCHAR)->WParam, 27u);
    ASSERT_NE(Find(WM_SYSKEYDOWN), nullptr);
    EXPECT_NE(Find(WM_SYSKEYDOWN)->LParam & (1 << 29), 0);
    EXPECT_EQ(Find(WM_KEYDOWN), nullptr);
    EXPECT_EQ(Find(WM_CHAR), nullptr);

    Received.clear();
    PushKey(SDLK_a, KMOD_LALT, SDL_KEYUP);
    ASSERT_TRUE(PumpUntil(Arrived(WM_SYSKEYUP)));
    EXPECT_EQ(Find(WM_SYSKEYUP)->WParam, static_cast<WPARAM>('A'));
    EXPECT_NE(static_cast<DWORD>(Find(WM_SYSKEYUP)->LParam) & 0xC0000000u, 0u);
}

TEST_F(WindowLayer, AltF4ClosesTheWindowThroughTheDefaultHandling) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    PushKey(SDLK_F4, KMOD_LALT);
    ASSERT_TRUE(PumpUntil(Arrived(WM_DESTROY)));
    EXPECT_NE(Find(WM_CLOSE), nullptr);
    EXPECT_EQ(GetDC(Window), nullptr);
    Window = NULL;
}

struct TCharacterCase {
    SDL_Keycode Key;
    Uint16 Modifiers;
    int Character; // -1: no WM_CHAR
};

TEST_F(WindowLayer, KeyDownsYieldTheirCharacters) {
    const TCharacterCase Cases[] = {
        {SDLK_a, KMOD_NONE, 'a'},       {SDLK_a, KMOD_LSHIFT, 'A'},
        {SDLK_a, KMOD_CAPS, 'A'},       {SDLK_a, KMOD_CAPS | KMOD_LSHIFT, 'a'},
        {SDLK_c, KMOD_LCTRL, 3},        {SDLK_1, KMOD_LSHIFT, '!'},
        {SDLK_SLASH, KMOD_RSHIFT, '?'}, {SDLK_RETURN, KMOD_NONE, 13},
        {SDLK_BACKSPACE, KMOD_NONE, 8}, {SDLK_SPACE, KMOD_NONE, ' '},
        {SDLK_KP_5, KMOD_NUM, '5'},     {SDLK_LEFT, KMOD_NONE, -1},
        {SDLK_F1, KMOD_NONE, -1},       {SDLK_LSHIFT, KMOD_LSHIFT, -1},
        {SDLK_DELETE, KMOD_NONE, -1},
    };
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    for (const auto& Case : Cases) {
        Received.clear();
        PushKey(Case.Key, Case.Modifiers);
        ASSERT_TRUE(PumpUntil(Arrived(WM_KEYDOWN))) << SDL_GetKeyName(Case.Key);
        // TranslateMessage posts WM_CHAR, which the same pass dispatches.
        const TReceived* Character = Find(WM_CHAR);
        if (Case.Character < 0) {
            EXPECT_EQ(Character, nullptr) << SDL_GetKeyName(Case.Key);
        } else {
            ASSERT_NE(Character, nullptr) << SDL_GetKeyName(Case.Key);
            EXPECT_EQ(Character->WParam, static_cast<WPARAM>(Case.Character)) << SDL_GetKeyName(Case.Key);
        }
    }
}

TEST_F(WindowLayer, TranslateMessageAnswersForKeyMessagesOnly) {
    MSG Message{};
    Message.message = WM_KEYUP;
    Message.wParam = 'A';
    EXPECT_TRUE(TranslateMessage(&Message));
    Message.message = WM_MOUSEMOVE;
    EXPECT_FALSE(TranslateMessage(&Message));
    EXPECT_FALSE(PeekMessageA(&Message, NULL, WM_CHAR, WM_CHAR, PM_REMOVE));
}

// ---- Close ----

TEST_F(WindowLayer, CloseRequestArrivesAsWmCloseAndDestroysTheWindow) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_WINDOWEVENT;
    Event.window.event = SDL_WINDOWEVENT_CLOSE;
    Event.window.windowID = SDL_GetWindowID(SdlWindow());
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    ASSERT_TRUE(PumpUntil(Arrived(WM_CLOSE)));
    ASSERT_NE(Find(WM_DESTROY), nullptr);
    EXPECT_GT(Find(WM_DESTROY), Find(WM_CLOSE));
    EXPECT_EQ(SdlWindow(), nullptr);
    EXPECT_FALSE(DestroyWindow(Window)); // harmless afterwards, as in the show's tear-down
    EXPECT_TRUE(wglMakeCurrent(GetDC(Window), NULL));
    EXPECT_EQ(ReleaseDC(Window, NULL), 0);
    Window = NULL;
}

TEST_F(WindowLayer, QuitRequestArrivesAsWmClose) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_QUIT;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    ASSERT_TRUE(PumpUntil(Arrived(WM_DESTROY)));
    EXPECT_EQ(std::count_if(Received.begin(), Received.end(),
                            [](const TReceived& Each) { return Each.Message == WM_CLOSE; }),
              1);
    Window = NULL;
}

TEST_F(WindowLayer, DestroyedWindowsGetNoMoreMessages) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SetTimer(Window, 1, 10, NULL);
    PushKey(SDLK_x, KMOD_NONE);
    ASSERT_TRUE(DestroyWindow(Window));
    Received.clear();
    Sleep(30);
    MSG Message;
    EXPECT_FALSE(PeekMessageA(&Message, NULL, 0, 0, PM_REMOVE));
    Window = NULL;
}

// ---- Mouse ----

TEST_F(WindowLayer, MouseMotionAndButtonsArriveWithClientCoordinates) {
    ASSERT_NE(Create(WS_POPUP | WS_VISIBLE, 64, 64), nullptr);
    SDL_Event Event{};
    Event.type = SDL_MOUSEBUTTONDOWN;
    Event.button.windowID = SDL_GetWindowID(SdlWindow());
    Event.button.button = SDL_BUTTON_LEFT;
    Event.button.state = SDL_PRESSED;
    Event.button.x = 10;
    Event.button.y = 20;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    Event = {};
    Event.type = SDL_MOUSEMOTION;
    Event.motion.windowID = SDL_GetWindowID(SdlWindow());
    Event.motion.state = SDL_BUTTON_LMASK;
    Event.motion.x = 30;
    Event.motion.y = 40;
    ASSERT_EQ(SDL_PushEvent(&Event), 1);
    // The display's real pointer may move over the new window too: look for the event sent.
    ASSERT_TRUE(PumpUntil([] { return Find(WM_LBUTTONDOWN) && FindWith(WM_MOUSEMOVE, MAKELPARAM(30, 40)); }));
    const TReceived* Down = Find(WM_LBUTTONDOWN);
    EXPECT_EQ(Down->WParam & MK_LBUTTON, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(Down->LParam, MAKELPARAM(10, 20));
}

} // namespace

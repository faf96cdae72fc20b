// The show's entry block: console text, cursor, random seed, number format, window, music,
// and the frame loop until the music file has been read, Escape is typed or the window closes.
#include "effect.h"
#include "oglwin.h"
#include "xlogging.h"
#include "xrandom.h"

#include <windows.h>

#include <clocale>
#include <locale>

namespace {

void SeedRandom() {
    LARGE_INTEGER Counter;
    if (QueryPerformanceCounter(&Counter))
        SetRandomSeed(static_cast<uint32_t>(Counter.QuadPart));
    else
        SetRandomSeed(GetTickCount());
}

// Numbers go to and from text with "." whatever the user's locale says.
void FixDecimalSeparator() {
    std::setlocale(LC_NUMERIC, "C");
    std::locale::global(std::locale::classic());
}

} // namespace

int main() {
    // The screen size comes first: without a display the window layer ends the program at
    // this first call with its own line, which the start-up text would otherwise run into.
    int32_t Width = GetSystemMetrics(SM_CXSCREEN);
    int32_t Height = GetSystemMetrics(SM_CYSCREEN);

    WriteConsole("vagina");
    ShowCursor(FALSE);
    SeedRandom();
    FixDecimalSeparator();

    CreateGLWindow(Width, Height, true);
    InitDemo(GetWindowHandle(), Width, Height);

    while (PumpMessages()) {
        if (MusicEnded()) break;
        Sleep(1);
    }

    DestroyGLWindow();
    return 0;
}

// Starts the window layer's video the way the show does, for the no-display test:
// "metrics" reads the screen size first, "class" registers the window class first.

#include "windows.h"
#include "xlogging.h"

#include <cstring>

static LRESULT CALLBACK Procedure(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
    return DefWindowProcA(Window, Message, WParam, LParam);
}

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "metrics") == 0) {
        GetSystemMetrics(SM_CXSCREEN);
    } else if (argc == 2 && std::strcmp(argv[1], "class") == 0) {
        WNDCLASSA Class;
        ZeroMemory(&Class, sizeof Class);
        Class.lpfnWndProc = Procedure;
        Class.lpszClassName = "tallowmesh";
        RegisterClassA(&Class);
    } else {
        return 2;
    }
    LogLine(0, "video started");
    return 0;
}

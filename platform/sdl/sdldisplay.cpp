#include "sdldisplay.h"

#include <SDL.h>

#include <string>

void ChooseDisplayDrivers() {
    const char* Asked = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (Asked != nullptr && *Asked != '\0') return;
    std::string Drivers;
    for (int Index = 0; Index < SDL_GetNumVideoDrivers(); ++Index) {
        std::string Name = SDL_GetVideoDriver(Index);
        if (Name == "offscreen" || Name == "dummy" || Name == "evdev") continue;
        Drivers += (Drivers.empty() ? "" : ",") + Name;
    }
    if (!Drivers.empty()) SDL_SetHint(SDL_HINT_VIDEODRIVER, Drivers.c_str());
}

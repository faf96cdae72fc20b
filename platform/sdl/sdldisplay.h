#pragma once

// What counts as a display for SDL's video (library `sdldisplay`, Linux only).

// SDL falls back on drivers that show nothing (offscreen, dummy, evdev). Unless the user asks
// for a driver by name, only the others are tried, so that finding none means there is no
// display. Call before SDL's video starts.
void ChooseDisplayDrivers();

// The device's power manager: it dims the light and switches the device off after the idle
// times in force, and switches it on again at a tap, a key or an alarm.
#pragma once
#include <windows.h>

// The screen layer with its hooks on the device's input; nullptr when it cannot be made.
HWND CreatePowerManager(HINSTANCE instance);
// What the message loop waits on besides messages: set when the backlight settings change
// (nullptr when there is nothing to watch); BacklightChanged when it was set.
HANDLE BacklightChangeEvent();
void BacklightChanged();
// A tap that reached the taskbar without passing the device's input (the device tool's `tap`):
// true when it may act, false when it only switched the device on.
bool NoteTaskbarTap();

// The taskbar along the top of the screen: notification icons and a clock.
#pragma once
#include <windows.h>

HWND CreateTaskbar(HINSTANCE instance);
// Takes the icons of owners that have gone off the taskbar.
void ForgetEndedOwners(HWND taskbar);

// The taskbar along the top of the screen: notification icons and a clock.
#pragma once
#include <windows.h>

HWND CreateTaskbar(HINSTANCE instance);

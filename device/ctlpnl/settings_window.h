// The "Einstellungen" window: every applet of the device's .cpl files, opened with a tap.
#pragma once
#include <windows.h>

int RunSettingsWindow(HINSTANCE instance);

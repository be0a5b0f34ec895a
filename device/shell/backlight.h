// The device's backlight settings, read where the make the device was told to be keeps them
// (device_models.h): the device knows what it is and detects nothing.
#pragma once
#include <windows.h>

struct BacklightRule {
    DWORD seconds;  // idle time until the light dims; 0: it never does
    bool comesBack; // a tap or a key brightens it again
};

// The rule for the power source in use; a device without backlight keys keeps its light.
BacklightRule ReadBacklightRule(bool externalPower);

// An event set when a value of the device's backlight key changes (the control panel saves
// them after the idle timeouts, whose change the shell hears of first); after it was set,
// WatchBacklight arms it again. nullptr on a device without backlight keys.
HANDLE WatchBacklight();

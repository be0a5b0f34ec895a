// The applet's one copy of everything it edits, loaded before its window opens and written
// back on OK.
#pragma once
#include "wince.h"

enum DeviceProfileId : DWORD {
    ProfileGeneric = 0,
    ProfileKeybd2 = 1,
    ProfileLgHpc = 2,
    ProfileCasio = 3,
    ProfilePhilips = 4,
};

struct AppletSettingsRecord {
    DWORD BatteryIdleTimeout; // seconds, 0 = never
    DWORD ExternalIdleTimeout;
    DWORD WakeupIdleTimeout;
    // One group of four, in this order.
    DWORD BacklightExternalTimeout; // seconds, 0 = never
    DWORD BacklightBatteryTimeout;
    DWORD BacklightExternalAuto; // flag: a key press or tap switches the backlight on again
    DWORD BacklightBatteryAuto;
    // The Settings key values of the same names.
    DWORD ShowLockIcon;
    DWORD Locked; // as the notifier last wrote it; never changed here
    DWORD ExternalOnly;
    DWORD IgnoreNotify;
    DWORD DeviceProfile;        // DeviceProfileId
    DWORD GenericBacklight;     // profile 0 and one of its backlight keys was found
    DWORD GenericBacklightAuto; // ... and both its auto values were read
};

// Static, all zero at load, not cleared between openings of the window.
extern AppletSettingsRecord AppletSettings;

void DetectDeviceProfile();
bool IsReferencePlatform();
bool LoadSettings();
// The three idle timeouts into the copy; while the lock is in force, the user's own battery
// and external timeouts that the lock saved rather than its zeros.
void LoadIdleTimeouts();
void SaveSettings();
void NotifySettingsChange();

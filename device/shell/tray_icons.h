// The icons of the notification area: what owners asked for, checked before it is believed.
#pragma once
#include <windows.h>
#include "tray_protocol.h"

struct TrayIcon {
    HWND owner;
    UINT id;
    UINT callbackMessage; // 0: the owner wants no messages
    bool hasImage;
    tray::Pixels pixels;
    WCHAR tip[tray::TipLength];
};

// Applies an icon record that arrived by WM_COPYDATA; false (and no change) for a record that
// is malformed or asks for what cannot be done.
bool ApplyIconRecord(const COPYDATASTRUCT& copy);

// Forgets the icons whose owner window is gone; true when any went.
bool RemoveOrphanIcons();

int IconCount();
const TrayIcon& IconAt(int index);

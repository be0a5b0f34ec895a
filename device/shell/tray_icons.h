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
    HANDLE process; // the owner's, so that its end is noticed without polling; may be none
};

// Applies an icon record that arrived by WM_COPYDATA; false (and no change) for a record that
// is malformed or asks for what cannot be done.
bool ApplyIconRecord(const COPYDATASTRUCT& copy);

// Forgets the icons whose owner window or owner process is gone; true when any went.
bool RemoveOrphanIcons();

// The processes of the icons' owners, to wait on; how many were written (at most MaxIcons).
DWORD OwnerProcesses(HANDLE* processes);

int IconCount();
const TrayIcon& IconAt(int index);

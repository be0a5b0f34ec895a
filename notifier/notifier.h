// The notifier's process-wide state and the pieces its files share.
#pragma once
#include "wince.h"
#include <shellapi.h>

// One per process, for the whole process.
struct NotifierStateRecord {
    DWORD Locked = 0; // nonzero while the lock is in force
    HWND Window = nullptr;
    HICON UnlockedIcon = nullptr;
    HICON LockedIcon = nullptr;
    NOTIFYICONDATAW TrayIcon = {}; // filled once; later only its icon changes
    // What the last acting power check saw; start values no reading can match.
    LONG LastLineStatus = -1;
    LONG LastIgnoreNotify = -2;
    // A toggle is running. Its announcements of the new timeouts wait on every window, and
    // what is sent to this one meanwhile must not run a second toggle inside the first.
    bool Toggling = false;
};

extern NotifierStateRecord NotifierState;

constexpr wchar_t NotifierClassName[] = L"PowerSupplyZilpNotify";
// A tap on the icon, as the shell reports it (and as others imitate it).
constexpr UINT TrayCallbackMessage = WM_USER;
constexpr LPARAM TapEvent = WM_LBUTTONUP;
constexpr UINT TrayIconId = 1;
constexpr UINT_PTR CheckPowerTimer = 1;
constexpr UINT CheckPowerPeriod = 5000; // ms

// Registered message by which a second instance started with "UPDATE" asks the running
// notifier to derive the wake-up timeout again from freshly saved idle timeouts. Windows
// that do not know it leave it to their default handling.
constexpr wchar_t UpdateMessageName[] = L"Velmora.Ostrelle.Update";

// notifier_window.cpp
LRESULT CALLBACK NotifierWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
bool CreateNotifierWindow(HINSTANCE instance);
void LoadNotifierIcons(HINSTANCE instance);
void AddTrayIcon();
void ShowTrayIcon(HICON icon);
void RemoveTrayIcon();

// lock.cpp
void ToggleLock();
void CALLBACK CheckPower(HWND window, UINT message, UINT_PTR timer, DWORD time);
void RestoreWakeupTimeout();
// "OFF" when no notifier runs, yet "Locked" says a lock is in force: the notifier that made it
// was killed or the device was reset, and nothing else would ever give the user's timeouts
// back. Releases it as an unlock would and restores the wake-up timeout.
void ReleaseOrphanedLock();
void RecheckPower(HWND window);

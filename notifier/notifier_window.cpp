// The notifier's hidden window, which owns the tray icon and the power-check timer, and the
// icon itself.
#include "notifier.h"
#include "resource.h"
#include "wince.h"

namespace {

// Registered at start-up, before the window exists; 0 if that failed.
UINT UpdateMessage = 0;

HICON LoadSmallIcon(HINSTANCE instance, int id) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
}

// A tap, an update or a close that arrives while a toggle runs is carried out after it, in
// the order it came: posted back to this window. So the lock, "Locked" and the timeouts
// always agree, and a close cannot end the notifier halfway through a toggle.
bool DeferredWhileToggling(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!NotifierState.Toggling)
        return false;
    PostMessageW(window, message, wParam, lParam);
    return true;
}

LRESULT OnTrayCallback(HWND window, WPARAM wParam, LPARAM lParam) {
    if (lParam != TapEvent)
        return DefWindowProcW(window, TrayCallbackMessage, wParam, lParam);
    if (DeferredWhileToggling(window, TrayCallbackMessage, wParam, lParam))
        return 0;
    NotifierState.Toggling = true;
    ToggleLock();
    NotifierState.Toggling = false;
    return 0;
}

LRESULT OnClose(HWND window) {
    if (DeferredWhileToggling(window, WM_CLOSE, 0, 0))
        return 0;
    return DefWindowProcW(window, WM_CLOSE, 0, 0);
}

} // namespace

LRESULT CALLBACK NotifierWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        return OnClose(window);
    case TrayCallbackMessage:
        return OnTrayCallback(window, wParam, lParam);
    default:
        if (UpdateMessage && message == UpdateMessage) {
            if (!DeferredWhileToggling(window, message, wParam, lParam))
                RecheckPower(window);
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool CreateNotifierWindow(HINSTANCE instance) {
    UpdateMessage = RegisterWindowMessageW(UpdateMessageName);
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = NotifierWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = NotifierClassName;
    RegisterClassW(&windowClass);
    // Never shown: it exists to be found, to receive the shell's taps and to carry the timer.
    NotifierState.Window = CreateWindowExW(0, NotifierClassName, L"", 0, 0, 0, CW_USEDEFAULT,
                                           CW_USEDEFAULT, nullptr, nullptr, instance, nullptr);
    return NotifierState.Window != nullptr;
}

void LoadNotifierIcons(HINSTANCE instance) {
    NotifierState.UnlockedIcon = LoadSmallIcon(instance, IDI_UNLOCKED);
    NotifierState.LockedIcon = LoadSmallIcon(instance, IDI_LOCKED);
}

void AddTrayIcon() {
    NOTIFYICONDATAW& icon = NotifierState.TrayIcon;
    icon.cbSize = CE_NOTIFYICONDATA_SIZE; // the CE record ends after a 64-character tip
    icon.hWnd = NotifierState.Window;
    icon.uID = TrayIconId;
    icon.uFlags = NIF_MESSAGE | NIF_ICON;
    icon.uCallbackMessage = TrayCallbackMessage;
    icon.hIcon = NotifierState.Locked ? NotifierState.LockedIcon : NotifierState.UnlockedIcon;
    Shell_NotifyIcon(NIM_ADD, &icon);
}

void ShowTrayIcon(HICON icon) {
    NotifierState.TrayIcon.hIcon = icon;
    Shell_NotifyIcon(NIM_MODIFY, &NotifierState.TrayIcon);
}

void RemoveTrayIcon() {
    Shell_NotifyIcon(NIM_DELETE, &NotifierState.TrayIcon);
}

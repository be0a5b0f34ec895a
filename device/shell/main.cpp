// The device shell: started at boot, it owns the taskbar with the notification area and
// leaves the rest of the screen to programs as the work area.
#include <windows.h>
#include <array>
#include "power.h"
#include "startup.h"
#include "taskbar.h"
#include "tray_icons.h"
#include "tray_protocol.h"

namespace {

void SetWorkArea(int top) {
    RECT area = {0, top, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, SPIF_SENDCHANGE);
}

// Sleeps until a message comes, a process that owns an icon ends (its icon leaves at once,
// with no timer waking the shell to look) or the backlight settings change.
void RunMessageLoop(HWND taskbar) {
    for (;;) {
        std::array<HANDLE, tray::MaxIcons + 1> handles;
        DWORD count = OwnerProcesses(handles.data());
        const DWORD owners = count;
        if (HANDLE backlight = BacklightChangeEvent())
            handles[count++] = backlight;
        const DWORD woke =
            MsgWaitForMultipleObjects(count, handles.data(), FALSE, INFINITE, QS_ALLINPUT);
        if (woke < WAIT_OBJECT_0 + owners) {
            ForgetEndedOwners(taskbar);
            continue;
        }
        if (woke < WAIT_OBJECT_0 + count) {
            BacklightChanged();
            continue;
        }
        if (woke == WAIT_FAILED)
            WaitMessage(); // a wait that cannot be made must not turn into a busy loop
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    // One shell per device.
    if (FindWindowExW(nullptr, nullptr, tray::ShellClass, tray::ShellTitle))
        return 0;
    HWND taskbar = CreateTaskbar(instance);
    if (!taskbar)
        return 1;
    SetWorkArea(tray::TaskbarHeight);
    CreatePowerManager(instance);
    // The notification area is up: what starts now can show its icon.
    RunStartupFolder();
    RunMessageLoop(taskbar);
    SetWorkArea(0);
    return 0;
}

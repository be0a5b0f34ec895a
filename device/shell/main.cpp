// The device shell: started at boot, it owns the taskbar with the notification area and
// leaves the rest of the screen to programs as the work area.
#include <windows.h>
#include "startup.h"
#include "taskbar.h"
#include "tray_protocol.h"

namespace {

void SetWorkArea(int top) {
    RECT area = {0, top, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &area, SPIF_SENDCHANGE);
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
    // The notification area is up: what starts now can show its icon.
    RunStartupFolder();
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    SetWorkArea(0);
    return 0;
}

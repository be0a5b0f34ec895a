// ShowIcon, a stand-alone test entry: puts a test icon into the taskbar's notification area
// and takes it away again on the next call. Nothing else in the system uses it.
#include "wince.h"
#include <shellapi.h>

namespace {

constexpr wchar_t TestIconClass[] = L"PowerSupplyZilpNotify";
constexpr WORD TestIconId = 451; // an icon of the module passed in, not of the applet

struct TestIconRecord {
    DWORD Shown; // 0 or 1
    HWND Window;
    HICON Icon;
    NOTIFYICONDATAW Record;
};
TestIconRecord TestIcon;

bool ShowsBox(UINT message) {
    switch (message) {
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_USER: // the icon's notification message
        return true;
    }
    return false;
}

LRESULT CALLBACK TestIconProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Windows CE sends no WM_NCCREATE; here a 0 answer to it would stop the window from
    // being made at all.
    if (message == WM_NCCREATE)
        return DefWindowProcW(window, message, wParam, lParam);
    if (ShowsBox(message))
        MessageBoxW(window, L"Notify Tray Icon!", L"Message", MB_OK);
    return 0;
}

void AddTestIcon(HINSTANCE instance) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = TestIconProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = TestIconClass;
    RegisterClassW(&windowClass); // an earlier call may have registered it
    TestIcon.Window = CreateWindowExW(0, TestIconClass, L"", 0, 0, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                      nullptr, nullptr, instance, nullptr);
    TestIcon.Icon = LoadIconW(instance, MAKEINTRESOURCEW(TestIconId));
    TestIcon.Record = {};
    TestIcon.Record.cbSize = CE_NOTIFYICONDATA_SIZE;
    TestIcon.Record.hWnd = TestIcon.Window;
    TestIcon.Record.uID = 1;
    TestIcon.Record.uFlags = NIF_MESSAGE | NIF_ICON;
    TestIcon.Record.uCallbackMessage = WM_USER;
    TestIcon.Record.hIcon = TestIcon.Icon;
    Shell_NotifyIcon(NIM_ADD, &TestIcon.Record);
    TestIcon.Shown = 1;
}

void RemoveTestIcon() {
    Shell_NotifyIcon(NIM_DELETE, &TestIcon.Record);
    DestroyWindow(TestIcon.Window);
    TestIcon.Window = nullptr;
    TestIcon.Shown = 0;
}

} // namespace

extern "C" int WINAPI ShowIcon(HINSTANCE instance) {
    if (TestIcon.Shown) {
        RemoveTestIcon();
        return 0;
    }
    AddTestIcon(instance);
    return 1;
}

// One screenshot per page of a window with tabs (an applet's): each tab is selected as a tap
// would select it, and the screen is taken once the page has painted. The window is named by
// its class, so that the tool knows no program of its own.
#include <windows.h>
#include <commctrl.h>
#include <cwchar>
#include <string>
#include "commands.h"
#include "output.h"

namespace {

constexpr int TabControlId = 2000;

struct ChildSearch {
    const wchar_t* className;
    int id;
    HWND found;
};

BOOL CALLBACK MatchChild(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<ChildSearch*>(param);
    wchar_t name[64] = L"";
    GetClassNameW(child, name, 64);
    if (_wcsicmp(name, search->className) == 0 && GetDlgCtrlID(child) == search->id) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

HWND WaitTopLevel(const wchar_t* className, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowW(className, nullptr);
        if (window && IsWindowVisible(window))
            return window;
        if (GetTickCount() - start >= ms)
            return nullptr;
        Sleep(100);
    }
}

// WM_NOTIFY does not cross processes, so the tab control is asked to move its focus instead:
// without TCS_BUTTONS that selects the tab and sends TCN_SELCHANGING and TCN_SELCHANGE to the
// host dialog from inside the applet, as a tap on the tab would.
bool SelectTab(HWND tab, int index) {
    DWORD_PTR selected = 0;
    SendMessageTimeoutW(tab, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selected);
    if (static_cast<int>(selected) != index)
        SendMessageTimeoutW(tab, TCM_SETCURFOCUS, index, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    SendMessageTimeoutW(tab, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &selected);
    return static_cast<int>(selected) == index;
}

// The page paints once the applet's thread is idle again; generous, as the machine is shared.
void LetItPaint(HWND window) {
    Sleep(300);
    SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, nullptr);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Sleep(300);
}

bool Shoot(const std::wstring& path) {
    int width = 0, height = 0;
    if (WriteScreenshot(path.c_str(), &width, &height)) {
        Print(L"%ls\n", path.c_str());
        return true;
    }
    PrintError(L"pages: cannot write %ls\n", path.c_str());
    return false;
}

int ShootScreenOnly(const std::wstring& dir, const std::wstring& why) {
    PrintError(L"pages: %ls; only the screen is taken\n", why.c_str());
    return Shoot(dir + L"\\screen.png") ? 0 : 1;
}

} // namespace

// pages CLASS DIR [SECONDS]: page-0.png and on into DIR, waiting SECONDS (default 10) for the
// window of class CLASS.
int PagesCommand(int argc, wchar_t** argv) {
    unsigned long seconds = 10;
    if (argc < 2 || argc > 3 || !*argv[0] || !*argv[1] ||
        (argc == 3 && !ParseNumber(argv[2], 600, &seconds))) {
        PrintError(L"pages: expected a window class, a folder and at most a number of seconds "
                   L"to wait\n");
        return 2;
    }
    const std::wstring dir = argv[1];
    CreateDirectoryW(dir.c_str(), nullptr);
    HWND applet = WaitTopLevel(argv[0], seconds * 1000);
    if (!applet)
        return ShootScreenOnly(dir, L"the window " + Quoted(argv[0]) + L" did not appear");
    ChildSearch search = {WC_TABCONTROLW, TabControlId, nullptr};
    EnumChildWindows(applet, MatchChild, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return ShootScreenOnly(dir, L"the window " + Quoted(argv[0]) + L" has no tab control");
    DWORD_PTR count = 0;
    SendMessageTimeoutW(search.found, TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    int failures = 0;
    for (int i = 0; i < static_cast<int>(count); ++i) {
        if (!SelectTab(search.found, i))
            PrintError(L"pages: tab %d could not be selected\n", i);
        LetItPaint(applet);
        if (!Shoot(dir + L"\\page-" + std::to_wstring(i) + L".png"))
            ++failures;
    }
    return failures ? 1 : 0;
}

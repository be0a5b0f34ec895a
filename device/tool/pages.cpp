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

// The window once it shows, and its tab control once it has its tabs: the window can show
// before its dialog has made the control.
HWND WaitTabControl(const wchar_t* className, DWORD ms, std::wstring* missing) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowW(className, nullptr);
        *missing = L"the window " + Quoted(className) + L" did not appear";
        if (window && IsWindowVisible(window)) {
            *missing = L"the window " + Quoted(className) + L" has no tab control";
            ChildSearch search = {WC_TABCONTROLW, TabControlId, nullptr};
            EnumChildWindows(window, MatchChild, reinterpret_cast<LPARAM>(&search));
            DWORD_PTR count = 0;
            if (search.found &&
                SendMessageTimeoutW(search.found, TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000,
                                    &count) &&
                count > 0)
                return search.found;
        }
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

// The applet paints a page as it selects it, but its pixels reach the screen (the X server,
// where a shot reads them) only when its thread goes idle next. The page is there once the
// screen has changed since before the selection (a new tab always changes it) and then holds
// still; on a machine under load either can take seconds.
void WaitForThePage(HWND window, DWORD before, bool changes) {
    constexpr DWORD Bound = 10000, Still = 200; // ms
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    const DWORD start = GetTickCount();
    DWORD last = ScreenHash();
    while (changes && last == before && GetTickCount() - start < Bound) {
        Sleep(20);
        last = ScreenHash();
    }
    for (;;) {
        Sleep(Still);
        const DWORD now = ScreenHash();
        if (now == last || GetTickCount() - start >= 2 * Bound)
            return;
        last = now;
    }
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
    std::wstring missing;
    HWND tabs = WaitTabControl(argv[0], seconds * 1000, &missing);
    if (!tabs)
        return ShootScreenOnly(dir, missing);
    HWND applet = GetAncestor(tabs, GA_ROOT);
    DWORD_PTR count = 0, first = 0;
    SendMessageTimeoutW(tabs, TCM_GETITEMCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    SendMessageTimeoutW(tabs, TCM_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 2000, &first);
    int failures = 0;
    for (int i = 0; i < static_cast<int>(count); ++i) {
        const DWORD before = ScreenHash();
        if (!SelectTab(tabs, i))
            PrintError(L"pages: tab %d could not be selected\n", i);
        WaitForThePage(applet, before, i != static_cast<int>(first));
        if (!Shoot(dir + L"\\page-" + std::to_wstring(i) + L".png"))
            ++failures;
    }
    return failures ? 1 : 0;
}

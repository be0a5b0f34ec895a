// The applet's top-level window: full screen with an OK button in its caption. It decides
// what OK, Cancel and help mean; the host dialog inside it holds tabs and pages.
#include "wince.h"
#include "text.h"
#include <commctrl.h>
#include "aygshell.h"
#include "applet.h"
#include "page_table.h"
#include "resource.h"
#include "settings.h"
#include "start_program.h"

namespace {

constexpr wchar_t ClassPrefix[] = L"CPL_";
constexpr int HelpLineLength = 256;

void InitMainWindowShell(HWND window) {
    // The shell sizes the window to the free screen area and gives it the OK button.
    SHINITDLGINFO info = {};
    info.dwMask = SHIDIM_FLAGS;
    info.hDlg = window;
    info.dwFlags = SHIDIF_DONEBUTTON | SHIDIF_SIZEDLG;
    SHInitDialog(&info);
}

void ForgetWindows() {
    // The pages and the host dialog go with this window; a later opening in the same
    // process must find no page of this one.
    AppletWindows.MainWindow = nullptr;
    AppletWindows.HostDialog = nullptr;
    AppletWindows.TabControl = nullptr;
    AppletWindows.PageWindows.fill(nullptr);
}

void KeepFocus(WPARAM wParam) {
    if (LOWORD(wParam) == WA_INACTIVE)
        AppletWindows.SavedFocus = GetFocus();
    else
        SetFocus(AppletWindows.SavedFocus);
}

void ConfirmSettings(LPARAM lParam) {
    SaveSettings();
    BroadcastToPages(WM_COMMAND, IDOK, lParam);
    // The notifier rereads what was just saved.
    if (AppletSettings.ShowLockIcon)
        StartProgram(L"Ostrelle.exe", L"UPDATE");
    DestroyWindow(AppletWindows.MainWindow);
}

void DiscardSettings(LPARAM lParam) {
    // Nothing is saved; AppletSettings keeps the edits until the next opening loads again.
    BroadcastToPages(WM_COMMAND, IDCANCEL, lParam);
    DestroyWindow(AppletWindows.MainWindow);
}

void OpenHelp() {
    wchar_t commandLine[HelpLineLength];
    const int tab = AppletWindows.SelectedTab;
    if (tab >= 0 && tab < PageCount)
        wsprintfW(commandLine, L"velmora.htp#%s", PageTable[tab].HelpAnchor); // anchors are short
    else
        CopyText(commandLine, L"Velmora.htp#powersupply_help", HelpLineLength);
    StartProgram(L"PegHelp.exe", commandLine);
}

void DoCommand(WPARAM wParam, LPARAM lParam) {
    switch (LOWORD(wParam)) {
    case IDOK:
        ConfirmSettings(lParam);
        break;
    case IDCANCEL:
        DiscardSettings(lParam);
        break;
    }
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        InitMainWindowShell(window);
        return 0;
    case WM_DESTROY:
        ForgetWindows();
        return 0;
    case WM_ACTIVATE:
        KeepFocus(wParam);
        return 0;
    case WM_CLOSE:
        DiscardSettings(0);
        return 0;
    case WM_HELP:
        OpenHelp();
        return 0;
    case WM_COMMAND:
        DoCommand(wParam, lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

const wchar_t* MainWindowClassName() {
    // "CPL_" followed by the applet's name, as the control panel names applet windows.
    static wchar_t
        name[sizeof ClassPrefix / sizeof *ClassPrefix + sizeof AppletName / sizeof *AppletName];
    if (!name[0]) {
        lstrcpyW(name, ClassPrefix);
        lstrcatW(name, AppletName);
    }
    return name;
}

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSW windowClass = {};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = MainWindowClassName();
    // Fails when an earlier opening in this process registered it; that class is used then.
    RegisterClassW(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int showCommand, HWND owner) {
    SHInitExtraControls();
    DetectDeviceProfile();
    if (!LoadSettings())
        return false; // the user has been told why
    AppletWindows.MainWindow =
        CreateWindowExW(WS_EX_CAPTIONOKBTN | WS_EX_NODRAG | WS_EX_WINDOWEDGE, MainWindowClassName(),
                        MainWindowTitle, WS_CAPTION | WS_SYSMENU, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr, instance, nullptr);
    if (!AppletWindows.MainWindow)
        return false;
    HANDLE icon = LoadImageW(instance, MAKEINTRESOURCEW(IDI_APPLET), IMAGE_ICON, 16, 16, 0);
    SendMessageW(AppletWindows.MainWindow, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
    ShowWindow(AppletWindows.MainWindow, showCommand);
    return true;
}

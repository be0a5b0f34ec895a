#include "settings_window.h"
#include <cwchar>
#include "applet_file.h"

namespace {

constexpr int ListId = 100;
constexpr int RowHeight = 38;
constexpr int MaxEntries = 32;

struct Entry {
    wchar_t file[MAX_PATH];
    int applet;
    HICON icon; // our own copy: the applet's goes with its library
    wchar_t name[32];
    wchar_t info[64];
};

struct SettingsWindowState {
    Entry entries[MaxEntries];
    int count;
    HWND list;
} State;

void AddEntries(const wchar_t* fileName, HWND host) {
    AppletFile file;
    if (LoadAppletFile(fileName, host, &file) != LoadResult::Loaded)
        return;
    for (int i = 0; i < file.count && State.count < MaxEntries; ++i) {
        Entry& entry = State.entries[State.count++];
        wcsncpy(entry.file, fileName, MAX_PATH - 1);
        entry.applet = i;
        entry.icon = file.applets[i].icon ? CopyIcon(file.applets[i].icon) : nullptr;
        wcscpy(entry.name, file.applets[i].name);
        wcscpy(entry.info, file.applets[i].info);
    }
    ReleaseAppletFile(&file, host);
}

void FindApplets(HWND host) {
    wchar_t pattern[MAX_PATH];
    GetWindowsDirectoryW(pattern, MAX_PATH);
    wcscat(pattern, L"\\*.cpl");
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        AddEntries(found.cFileName, host);
    while (FindNextFileW(search, &found));
    FindClose(search);
}

// Each applet opens in a host process of its own, as from the device's start menu.
void OpenEntry(int index) {
    if (index < 0 || index >= State.count)
        return;
    wchar_t path[MAX_PATH], line[MAX_PATH + 16];
    GetWindowsDirectoryW(path, MAX_PATH);
    wcscat(path, L"\\ctlpnl.exe");
    _snwprintf(line, MAX_PATH + 15, L"%ls,%d,0", State.entries[index].file,
               State.entries[index].applet);
    line[MAX_PATH + 15] = 0;
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (CreateProcessW(path, line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
}

void DrawEntry(const DRAWITEMSTRUCT* item) {
    if (item->itemID >= static_cast<UINT>(State.count))
        return;
    const Entry& entry = State.entries[item->itemID];
    RECT r = item->rcItem;
    FillRect(item->hDC, &r, GetSysColorBrush(COLOR_WINDOW));
    if (entry.icon)
        DrawIconEx(item->hDC, r.left + 3, r.top + 3, entry.icon, 32, 32, 0, nullptr, DI_NORMAL);
    SetBkMode(item->hDC, TRANSPARENT);
    RECT text = {r.left + 40, r.top + 3, r.right - 2, r.top + 19};
    DrawTextW(item->hDC, entry.name, -1, &text, DT_SINGLELINE | DT_END_ELLIPSIS);
    text.top += 16;
    text.bottom += 16;
    DrawTextW(item->hDC, entry.info, -1, &text, DT_SINGLELINE | DT_END_ELLIPSIS);
}

void CreateList(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    State.list = CreateWindowExW(0, L"LISTBOX", L"",
                                 WS_CHILD | WS_VISIBLE | WS_VSCROLL | LBS_OWNERDRAWFIXED |
                                     LBS_HASSTRINGS | LBS_NOTIFY | LBS_NOINTEGRALHEIGHT,
                                 0, 0, client.right, client.bottom, window,
                                 reinterpret_cast<HMENU>(ListId), nullptr, nullptr);
    FindApplets(window);
    // Each row's text is its applet's name, so the list reads like what it shows.
    for (int i = 0; i < State.count; ++i)
        SendMessageW(State.list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(State.entries[i].name));
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateList(window);
        return 0;
    case WM_MEASUREITEM:
        reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->itemHeight = RowHeight;
        return TRUE;
    case WM_DRAWITEM:
        DrawEntry(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (wParam == MAKEWPARAM(ListId, LBN_SELCHANGE)) {
            OpenEntry(static_cast<int>(SendMessageW(State.list, LB_GETCURSEL, 0, 0)));
            SendMessageW(State.list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
        }
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

int RunSettingsWindow(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = SettingsWindowProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = L"CtlPnlSettings";
    RegisterClassW(&wc);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    HWND window = CreateWindowExW(0, wc.lpszClassName, L"Einstellungen", WS_CAPTION | WS_SYSMENU,
                                  work.left, work.top, work.right - work.left,
                                  work.bottom - work.top, nullptr, nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

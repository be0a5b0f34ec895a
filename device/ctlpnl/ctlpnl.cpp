// The device's control-panel host. "FILE,APPLET,PAGE" opens one applet of a .cpl in \Windows on
// a page; without a command line it shows every applet of the device in a list.
#include <windows.h>
#include <commctrl.h>
#include <cpl.h>
#include <cwchar>
#include "applet_file.h"
#include "parse_number.h"
#include "settings_window.h"

namespace {

constexpr wchar_t Caption[] = L"Systemsteuerung";

enum ExitCode : int {
    Done = 0,
    BadCommandLine = 2,
    FileMissing = 3,
    NoEntry = 4,
    InitFailed = 5,
    NoSuchApplet = 6,
};

struct Request {
    wchar_t file[MAX_PATH];
    unsigned applet;
    unsigned page;
};

// Both numbers travel in 16 bits of CPL_DBLCLK.
bool ParseField(const wchar_t* text, unsigned* out) {
    unsigned long value = 0;
    if (!ParseNumber(text, 0xFFFF, &value))
        return false;
    *out = value;
    return true;
}

// "FILE[,APPLET[,PAGE]]", both numbers decimal and 0 when left out; FILE may be quoted.
bool ParseRequest(const wchar_t* line, Request* out) {
    wchar_t copy[MAX_PATH + 32];
    if (wcslen(line) >= MAX_PATH + 32)
        return false;
    wcscpy(copy, line);
    wchar_t* fields[3] = {copy, nullptr, nullptr};
    int count = 1;
    for (wchar_t* p = copy; *p; ++p) {
        if (*p != L',')
            continue;
        if (count == 3)
            return false;
        *p = 0;
        fields[count++] = p + 1;
    }
    const size_t length = wcslen(fields[0]);
    if (length >= 2 && fields[0][0] == L'"' && fields[0][length - 1] == L'"') {
        fields[0][length - 1] = L'\0';
        ++fields[0];
    }
    if (!*fields[0] || wcslen(fields[0]) >= MAX_PATH)
        return false;
    wcscpy(out->file, fields[0]);
    out->applet = out->page = 0;
    return (!fields[1] || ParseField(fields[1], &out->applet)) &&
           (!fields[2] || ParseField(fields[2], &out->page));
}

int Refuse(int code, const wchar_t* format, const wchar_t* file, unsigned number = 0) {
    wchar_t text[512];
    _snwprintf(text, 511, format, file, number);
    text[511] = 0;
    MessageBoxW(nullptr, text, Caption, MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
    return code;
}

// The applet's windows belong to this window; it is never shown.
HWND CreateHostWindow(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = L"CtlPnlHost";
    RegisterClassW(&wc);
    return CreateWindowExW(0, wc.lpszClassName, Caption, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                           instance, nullptr);
}

int OpenApplet(HINSTANCE instance, const Request& request) {
    HWND host = CreateHostWindow(instance);
    AppletFile file;
    switch (LoadAppletFile(request.file, host, &file)) {
    case LoadResult::FileMissing:
        return Refuse(FileMissing, L"Die Datei %ls wurde nicht gefunden.", request.file);
    case LoadResult::NoEntry:
        return Refuse(NoEntry, L"%ls ist keine Systemsteuerungsoption.", request.file);
    case LoadResult::InitFailed:
        return Refuse(InitFailed, L"%ls konnte nicht gestartet werden.", request.file);
    case LoadResult::Loaded:
        break;
    }
    int code = Done;
    if (request.applet >= static_cast<unsigned>(file.count)) {
        code = Refuse(NoSuchApplet, L"%ls enthält kein Element %u.", request.file, request.applet);
    } else {
        file.entry(host, CPL_DBLCLK, MAKELPARAM(request.applet, request.page),
                   file.applets[request.applet].data);
    }
    ReleaseAppletFile(&file, host);
    DestroyWindow(host);
    return code;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    // Applets use these controls without registering them.
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    // Applets start programs by relative name, which the device resolves in \Windows.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    SetCurrentDirectoryW(windows);

    // The arguments alone, as the platform's GetCommandLineW gives them.
    const wchar_t* line = GetCommandLineW();
    if (!*line)
        return RunSettingsWindow(instance);
    Request request;
    if (!ParseRequest(line, &request))
        return Refuse(BadCommandLine,
                      L"Ungültige Befehlszeile \"%ls\". Erwartet wird DATEI,ELEMENT,SEITE.", line);
    return OpenApplet(instance, request);
}

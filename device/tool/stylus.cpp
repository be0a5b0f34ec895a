// The stylus enters below the window system, as a touch screen's driver feeds it: the X server
// of the device's screen moves the pointer, presses and releases through its test extension
// (Debian's xdotool), and Wine takes the three as hardware input, in that order. Input sent
// from a Wine process of its own (SendInput) is placed by Wine's idea of the pointer, which can
// still be the previous point while the X server is busy.
#include <windows.h>
#include <cstring>
#include <cwchar>
#include <string>
#include "commands.h"

namespace {

// Wine starts a program of this machine from its path on the Z: drive, as the machine's own.
const wchar_t XdotoolPath[] = L"Z:\\usr\\bin\\xdotool";
// Starting it and its round trip to the X server take milliseconds; a machine under load may
// hold it up for seconds.
constexpr DWORD TapBoundMs = 10000;

// The X window of Wine's desktop, the device's screen: its coordinates are the device's, also
// where that desktop is a window on a larger screen. 0 when Wine does not say.
unsigned long ScreenWindow() {
    return static_cast<unsigned long>(
        reinterpret_cast<ULONG_PTR>(GetPropW(GetDesktopWindow(), L"__wine_x11_whole_window")));
}

// Whether the file holds a whole line of xdotool's "getmouselocation": "x:120 y:160 ...".
bool Answered(HANDLE file) {
    char text[256] = "";
    DWORD got = 0;
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    if (!ReadFile(file, text, sizeof text - 1, &got, nullptr))
        return false;
    text[got] = '\0';
    for (const char* line = text; *line;) {
        const char* end = strchr(line, '\n');
        if (!end)
            return false;
        if (strncmp(line, "x:", 2) == 0)
            return true;
        line = end + 1;
    }
    return false;
}

// Runs xdotool with `arguments`, its output into `file`. Wine runs a program of this machine
// beside the device and gives back no handle to wait on: what it writes says it is done.
bool RunXdotool(const std::wstring& arguments, HANDLE file) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = si.hStdError = file;
    PROCESS_INFORMATION pi = {};
    std::wstring line = L"xdotool " + arguments;
    if (!CreateProcessW(XdotoolPath, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    // Handles come back only for a program of the device.
    if (pi.hThread)
        CloseHandle(pi.hThread);
    if (pi.hProcess)
        CloseHandle(pi.hProcess);
    const DWORD start = GetTickCount();
    while (!Answered(file)) {
        if (GetTickCount() - start > TapBoundMs)
            return false;
        Sleep(5);
    }
    return true;
}

} // namespace

// The move, the press and the release at the point, then the pointer's place read back: that
// round trip returns once the X server has taken all three.
const wchar_t* PressAt(POINT point) {
    if (GetFileAttributesW(XdotoolPath) == INVALID_FILE_ATTRIBUTES)
        return L"the device has no stylus: /usr/bin/xdotool is missing (Debian's xdotool)";
    wchar_t dir[MAX_PATH], name[MAX_PATH];
    if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"tap", 0, name))
        return L"the device took no input (no temporary file)";
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                              CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return L"the device took no input (no temporary file)";
    wchar_t window[48] = L"";
    if (unsigned long screen = ScreenWindow())
        swprintf(window, 48, L"--window %lu ", screen);
    wchar_t arguments[160];
    swprintf(arguments, 160, L"mousemove %ls%ld %ld mousedown 1 mouseup 1 getmouselocation", window,
             point.x, point.y);
    const bool done = RunXdotool(arguments, file);
    CloseHandle(file);
    DeleteFileW(name);
    return done ? nullptr : L"the device took no input";
}

// The package's setup library. Its one task is at removal: the notifier must end in its own
// way, with "OFF", which releases a lock in force and gives the user's timeouts back; a device
// uninstalled while locked would otherwise keep its idle timeouts at 0 with nothing left to
// restore them. While the applet is open nothing is ended and the removal is declined.
#include "wince.h"
#include "ce_setup.h"
#include "applet.h"
#include "start_program.h"
#include "text.h"

namespace {

constexpr wchar_t NotifierProgram[] = L"Ostrelle.exe";
constexpr DWORD NotifierWait = 30000; // ms, for the notifier to release the lock and end

// The applet's window: "CPL_" and the applet's name, as the control panel names it.
bool AppletOpen() {
    wchar_t windowClass[sizeof AppletName / sizeof *AppletName + 4] = L"CPL_";
    lstrcatW(windowClass, AppletName);
    return FindWindowW(windowClass, nullptr) != nullptr;
}

} // namespace

// The entries' names are the platform's, which its installer and remover look up.
extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}

// NOLINTNEXTLINE(readability-identifier-naming)
codeINSTALL_INIT Install_Init(HWND, BOOL, BOOL, LPCWSTR) {
    return codeINSTALL_INIT_CONTINUE;
}

// NOLINTNEXTLINE(readability-identifier-naming)
codeINSTALL_EXIT Install_Exit(HWND, LPCWSTR, WORD, WORD, WORD, WORD, WORD) {
    return codeINSTALL_EXIT_DONE;
}

// NOLINTNEXTLINE(readability-identifier-naming)
codeUNINSTALL_INIT Uninstall_Init(HWND, LPCWSTR installDir) {
    if (AppletOpen())
        return codeUNINSTALL_INIT_CANCEL;
    // The notifier where the installation put it. Without a notifier running, "OFF" still
    // releases a lock that the settings record.
    wchar_t program[MAX_PATH];
    CopyText(program, installDir, MAX_PATH - 16);
    lstrcatW(program, L"\\");
    lstrcatW(program, NotifierProgram);
    if (HANDLE notifier = StartProgramWithHandle(program, L"OFF")) {
        WaitForSingleObject(notifier, NotifierWait);
        CloseHandle(notifier);
    }
    return codeUNINSTALL_INIT_CONTINUE;
}

// NOLINTNEXTLINE(readability-identifier-naming)
codeUNINSTALL_EXIT Uninstall_Exit(HWND) {
    return codeUNINSTALL_EXIT_DONE;
}
}

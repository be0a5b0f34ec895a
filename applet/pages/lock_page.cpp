// The lock page (tab 5): the notifier's lock icon and its two options. The icon switch acts at
// once by starting the notifier; the flags reach the Settings key only with the save on OK.
#include <array>
#include "pages.h"
#include "applet.h"
#include "resource.h"
#include "settings.h"
#include "start_program.h"

namespace {

constexpr wchar_t NotifierProgram[] = L"Ostrelle.exe";
// How long "OFF" may take before the page reloads the idle timeouts regardless.
constexpr DWORD NotifierWaitLimit = 5000; // ms

// One row per box: the flag of AppletSettings it shows and sets.
struct FlagBox {
    int Id;
    DWORD AppletSettingsRecord::*Flag;
};

constexpr std::array<FlagBox, 3> FlagBoxes = {{
    {IDC_LOCK_ICON, &AppletSettingsRecord::ShowLockIcon},
    {IDC_LOCK_EXTERNAL_ONLY, &AppletSettingsRecord::ExternalOnly},
    {IDC_LOCK_IGNORE_NOTIFY, &AppletSettingsRecord::IgnoreNotify},
}};

// The two options mean something only while the icon is wanted.
void EnableOptions(HWND page, bool enable) {
    EnableWindow(GetDlgItem(page, IDC_LOCK_EXTERNAL_ONLY), enable);
    EnableWindow(GetDlgItem(page, IDC_LOCK_IGNORE_NOTIFY), enable);
}

// Waits, bounded, for the notifier started with "OFF" to end. Meanwhile only sent messages
// are handled: the unlock announces the restored timeouts to every window and waits for each
// answer, this thread's windows included; taps and keys wait until the page is done.
void AwaitNotifier(HANDLE process) {
    const DWORD start = GetTickCount();
    for (;;) {
        const DWORD elapsed = GetTickCount() - start;
        if (elapsed >= NotifierWaitLimit ||
            MsgWaitForMultipleObjects(1, &process, FALSE, NotifierWaitLimit - elapsed,
                                      QS_SENDMESSAGE) != WAIT_OBJECT_0 + 1)
            return;
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

void SwitchIconOn(HWND page) {
    StartProgram(NotifierProgram, L"ON");
    EnableOptions(page, true);
}

// The save on OK writes the reloaded timeouts back, so they must be the ones the notifier
// restores, not the zeros of the lock it is releasing: the reload waits for it.
void SwitchIconOff(HWND page) {
    HANDLE notifier = StartProgramWithHandle(NotifierProgram, L"OFF");
    EnableOptions(page, false);
    if (notifier) {
        AwaitNotifier(notifier);
        CloseHandle(notifier);
    }
    LoadIdleTimeouts();
}

INT_PTR OnInitDialog(HWND page) {
    for (const FlagBox& box : FlagBoxes)
        SetChecked(page, box.Id, AppletSettings.*box.Flag != 0);
    // A disabled box still shows its stored state.
    EnableOptions(page, AppletSettings.ShowLockIcon != 0);
    return TRUE;
}

INT_PTR OnIconSwitch(HWND page) {
    const bool on = IsChecked(page, IDC_LOCK_ICON);
    AppletSettings.ShowLockIcon = on ? 1 : 0;
    if (on)
        SwitchIconOn(page);
    else
        SwitchIconOff(page);
    return FALSE;
}

// The options only set their flags; the running notifier rereads them at its next check
// after the save.
INT_PTR OnOptionBox(HWND page, int id) {
    for (const FlagBox& box : FlagBoxes)
        if (box.Id == id)
            AppletSettings.*box.Flag = IsChecked(page, id) ? 1 : 0;
    return FALSE;
}

INT_PTR OnCommand(HWND page, WPARAM command) {
    switch (command) {
    case MAKEWPARAM(IDC_LOCK_ICON, BN_CLICKED):
        return OnIconSwitch(page);
    case MAKEWPARAM(IDC_LOCK_EXTERNAL_ONLY, BN_CLICKED):
    case MAKEWPARAM(IDC_LOCK_IGNORE_NOTIFY, BN_CLICKED):
        return OnOptionBox(page, LOWORD(command));
    default:
        return AnswerHostCommand(page, command);
    }
}

} // namespace

INT_PTR CALLBACK LockPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_COMMAND:
        return OnCommand(page, wParam);
    }
    return FALSE;
}

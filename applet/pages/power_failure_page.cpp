// The power-failure page (tab 4): a simulated total power failure. The device's library marks
// itself for a cold boot, and the next press of the reset button erases everything on it.
#include "pages.h"
#include "applet.h"
#include "resource.h"
#include "scrambled_names.h"
#include "wince.h"

namespace {

constexpr wchar_t IncompatibleText[] = L"Diese Funktion ist nicht mit Ihrem Gerät kompatibel.";
constexpr wchar_t WarningCaption[] = L"Achtung!";
constexpr wchar_t ConfirmText[] =
    L"Wollen Sie wirklich alle Informationen in Ihrem Windows CE Gerät löschen?";
constexpr wchar_t ResetText[] = L"Drücken Sie jetzt die Reset-Taste!";

// No is the default: a stray tap must not erase the device.
constexpr UINT ConfirmFlags = MB_YESNO | MB_ICONSTOP | MB_DEFBUTTON2 | MB_SETFOREGROUND;
constexpr UINT ResetFlags = MB_OK | MB_ICONSTOP | MB_SETFOREGROUND;
static_assert(ConfirmFlags == 0x00010114 && ResetFlags == 0x00010010);

using CleanRebootProc = void(WINAPI*)();

constexpr std::array<ScrambledName, 1> CleanRebootName = {ScrambledName::CleanReboot};

// Whether the device's library offers the procedure.
bool FacilityAvailable() {
    bool available = false;
    UseDeviceProcedures(CleanRebootName,
                        [&](const std::array<FARPROC, 1>& found) { available = found[0] != nullptr; });
    return available;
}

// Marks the device for a cold boot; false when the library or the procedure is not there.
bool PrepareCleanBoot() {
    bool called = false;
    UseDeviceProcedures(CleanRebootName, [&](const std::array<FARPROC, 1>& found) {
        if (auto prepare = ProcAs<CleanRebootProc>(found[0])) {
            prepare();
            called = true;
        }
    });
    return called;
}

void ShowIncompatible(HWND page) {
    SetDlgItemTextW(page, IDC_POWER_FAILURE_TEXT, IncompatibleText);
    HWND button = GetDlgItem(page, IDC_POWER_FAILURE_BUTTON);
    // A hidden button that kept the focus would still take a press of the space bar.
    if (GetFocus() == button)
        SetFocus(AppletWindows.TabControl);
    ShowWindow(button, SW_HIDE);
}

BOOL OnInitDialog(HWND page) {
    if (!FacilityAvailable())
        ShowIncompatible(page);
    return TRUE;
}

void SimulatePowerFailure(HWND page) {
    if (MessageBoxW(nullptr, ConfirmText, WarningCaption, ConfirmFlags) != IDYES)
        return;
    // Gone since the page opened: the page says so, as if it had opened that way.
    if (!PrepareCleanBoot()) {
        ShowIncompatible(page);
        return;
    }
    MessageBoxW(nullptr, ResetText, WarningCaption, ResetFlags);
}

BOOL OnCommand(HWND page, WPARAM command) {
    switch (command) {
    case MAKEWPARAM(IDC_POWER_FAILURE_BUTTON, BN_CLICKED):
        SimulatePowerFailure(page);
        return FALSE;
    default:
        return AnswerHostCommand(page, command);
    }
}

} // namespace

INT_PTR CALLBACK PowerFailurePageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_COMMAND:
        return OnCommand(page, wParam);
    default:
        return FALSE;
    }
}

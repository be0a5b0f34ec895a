// The Status page (tab 0): the main and the backup battery as the driver reports them, the
// remaining and full lifetime, the version and the logo. A window timer refreshes it every two
// seconds, also while another tab hides it; it writes its controls only when the status
// changed.
#include "wince.h"
#include "text.h"
#include <array>
#include <cstring>
#include <iterator>
#include "applet.h"
#include "pages.h"
#include "resource.h"

namespace {

constexpr UINT_PTR RefreshTimer = 1;
constexpr UINT FirstRefreshDelay = 100; // ms after the opening
constexpr UINT RefreshInterval = 2000;  // ms

// Looked up by the whole flag byte, first match wins: combined bits (9: charging and high)
// have no entry.
struct BatteryState {
    BYTE Flag;
    const wchar_t* Text;
};
constexpr std::array<BatteryState, 6> BatteryStates = {{
    {BATTERY_FLAG_HIGH, L"Gut"},
    {BATTERY_FLAG_CRITICAL, L"Minimal"},
    {BATTERY_FLAG_CHARGING, L"Laden"},
    {BATTERY_FLAG_NO_BATTERY, L"Keine"},
    {BATTERY_FLAG_UNKNOWN, L"Unbekannt"},
    {BATTERY_FLAG_LOW, L"Schwach"},
}};
constexpr wchar_t UnknownText[] = L"Unbekannt";

// Inclusive upper bounds in percent, position by position with the first six battery icons
// (empty to full); the seventh stands for a charge that is not known.
constexpr std::array<BYTE, BatteryIconCount - 1> ChargeBounds = {1, 20, 40, 60, 80, 100};
constexpr int UnknownChargeIcon = BatteryIconCount - 1;

constexpr std::array<int, 4> StateControls = {IDC_STATUS_MAIN_STATE, IDC_STATUS_BACKUP_STATE,
                                              IDC_STATUS_REMAINING, IDC_STATUS_FULL};
constexpr std::array<int, 8> LabelControls = {
    IDC_STATUS_MAIN_CAPTION, IDC_STATUS_BACKUP_CAPTION, IDC_STATUS_MAIN_STATE,
    IDC_STATUS_BACKUP_STATE, IDC_STATUS_REMAINING,      IDC_STATUS_REMAINING_CAPTION,
    IDC_STATUS_FULL,         IDC_STATUS_FULL_CAPTION,
};
constexpr std::array<int, 2> TextControls = {IDC_STATUS_COPYRIGHT, IDC_STATUS_VERSION};
// Shown while at least one lifetime is known, hidden (as in the template) otherwise.
constexpr std::array<int, 5> LifetimeBlock = {IDC_STATUS_REMAINING, IDC_STATUS_FULL,
                                              IDC_STATUS_REMAINING_CAPTION, IDC_STATUS_FULL_CAPTION,
                                              IDC_STATUS_LIFETIME_HEADING};

// Every text of a refresh is formatted into one buffer of this many characters. The longest
// lifetime that fits has six digits of hours; longer ones read "Unbekannt".
constexpr int TextLength = 32;
constexpr DWORD MostHours = 999999;
static_assert(std::size(L"999999 Std. 59 Min. verbleibend") <= TextLength);
static_assert(std::size(L"255%") <= TextLength);
using Text = wchar_t[TextLength];

// What a driver that knows nothing reports: shown when the status cannot be read at all.
constexpr SYSTEM_POWER_STATUS_EX UnknownStatus = {
    AC_LINE_UNKNOWN,
    BATTERY_FLAG_UNKNOWN,
    BATTERY_PERCENTAGE_UNKNOWN,
    0,
    BATTERY_LIFE_UNKNOWN,
    BATTERY_LIFE_UNKNOWN,
    0,
    BATTERY_FLAG_UNKNOWN,
    BATTERY_PERCENTAGE_UNKNOWN,
    0,
    BATTERY_LIFE_UNKNOWN,
    BATTERY_LIFE_UNKNOWN,
};

// The status last shown. It outlives the page; each opening clears it, so that the first
// refresh writes every control.
SYSTEM_POWER_STATUS_EX Snapshot;

const wchar_t* StateText(BYTE flag) {
    for (const BatteryState& state : BatteryStates)
        if (state.Flag == flag)
            return state.Text;
    return UnknownText;
}

bool IsKnownPercent(BYTE percent) {
    return percent != 0 && percent != BATTERY_PERCENTAGE_UNKNOWN;
}

// The state text, overridden by the charge in percent when the driver knows it.
void FormatCharge(Text text, const wchar_t* state, BYTE percent) {
    if (IsKnownPercent(percent))
        wsprintfW(text, L"%d%%", percent);
    else
        CopyText(text, state, TextLength);
}

void FormatLifetime(Text text, DWORD seconds) {
    const DWORD hours = seconds / 3600;
    if (seconds == BATTERY_LIFE_UNKNOWN || hours > MostHours)
        CopyText(text, UnknownText, TextLength);
    else
        wsprintfW(text, L"%d Std. %d Min. verbleibend", static_cast<int>(hours),
                  static_cast<int>(seconds / 60 % 60));
}

// The icon for a charge, or none when the charge exceeds every bound: the shown icon stays.
HICON ChargeIcon(BYTE percent) {
    if (!IsKnownPercent(percent))
        return SharedResources.BatteryIcons[UnknownChargeIcon];
    for (size_t i = 0; i < ChargeBounds.size(); ++i)
        if (percent <= ChargeBounds[i])
            return SharedResources.BatteryIcons[i];
    return nullptr;
}

void ShowMainBattery(HWND page, const SYSTEM_POWER_STATUS_EX& status, Text text) {
    const wchar_t* state = StateText(status.BatteryFlag);
    // No battery, or none the driver can tell of, while on mains power.
    if ((status.BatteryFlag == BATTERY_FLAG_NO_BATTERY ||
         status.BatteryFlag == BATTERY_FLAG_UNKNOWN) &&
        status.ACLineStatus == AC_LINE_ONLINE)
        state = L"Extern";
    FormatCharge(text, state, status.BatteryLifePercent);
    if (HICON icon = ChargeIcon(status.BatteryLifePercent))
        SendDlgItemMessageW(page, IDC_STATUS_MAIN_ICON, STM_SETIMAGE, IMAGE_ICON,
                            reinterpret_cast<LPARAM>(icon));
    SetDlgItemTextW(page, IDC_STATUS_MAIN_STATE, text);
}

void ShowLifetimes(HWND page, const SYSTEM_POWER_STATUS_EX& status, Text text) {
    FormatLifetime(text, status.BatteryLifeTime);
    SetDlgItemTextW(page, IDC_STATUS_REMAINING, text);
    FormatLifetime(text, status.BatteryFullLifeTime);
    SetDlgItemTextW(page, IDC_STATUS_FULL, text);
    const bool known = status.BatteryLifeTime != BATTERY_LIFE_UNKNOWN ||
                       status.BatteryFullLifeTime != BATTERY_LIFE_UNKNOWN;
    for (int id : LifetimeBlock)
        ShowWindow(GetDlgItem(page, id), known ? SW_SHOW : SW_HIDE);
}

// The backup battery has no "Extern" and keeps its coin-cell icon.
void ShowBackupBattery(HWND page, const SYSTEM_POWER_STATUS_EX& status, Text text) {
    FormatCharge(text, StateText(status.BackupBatteryFlag), status.BackupBatteryLifePercent);
    SetDlgItemTextW(page, IDC_STATUS_BACKUP_STATE, text);
}

INT_PTR OnInitDialog(HWND page) {
    for (int id : StateControls)
        SetDlgItemTextW(page, id, L""); // the template holds "Gut" in each
    SetDlgItemTextW(page, IDC_STATUS_VERSION, L"Version 3.4");
    for (int id : LabelControls)
        SendDlgItemMessageW(page, id, WM_SETFONT,
                            reinterpret_cast<WPARAM>(SharedResources.LabelFont), TRUE);
    for (int id : TextControls)
        SendDlgItemMessageW(page, id, WM_SETFONT,
                            reinterpret_cast<WPARAM>(SharedResources.TextFont), TRUE);
    Snapshot = {};
    SetTimer(page, RefreshTimer, FirstRefreshDelay, nullptr);
    return TRUE;
}

// An unchanged status costs the read and one comparison, and writes nothing.
INT_PTR OnTimer(HWND page) {
    SetTimer(page, RefreshTimer, RefreshInterval, nullptr);
    SYSTEM_POWER_STATUS_EX status;
    // A driver that cannot be read is shown as one that knows nothing; nothing the failed
    // call may have left in the record is shown or kept.
    if (!GetSystemPowerStatusEx(&status, TRUE))
        status = UnknownStatus;
    if (std::memcmp(&status, &Snapshot, sizeof status) == 0)
        return FALSE;
    Snapshot = status;
    Text text;
    ShowMainBattery(page, status, text);
    ShowLifetimes(page, status, text);
    ShowBackupBattery(page, status, text);
    return FALSE;
}

// The page has no commands of its own: what reaches it is the host's OK or Cancel.
INT_PTR OnCommand(HWND page, WPARAM command) {
    return AnswerHostCommand(page, command);
}

INT_PTR OnDestroy(HWND page) {
    KillTimer(page, RefreshTimer);
    return TRUE;
}

} // namespace

INT_PTR CALLBACK StatusPageProc(HWND page, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_TIMER:
        return OnTimer(page);
    case WM_COMMAND:
        return OnCommand(page, wParam);
    case WM_DESTROY:
        return OnDestroy(page);
    }
    return FALSE;
}

// The timeout pages "Batterie", "Extern" and "Nachricht" (tabs 1 to 3), each run through the
// TimeoutBinding of its own row of the page table. The upper group switches and steps an idle
// timeout, the lower one the backlight time of the same power state. Nothing is typed: the number
// fields only show what the check boxes and arrows make, and the values live in AppletSettings
// alone.
#include "wince.h"
#include <commctrl.h>
#include <array>
#include "pages.h"
#include "applet.h"
#include "page_table.h"
#include "resource.h"
#include "settings.h"

namespace {

constexpr wchar_t WarningCaption[] = L"Velmora Zilp";
constexpr wchar_t ZeroWarning[] =
    L"Sie haben festgelegt, daß das Gerät nicht ausgeschaltet wird. Dies kann zum vollständigen "
    L"Entladen der Batterie führen. Unter ungünstigen Umständen kann dabei ein Datenverlust "
    L"auftreten.";

constexpr DWORD SecondStep = 15; // also the shortest time stepping leaves and where "on" starts
constexpr DWORD MinuteStep = 60;
constexpr DWORD LongestTimeout = 0xFFFFFFFF;

// One timeout's controls: its switch, the number and arrows it enables, and the unit.
struct TimeoutGroup {
    int Switch;
    int Number;
    int Arrows;
    int Unit;
};
constexpr TimeoutGroup IdleGroup = {IDC_IDLE_SWITCH, IDC_IDLE_NUMBER, IDC_IDLE_ARROWS,
                                    IDC_IDLE_UNIT};
constexpr TimeoutGroup BacklightGroup = {IDC_BACKLIGHT_SWITCH, IDC_BACKLIGHT_NUMBER,
                                         IDC_BACKLIGHT_ARROWS, IDC_BACKLIGHT_UNIT};

// The lower group without its auto box, which goes its own way.
constexpr std::array<int, 5> BacklightControls = {IDC_BACKLIGHT_HEADING, IDC_BACKLIGHT_SWITCH,
                                                  IDC_BACKLIGHT_UNIT, IDC_BACKLIGHT_NUMBER,
                                                  IDC_BACKLIGHT_ARROWS};

// What a device with a backlight layout of its own makes of the lower group, by page. The
// Philips layout is treated as the Casio one: both keep the two times, and without a row its
// times would be loaded and saved but never shown.
enum class LowerGroup { Editable, EditableWithAuto, Hidden };
struct DeviceLowerGroupRow {
    DWORD Profile;
    LowerGroup Battery;
    LowerGroup External;
};
constexpr std::array<DeviceLowerGroupRow, 4> DeviceLowerGroups = {{
    {ProfileKeybd2, LowerGroup::EditableWithAuto, LowerGroup::Hidden},
    {ProfileLgHpc, LowerGroup::EditableWithAuto, LowerGroup::Hidden},
    {ProfileCasio, LowerGroup::Editable, LowerGroup::Editable},
    {ProfilePhilips, LowerGroup::Editable, LowerGroup::Editable},
}};

template <size_t N> void EnableControls(HWND page, const std::array<int, N>& ids, bool enable) {
    for (int id : ids)
        EnableWindow(GetDlgItem(page, id), enable);
}

template <size_t N> void ShowControls(HWND page, const std::array<int, N>& ids, bool show) {
    for (int id : ids)
        ShowWindow(GetDlgItem(page, id), show ? SW_SHOW : SW_HIDE);
}

// Seconds below a minute, whole minutes from there on (rounded down: the value keeps its
// seconds). The unit first, then the number.
void ShowTimeout(HWND page, DWORD value, int unitId, int numberId, bool warnOnZero) {
    const wchar_t* unit = value < 60 ? L"Sekunden" : value == 60 ? L"Minute" : L"Minuten";
    wchar_t number[12];
    wsprintfW(number, L"%lu", value < 60 ? value : value / 60);
    SetDlgItemTextW(page, unitId, unit);
    SetDlgItemTextW(page, numberId, number);
    if (value == 0 && warnOnZero)
        MessageBoxW(page, ZeroWarning, WarningCaption,
                    MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
}

// The upper arrow (negative delta: the control keeps its default, inverted range) lengthens,
// the lower one shortens. Stepping never reaches 0, which only the switch sets, and never
// wraps: a value set elsewhere near the top stays at the largest one.
void StepTimeout(DWORD& value, const NMUPDOWN& change) {
    if (change.iDelta < 0) {
        const DWORD step = value < 60 ? SecondStep : MinuteStep;
        value = value > LongestTimeout - step ? LongestTimeout : value + step;
    } else {
        const DWORD step = value <= 60 ? SecondStep : MinuteStep;
        value = value < SecondStep + step ? SecondStep : value - step;
    }
}

// The switch checked exactly when the timeout is on, number and arrows usable only then.
void ShowSwitched(HWND page, const TimeoutGroup& group, DWORD value, bool warnOnZero) {
    SetChecked(page, group.Switch, value != 0);
    EnableWindow(GetDlgItem(page, group.Number), value != 0);
    EnableWindow(GetDlgItem(page, group.Arrows), value != 0);
    ShowTimeout(page, value, group.Unit, group.Number, warnOnZero);
}

// A timeout switched on always starts again at 15 seconds, not at its old value.
void SwitchTimeout(HWND page, const TimeoutGroup& group, DWORD& value, bool warnOnZero) {
    value = IsChecked(page, group.Switch) ? SecondStep : 0;
    ShowSwitched(page, group, value, warnOnZero);
}

// Only for a page that has its row: the page's procedure answers nothing before.
const TimeoutBindingRecord& BindingOf(HWND page) {
    return PageRowOf(page)->Binding;
}

void ShowAutoBox(HWND page, bool show) {
    if (show)
        SetChecked(page, IDC_BACKLIGHT_AUTO, *BindingOf(page).BacklightAuto != 0);
    ShowWindow(GetDlgItem(page, IDC_BACKLIGHT_AUTO), show ? SW_SHOW : SW_HIDE);
}

// The generic backlight keys; without one the group stays visible but cannot be used.
void ShowGenericBacklight(HWND page) {
    if (!AppletSettings.GenericBacklight) {
        EnableControls(page, BacklightControls, false);
        return;
    }
    ShowSwitched(page, BacklightGroup, *BindingOf(page).BacklightTimeout, false);
    if (AppletSettings.GenericBacklightAuto)
        ShowAutoBox(page, true);
}

// A device's own backlight layout overrides what the generic keys left.
void ShowDeviceBacklight(HWND page, PowerState power) {
    for (const DeviceLowerGroupRow& row : DeviceLowerGroups) {
        if (row.Profile != AppletSettings.DeviceProfile)
            continue;
        const LowerGroup treatment = power == PowerState::Battery ? row.Battery : row.External;
        if (treatment == LowerGroup::Hidden) {
            ShowControls(page, BacklightControls, false);
            ShowAutoBox(page, false);
            return;
        }
        EnableControls(
            page,
            std::array<int, 3>{IDC_BACKLIGHT_HEADING, IDC_BACKLIGHT_SWITCH, IDC_BACKLIGHT_UNIT},
            true);
        ShowSwitched(page, BacklightGroup, *BindingOf(page).BacklightTimeout, false);
        ShowAutoBox(page, treatment == LowerGroup::EditableWithAuto);
    }
}

INT_PTR OnInitDialog(HWND page, LPARAM row) {
    KeepPageRow(page, row);
    const TimeoutBindingRecord& binding = BindingOf(page);
    ShowSwitched(page, IdleGroup, *binding.IdleTimeout, binding.WarnOnZero);
    if (!binding.BacklightTimeout)
        return TRUE; // "Nachricht": no lower group, whatever the device
    ShowGenericBacklight(page);
    ShowDeviceBacklight(page, binding.Power);
    return TRUE;
}

INT_PTR OnCommand(HWND page, WPARAM command) {
    const TimeoutBindingRecord& binding = BindingOf(page);
    switch (command) {
    case MAKEWPARAM(IDC_IDLE_SWITCH, BN_CLICKED):
        SwitchTimeout(page, IdleGroup, *binding.IdleTimeout, binding.WarnOnZero);
        return 0;
    case MAKEWPARAM(IDC_BACKLIGHT_SWITCH, BN_CLICKED):
        if (binding.BacklightTimeout)
            SwitchTimeout(page, BacklightGroup, *binding.BacklightTimeout, false);
        return 0;
    case MAKEWPARAM(IDC_BACKLIGHT_AUTO, BN_CLICKED):
        if (binding.BacklightAuto)
            *binding.BacklightAuto = IsChecked(page, IDC_BACKLIGHT_AUTO) ? 1 : 0;
        return 0;
    case MAKEWPARAM(IDC_IDLE_NUMBER, EN_SETFOCUS):
    case MAKEWPARAM(IDC_BACKLIGHT_NUMBER, EN_SETFOCUS):
        // The focus goes nowhere: a number field that never holds it cannot be typed into.
        SetFocus(nullptr);
        return 0;
    default:
        return AnswerHostCommand(page, command);
    }
}

// Answers 0 to every notification, so the arrows' own position change goes ahead unread.
INT_PTR OnNotify(HWND page, const NMHDR* header) {
    if (header->code != static_cast<UINT>(UDN_DELTAPOS))
        return FALSE;
    const TimeoutBindingRecord& binding = BindingOf(page);
    const auto& change = *reinterpret_cast<const NMUPDOWN*>(header);
    if (header->idFrom == IDC_IDLE_ARROWS) {
        StepTimeout(*binding.IdleTimeout, change);
        ShowTimeout(page, *binding.IdleTimeout, IDC_IDLE_UNIT, IDC_IDLE_NUMBER, binding.WarnOnZero);
    } else if (header->idFrom == IDC_BACKLIGHT_ARROWS && binding.BacklightTimeout) {
        StepTimeout(*binding.BacklightTimeout, change);
        ShowTimeout(page, *binding.BacklightTimeout, IDC_BACKLIGHT_UNIT, IDC_BACKLIGHT_NUMBER,
                    false);
    }
    return FALSE;
}

} // namespace

INT_PTR CALLBACK TimeoutPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG)
        return OnInitDialog(page, lParam);
    // Before WM_INITDIALOG the page has no row yet, and nothing to edit.
    const PageRow* row = PageRowOf(page);
    if (!row || !row->Binding.IdleTimeout)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        return OnCommand(page, wParam);
    case WM_NOTIFY:
        return OnNotify(page, reinterpret_cast<const NMHDR*>(lParam));
    }
    return FALSE;
}

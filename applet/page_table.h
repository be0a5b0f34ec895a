// The six tabs of the host dialog, in tab order, with their pages and help anchors.
#pragma once
#include "wince.h"
#include <array>
#include "applet.h"
#include "pages/pages.h"
#include "resource.h"
#include "settings.h"

// A tab: its text, its page, the help on it and, on a timeout tab, what its page edits.
struct PageRow {
    wchar_t TabText[13]; // at most 12 characters and the terminator
    WORD Template;
    DLGPROC Procedure;
    const wchar_t* HelpAnchor;
    TimeoutBindingRecord Binding;
};

inline constexpr std::array<PageRow, PageCount> PageTable = {{
    {L"Status", IDD_STATUS_PAGE, StatusPageProc, L"status", {}},
    {L"Batterie",
     IDD_BATTERY_PAGE,
     TimeoutPageProc,
     L"battery",
     {&AppletSettings.BatteryIdleTimeout, &AppletSettings.BacklightBatteryTimeout,
      &AppletSettings.BacklightBatteryAuto, true, PowerState::Battery}},
    {L"Extern",
     IDD_EXTERNAL_PAGE,
     TimeoutPageProc,
     L"extern",
     {&AppletSettings.ExternalIdleTimeout, &AppletSettings.BacklightExternalTimeout,
      &AppletSettings.BacklightExternalAuto, false, PowerState::External}},
    {L"Nachricht",
     IDD_NOTIFY_PAGE,
     TimeoutPageProc,
     L"notify",
     {&AppletSettings.WakeupIdleTimeout, nullptr, nullptr, true, PowerState::Wakeup}},
    {L"Stromausfall", IDD_POWER_FAILURE_PAGE, PowerFailurePageProc, L"dropout", {}},
    {L"Sperre", IDD_LOCK_PAGE, LockPageProc, L"lock", {}},
}};

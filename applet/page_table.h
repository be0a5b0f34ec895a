// The six tabs of the host dialog, in tab order, with their pages and help anchors.
#pragma once
#include "wince.h"
#include <array>
#include "applet.h"
#include "pages/pages.h"
#include "resource.h"

struct PageRow {
    wchar_t TabText[13]; // at most 12 characters and the terminator
    WORD Template;
    DLGPROC Procedure;
    const wchar_t* HelpAnchor;
};

inline constexpr std::array<PageRow, PageCount> PageTable = {{
    {L"Status", IDD_STATUS_PAGE, StatusPageProc, L"status"},
    {L"Batterie", IDD_BATTERY_PAGE, TimeoutPageProc, L"battery"},
    {L"Extern", IDD_EXTERNAL_PAGE, TimeoutPageProc, L"extern"},
    {L"Nachricht", IDD_NOTIFY_PAGE, TimeoutPageProc, L"notify"},
    {L"Stromausfall", IDD_POWER_FAILURE_PAGE, PowerFailurePageProc, L"dropout"},
    {L"Sperre", IDD_LOCK_PAGE, LockPageProc, L"lock"},
}};

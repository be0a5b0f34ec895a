// The host dialog inside the main window: the tab control along its bottom edge and, above
// it, one page at a time. Pages are made on the first selection of their tab and afterwards
// only shown and hidden, so they keep their state.
#include "wince.h"
#include <commctrl.h>
#include "applet.h"
#include "page_table.h"
#include "resource.h"
#include "settings.h"

AppletWindowsRecord AppletWindows;

namespace {

const DLGTEMPLATE* FindDialogTemplate(WORD id) {
    HRSRC resource = FindResourceW(AppletWindows.Instance, MAKEINTRESOURCEW(id), RT_DIALOG);
    if (!resource)
        return nullptr;
    return static_cast<const DLGTEMPLATE*>(
        LockResource(LoadResource(AppletWindows.Instance, resource)));
}

// None when the page cannot be made; the next selection of its tab tries again.
HWND CreatePage(int tab) {
    const DLGTEMPLATE* dialog = FindDialogTemplate(PageTable[tab].Template);
    if (!dialog)
        return nullptr;
    HWND page = CreateDialogIndirectParamW(AppletWindows.Instance, dialog, AppletWindows.HostDialog,
                                           PageTable[tab].Procedure,
                                           reinterpret_cast<LPARAM>(&PageTable[tab]));
    if (page)
        SetWindowPos(page, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW);
    return page;
}

void ShowPages(int selected) {
    for (int tab = 0; tab < PageCount; ++tab) {
        HWND& page = AppletWindows.PageWindows[tab];
        if (tab == selected && page)
            ShowWindow(page, SW_SHOW);
        else if (tab == selected)
            page = CreatePage(tab);
        else if (page)
            ShowWindow(page, SW_HIDE);
    }
}

void InsertTabs() {
    for (int tab = 0; tab < PageCount; ++tab) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT | TCIF_IMAGE;
        item.pszText = const_cast<wchar_t*>(PageTable[tab].TabText);
        item.iImage = -1;
        SendMessageW(AppletWindows.TabControl, TCM_INSERTITEMW, tab,
                     reinterpret_cast<LPARAM>(&item));
    }
}

// OK and Cancel (from the keyboard through the dialog manager) are the main window's to
// decide; posted, so they run after the message that produced them. Every other command goes
// to the pages.
INT_PTR PassCommand(WPARAM wParam, LPARAM lParam) {
    const WORD id = LOWORD(wParam);
    if (id == IDOK || id == IDCANCEL)
        PostMessageW(AppletWindows.MainWindow, WM_COMMAND, wParam, lParam);
    else
        BroadcastToPages(WM_COMMAND, wParam, lParam);
    return TRUE;
}

INT_PTR CALLBACK HostDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_NOTIFY:
        SelectPage(static_cast<int>(wParam), reinterpret_cast<const NMHDR*>(lParam));
        return FALSE;
    case WM_HELP:
        // Sent, not posted: WM_HELP carries a pointer, and the message system refuses to
        // post those. Answered as handled, since the default handling may pass a child's
        // WM_HELP on to its parent by itself.
        SendMessageW(GetParent(dialog), WM_HELP, wParam, lParam);
        return TRUE;
    case WM_COMMAND:
        return PassCommand(wParam, lParam);
    }
    return FALSE;
}

} // namespace

void CreateHostDialog() {
    const DLGTEMPLATE* dialog = FindDialogTemplate(IDD_HOST_DIALOG);
    AppletWindows.HostDialog =
        dialog ? CreateDialogIndirectParamW(AppletWindows.Instance, dialog,
                                            AppletWindows.MainWindow, HostDialogProc, 0)
               : nullptr;
    AppletWindows.TabControl = GetDlgItem(AppletWindows.HostDialog, IDC_TABS);
    InsertTabs();
    SendMessageW(AppletWindows.TabControl, TCM_SETCURSEL, 0, 0);
    AppletWindows.SelectedTab = 0;
    InvalidateRect(AppletWindows.TabControl, nullptr, TRUE);
}

void SelectInitialTab(UINT tabIndex) {
    // An index the tab control rejects leaves tab 0 selected.
    SendMessageW(AppletWindows.TabControl, TCM_SETCURSEL, tabIndex, 0);
    NMHDR header = {};
    header.hwndFrom = AppletWindows.TabControl;
    header.idFrom = IDC_TABS;
    header.code = TCN_SELCHANGE;
    SelectPage(IDC_TABS, &header);
}

void SelectPage(int controlId, const NMHDR* header) {
    if (controlId != IDC_TABS || !header || header->code != static_cast<UINT>(TCN_SELCHANGE))
        return;
    BroadcastToPages(WM_COMMAND, IDC_TABS, 0);
    // The one place the selection is read: it changes only here.
    const int selected =
        static_cast<int>(SendMessageW(AppletWindows.TabControl, TCM_GETCURSEL, 0, 0));
    AppletWindows.SelectedTab = selected;
    ShowPages(selected);
    FocusFirstControl();
}

void FocusFirstControl() {
    HWND first = GetNextDlgTabItem(AppletWindows.HostDialog, AppletWindows.TabControl, FALSE);
    if (!first)
        return;
    SetFocus(first);
    if (SendMessageW(first, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageW(first, EM_SETSEL, 0, -1);
}

void BroadcastToPages(UINT message, WPARAM wParam, LPARAM lParam) {
    // Read afresh for every page: a page told IDCANCEL clears its own entry.
    for (int tab = 0; tab < PageCount; ++tab)
        if (AppletWindows.PageWindows[tab])
            SendMessageW(AppletWindows.PageWindows[tab], message, wParam, lParam);
}

// Its place in the table, not its address: the window memory the platform gives a dialog holds
// 32 bits, and the test devices' programs have 64-bit addresses. Kept as index + 1, so that the
// 0 of a page's fresh window memory means "no row yet".
void KeepPageRow(HWND page, LPARAM initParameter) {
    const auto* row = reinterpret_cast<const PageRow*>(initParameter);
    SetWindowLongW(page, DWLP_USER, static_cast<LONG>(row - PageTable.data() + 1));
}

const PageRow* PageRowOf(HWND page) {
    const LONG kept = GetWindowLongW(page, DWLP_USER);
    return kept >= 1 && kept <= PageCount ? &PageTable[static_cast<size_t>(kept - 1)] : nullptr;
}

void DiscardPage(HWND page) {
    for (HWND& entry : AppletWindows.PageWindows)
        if (entry == page)
            entry = nullptr;
    DestroyWindow(page);
}

INT_PTR AnswerHostCommand(HWND page, WPARAM wParam) {
    switch (wParam) {
    case IDOK:
        return TRUE;
    case IDCANCEL:
        DiscardPage(page);
        return TRUE;
    }
    return FALSE;
}

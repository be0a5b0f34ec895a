// The applet's frame: its module-wide records and the operations that entry, main window,
// host dialog and pages call on each other.
#pragma once
#include "wince.h"
#include <array>

// The applet's name in the control panel; "CPL_" and the name make its window class.
inline constexpr wchar_t AppletName[] = L"Velmora (Zilp)";
inline constexpr wchar_t MainWindowTitle[] = L"Velmora Zilp";

constexpr int PageCount = 6;
constexpr int BatteryIconCount = 7;

// The applet's window handles; all none when the library is loaded.
struct AppletWindowsRecord {
    HINSTANCE Instance;
    HWND MainWindow;
    HWND HostDialog;
    HWND TabControl;
    std::array<HWND, PageCount> PageWindows; // by tab index; none: the page does not exist
    HWND SavedFocus;                         // focus when the main window was deactivated
    int SelectedTab; // as the tab control last told of a change; -1: none selected
};
extern AppletWindowsRecord AppletWindows;

// Fonts and icons of the pages, alive from the first CPL_INIT to the last CPL_EXIT.
struct SharedResourcesRecord {
    HFONT LabelFont; // Tahoma 12, bold
    HFONT TextFont;  // Tahoma 12, normal
    // Icons 446, 445, 444, 443, 442, 447, 441, in this order.
    std::array<HICON, BatteryIconCount> BatteryIcons;
};
extern SharedResourcesRecord SharedResources;

// CPL_INIT messages not yet matched by CPL_EXIT.
extern LONG InitCount;

// The power state a timeout page stands for: whose device backlight rules its lower group
// follows.
enum class PowerState { Battery, External, Wakeup };

// What the shared timeout page edits on one tab: fields of AppletSettings.
struct TimeoutBindingRecord {
    DWORD* IdleTimeout;      // none: the tab is no timeout tab
    DWORD* BacklightTimeout; // none on "Nachricht"
    DWORD* BacklightAuto;    // none on "Nachricht"
    bool WarnOnZero;
    PowerState Power;
};

// entry.cpp
void CreateSharedResources();
void ReleaseSharedResources();
void RegisterAppletClasses(HINSTANCE instance);
// The whole of CPL_DBLCLK: returns when the window is gone. `host` owns the window.
void OpenMainWindow(HWND host, UINT tabIndex);

// main_window.cpp
void RegisterMainWindowClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance, int showCommand, HWND owner);
const wchar_t* MainWindowClassName();

// host_dialog.cpp
void CreateHostDialog();
void SelectInitialTab(UINT tabIndex);
void SelectPage(int controlId, const NMHDR* header);
void FocusFirstControl();
void BroadcastToPages(UINT message, WPARAM wParam, LPARAM lParam);
// A page keeps the row of the page table it was made from (its init parameter) and finds it
// again with PageRowOf: none before its WM_INITDIALOG.
struct PageRow;
void KeepPageRow(HWND page, LPARAM initParameter);
const PageRow* PageRowOf(HWND page);
// A page's answer to IDCANCEL: forgets its entry in PageWindows and destroys itself.
void DiscardPage(HWND page);
// Every page's answer to the host's broadcast of OK (nothing: the values already sit in
// AppletSettings) and Cancel (DiscardPage): TRUE for those two, FALSE for any other command.
INT_PTR AnswerHostCommand(HWND page, WPARAM wParam);

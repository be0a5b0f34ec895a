// The control-panel entry: the library's start, the CPL_INIT count with the fonts and icons
// it keeps alive, the description of the one applet, and the opening of its window.
#include "wince.h"
#include <cpl.h>
#include <cstddef>
#include "applet.h"
#include "resource.h"
#include "separator.h"
#include "turn_taking.h"

SharedResourcesRecord SharedResources;
LONG InitCount;

namespace {

constexpr std::array<WORD, BatteryIconCount> BatteryIconIds = {
    IDI_BATTERY_EMPTY,        IDI_BATTERY_ONE_FIFTH,   IDI_BATTERY_TWO_FIFTHS,
    IDI_BATTERY_THREE_FIFTHS, IDI_BATTERY_FOUR_FIFTHS, IDI_BATTERY_FULL,
    IDI_BATTERY_UNKNOWN,
};

constexpr DWORD AppletData = 100; // lData: the host hands it back with every message

// The wide NEWCPLINFO record, written through its declaration: on the 32-bit device five
// 32-bit fields and three texts, 468 bytes; elsewhere the same fields at their natural width.
constexpr DWORD NewCplInfoSize = sizeof(NEWCPLINFOW);
#ifndef _WIN64
static_assert(NewCplInfoSize == 468 && offsetof(NEWCPLINFOW, szName) == 20, "the CE record");
#endif

HFONT CreateTahoma(LONG weight) {
    LOGFONTW description = {};
    description.lfHeight = 12; // positive: a cell height in pixels
    description.lfWeight = weight;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfPitchAndFamily = FF_SWISS;
    lstrcpyW(description.lfFaceName, L"Tahoma");
    return CreateFontIndirectW(&description);
}

// The host may hand over a record that is not aligned: every field is written a byte at a
// time, little-endian, at its own width.
template <typename Field> void StoreField(BYTE* at, Field value) {
    const auto bits = static_cast<ULONG64>(value);
    for (size_t i = 0; i < sizeof(Field); ++i)
        at[i] = static_cast<BYTE>(bits >> (8 * i));
}

void StoreText(BYTE* at, const wchar_t* text) {
    do {
        at[0] = static_cast<BYTE>(*text);
        at[1] = static_cast<BYTE>(*text >> 8);
        at += 2;
    } while (*text++);
}

void DescribeApplet(BYTE* record) {
    if (!record)
        return;
    HICON icon = LoadIconW(AppletWindows.Instance, MAKEINTRESOURCEW(IDI_APPLET));
    StoreField<DWORD>(record + offsetof(NEWCPLINFOW, dwSize), NewCplInfoSize);
    StoreField<DWORD>(record + offsetof(NEWCPLINFOW, dwFlags), 0);
    StoreField<DWORD>(record + offsetof(NEWCPLINFOW, dwHelpContext), 0);
    StoreField<LONG_PTR>(record + offsetof(NEWCPLINFOW, lData), AppletData);
    StoreField<UINT_PTR>(record + offsetof(NEWCPLINFOW, hIcon), reinterpret_cast<UINT_PTR>(icon));
    StoreText(record + offsetof(NEWCPLINFOW, szName), AppletName);
    StoreText(record + offsetof(NEWCPLINFOW, szInfo), L"Einstellungen zur Velmora");
    StoreText(record + offsetof(NEWCPLINFOW, szHelpFile), L"");
}

void InitApplet() {
    if (InitCount == 0)
        CreateSharedResources();
    ++InitCount;
}

void ExitApplet() {
    // Without a matching CPL_INIT the count goes negative and nothing is released.
    if (--InitCount == 0)
        ReleaseSharedResources();
}

// The opening that makes the window holds this mutex until the window is gone.
constexpr wchar_t WindowMutexName[] = L"Velmora.Applet.Window";

// Serves every window of the host's thread until the main window is gone. The host dialog
// sees each message first, so Enter and Escape in it or in a page become its OK and Cancel.
void RunMessageLoop() {
    MSG message;
    while (AppletWindows.MainWindow && IsWindow(AppletWindows.MainWindow)) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got <= 0) {
            // The host wants to end: its own loop must see the quit message too.
            if (got == 0)
                PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (AppletWindows.HostDialog && IsWindow(AppletWindows.HostDialog) &&
            IsDialogMessageW(AppletWindows.HostDialog, &message))
            continue;
        bool taken = false;
        for (HWND page : AppletWindows.PageWindows)
            if (!taken && page && IsWindow(page))
                taken = IsDialogMessageW(page, &message);
        if (!taken) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
}

} // namespace

void CreateSharedResources() {
    SharedResources.LabelFont = CreateTahoma(FW_BOLD);
    SharedResources.TextFont = CreateTahoma(FW_NORMAL);
    for (int i = 0; i < BatteryIconCount; ++i)
        SharedResources.BatteryIcons[i] =
            LoadIconW(AppletWindows.Instance, MAKEINTRESOURCEW(BatteryIconIds[i]));
}

void ReleaseSharedResources() {
    DeleteObject(SharedResources.LabelFont);
    DeleteObject(SharedResources.TextFont);
    SharedResources.LabelFont = nullptr;
    SharedResources.TextFont = nullptr;
    // LoadIconW hands out the module's shared icons, which belong to the module and must not
    // be destroyed; giving them back means no longer holding them.
    SharedResources.BatteryIcons.fill(nullptr);
}

void RegisterAppletClasses(HINSTANCE instance) {
    RegisterSeparatorClass(instance);
    RegisterMainWindowClass(instance);
}

void OpenMainWindow(HWND host, UINT tabIndex) {
    // One applet window only, in this process or another: the open one comes to the front
    // and keeps its tab.
    // Taken once per opening, also by a nested opening of this thread (the mutex counts).
    NamedMutex turn(WindowMutexName);
    if (HWND open = FindInTurn(turn, MainWindowClassName(), MainWindowTitle)) {
        SetForegroundWindow(open);
        return;
    }
    // Without the mutex the holder kept it too long without showing a window (a message box
    // of its own, say).
    if (!turn.Turn())
        return;
    RegisterAppletClasses(AppletWindows.Instance);
    if (!CreateMainWindow(AppletWindows.Instance, SW_SHOW, host))
        return;
    CreateHostDialog();
    SelectInitialTab(tabIndex);
    if (IsWindow(AppletWindows.MainWindow))
        RunMessageLoop();
    AppletWindows.MainWindow = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH)
        AppletWindows.Instance = instance;
    return TRUE;
}

extern "C" LONG APIENTRY CPlApplet(HWND host, UINT message, LPARAM lParam1, LPARAM lParam2) {
    switch (message) {
    case CPL_INIT:
        InitApplet();
        return 1;
    case CPL_GETCOUNT:
        return 1; // one applet in this library
    case CPL_DBLCLK:
        OpenMainWindow(host, HIWORD(lParam1)); // the tab to open on
        return 0;
    case CPL_EXIT:
        ExitApplet();
        return 0;
    case CPL_NEWINQUIRE:
        DescribeApplet(reinterpret_cast<BYTE*>(lParam2));
        return 0;
    }
    return 0; // CPL_INQUIRE, CPL_SELECT, CPL_STOP and anything else: nothing to do
}

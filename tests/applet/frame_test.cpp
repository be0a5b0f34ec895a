// The applet library as the control-panel host sees it: powerg.cpl loaded from \Windows and
// driven through CPlApplet with real messages, its windows read back and driven from inside
// its own message loop.
#include <windows.h>
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cpl.h>
#include <cstring>
#include "applet_support.h"
#include "harness.h"

using namespace applet_test;
using harness::Utf8;

namespace {

std::vector<Event> Commands(const std::vector<Event>& events) {
    std::vector<Event> commands;
    for (const Event& e : events)
        if (e.message == WM_COMMAND || e.who == MainWho)
            commands.push_back(e);
    return commands;
}

// Applet.host stands for the control-panel host's window.
class AppletFrame : public HostedAppletSuite {
  protected:
    void SetUp() override {
        ASSERT_NE(nullptr, Applet.entry) << "powerg.cpl in \\Windows exporting CPlApplet";
        harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon", 0);
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, FindMainWindow()) << "the applet window outlived its test";
    }
};

} // namespace

TEST_F(AppletFrame, AnswersTheControlPanelMessages) {
    const struct {
        UINT message;
        LONG expected;
    } cases[] = {
        {CPL_GETCOUNT, 1}, {CPL_INQUIRE, 0},    {CPL_SELECT, 0},
        {CPL_STOP, 0},     {CPL_NEWINQUIRE, 0}, // without a record: nothing to fill, no crash
        {CPL_SETUP, 0},    {0x1234, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Applet.entry(Applet.host, c.message, 0, 0))
            << "message " << c.message;
    EXPECT_EQ(1, Applet.entry(Applet.host, CPL_INIT, 0, 0));
    EXPECT_EQ(0, Applet.entry(Applet.host, CPL_EXIT, 0, 0));
    EXPECT_EQ(nullptr, FindMainWindow()) << "none of these opens a window";
}

TEST_F(AppletFrame, FillsTheWideInquiryRecordAtAnyAlignment) {
    // Read through the record's declaration: 468 bytes on the 32-bit device.
    constexpr size_t RecordSize = sizeof(NEWCPLINFOW);
    for (size_t offset : {0u, 1u, 2u, 3u}) {
        alignas(8) BYTE buffer[RecordSize + 16];
        std::memset(buffer, 0xCC, sizeof buffer);
        BYTE* record = buffer + 4 + offset;
        EXPECT_EQ(0,
                  Applet.entry(Applet.host, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(record)));
        NEWCPLINFOW info;
        std::memcpy(&info, record, sizeof info);
        EXPECT_EQ(RecordSize, info.dwSize) << "dwSize at offset " << offset;
        EXPECT_EQ(0u, info.dwFlags) << "dwFlags at offset " << offset;
        EXPECT_EQ(0u, info.dwHelpContext) << "dwHelpContext at offset " << offset;
        EXPECT_EQ(100, info.lData) << "lData at offset " << offset;
        ICONINFO iconInfo = {};
        EXPECT_TRUE(info.hIcon && GetIconInfo(info.hIcon, &iconInfo))
            << "hIcon at offset " << offset;
        DeleteObject(iconInfo.hbmColor);
        DeleteObject(iconInfo.hbmMask);
        EXPECT_EQ(L"Velmora (Zilp)", std::wstring(info.szName, wcsnlen(info.szName, 32))) << offset;
        EXPECT_EQ(L"Einstellungen zur Velmora", std::wstring(info.szInfo, wcsnlen(info.szInfo, 64)))
            << offset;
        EXPECT_EQ(0, info.szHelpFile[0]) << "szHelpFile empty at offset " << offset;
        EXPECT_EQ(0xCC, record[-1]) << "byte before the record, offset " << offset;
        EXPECT_EQ(0xCC, record[RecordSize]) << "byte after the record, offset " << offset;
    }
}

TEST_F(AppletFrame, OpensOneFullScreenWindowOwnedByTheHostWithSixTabsAtTheBottom) {
    RECT work = {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    DWORD start = GetTickCount();
    LONG result = OpenAndDrive(Applet.entry, Applet.host, 0, [&](HWND main) {
        RECT frame = {};
        GetWindowRect(main, &frame);
        EXPECT_TRUE(EqualRect(&work, &frame))
            << "expected the work area " << work.right << "x" << work.bottom << ", actual "
            << frame.left << "," << frame.top << "-" << frame.right << "," << frame.bottom;
        EXPECT_EQ(Applet.host, GetWindow(main, GW_OWNER));
        EXPECT_TRUE(IsWindowVisible(main));
        EXPECT_NE(0, SendMessageW(main, WM_GETICON, ICON_SMALL, 0)) << "small icon 100";
        EXPECT_EQ(1u, harness::TopLevelWindows(MainClass).size());
        HWND host = HostDialogOf(main);
        ASSERT_NE(nullptr, host);
        HWND tabs = TabsOf(host);
        ASSERT_NE(nullptr, tabs);
        EXPECT_EQ(L"SysTabControl32", harness::ClassOf(tabs));
        EXPECT_TRUE(GetWindowLongW(tabs, GWL_STYLE) & TCS_BOTTOM);
        const wchar_t* texts[] = {L"Status",    L"Batterie",     L"Extern",
                                  L"Nachricht", L"Stromausfall", L"Sperre"};
        ASSERT_EQ(6, SendMessageW(tabs, TCM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < 6; ++i) {
            wchar_t text[32] = L"";
            TCITEMW item = {};
            item.mask = TCIF_TEXT;
            item.pszText = text;
            item.cchTextMax = 32;
            SendMessageW(tabs, TCM_GETITEMW, i, reinterpret_cast<LPARAM>(&item));
            EXPECT_EQ(std::wstring(texts[i]), text) << "tab " << i;
        }
        SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(0, result);
    EXPECT_LT(GetTickCount() - start, 20000u) << "CPL_DBLCLK returns once the window is gone";
}

TEST_F(AppletFrame, OpensOnTheAskedTabAndOnStatusForATabThatDoesNotExist) {
    const struct {
        UINT tab, applet;
        int expected;
    } cases[] = {{0, 0, 0}, {1, 0, 1}, {2, 0, 2}, {3, 0, 3},     {4, 0, 4},
                 {5, 3, 5}, {6, 0, 0}, {7, 0, 0}, {0xFFFF, 0, 0}};
    for (const auto& c : cases) {
        OpenAndDrive(
            Applet.entry, Applet.host, c.tab,
            [&](HWND main) {
                HWND host = HostDialogOf(main);
                EXPECT_EQ(c.expected, SelectedTab(host)) << "asked for tab " << c.tab;
                auto pages = PagesOf(host);
                ASSERT_EQ(1u, pages.size()) << "asked for tab " << c.tab;
                EXPECT_EQ(c.expected, TabOfPage(pages[0])) << "asked for tab " << c.tab;
                EXPECT_TRUE(IsWindowVisible(pages[0])) << "asked for tab " << c.tab;
                SendMessageW(main, WM_CLOSE, 0, 0);
            },
            c.applet);
    }
}

TEST_F(AppletFrame, PagesAreMadeOnceAndShownAgainWithTheirState) {
    // The lock icon wanted, so that the option box below is enabled.
    harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon", 1);
    OpenAndDrive(Applet.entry, Applet.host, 5, [](HWND main) {
        HWND host = HostDialogOf(main);
        HWND lock = PageOfTab(host, 5);
        ASSERT_NE(nullptr, lock);
        HWND box = GetDlgItem(lock, 1082);
        SendMessageW(box, BM_CLICK, 0, 0);
        ASSERT_EQ(BST_CHECKED, SendMessageW(box, BM_GETCHECK, 0, 0));
        SelectTab(host, 0);
        HWND status = PageOfTab(host, 0);
        ASSERT_NE(nullptr, status);
        EXPECT_TRUE(IsWindowVisible(status));
        EXPECT_FALSE(IsWindowVisible(lock)) << "the page of another tab is hidden";
        SelectTab(host, 5);
        EXPECT_EQ(lock, PageOfTab(host, 5)) << "the same page, not a new one";
        EXPECT_TRUE(IsWindowVisible(lock));
        EXPECT_FALSE(IsWindowVisible(status));
        EXPECT_EQ(BST_CHECKED, SendMessageW(box, BM_GETCHECK, 0, 0)) << "state kept";
        EXPECT_EQ(2u, PagesOf(host).size());
        EXPECT_EQ(GetDlgItem(lock, 1081), GetFocus()) << "the page's first tab stop";
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
}

TEST_F(AppletFrame, ATabChangeIsAnnouncedToTheExistingPagesFirst) {
    OpenAndDrive(Applet.entry, Applet.host, 0, [](HWND main) {
        HWND host = HostDialogOf(main);
        MessageLog log;
        log.WatchApplet(main);
        SelectTab(host, 1);
        std::vector<Event> expected = {{0, WM_COMMAND, 2000, 0}};
        EXPECT_EQ(expected, log.events()) << Describe(log.events());
        log.WatchApplet(main);
        log.clear();
        SelectTab(host, 0);
        expected = {{0, WM_COMMAND, 2000, 0}, {1, WM_COMMAND, 2000, 0}};
        EXPECT_EQ(expected, log.events()) << Describe(log.events());
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
}

TEST_F(AppletFrame, CancelReachesExactlyTheVisitedPagesAndCloseActsAsCancel) {
    const struct {
        UINT message;
        WPARAM wParam;
        LPARAM lParam, expectedLParam;
    } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, 1), 0x5678, 0x5678}, // code in the high word
        {WM_CLOSE, 0, 0, 0},
    };
    for (const auto& c : cases) {
        MessageLog log;
        OpenAndDrive(Applet.entry, Applet.host, 0, [&](HWND main) {
            HWND host = HostDialogOf(main);
            SelectTab(host, 1);
            SelectTab(host, 4);
            log.WatchApplet(main);
            log.clear();
            SendMessageW(main, c.message, c.wParam, c.lParam);
            EXPECT_FALSE(IsWindow(main)) << "message " << c.message;
        });
        const LPARAM lp = c.expectedLParam;
        std::vector<Event> expected;
        if (c.message == WM_COMMAND)
            expected.push_back({MainWho, WM_COMMAND, c.wParam, c.lParam});
        expected.insert(expected.end(), {
                                            {0, WM_COMMAND, IDCANCEL, lp},
                                            {0, WM_DESTROY, 0, 0},
                                            {1, WM_COMMAND, IDCANCEL, lp},
                                            {1, WM_DESTROY, 0, 0},
                                            {4, WM_COMMAND, IDCANCEL, lp},
                                            {4, WM_DESTROY, 0, 0},
                                            {MainWho, WM_DESTROY, 0, 0},
                                        });
        EXPECT_EQ(expected, log.events())
            << "message " << c.message << ": " << Describe(log.events());
    }
}

TEST_F(AppletFrame, OkTellsEveryPageAndStartsNoNotifierWithoutTheLockIcon) {
    ProgramRecorder recorder;
    MessageLog log;
    OpenAndDrive(Applet.entry, Applet.host, 3, [&](HWND main) {
        SelectTab(HostDialogOf(main), 0);
        log.WatchApplet(main);
        log.clear();
        SendMessageW(main, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0x99);
    });
    // The pages get IDOK alone, without the notification code the main window got.
    std::vector<Event> expected = {{MainWho, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0x99},
                                   {0, WM_COMMAND, IDOK, 0x99},
                                   {3, WM_COMMAND, IDOK, 0x99},
                                   {MainWho, WM_DESTROY, 0, 0}};
    EXPECT_EQ(expected, Commands(log.events())) << Describe(log.events());
    EXPECT_TRUE(recorder.StartedAfter(2000).empty()) << "ShowLockIcon is 0: no notifier";
}

TEST_F(AppletFrame, EnterAndEscapeInAPageBecomeOkAndCancelAfterTheKeyIsHandled) {
    const struct {
        WPARAM key;
        WPARAM command;
    } cases[] = {{VK_RETURN, IDOK}, {VK_ESCAPE, IDCANCEL}};
    for (const auto& c : cases) {
        MessageLog log;
        OpenAndDrive(Applet.entry, Applet.host, 5, [&](HWND main) {
            log.WatchApplet(main);
            HWND focus = GetFocus();
            ASSERT_TRUE(IsChild(PageOfTab(HostDialogOf(main), 5), focus));
            // Through the applet's own loop: the host dialog's dialog manager sees it first.
            PostMessageW(focus, WM_KEYDOWN, c.key, 1);
        });
        std::vector<Event> expected = {{MainWho, WM_COMMAND, c.command, 0},
                                       {5, WM_COMMAND, c.command, 0},
                                       {MainWho, WM_DESTROY, 0, 0}};
        EXPECT_EQ(expected, Commands(log.events()))
            << "key " << c.key << ": " << Describe(log.events());
    }
}

TEST_F(AppletFrame, ACommandAtTheHostDialogGoesToEveryPageAndTheMainWindowIgnoresIt) {
    OpenAndDrive(Applet.entry, Applet.host, 0, [](HWND main) {
        HWND host = HostDialogOf(main);
        SelectTab(host, 2);
        SelectTab(host, 5);
        MessageLog log;
        log.WatchApplet(main);
        log.clear();
        SendMessageW(host, WM_COMMAND, MAKEWPARAM(1234, 7), 77);
        std::vector<Event> expected = {{0, WM_COMMAND, MAKEWPARAM(1234, 7), 77},
                                       {2, WM_COMMAND, MAKEWPARAM(1234, 7), 77},
                                       {5, WM_COMMAND, MAKEWPARAM(1234, 7), 77}};
        EXPECT_EQ(expected, log.events()) << Describe(log.events());
        log.clear();
        SendMessageW(main, WM_COMMAND, 1234, 77);
        expected = {{MainWho, WM_COMMAND, 1234, 77}};
        EXPECT_EQ(expected, log.events()) << "no page hears of it: " << Describe(log.events());
        EXPECT_TRUE(IsWindow(main));
        EXPECT_EQ(3u, PagesOf(host).size());
        // OK and Cancel at the host dialog are posted on: nothing happens before the loop
        // gets back to them.
        log.clear();
        SendMessageW(host, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(log.events().empty()) << Describe(log.events());
        EXPECT_TRUE(IsWindow(main));
    });
    EXPECT_EQ(nullptr, FindMainWindow()) << "the posted Cancel closed the window";
}

TEST_F(AppletFrame, HelpStartsPegHelpAtTheTopicOfTheTabShowing) {
    ProgramRecorder recorder;
    const struct {
        int tab; // -1: no tab selected
        const char* expected;
    } cases[] = {
        {3, "PegHelp.exe|velmora.htp#notify"},
        {0, "PegHelp.exe|velmora.htp#status"},
        {1, "PegHelp.exe|velmora.htp#battery"},
        {2, "PegHelp.exe|velmora.htp#extern"},
        {4, "PegHelp.exe|velmora.htp#dropout"},
        {5, "PegHelp.exe|velmora.htp#lock"},
        {-1, "PegHelp.exe|Velmora.htp#powersupply_help"},
    };
    OpenAndDrive(Applet.entry, Applet.host, 3, [&](HWND main) {
        HWND host = HostDialogOf(main);
        size_t count = 0;
        for (const auto& c : cases) {
            if (c.tab != SelectedTab(host))
                SelectTab(host, c.tab);
            SendMessageW(main, WM_HELP, 0, 0);
            auto started = recorder.Started(++count);
            ASSERT_EQ(count, started.size()) << "tab " << c.tab;
            EXPECT_EQ(c.expected, started.back()) << "tab " << c.tab;
        }
        // From the host dialog (where F1 in a page arrives) it reaches the main window once.
        SelectTab(host, 4);
        SendMessageW(host, WM_HELP, 0, 0);
        harness::Pump(100);
        auto started = recorder.Started(++count);
        ASSERT_EQ(count, started.size());
        EXPECT_EQ("PegHelp.exe|velmora.htp#dropout", started.back());
        EXPECT_EQ(count, recorder.StartedAfter(2000).size()) << "help opened twice";
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
}

TEST_F(AppletFrame, ASecondOpeningBringsTheOpenWindowToTheFrontAndMakesNothing) {
    OpenAndDrive(Applet.entry, Applet.host, 2, [](HWND main) {
        HWND other = CreateWindowExW(0, L"Static", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                     nullptr, nullptr, nullptr, nullptr);
        // A change of the foreground reaches this thread as messages (of the window system and
        // of Wine's X11 driver), which on a busy machine may come late: waited for, bounded.
        auto InFront = [](HWND window) {
            return harness::WaitFor([&] { return GetForegroundWindow() == window; }, 5000);
        };
        SetForegroundWindow(other);
        ASSERT_TRUE(InFront(other)) << "in front: expected the other window " << other
                                    << ", actual " << GetForegroundWindow();
        DWORD start = GetTickCount();
        EXPECT_EQ(0, Applet.entry(Applet.host, CPL_DBLCLK, MAKELPARAM(0, 4), 0));
        EXPECT_LT(GetTickCount() - start, 5000u) << "returns at once";
        EXPECT_TRUE(InFront(main))
            << "in front: expected the applet " << main << ", actual " << GetForegroundWindow();
        EXPECT_EQ(1u, harness::TopLevelWindows(MainClass).size());
        HWND host = HostDialogOf(main);
        EXPECT_EQ(2, SelectedTab(host)) << "the open window keeps its tab";
        EXPECT_EQ(1u, PagesOf(host).size());

        // The same from a second host process: the front it gives reaches this thread as a
        // message, which may come after that process has ended.
        SetForegroundWindow(other);
        ASSERT_TRUE(InFront(other)) << "in front: expected the other window " << other
                                    << ", actual " << GetForegroundWindow();
        auto second = harness::StartChild(L"second-host");
        DWORD code = 99;
        ASSERT_TRUE(second.WaitExit(20000, &code)) << "the second opening did not return";
        EXPECT_EQ(0u, code) << "1: CPL_DBLCLK answered non-zero, 2: it made a window";
        EXPECT_TRUE(InFront(main))
            << "in front: expected the applet " << main << ", actual " << GetForegroundWindow();
        EXPECT_EQ(1u, harness::TopLevelWindows(MainClass).size());
        EXPECT_EQ(2, SelectedTab(host));
        DestroyWindow(other);
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
}

HARNESS_CHILD_ROLE(SecondHost, L"second-host") {
    InitHostControls();
    HMODULE library = LoadLibraryW((harness::WindowsDir() + L"\\powerg.cpl").c_str());
    auto entry = reinterpret_cast<AppletEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, "CPlApplet")));
    if (!entry)
        return 3;
    entry(nullptr, CPL_INIT, 0, 0);
    LONG result = entry(nullptr, CPL_DBLCLK, MAKELPARAM(0, 4), 0);
    bool made = !harness::TopLevelWindows(MainClass, GetCurrentProcessId()).empty();
    entry(nullptr, CPL_EXIT, 0, 0);
    return result != 0 ? 1 : made ? 2 : 0;
}

TEST_F(AppletFrame, AReopeningInTheSameProcessStartsWithoutThePagesOfTheLastOne) {
    OpenAndDrive(Applet.entry, Applet.host, 2, [](HWND main) {
        SelectTab(HostDialogOf(main), 3);
        SendMessageW(main, WM_COMMAND, IDOK, 0);
    });
    OpenAndDrive(Applet.entry, Applet.host, 2, [](HWND main) {
        HWND host = HostDialogOf(main);
        auto pages = PagesOf(host);
        ASSERT_EQ(1u, pages.size());
        EXPECT_EQ(2, TabOfPage(pages[0]));
        EXPECT_TRUE(IsWindowVisible(pages[0]));
        SelectTab(host, 3);
        EXPECT_NE(nullptr, PageOfTab(host, 3)) << "tab 3 gets a page of this opening";
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
}

TEST_F(AppletFrame, AQuitMessageEndsTheLoopAndIsLeftForTheHost) {
    HWND open = nullptr;
    LONG result = OpenAndDrive(Applet.entry, Applet.host, 0, [&](HWND main) {
        open = main;
        PostQuitMessage(5);
    });
    EXPECT_EQ(0, result);
    MSG message = {};
    EXPECT_TRUE(PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE))
        << "the host's own loop must still see WM_QUIT";
    EXPECT_EQ(5u, message.wParam);
    if (IsWindow(open))
        DestroyWindow(open);
    harness::Pump(50);
}

TEST_F(AppletFrame, ShowIconAddsTheTestIconAndTakesItAwayAgain) {
    using ShowIconEntry = int(WINAPI*)(HINSTANCE);
    auto showIcon = reinterpret_cast<ShowIconEntry>(
        reinterpret_cast<void*>(GetProcAddress(Applet.library, "ShowIcon")));
    ASSERT_NE(nullptr, showIcon);
    HINSTANCE self = GetModuleHandleW(nullptr); // carries icon 451
    const DWORD pid = GetCurrentProcessId();
    for (int round = 0; round < 2; ++round) {
        ASSERT_EQ(1, showIcon(self)) << "round " << round;
        auto windows = harness::TopLevelWindows(L"PowerSupplyZilpNotify", pid);
        ASSERT_EQ(1u, windows.size()) << "round " << round;
        HWND window = windows[0];
        EXPECT_FALSE(IsWindowVisible(window));
        std::string tray;
        ASSERT_EQ(0, harness::RunDevtool(L"tray", &tray));
        EXPECT_NE(std::string::npos, tray.find("\"PowerSupplyZilpNotify\" id=1 message=0x0400"))
            << "expected the test icon in the notification area, actual: " << tray;
        EXPECT_EQ(std::string::npos, tray.find("image=none")) << tray;
        {
            // A tap in the notification area brings up the box too.
            harness::MessageBoxCatcher boxes(IDOK);
            std::string out;
            ASSERT_EQ(0, harness::RunDevtool(L"tap", &out)) << out;
            EXPECT_TRUE(harness::WaitFor([&] { return !boxes.boxes().empty(); }, 5000))
                << "no box after a tap on the test icon";
            harness::Pump(200);
            for (const auto& box : boxes.boxes())
                EXPECT_EQ(L"Notify Tray Icon!", box.text);
        }
        {
            harness::MessageBoxCatcher boxes(IDOK);
            for (UINT message : {WM_USER, WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_COMMAND, WM_NOTIFY})
                EXPECT_EQ(0, SendMessageW(window, message, 1, WM_LBUTTONUP)) << message;
            EXPECT_EQ(0, SendMessageW(window, WM_TIMER, 1, 0));
            EXPECT_EQ(0, SendMessageW(window, WM_KEYDOWN, VK_SPACE, 0));
            ASSERT_EQ(5u, boxes.boxes().size()) << "one box for each of the five messages";
            for (const auto& box : boxes.boxes()) {
                EXPECT_EQ(L"Notify Tray Icon!", box.text);
                EXPECT_EQ(L"Message", box.caption);
                EXPECT_EQ(window, box.owner);
                EXPECT_EQ(static_cast<UINT>(MB_OK), box.flags);
            }
        }
        EXPECT_EQ(0, showIcon(self)) << "round " << round;
        EXPECT_FALSE(IsWindow(window)) << "round " << round;
        ASSERT_EQ(0, harness::RunDevtool(L"tray", &tray));
        EXPECT_EQ(std::string::npos, tray.find("PowerSupplyZilpNotify"))
            << "expected the test icon gone, actual: " << tray;
    }
}

TEST_F(AppletFrame, OkSavesTheEditedCopyAndCancelOrCloseLeaveTheSystemAsItIs) {
    const DWORD loaded = harness::IdleTimeout(SPI_GETBATTERYIDLETIMEOUT);
    const struct {
        UINT message;
        WPARAM wParam;
        DWORD expected;
    } cases[] = {
        {WM_COMMAND, IDOK, loaded}, // the copy, loaded at opening, overwrites the change
        {WM_COMMAND, IDCANCEL, 4321},
        {WM_CLOSE, 0, 4321},
    };
    for (const auto& c : cases) {
        harness::SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, loaded);
        OpenAndDrive(Applet.entry, Applet.host, 1, [&](HWND main) {
            // Another program changes the timeout while the applet is open.
            harness::SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, 4321);
            SendMessageW(main, c.message, c.wParam, 0);
        });
        EXPECT_EQ(c.expected, harness::IdleTimeout(SPI_GETBATTERYIDLETIMEOUT))
            << "message " << c.message << ", wParam " << c.wParam;
    }
    harness::SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, loaded);
}

TEST_F(AppletFrame, AFailedLoadOfTheSettingsLeavesNoWindow) {
    // Without any backlight key, on a device that is no reference platform, loading fails.
    constexpr wchar_t Backlight[] = L"ControlPanel\\Backlight";
    const wchar_t* names[] = {L"BatteryTimeout", L"ACTimeout", L"BatteryAuto", L"ACAuto"};
    DWORD saved[4] = {};
    bool present[4] = {};
    for (int i = 0; i < 4; ++i)
        present[i] = harness::ReadDword(HKEY_CURRENT_USER, Backlight, names[i], &saved[i]);
    harness::DeleteKey(HKEY_CURRENT_USER, Backlight);

    LONG result = -1;
    DWORD start = GetTickCount();
    std::vector<harness::MessageBoxInfo> boxes;
    {
        harness::MessageBoxCatcher catcher(IDOK);
        result = OpenExpectingNoWindow(Applet.entry, Applet.host, 2);
        boxes = catcher.boxes();
    }
    const DWORD elapsed = GetTickCount() - start;
    for (int i = 0; i < 4; ++i)
        if (present[i])
            harness::WriteDword(HKEY_CURRENT_USER, Backlight, names[i], saved[i]);

    EXPECT_EQ(0, result);
    EXPECT_LT(elapsed, 10000u) << "CPL_DBLCLK returns once the box is answered";
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ("Fehler beim Lesen", Utf8(boxes[0].caption));
}

// The applet in the device's own control-panel host ctlpnl.exe, reached through the launcher,
// with the device's help viewer and notifier: the whole road a user takes.
#include <windows.h>
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cstdio>
#include "applet_support.h"
#include "harness.h"

using namespace applet_test;
using harness::Utf8;

namespace {

class AppletInHost : public testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareRegistry(); }
    static void TearDownTestSuite() { RestoreRegistry(); }
    void TearDown() override {
        // Whatever a failed test left: the applet, the help viewer, a notifier.
        const wchar_t* classes[] = {MainClass, L"PegHelp", L"PowerSupplyZilpNotify"};
        for (const wchar_t* name : classes)
            for (HWND window : harness::TopLevelWindows(name))
                PostMessageW(window, WM_CLOSE, 0, 0);
        for (const wchar_t* name : classes)
            EXPECT_TRUE(
                harness::WaitFor([name] { return harness::TopLevelWindows(name).empty(); }, 15000))
                << Utf8(name) << " still open";
        harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon", 0);
    }
    // The applet's window, opened by another process, once its first page is there.
    static HWND OpenedWindow() {
        HWND main = nullptr;
        harness::WaitFor(
            [&] {
                main = FindMainWindow();
                return main && !PagesOf(HostDialogOf(main)).empty();
            },
            20000);
        return main;
    }
};

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

} // namespace

TEST_F(AppletInHost, TheLauncherOpensTheAppletOnStatusAndLaterBringsItToTheFront) {
    ASSERT_EQ(0, harness::Run(L"launcher.exe", L""));
    HWND main = OpenedWindow();
    ASSERT_NE(nullptr, main) << "launcher -> ctlpnl.exe -> powerg.cpl opened no window";
    EXPECT_FALSE(harness::TopLevelWindows(L"CtlPnlHost", ProcessOf(main)).empty())
        << "the window belongs to the host, not to the launcher that has ended";
    HWND host = HostDialogOf(main);
    EXPECT_EQ(0, SelectedTab(host));
    auto pages = PagesOf(host);
    ASSERT_EQ(1u, pages.size());
    EXPECT_EQ(0, TabOfPage(pages[0])) << "the Status page";

    HWND other = CreateWindowExW(0, L"Static", L"other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50,
                                 nullptr, nullptr, nullptr, nullptr);
    SetForegroundWindow(other);
    ASSERT_EQ(other, GetForegroundWindow());
    ASSERT_EQ(0, harness::Run(L"launcher.exe", L""));
    EXPECT_TRUE(harness::WaitFor([&] { return GetForegroundWindow() == main; }, 15000))
        << "the open applet did not come to the front";
    harness::Pump(1000);
    EXPECT_EQ(1u, harness::TopLevelWindows(MainClass).size()) << "a second applet window";
    EXPECT_EQ(1u, harness::TopLevelWindows(L"CtlPnlHost").size())
        << "the second host should have ended";
    DestroyWindow(other);
    PostMessageW(main, WM_CLOSE, 0, 0);
}

TEST_F(AppletInHost, HelpOpensThePagesTopicInTheHelpViewer) {
    auto ctlpnl = harness::Start(L"ctlpnl.exe", L"powerg.cpl,0,3");
    HWND main = OpenedWindow();
    ASSERT_NE(nullptr, main);
    ASSERT_EQ(3, SelectedTab(HostDialogOf(main)));
    HELPINFO info = {sizeof info, HELPINFO_WINDOW, 0, nullptr, 0, {0, 0}};
    SendMessageW(main, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
    HWND viewer = harness::WaitWindow(L"PegHelp", 20000);
    ASSERT_NE(nullptr, viewer) << "no help viewer";
    EXPECT_EQ("Hilfe: Nachricht", Utf8(harness::WindowText(viewer)));
    PostMessageW(viewer, WM_CLOSE, 0, 0);
    PostMessageW(main, WM_CLOSE, 0, 0);
    DWORD code = 99;
    EXPECT_TRUE(ctlpnl.WaitExit(15000, &code));
    EXPECT_EQ(0u, code);
}

TEST_F(AppletInHost, OkWithTheLockIconWantedBringsUpTheNotifier) {
    harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon", 1);
    ASSERT_TRUE(harness::TopLevelWindows(L"PowerSupplyZilpNotify").empty());
    auto ctlpnl = harness::Start(L"ctlpnl.exe", L"powerg.cpl,0,5");
    HWND main = OpenedWindow();
    ASSERT_NE(nullptr, main);
    PostMessageW(main, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(ctlpnl.WaitExit(15000)) << "the host did not end after OK";
    EXPECT_NE(nullptr, harness::WaitWindow(L"PowerSupplyZilpNotify", 15000))
        << "Ostrelle.exe UPDATE with ShowLockIcon saved as 1 shows the notifier";
}

TEST_F(AppletInHost, FiveHostsOpeningAtOnceMakeOneWindowAndTheOthersBringItToTheFront) {
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        std::vector<harness::Process> hosts;
        for (int i = 0; i < 5; ++i)
            hosts.push_back(harness::Start(L"ctlpnl.exe", L"powerg.cpl,0,0"));
        HWND main = OpenedWindow();
        ASSERT_NE(nullptr, main);
        auto ended = [&] {
            size_t count = 0;
            for (const auto& host : hosts)
                count += WaitForSingleObject(host.handle(), 0) == WAIT_OBJECT_0 ? 1 : 0;
            return count;
        };
        harness::WaitFor([&] { return ended() == 4; }, 30000);
        EXPECT_EQ(4u, ended()) << "hosts that found the window open and ended";
        EXPECT_EQ(1u, harness::TopLevelWindows(MainClass).size()) << "applet windows";
        PostMessageW(main, WM_CLOSE, 0, 0);
        for (const auto& host : hosts)
            EXPECT_TRUE(host.WaitExit(15000)) << "a host did not end";
    }
}

// The user's road to a power failure, for the test of the device as a whole (which resets the
// device afterwards): the applet opened on "Stromausfall" in the device's host, the button
// pressed, "Ja", then OK on the reset prompt. Exit 0 when both boxes came as expected.
HARNESS_CHILD_ROLE(SimulatePowerFailure, L"simulate-power-failure") {
    auto ctlpnl = harness::Start(L"ctlpnl.exe", L"powerg.cpl,0,4");
    HWND main = nullptr, page = nullptr;
    harness::WaitFor(
        [&] {
            main = FindMainWindow();
            page = main ? PageOfTab(HostDialogOf(main), 4) : nullptr;
            return page != nullptr;
        },
        60000);
    if (!page) {
        std::printf("expected the page \"Stromausfall\" in ctlpnl.exe, found none\n");
        return 1;
    }
    PostMessageW(GetDlgItem(page, 1059), BM_CLICK, 0, 0);
    const char* expected[] = {
        "Wollen Sie wirklich alle Informationen in Ihrem Windows CE Gerät löschen?",
        "Drücken Sie jetzt die Reset-Taste!"};
    const int answers[] = {IDYES, IDOK};
    int failures = 0;
    for (int i = 0; i < 2; ++i) {
        HWND box = harness::WaitMessageBox(ctlpnl.pid(), 60000);
        std::string text = box ? Utf8(harness::WindowText(GetDlgItem(box, 0xFFFF))) : "no box";
        std::printf("box %d: expected \"%s\", actual \"%s\"\n", i + 1, expected[i], text.c_str());
        if (text != expected[i]) {
            ++failures;
            break;
        }
        harness::AnswerBox(box, answers[i]);
        harness::WaitFor([box] { return !IsWindow(box); }, 60000);
    }
    PostMessageW(main, WM_CLOSE, 0, 0);
    if (!ctlpnl.WaitExit(60000)) {
        std::printf("ctlpnl.exe did not end after the applet was closed\n");
        ++failures;
    }
    return failures;
}

// `velmora device touch` is a finger on the glass: every tap lands where it is aimed, also just
// after a tap on the dark screen, which only switches the device on. The targets are two tabs
// of powerg.cpl hosted here; what reaches its thread is read back.
#include <windows.h>
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cpl.h>
#include <string>
#include <vector>
#include "applet_support.h"
#include "harness.h"

using namespace applet_test;

namespace {

constexpr int StatusTab = 0, ExternTab = 2;

std::string TabName(int tab) {
    return tab == StatusTab ? "Status" : tab == ExternTab ? "Extern" : "tab " + std::to_string(tab);
}

// The stylus presses and releases this thread takes from its queue, and where the last press
// was.
struct Stylus {
    static inline int presses, releases;
    static inline POINT lastPress;
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
        if (code == HC_ACTION) {
            if (wParam == WM_LBUTTONDOWN || wParam == WM_NCLBUTTONDOWN) {
                ++presses;
                lastPress = reinterpret_cast<const MOUSEHOOKSTRUCT*>(lParam)->pt;
            } else if (wParam == WM_LBUTTONUP || wParam == WM_NCLBUTTONUP) {
                ++releases;
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
};

std::string Text(POINT p) {
    return std::to_string(p.x) + "," + std::to_string(p.y);
}

// The middle of a tab on the screen, as it stands now.
POINT MiddleOf(HWND host, int tab) {
    RECT item = {};
    SendMessageW(TabsOf(host), TCM_GETITEMRECT, tab, reinterpret_cast<LPARAM>(&item));
    POINT middle = {(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    MapWindowPoints(TabsOf(host), nullptr, &middle, 1);
    return middle;
}

bool TouchAt(POINT p) {
    return harness::RunDevtool(L"touch " + std::to_wstring(p.x) + L"," + std::to_wstring(p.y)) == 0;
}

bool ScreenIs(const char* state) {
    std::string out;
    return harness::RunDevtool(L"screen", &out) == 0 && out.rfind(state, 0) == 0;
}

// The device switches itself off after a second without input, whichever timeout is in force
// (an earlier test may leave it on external power or woken by a notification), and then keeps
// its timeouts again; what these tests' device does otherwise is restored when the guard goes.
struct Darkness {
    bool Fall() {
        harness::SetTimeouts({1, 1, 1});
        harness::RunDevtool(L"sleep normal");
        const bool off = harness::WaitFor([] { return ScreenIs("off"); }, 15000);
        harness::SetTimeouts(harness::FactoryTimeouts);
        return off;
    }
    ~Darkness() {
        harness::SetTimeouts(harness::FactoryTimeouts);
        harness::RunDevtool(L"sleep never");
    }
};

class Touch : public HostedAppletSuite {};

} // namespace

// Four openings, each: dark, a tap on "Extern" that must only switch the device on, then ten
// lit taps alternating between "Status" and "Extern", the first on the tab already selected.
TEST_F(Touch, LandsWhereAimedAlsoRightAfterATapOnTheDarkScreen) {
    ASSERT_NE(nullptr, Applet.entry) << "powerg.cpl in \\Windows exporting CPlApplet";
    HHOOK hook = SetWindowsHookExW(WH_MOUSE, Stylus::Hook, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    Darkness darkness;
    std::vector<std::string> misses;
    int lit = 0;
    for (int round = 1; round <= 4; ++round) {
        OpenAndDrive(Applet.entry, Applet.host, StatusTab, [&](HWND main) {
            const HWND host = HostDialogOf(main);
            const std::string where = "opening " + std::to_string(round);
            if (!darkness.Fall()) {
                misses.push_back(where + ": expected the device off, actual on");
                return;
            }
            const int pressesBefore = Stylus::presses;
            const POINT dark = MiddleOf(host, ExternTab);
            if (!TouchAt(dark) || !harness::WaitFor([] { return ScreenIs("on"); }, 5000))
                misses.push_back(where + ": the tap on the dark screen did not switch it on");
            harness::Pump(300);
            if (Stylus::presses != pressesBefore || SelectedTab(host) != StatusTab)
                misses.push_back(where + ": the dark tap at " + Text(dark) +
                                 ": expected no press and Status, actual " +
                                 std::to_string(Stylus::presses - pressesBefore) + " presses and " +
                                 TabName(SelectedTab(host)));
            for (int i = 0; i < 10; ++i, ++lit) {
                const int tab = i % 2 ? ExternTab : StatusTab;
                const POINT aim = MiddleOf(host, tab);
                const int releases = Stylus::releases;
                const bool sent = TouchAt(aim);
                harness::WaitFor([&] { return Stylus::releases > releases; }, 5000);
                const POINT press = Stylus::lastPress;
                if (!sent || Stylus::releases == releases || press.x != aim.x || press.y != aim.y ||
                    SelectedTab(host) != tab)
                    misses.push_back(where + ", tap " + std::to_string(i + 1) + " at " + Text(aim) +
                                     " (" + TabName(tab) + "): expected its press there and " +
                                     TabName(tab) + " selected, actual press at " + Text(press) +
                                     ", " + std::to_string(Stylus::releases - releases) +
                                     " releases, " + TabName(SelectedTab(host)));
            }
        });
    }
    UnhookWindowsHookEx(hook);
    EXPECT_EQ(40, lit) << "lit taps made";
    EXPECT_EQ(std::vector<std::string>{}, misses) << misses.size() << " of 44 taps missed";
}

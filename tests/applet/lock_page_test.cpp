// The lock page in the applet's frame linked into this program, with the real notifier of
// \Windows and taps through the device shell: its boxes, its starts of Ostrelle.exe, and the
// user's idle timeouts through every way of using the page and the tray icon together.
#include <windows.h>
#include <gtest/gtest.h>
#include <cpl.h>
#include <functional>
#include <ostream>
#include <string>
#include <vector>
#include "applet.h"
#include "applet_support.h"
#include "linked_applet.h"
#include "harness.h"
#include "settings.h"
#include "wince.h"

using namespace applet_test;
using namespace harness;

namespace {

constexpr wchar_t Key[] = L"Software\\Zilp\\Velmora";
constexpr wchar_t NotifierClass[] = L"PowerSupplyZilpNotify";
constexpr int LockTab = 5;
constexpr int IconBox = 1081, ExternalOnlyBox = 1082, IgnoreNotifyBox = 1084;

constexpr Timeouts Factory = FactoryTimeouts;
constexpr Timeouts User = {100, 200, 60}; // what the user set; no test may lose them

Timeouts Loaded() {
    return {AppletSettings.BatteryIdleTimeout, AppletSettings.ExternalIdleTimeout,
            AppletSettings.WakeupIdleTimeout};
}

std::string Value(const wchar_t* name) {
    DWORD value = 0;
    return ReadDword(HKEY_CURRENT_USER, Key, name, &value) ? std::to_string(value) : "absent";
}
void Set(const wchar_t* name, DWORD value) {
    WriteDword(HKEY_CURRENT_USER, Key, name, value);
}

// What a box shows.
struct BoxState {
    bool checked, enabled;
    bool operator==(const BoxState& o) const {
        return checked == o.checked && enabled == o.enabled;
    }
};
std::ostream& operator<<(std::ostream& out, const BoxState& s) {
    return out << (s.checked ? "checked" : "unchecked") << (s.enabled ? " enabled" : " disabled");
}
BoxState StateOf(HWND page, int id) {
    HWND box = GetDlgItem(page, id);
    return {SendMessageW(box, BM_GETCHECK, 0, 0) == BST_CHECKED, IsWindowEnabled(box) != FALSE};
}

HWND LockPageOf(HWND main) {
    return PageOfTab(HostDialogOf(main), LockTab);
}
void Click(HWND main, int id) {
    SendMessageW(GetDlgItem(LockPageOf(main), id), BM_CLICK, 0, 0);
}

// A stylus tap on the notifier's icon, through the device shell; then until "Locked" says so.
void TapIcon(const char* lockedAfter) {
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"tap", &out)) << out;
    EXPECT_TRUE(WaitFor([&] { return Value(L"Locked") == lockedAfter; }, 10000))
        << "after the tap: expected Locked " << lockedAfter << ", actual " << Value(L"Locked");
}

bool NotifierRuns() {
    HANDLE mutex =
        OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, L"Velmora.Ostrelle.Instance");
    if (!mutex)
        return false;
    const DWORD taken = WaitForSingleObject(mutex, 0);
    if (taken == WAIT_OBJECT_0 || taken == WAIT_ABANDONED)
        ReleaseMutex(mutex);
    CloseHandle(mutex);
    return taken == WAIT_TIMEOUT;
}

std::string Tray() {
    std::string out;
    return RunDevtool(L"tray", &out) == 0 ? out : "tray failed: " + out;
}

class LockPage : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartLinkedApplet(true); }
    static void TearDownTestSuite() {
        SetTimeouts(Factory);
        StopLinkedApplet(true);
    }
    void SetUp() override { Reset(); }
    void TearDown() override {
        EXPECT_EQ(nullptr, FindMainWindow()) << "the applet window outlived its test";
        Reset();
    }
    // No notifier, no Settings key, the user's timeouts. A notifier holds its instance mutex
    // from before its window shows until its process ends, after the window has gone; a start
    // meanwhile waits for it (10 s at most, and then shows nothing): so until the mutex is
    // free.
    static void Reset() {
        for (HWND window : TopLevelWindows(NotifierClass))
            PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitFor([] { return !NotifierRuns(); }, 20000))
            << "a notifier still runs 20 s after WM_CLOSE: "
            << TopLevelWindows(NotifierClass).size() << " windows";
        DeleteKey(HKEY_CURRENT_USER, Key);
        SetTimeouts(User);
    }
    // A notifier of \Windows running with the lock in force, made by a tap on its icon.
    void LockThroughTheIcon() {
        // The whole key: a flag it lacks would keep what an earlier opening loaded.
        Set(L"ShowLockIcon", 1);
        Set(L"ExternalOnly", 0);
        Set(L"IgnoreNotify", 0);
        notifier_ = Start(L"Ostrelle.exe", L"ON");
        // A bound for a machine under load: a notifier's start there can take many seconds.
        ASSERT_NE(nullptr, WaitWindow(NotifierClass, 30000, notifier_.pid()))
            << "Ostrelle.exe ON shows no icon within 30 s";
        TapIcon("1");
        // "Locked" is written before the timeouts are cleared: the lock is done once both are 0.
        WaitFor([] { return CurrentTimeouts() == Timeouts{0, 0, User.wakeup}; }, 5000);
        ASSERT_EQ((Timeouts{0, 0, User.wakeup}), CurrentTimeouts())
            << "the lock keeps the device awake";
    }
    Process notifier_;
};

} // namespace

TEST_F(LockPage, OpensWithTheThreeFlagsAndTheOptionsEnabledOnlyWithTheIcon) {
    ProgramRecorder recorder; // an opening starts nothing
    for (DWORD flags = 0; flags < 8; ++flags) {
        const bool icon = flags & 1, externalOnly = flags & 2, ignoreNotify = flags & 4;
        Set(L"ShowLockIcon", icon);
        Set(L"ExternalOnly", externalOnly);
        Set(L"IgnoreNotify", ignoreNotify);
        OpenAndDrive(CPlApplet, nullptr, LockTab, [&](HWND main) {
            HWND page = LockPageOf(main);
            ASSERT_NE(nullptr, page);
            const std::vector<BoxState> expected = {
                {icon, true}, {externalOnly, icon}, {ignoreNotify, icon}};
            const std::vector<BoxState> actual = {StateOf(page, IconBox),
                                                  StateOf(page, ExternalOnlyBox),
                                                  StateOf(page, IgnoreNotifyBox)};
            EXPECT_EQ(expected, actual) << "ShowLockIcon, ExternalOnly, IgnoreNotify: " << icon
                                        << externalOnly << ignoreNotify;
            SendMessageW(main, WM_CLOSE, 0, 0);
        });
    }
    EXPECT_EQ(std::vector<std::string>{}, recorder.StartedAfter(1000));
}

TEST_F(LockPage, TheIconSwitchStartsTheNotifierAndTheOptionsOnlySetTheirFlags) {
    // Without the key the copy would keep what an earlier opening loaded.
    for (const wchar_t* flag : {L"ShowLockIcon", L"ExternalOnly", L"IgnoreNotify"})
        Set(flag, 0);
    ProgramRecorder recorder; // stands in for Ostrelle.exe
    const struct {
        int box;
        const char* started; // nullptr: nothing
        std::vector<BoxState> boxes;
        std::vector<DWORD> flags; // ShowLockIcon, ExternalOnly, IgnoreNotify in the copy
    } steps[] = {
        {IconBox, "Ostrelle.exe|ON", {{1, 1}, {0, 1}, {0, 1}}, {1, 0, 0}},
        {ExternalOnlyBox, nullptr, {{1, 1}, {1, 1}, {0, 1}}, {1, 1, 0}},
        {IgnoreNotifyBox, nullptr, {{1, 1}, {1, 1}, {1, 1}}, {1, 1, 1}},
        {IconBox, "Ostrelle.exe|OFF", {{0, 1}, {1, 0}, {1, 0}}, {0, 1, 1}},
        {IconBox, "Ostrelle.exe|ON", {{1, 1}, {1, 1}, {1, 1}}, {1, 1, 1}},
        {ExternalOnlyBox, nullptr, {{1, 1}, {0, 1}, {1, 1}}, {1, 0, 1}},
        {IconBox, "Ostrelle.exe|OFF", {{0, 1}, {0, 0}, {1, 0}}, {0, 0, 1}},
    };
    std::vector<std::string> started;
    OpenAndDrive(CPlApplet, nullptr, LockTab, [&](HWND main) {
        HWND page = LockPageOf(main);
        ASSERT_NE(nullptr, page);
        int number = 0;
        for (const auto& step : steps) {
            SCOPED_TRACE("step " + std::to_string(++number) + ", box " + std::to_string(step.box));
            Click(main, step.box);
            if (step.started)
                started.push_back(step.started);
            EXPECT_EQ(started, recorder.Started(started.size()));
            EXPECT_EQ(step.boxes,
                      (std::vector<BoxState>{StateOf(page, IconBox), StateOf(page, ExternalOnlyBox),
                                             StateOf(page, IgnoreNotifyBox)}));
            EXPECT_EQ(step.flags,
                      (std::vector<DWORD>{AppletSettings.ShowLockIcon, AppletSettings.ExternalOnly,
                                          AppletSettings.IgnoreNotify}));
        }
        SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(started, recorder.StartedAfter(1000)) << "four starts, alternately ON and OFF";
    // The copy ends as 0, 0, 1: the last flag tells a save from none.
    EXPECT_EQ((std::vector<std::string>{"0", "0", "0"}),
              (std::vector<std::string>{Value(L"ShowLockIcon"), Value(L"ExternalOnly"),
                                        Value(L"IgnoreNotify")}))
        << "Cancel saves nothing";
}

TEST_F(LockPage, CancelLeavesTheKeyAsItWasWhileTheIconStays) {
    Set(L"ShowLockIcon", 0);
    OpenAndDrive(CPlApplet, nullptr, LockTab, [](HWND main) {
        Click(main, IconBox);
        EXPECT_NE(nullptr, WaitWindow(NotifierClass, 10000)) << "ON started no notifier";
        SendMessageW(main, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ("0", Value(L"ShowLockIcon"));
    EXPECT_EQ(1u, TopLevelWindows(NotifierClass).size()) << "the notifier keeps running";
    EXPECT_NE(std::string::npos, Tray().find("\"PowerSupplyZilpNotify\" id=1"))
        << "expected the notifier's icon in the tray, actual: " << Tray();
}

// Each road starts from a lock made by a tap on the icon, with the user's timeouts saved by
// it, and must end with those timeouts intact.
TEST_F(LockPage, NoWayOfUsingTheAppletAndTheIconTogetherLosesTheUsersTimeouts) {
    const struct {
        const char* road;
        bool killNotifier; // before the applet opens: the lock is left without its notifier
        std::function<void(HWND main)> drive; // ends with OK
        std::vector<const char*> tapsAfter;   // "Locked" after each tap once the applet is gone
        Timeouts expected;
    } roads[] = {
        {"open while locked, tap to unlock, OK, lock and unlock again",
         false,
         [](HWND main) {
             EXPECT_EQ(User, Loaded()) << "while locked the applet shows the user's timeouts";
             TapIcon("0");
             SendMessageW(main, WM_COMMAND, IDOK, 0);
         },
         {"1", "0"},
         User},
        {"open while locked, battery 15 s, OK, tap to unlock",
         false,
         [](HWND main) {
             // As the "Batterie" page edits the copy.
             AppletSettings.BatteryIdleTimeout = 15;
             SendMessageW(main, WM_COMMAND, IDOK, 0);
             EXPECT_EQ((Timeouts{0, 0, User.wakeup}), CurrentTimeouts())
                 << "still locked: still awake";
         },
         {"0"},
         {15, User.external, User.wakeup}},
        {"notifier killed while locked, uncheck the icon, OK",
         true,
         [](HWND main) {
             Click(main, IconBox);
             EXPECT_EQ(User, Loaded()) << "the orphaned lock is released and reloaded";
             SendMessageW(main, WM_COMMAND, IDOK, 0);
         },
         {},
         User},
        {"uncheck the icon while locked, OK",
         false,
         [](HWND main) {
             Click(main, IconBox);
             EXPECT_EQ(User, Loaded()) << "reloaded after the unlock, not the zeros of the lock";
             SendMessageW(main, WM_COMMAND, IDOK, 0);
         },
         {},
         User},
    };
    for (const auto& road : roads) {
        SCOPED_TRACE(road.road);
        Reset();
        LockThroughTheIcon();
        if (road.killNotifier) {
            DWORD pid = 0;
            GetWindowThreadProcessId(WaitWindow(NotifierClass, 1000), &pid);
            HANDLE notifier = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
            ASSERT_NE(nullptr, notifier);
            TerminateProcess(notifier, 9);
            WaitForSingleObject(notifier, 5000);
            CloseHandle(notifier);
        }
        OpenAndDrive(CPlApplet, nullptr, LockTab, road.drive);
        for (const char* locked : road.tapsAfter)
            TapIcon(locked);
        EXPECT_EQ(road.expected, CurrentTimeouts());
        EXPECT_EQ("0", Value(L"Locked"));
    }
}

// The Status page driven through the emulated battery: what its controls read, which icon it
// shows, what it writes on a refresh and when its refreshes come. The applet's code is linked
// in, so that the icons can be compared with the shared ones.
#include <windows.h>
#include <gtest/gtest.h>
#include <cpl.h>
#include <string>
#include <vector>
#include "applet.h"
#include "applet_support.h"
#include "linked_applet.h"
#include "harness.h"

using namespace applet_test;
using harness::Utf8;

namespace {

constexpr int MainIcon = 1053, MainState = 1015, BackupState = 1016, Remaining = 1018, Full = 1019;
constexpr int LifetimeBlock[] = {1018, 1019, 1021, 1022, 1017};
constexpr int Unchanged = -1;
constexpr DWORD Unknown = 0xFFFFFFFF;

// --- what the page's controls receive --------------------------------------------------------

constexpr int ThePage = 0; // in a Write: the page itself (its WM_TIMER)

struct Write {
    int id; // control id, or ThePage
    UINT message;
    bool operator==(const Write& other) const { return id == other.id && message == other.message; }
};

std::string Describe(const Write& w) {
    const char* name = w.message == WM_SETTEXT      ? "WM_SETTEXT"
                       : w.message == STM_SETIMAGE  ? "STM_SETIMAGE"
                       : w.message == WM_SHOWWINDOW ? "WM_SHOWWINDOW"
                                                    : "WM_TIMER";
    return std::string(name) + " " + (w.id == ThePage ? "page" : std::to_string(w.id));
}

// Both sequences, side by side.
std::string SideBySide(const std::vector<Write>& expected, const std::vector<Write>& actual) {
    std::string out = "expected                      | actual\n";
    for (size_t i = 0; i < expected.size() || i < actual.size(); ++i) {
        std::string left = i < expected.size() ? Describe(expected[i]) : "";
        left.resize(30, ' ');
        out +=
            left + "| " + (i < actual.size() ? Describe(actual[i]) : "") +
            (i < expected.size() && i < actual.size() && expected[i] == actual[i] ? "" : "  <--") +
            "\n";
    }
    return out;
}

bool IsStatusPage(HWND window) {
    return window && TabOfPage(window) == 0;
}

// Records, from the Status page's WM_INITDIALOG on, the writes its controls receive and the
// timer messages the page gets (sent or from the queue), with the tick of each timer.
class WriteRecorder {
  public:
    WriteRecorder() {
        sent_ = SetWindowsHookExW(WH_CALLWNDPROC, Sent, nullptr, GetCurrentThreadId());
        queued_ = SetWindowsHookExW(WH_GETMESSAGE, Queued, nullptr, GetCurrentThreadId());
        writes_.clear();
        timerTicks_.clear();
        recording_ = false;
    }
    ~WriteRecorder() {
        UnhookWindowsHookEx(sent_);
        UnhookWindowsHookEx(queued_);
    }
    std::vector<Write> writes() const { return writes_; }
    std::vector<DWORD> timerTicks() const { return timerTicks_; }
    void clear() {
        writes_.clear();
        timerTicks_.clear();
    }

  private:
    static void Note(HWND window, UINT message) {
        if (message == WM_INITDIALOG && IsStatusPage(window))
            recording_ = true;
        if (!recording_)
            return;
        if (message == WM_TIMER && IsStatusPage(window)) {
            writes_.push_back({ThePage, WM_TIMER});
            timerTicks_.push_back(GetTickCount());
        } else if ((message == WM_SETTEXT || message == STM_SETIMAGE || message == WM_SHOWWINDOW) &&
                   IsStatusPage(GetParent(window))) {
            writes_.push_back({GetDlgCtrlID(window), message});
        }
    }
    static LRESULT CALLBACK Sent(int code, WPARAM wParam, LPARAM lParam) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
        Note(call->hwnd, call->message);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    static LRESULT CALLBACK Queued(int code, WPARAM wParam, LPARAM lParam) {
        const auto* message = reinterpret_cast<const MSG*>(lParam);
        if (code == HC_ACTION && wParam == PM_REMOVE)
            Note(message->hwnd, message->message);
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK sent_, queued_;
    static inline std::vector<Write> writes_;
    static inline std::vector<DWORD> timerTicks_;
    static inline bool recording_;
};

// --- reading the page back -------------------------------------------------------------------

SYSTEM_POWER_STATUS_EX Battery(BYTE ac, BYTE flag, BYTE percent, DWORD life = Unknown,
                               DWORD fullLife = Unknown) {
    SYSTEM_POWER_STATUS_EX s = harness::FactoryBattery();
    s.ACLineStatus = ac, s.BatteryFlag = flag, s.BatteryLifePercent = percent;
    s.BatteryLifeTime = life, s.BatteryFullLifeTime = fullLife;
    return s;
}

std::string TextOf(HWND page, int id) {
    wchar_t text[64] = L"";
    GetWindowTextW(GetDlgItem(page, id), text, 64);
    return Utf8(text);
}

// The shown icon as its place among the shared battery icons, -2 for any other.
int IconOf(HWND page) {
    auto icon =
        reinterpret_cast<HICON>(SendDlgItemMessageW(page, MainIcon, STM_GETIMAGE, IMAGE_ICON, 0));
    for (int i = 0; i < BatteryIconCount; ++i)
        if (SharedResources.BatteryIcons[i] == icon)
            return i;
    return -2;
}

// Which of the five lifetime controls are visible, as a string of 0 and 1.
std::string LifetimeBlockShown(HWND page) {
    std::string shown;
    for (int id : LifetimeBlock)
        shown += IsWindowVisible(GetDlgItem(page, id)) ? '1' : '0';
    return shown;
}

// The battery from now on, and a refresh as the page's timer brings it.
void Refresh(HWND page, const SYSTEM_POWER_STATUS_EX& status) {
    harness::SetBattery(status);
    SendMessageW(page, WM_TIMER, 1, 0);
}

class StatusPage : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartLinkedApplet(true); }
    static void TearDownTestSuite() {
        harness::SetBattery(harness::FactoryBattery());
        StopLinkedApplet(true);
    }
    void TearDown() override { EXPECT_EQ(nullptr, FindMainWindow()); }

    // Opens the applet on `tab` and runs `drive` with the Status page, which must exist when
    // the applet opens on it.
    static void WithPage(const std::function<void(HWND main, HWND page)>& drive, UINT tab = 0) {
        OpenAndDrive(CPlApplet, nullptr, tab, [&](HWND main) {
            HWND page = PageOfTab(HostDialogOf(main), 0);
            if (tab == 0 && !page)
                ADD_FAILURE() << "expected the Status page on opening, actual: none";
            else
                drive(main, page);
            SendMessageW(main, WM_CLOSE, 0, 0);
        });
    }
};

} // namespace

TEST_F(StatusPage, MainBatteryTextAndIconFollowStateChargeAndPower) {
    // Icons by their place among the shared ones: 446, 445, 444, 443, 442, 447, 441.
    enum { Empty, OneFifth, TwoFifths, ThreeFifths, FourFifths, Filled, NotKnown };
    const struct {
        SYSTEM_POWER_STATUS_EX status;
        const char* text;
        int icon;
    } cases[] = {
        {Battery(0, 1, 255), "Gut", NotKnown},
        {Battery(1, 128, 255), "Extern", NotKnown},
        {Battery(0, 128, 255), "Keine", NotKnown},
        {Battery(1, 255, 255), "Extern", NotKnown},
        {Battery(0, 255, 0), "Unbekannt", NotKnown},
        {Battery(0, 9, 255), "Unbekannt", NotKnown}, // combined bits have no entry
        {Battery(0, 4, 255), "Minimal", NotKnown},
        {Battery(2, 2, 255), "Schwach", NotKnown},
        {Battery(1, 8, 57), "57%", ThreeFifths},
        {Battery(1, 128, 1), "1%", Empty}, // a known charge overrides "Extern"
        {Battery(0, 1, 20), "20%", OneFifth},
        {Battery(0, 1, 21), "21%", TwoFifths},
        {Battery(0, 1, 80), "80%", FourFifths},
        {Battery(0, 1, 150), "150%", FourFifths}, // beyond every bound: the icon stays
        {Battery(0, 1, 81), "81%", Filled},
        {Battery(0, 1, 100), "100%", Filled},
        {Battery(0, 8, 0), "Laden", NotKnown},
    };
    WithPage([&](HWND, HWND page) {
        for (const auto& c : cases) {
            Refresh(page, c.status);
            const std::string what = "flag " + std::to_string(c.status.BatteryFlag) + ", " +
                                     std::to_string(c.status.BatteryLifePercent) + " %, AC " +
                                     std::to_string(c.status.ACLineStatus);
            EXPECT_EQ(c.text, TextOf(page, MainState)) << what;
            EXPECT_EQ(c.icon, IconOf(page)) << what;
        }
    });
}

TEST_F(StatusPage, LifetimesInHoursAndMinutesWithTheBlockShownWhileOneIsKnown) {
    const struct {
        DWORD life, fullLife;
        const char *remaining, *full;
        const char* block; // 1018, 1019, 1021, 1022, 1017 visible
    } cases[] = {
        {3725, 59, "1 Std. 2 Min. verbleibend", "0 Std. 0 Min. verbleibend", "11111"},
        {Unknown, Unknown, "Unbekannt", "Unbekannt", "00000"},
        {Unknown, 7199, "Unbekannt", "1 Std. 59 Min. verbleibend", "11111"},
        // Six digits of hours fit the text, seven do not.
        {3599999999u, 3600000000u, "999999 Std. 59 Min. verbleibend", "Unbekannt", "11111"},
        {0, 4294967294u, "0 Std. 0 Min. verbleibend", "Unbekannt", "11111"},
    };
    WithPage([&](HWND, HWND page) {
        for (const auto& c : cases) {
            Refresh(page, Battery(0, 1, 50, c.life, c.fullLife));
            const std::string what =
                "lifetimes " + std::to_string(c.life) + " and " + std::to_string(c.fullLife);
            EXPECT_EQ(c.remaining, TextOf(page, Remaining)) << what;
            EXPECT_EQ(c.full, TextOf(page, Full)) << what;
            EXPECT_EQ(c.block, LifetimeBlockShown(page)) << what;
        }
    });
}

TEST_F(StatusPage, BackupBatteryStateOrChargeWithoutExtern) {
    const struct {
        BYTE ac, flag, percent;
        const char* text;
    } cases[] = {
        {0, 0, 0, "Unbekannt"}, {0, 2, 255, "Schwach"}, {0, 9, 40, "40%"},
        {1, 128, 255, "Keine"}, // on mains power too: the backup battery has no "Extern"
        {0, 1, 255, "Gut"},
    };
    WithPage([&](HWND, HWND page) {
        for (const auto& c : cases) {
            SYSTEM_POWER_STATUS_EX status = Battery(c.ac, 1, 50);
            status.BackupBatteryFlag = c.flag, status.BackupBatteryLifePercent = c.percent;
            Refresh(page, status);
            EXPECT_EQ(c.text, TextOf(page, BackupState))
                << "backup flag " << int(c.flag) << ", " << int(c.percent) << " %";
        }
    });
}

TEST_F(StatusPage,
       OpensWithoutTheTemplatesTextsThenShowsTheStatusAndAnUnchangedOneRewritesNothing) {
    harness::SetBattery(Battery(1, 8, 57, 3725, 7199));
    // Opened on another tab, so that the recorder is there when the page is made.
    WithPage(
        [&](HWND main, HWND) {
            WriteRecorder recorder;
            SelectTab(HostDialogOf(main), 0);
            HWND page = PageOfTab(HostDialogOf(main), 0);
            ASSERT_NE(nullptr, page);
            const char* opening[] = {"", "", "", "", "Version 3.4"};
            const char* refreshed[] = {"57%", "Gut", "1 Std. 2 Min. verbleibend",
                                       "1 Std. 59 Min. verbleibend", "Version 3.4"};
            const int ids[] = {MainState, BackupState, Remaining, Full, 1023};
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(opening[i], TextOf(page, ids[i])) << "control " << ids[i] << " opened";
            SendMessageW(page, WM_TIMER, 1, 0);
            for (int i = 0; i < 5; ++i)
                EXPECT_EQ(refreshed[i], TextOf(page, ids[i])) << "control " << ids[i];
            EXPECT_EQ(3, IconOf(page));
            EXPECT_EQ("11111", LifetimeBlockShown(page));
            auto font = [page](int id) { return SendDlgItemMessageW(page, id, WM_GETFONT, 0, 0); };
            for (int id : {1008, 1009, MainState, BackupState, Remaining, 1021, Full, 1022})
                EXPECT_EQ(LPARAM(SharedResources.LabelFont), font(id)) << "control " << id;
            for (int id : {1040, 1023})
                EXPECT_EQ(LPARAM(SharedResources.TextFont), font(id)) << "control " << id;
            recorder.clear();
            for (int i = 0; i < 4; ++i)
                SendMessageW(page, WM_TIMER, 1, 0);
            const std::vector<Write> unchanged(4, {ThePage, WM_TIMER});
            EXPECT_EQ(unchanged, recorder.writes()) << SideBySide(unchanged, recorder.writes());
        },
        1);
}

TEST_F(StatusPage, RefreshesAfterAboutATenthOfASecondThenEveryTwoSecondsAlsoWhileHidden) {
    harness::SetBattery(harness::FactoryBattery());
    WithPage(
        [&](HWND main, HWND) {
            HWND host = HostDialogOf(main);
            WriteRecorder recorder;
            const DWORD opened = GetTickCount();
            SelectTab(host, 0);
            HWND page = PageOfTab(host, 0);
            ASSERT_NE(nullptr, page);
            ASSERT_TRUE(harness::WaitFor([&] { return !recorder.timerTicks().empty(); }, 2000))
                << "no refresh within 2 s of the opening";
            const DWORD first = recorder.timerTicks()[0];
            SelectTab(host, 1); // the page is hidden, not destroyed
            harness::SetBattery(Battery(0, 1, 33));
            recorder.clear();
            harness::WaitFor([&] { return recorder.timerTicks().size() >= 3; }, 9000);
            const std::vector<DWORD> ticks = recorder.timerTicks();
            ASSERT_EQ(3u, ticks.size()) << "refreshes in 9 s while hidden";
            EXPECT_FALSE(IsWindowVisible(page));
            EXPECT_EQ("33%", TextOf(page, MainState)) << "a change while hidden is shown";
            // About 0.1 s, then 2 s each. One late refresh on the shared machine is forgiven,
            // a longer period is not: the three together take at most 6000 ms and a fifth.
            const std::vector<DWORD> gaps = {first - opened, ticks[0] - first, ticks[1] - ticks[0],
                                             ticks[2] - ticks[1]};
            EXPECT_TRUE(gaps[0] >= 80 && gaps[0] < 1000)
                << "first refresh after " << gaps[0] << " ms, expected about 100";
            for (size_t i = 1; i < gaps.size(); ++i)
                EXPECT_GE(gaps[i], 1800u)
                    << "refresh " << i << " came " << gaps[i] << " ms after the one before, "
                    << "expected about 2000";
            EXPECT_LE(ticks[2] - first, 7200u)
                << "three refreshes took " << ticks[2] - first << " ms, expected about 6000";
            // Only the first of the three found a changed battery.
            std::vector<Write> later = recorder.writes();
            later.erase(later.begin(), later.begin() + 1);
            while (!later.empty() && later.front().id != ThePage)
                later.erase(later.begin());
            const std::vector<Write> timers = {{ThePage, WM_TIMER}, {ThePage, WM_TIMER}};
            EXPECT_EQ(timers, later) << SideBySide(timers, later);
        },
        1);
}

TEST_F(StatusPage, AFailingDriverShowsNothingKnownAndTheNextGoodReadingInFull) {
    const SYSTEM_POWER_STATUS_EX good = Battery(1, 8, 57, 3725, 7199);
    WithPage([&](HWND, HWND page) {
        Refresh(page, good);
        const struct {
            bool driver;
            const char *state, *remaining, *backup, *block;
            int icon;
        } steps[] = {
            {false, "Unbekannt", "Unbekannt", "Unbekannt", "00000", 6},
            {false, "Unbekannt", "Unbekannt", "Unbekannt", "00000", 6}, // still failing
            {true, "57%", "1 Std. 2 Min. verbleibend", "Gut", "11111", 3},
        };
        for (const auto& step : steps) {
            harness::SetBatteryDriver(step.driver);
            SendMessageW(page, WM_TIMER, 1, 0);
            const std::string what = step.driver ? "driver back" : "driver failing";
            EXPECT_EQ(step.state, TextOf(page, MainState)) << what;
            EXPECT_EQ(step.remaining, TextOf(page, Remaining)) << what;
            EXPECT_EQ(step.backup, TextOf(page, BackupState)) << what;
            EXPECT_EQ(step.block, LifetimeBlockShown(page)) << what;
            EXPECT_EQ(step.icon, IconOf(page)) << what;
        }
    });
    harness::SetBatteryDriver(true);
}

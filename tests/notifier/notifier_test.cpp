// The notifier Ostrelle.exe as a real process on the device: its command lines, the hand-over
// to a running notifier, the lock and the power check, read back from the Settings key and
// the idle timeouts.
#include <gtest/gtest.h>
#include <ostream>
#include <string>
#include <vector>
#include "harness.h"
#include "wince.h"

using namespace harness;

namespace {

constexpr wchar_t Key[] = L"Software\\Zilp\\Velmora";
constexpr wchar_t NotifierClass[] = L"PowerSupplyZilpNotify";
const std::string NothingSaved = std::to_string(0xFFFFFFFFu);

struct Timeouts {
    DWORD battery, external, wakeup;
    bool operator==(const Timeouts& other) const {
        return battery == other.battery && external == other.external && wakeup == other.wakeup;
    }
};

std::ostream& operator<<(std::ostream& out, const Timeouts& t) {
    return out << "{battery " << t.battery << ", external " << t.external << ", wakeup " << t.wakeup
               << "}";
}

constexpr Timeouts Factory = {180, 300, 60};

Timeouts CurrentTimeouts() {
    return {IdleTimeout(SPI_GETBATTERYIDLETIMEOUT), IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT),
            IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT)};
}

void SetTimeouts(const Timeouts& t) {
    SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, t.battery);
    SetIdleTimeout(SPI_SETEXTERNALIDLETIMEOUT, t.external);
    SetIdleTimeout(SPI_SETWAKEUPIDLETIMEOUT, t.wakeup);
}

// A value of the Settings key as text: its number, "absent", or "not a REG_DWORD".
std::string Value(const wchar_t* name) {
    DWORD value = 0;
    if (ReadDword(HKEY_CURRENT_USER, Key, name, &value))
        return std::to_string(value);
    return ValueExists(HKEY_CURRENT_USER, Key, name) ? "not a REG_DWORD" : "absent";
}

void Set(const wchar_t* name, DWORD value) {
    WriteDword(HKEY_CURRENT_USER, Key, name, value);
}

bool KeyExists() {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Key, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetLineStatus(BYTE status) {
    SYSTEM_POWER_STATUS_EX battery = FactoryBattery();
    battery.ACLineStatus = status;
    SetBattery(battery);
}

// A tap on the icon as the shell reports it: the icon identifier in wParam.
void Tap(HWND notifier) {
    SendMessageW(notifier, WM_USER, 1, WM_LBUTTONUP);
}

// A second Ostrelle.exe, run to its end; its exit code, or -1 if it did not end.
int RunOstrelle(const std::wstring& commandLine) {
    return Run(L"Ostrelle.exe", commandLine, 15000);
}

std::string Quoted(const std::wstring& commandLine) {
    return "\"" + Utf8(commandLine) + "\"";
}

bool Running(const Process& process) {
    return WaitForSingleObject(process.handle(), 0) == WAIT_TIMEOUT;
}

// Started processes still running.
size_t Alive(const std::vector<Process>& processes) {
    size_t count = 0;
    for (const Process& process : processes)
        count += Running(process) ? 1 : 0;
    return count;
}

// Waits until the starts have settled: each has ended or is the one notifier.
void WaitSettled(const std::vector<Process>& processes) {
    WaitFor(
        [&] {
            size_t alive = Alive(processes);
            return alive <= 1 && alive == TopLevelWindows(NotifierClass).size();
        },
        30000);
}

// Every notifier closed (as the platform would close it) and every started process ended.
void CloseNotifiers(std::vector<Process>& processes) {
    for (HWND window : TopLevelWindows(NotifierClass))
        PostMessageW(window, WM_CLOSE, 0, 0);
    WaitFor([] { return TopLevelWindows(NotifierClass).empty(); }, 10000);
    for (const Process& process : processes)
        process.WaitExit(10000);
    processes.clear();
}

class Notifier : public testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    void Reset() {
        CloseNotifiers(processes_);
        DeleteKey(HKEY_CURRENT_USER, Key);
        SetTimeouts(Factory);
        SetBattery(FactoryBattery());
    }

    // Starts Ostrelle.exe with a command line of arguments only, as the device does, and
    // waits for its window.
    HWND StartNotifier(const std::wstring& commandLine) {
        processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        return WaitWindow(NotifierClass, 10000, processes_.back().pid());
    }

    std::vector<Process> processes_;
};

// What a window of the notifier's class owned by another program receives.
struct ForeignWindow {
    static inline std::string received;
    HWND window = nullptr;

    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_USER || message == WM_CLOSE) {
            received += (message == WM_USER ? "WM_USER(" : "WM_CLOSE(") + std::to_string(wParam) +
                        "," + std::to_string(lParam) + ") ";
            return 0; // stays, for the next case
        }
        return DefWindowProcW(w, message, wParam, lParam);
    }
    ForeignWindow() {
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = NotifierClass;
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, NotifierClass, L"", 0, 0, 0, 10, 10, nullptr, nullptr,
                                 windowClass.hInstance, nullptr);
    }
    ~ForeignWindow() {
        DestroyWindow(window);
        UnregisterClassW(NotifierClass, GetModuleHandleW(nullptr));
    }
};

} // namespace

TEST_F(Notifier, CommandLinesWithoutARunningNotifier) {
    enum class Show { NoKey, Absent, Zero, One, OneAsBinary };
    const struct {
        const wchar_t* commandLine;
        Show show;
        bool runs;
        const char* why;
    } cases[] = {
        {L"ON", Show::NoKey, true, "ON starts whatever ShowLockIcon says"},
        {L"ON", Show::Absent, true, "ON starts whatever ShowLockIcon says"},
        {L"ON", Show::Zero, true, "ON starts whatever ShowLockIcon says"},
        {L"", Show::One, true, "the default request starts with ShowLockIcon set"},
        {L"", Show::OneAsBinary, true, "4 bytes of another registry type are a number"},
        {L"", Show::Zero, false, "the default request needs ShowLockIcon"},
        {L"", Show::NoKey, false, "without the key ShowLockIcon reads as 0"},
        {L"UPDATE", Show::One, true, "UPDATE is the default request here"},
        {L"UPDATE", Show::Absent, false, "UPDATE is the default request here"},
        {L"on", Show::Zero, false, "the comparison is case-sensitive"},
        {L"ON ", Show::Absent, false, "a trailing blank makes it the default request"},
        {L"off", Show::One, true, "only OFF exactly is the request to stop"},
        {L"OFF", Show::One, false, "OFF with no notifier running ends at once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("command line " + Quoted(c.commandLine) + ": " + c.why);
        DeleteKey(HKEY_CURRENT_USER, Key);
        if (c.show != Show::NoKey)
            Set(L"AltNotify", 45); // a saved wake-up timeout that only a check would restore
        if (c.show == Show::Zero || c.show == Show::One)
            Set(L"ShowLockIcon", c.show == Show::One ? 1 : 0);
        if (c.show == Show::OneAsBinary) {
            const BYTE one[4] = {1, 0, 0, 0};
            WriteValue(HKEY_CURRENT_USER, Key, L"ShowLockIcon", REG_BINARY, one, sizeof one);
        }
        Process process = Start(L"Ostrelle.exe", c.commandLine);
        ASSERT_TRUE(process.started());
        DWORD exitCode = 99;
        if (c.runs) {
            HWND window = WaitWindow(NotifierClass, 10000, process.pid());
            EXPECT_NE(nullptr, window) << "expected a running notifier, found none";
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        EXPECT_TRUE(process.WaitExit(10000, &exitCode))
            << (c.runs ? "expected WM_CLOSE to end it" : "expected it to end at once");
        EXPECT_EQ(0u, exitCode);
        EXPECT_EQ(Factory, CurrentTimeouts()) << "start-up never touches the idle timeouts";
        EXPECT_EQ(c.show == Show::NoKey ? "absent" : "45", Value(L"AltNotify"));
        EXPECT_EQ("absent", Value(L"Locked"));
        EXPECT_EQ(c.show != Show::NoKey, KeyExists()) << "the notifier never creates the key";
    }
}

TEST_F(Notifier, CommandLinesWithARunningNotifierHandOverAndEnd) {
    Set(L"ShowLockIcon", 1); // a start that missed the running notifier would run as well
    HWND running = StartNotifier(L"ON");
    ASSERT_NE(nullptr, running);
    for (const wchar_t* commandLine : {L"ON", L"", L"UPDATE", L"on", L"ON ", L"off"}) {
        SCOPED_TRACE("second start with " + Quoted(commandLine));
        EXPECT_EQ(0, RunOstrelle(commandLine));
        std::vector<HWND> windows = TopLevelWindows(NotifierClass);
        ASSERT_EQ(1u, windows.size()) << "expected only the first notifier";
        EXPECT_EQ(running, windows.front());
        EXPECT_TRUE(Running(processes_.front())) << "the first notifier keeps running";
    }
    EXPECT_EQ(Factory, CurrentTimeouts());
    EXPECT_EQ("absent", Value(L"Locked"));

    EXPECT_EQ(0, RunOstrelle(L"OFF"));
    EXPECT_TRUE(processes_.front().WaitExit(5000)) << "OFF closes the running notifier";
    EXPECT_TRUE(TopLevelWindows(NotifierClass).empty());
}

TEST_F(Notifier, OffReleasesTheLockRestoresTheWakeupTimeoutAndCloses) {
    for (bool locked : {true, false}) {
        SCOPED_TRACE(locked ? "OFF while locked" : "OFF while unlocked");
        Reset();
        Set(L"ShowLockIcon", 1);
        SetTimeouts({180, 300, 20});
        if (!locked) {
            Set(L"AltBatterie", 11); // what an OFF that toggled by mistake would restore
            Set(L"AltExtern", 22);
        }
        HWND notifier = StartNotifier(L"");
        ASSERT_NE(nullptr, notifier);
        if (locked) {
            Tap(notifier);
            Pump(500); // the check after the tap has run; the next one is 5 s away
            ASSERT_EQ((Timeouts{0, 0, 20}), CurrentTimeouts());
        }
        Set(L"AltNotify", 45); // a wake-up timeout saved while "IgnoreNotify" was in force

        EXPECT_EQ(0, RunOstrelle(L"OFF"));
        EXPECT_TRUE(processes_.back().WaitExit(5000)) << "OFF closes the running notifier";
        EXPECT_EQ((Timeouts{180, 300, 45}), CurrentTimeouts());
        EXPECT_EQ(locked ? "0" : "absent", Value(L"Locked"));
        EXPECT_EQ(NothingSaved, Value(L"AltNotify"));
    }
}

TEST_F(Notifier, AStartWhileLockedLeavesTheTimeoutsAloneAndTheFirstTapUnlocks) {
    Set(L"ShowLockIcon", 1);
    Set(L"Locked", 1);
    Set(L"AltBatterie", 50);
    Set(L"AltExtern", 70);
    SetTimeouts({0, 0, 60});
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    Pump(500);
    EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts());
    EXPECT_EQ("50", Value(L"AltBatterie"));
    EXPECT_EQ("70", Value(L"AltExtern"));

    Tap(notifier);
    EXPECT_EQ((Timeouts{50, 70, 60}), CurrentTimeouts());
    EXPECT_EQ("0", Value(L"Locked"));
}

TEST_F(Notifier, LockUnlockLockSavesTheTimeoutsEachTime) {
    Set(L"ShowLockIcon", 1);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    auto otherMouseEvents = [](HWND w) {
        for (LPARAM event : {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONUP, WM_LBUTTONDBLCLK})
            SendMessageW(w, WM_USER, 1, event);
    };
    auto newTimeoutsAndTap = [](HWND w) {
        SetTimeouts({0, 30, 60});
        Tap(w);
    };
    const struct {
        const char* action;
        void (*act)(HWND);
        Timeouts expected;
        const char *locked, *altBatterie, *altExtern;
    } steps[] = {
        {"tap", Tap, {0, 0, 60}, "1", "180", "300"},
        {"other mouse events", otherMouseEvents, {0, 0, 60}, "1", "180", "300"},
        {"tap", Tap, {180, 300, 60}, "0", "180", "300"},
        {"battery 0, external 30, tap", newTimeoutsAndTap, {0, 0, 60}, "1", "0", "30"},
        {"tap", Tap, {0, 30, 60}, "0", "0", "30"},
    };
    int number = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE("step " + std::to_string(++number) + ": " + step.action);
        step.act(notifier);
        EXPECT_EQ(step.expected, CurrentTimeouts());
        EXPECT_EQ(step.locked, Value(L"Locked"));
        EXPECT_EQ(step.altBatterie, Value(L"AltBatterie"));
        EXPECT_EQ(step.altExtern, Value(L"AltExtern"));
    }
}

TEST_F(Notifier, WithoutTheSettingsKeyATapTouchesNothing) {
    HWND notifier = StartNotifier(L"ON");
    ASSERT_NE(nullptr, notifier);
    for (int tap = 1; tap <= 3; ++tap) {
        SCOPED_TRACE("tap " + std::to_string(tap));
        Tap(notifier);
        Pump(100); // and the check after it
        EXPECT_EQ(Factory, CurrentTimeouts());
        EXPECT_FALSE(KeyExists()) << "the notifier never creates the key";
    }
    EXPECT_TRUE(Running(processes_.front()));
}

TEST_F(Notifier, AnUnlockRestoresOnlyTheSavedTimeoutsItCanRead) {
    Set(L"ShowLockIcon", 1);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    const struct {
        const char* what;
        void (*change)();
        Timeouts expected;
    } cases[] = {
        {"AltBatterie deleted",
         [] { DeleteValue(HKEY_CURRENT_USER, Key, L"AltBatterie"); },
         {33, 300, 60}},
        {"AltExtern deleted",
         [] { DeleteValue(HKEY_CURRENT_USER, Key, L"AltExtern"); },
         {180, 44, 60}},
        {"AltBatterie 4 bytes of REG_BINARY",
         [] {
             const BYTE seventySeven[4] = {77, 0, 0, 0};
             WriteValue(HKEY_CURRENT_USER, Key, L"AltBatterie", REG_BINARY, seventySeven, 4);
         },
         {77, 300, 60}},
        {"AltExtern 8 bytes",
         [] {
             const BYTE eightBytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
             WriteValue(HKEY_CURRENT_USER, Key, L"AltExtern", REG_BINARY, eightBytes, 8);
         },
         {180, 44, 60}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetTimeouts(Factory);
        Tap(notifier);
        ASSERT_EQ("1", Value(L"Locked"));
        SetTimeouts({33, 44, 60}); // changed during the lock, as a save of the applet would
        c.change();
        Tap(notifier);
        EXPECT_EQ(c.expected, CurrentTimeouts())
            << "a timeout without a readable saved value stays as it is";
        EXPECT_EQ("0", Value(L"Locked"));
    }
}

TEST_F(Notifier, ExternalOnlyReleasesALockMadeOffExternalPower) {
    Set(L"ShowLockIcon", 1);
    Set(L"ExternalOnly", 1);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    const struct {
        BYTE lineStatus;
        bool released;
    } cases[] = {{AC_LINE_ONLINE, false},
                 {AC_LINE_OFFLINE, true},
                 {AC_LINE_BACKUP_POWER, true},
                 {AC_LINE_UNKNOWN, true}};
    DWORD number = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("ACLineStatus " + std::to_string(c.lineStatus));
        SetLineStatus(c.lineStatus);
        // Timeouts of their own for each case, so that the saved ones show this lock.
        ++number;
        const Timeouts before = {100 + number, 200 + number, 60};
        SetTimeouts(before);
        Tap(notifier);
        if (c.released) {
            WaitFor([&] { return Value(L"Locked") == "0" && CurrentTimeouts() == before; }, 3000);
            EXPECT_EQ("0", Value(L"Locked")) << "released by the check right after the tap";
            EXPECT_EQ(before, CurrentTimeouts());
            EXPECT_EQ(std::to_string(before.battery), Value(L"AltBatterie"));
            EXPECT_EQ(std::to_string(before.external), Value(L"AltExtern"));
        } else {
            Pump(1000);
            EXPECT_EQ("1", Value(L"Locked")) << "on external power the lock stays";
            EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts());
            Tap(notifier);
        }
    }
}

TEST_F(Notifier, UnpluggingReleasesTheLockAndPluggingInDoesNotLockAgain) {
    Set(L"ShowLockIcon", 1);
    Set(L"ExternalOnly", 1);
    SetLineStatus(AC_LINE_ONLINE);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    Tap(notifier);
    Pump(500);
    ASSERT_EQ("1", Value(L"Locked"));

    SetLineStatus(AC_LINE_OFFLINE);
    WaitFor([] { return Value(L"Locked") == "0" && CurrentTimeouts() == Factory; }, 8000);
    EXPECT_EQ("0", Value(L"Locked")) << "released by the next periodic check";
    EXPECT_EQ(Factory, CurrentTimeouts());

    SetLineStatus(AC_LINE_ONLINE);
    EXPECT_EQ(0, RunOstrelle(L"UPDATE")); // a check at once
    EXPECT_EQ("0", Value(L"Locked"));
    EXPECT_EQ(Factory, CurrentTimeouts());
}

TEST_F(Notifier, IgnoreNotifyMakesTheWakeupTimeoutFollowOnChangesOnly) {
    Set(L"ShowLockIcon", 1);
    Set(L"IgnoreNotify", 1);
    SetLineStatus(AC_LINE_OFFLINE);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);

    WaitFor([] { return CurrentTimeouts().wakeup == 180; }, 8000);
    EXPECT_EQ((Timeouts{180, 300, 180}), CurrentTimeouts()) << "the first check follows";
    EXPECT_EQ("60", Value(L"AltNotify")) << "the user's own wake-up timeout is kept";

    Tap(notifier);
    Pump(500);
    EXPECT_EQ((Timeouts{0, 0, 180}), CurrentTimeouts()) << "a lock alone derives nothing";

    SetLineStatus(AC_LINE_ONLINE);
    WaitFor([] { return CurrentTimeouts().wakeup == 0; }, 8000);
    EXPECT_EQ((Timeouts{0, 0, 0}), CurrentTimeouts())
        << "plugged in while locked: the external timeout, 0 under the lock";
    EXPECT_EQ("60", Value(L"AltNotify")) << "a saved wake-up timeout is not overwritten";

    Tap(notifier);
    Pump(500);
    EXPECT_EQ((Timeouts{180, 300, 0}), CurrentTimeouts()) << "an unlock alone derives nothing";

    Set(L"IgnoreNotify", 0);
    Tap(notifier);
    WaitFor([] { return Value(L"AltNotify") == NothingSaved; }, 3000);
    EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts()) << "switched off: restored";
    EXPECT_EQ(NothingSaved, Value(L"AltNotify"));
}

// Kept instead when "IgnoreNotify" is set: the same as a later check finding one saved, above.
TEST_F(Notifier, AWakeupTimeoutSavedByAnEarlierRunIsRestoredByTheFirstCheck) {
    Set(L"ShowLockIcon", 1);
    Set(L"AltNotify", 45);
    SetTimeouts({180, 300, 20});
    ASSERT_NE(nullptr, StartNotifier(L""));
    WaitFor([] { return Value(L"AltNotify") == NothingSaved; }, 8000);
    EXPECT_EQ((Timeouts{180, 300, 45}), CurrentTimeouts());
    EXPECT_EQ(NothingSaved, Value(L"AltNotify"));
}

TEST_F(Notifier, UpdateMakesTheWakeupTimeoutFollowNewlySavedTimeoutsAtOnce) {
    Set(L"ShowLockIcon", 1);
    Set(L"IgnoreNotify", 1);
    SetLineStatus(AC_LINE_OFFLINE);
    ASSERT_NE(nullptr, StartNotifier(L""));
    const struct {
        const char* what;
        Timeouts saved;
        BYTE lineStatus;
        Timeouts expected;
    } steps[] = {
        {"UPDATE before the first check", Factory, AC_LINE_OFFLINE, {180, 300, 180}},
        {"new timeouts saved, UPDATE", {120, 240, 180}, AC_LINE_OFFLINE, {120, 240, 120}},
        {"plugged in, new timeouts saved, UPDATE", {120, 90, 120}, AC_LINE_ONLINE, {120, 90, 90}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        SetTimeouts(step.saved);
        SetLineStatus(step.lineStatus);
        EXPECT_EQ(0, RunOstrelle(L"UPDATE"));
        EXPECT_EQ(step.expected, CurrentTimeouts()) << "as soon as the second instance ends";
        EXPECT_EQ("60", Value(L"AltNotify"));
    }
}

TEST_F(Notifier, AWindowOfTheClassOwnedByAnotherProgramIsTakenForTheNotifier) {
    ForeignWindow foreign;
    ASSERT_NE(nullptr, foreign.window);
    Set(L"ShowLockIcon", 1);
    const struct {
        const wchar_t* commandLine;
        DWORD locked;
        const char* received;
        Timeouts expected;
    } cases[] = {
        {L"ON", 0, "", Factory},
        {L"", 0, "", Factory},
        {L"UPDATE", 0, "", Factory},
        {L"OFF", 0, "WM_CLOSE(0,0) ", {180, 300, 45}},
        {L"OFF", 1, "WM_USER(0,514) WM_CLOSE(0,0) ", {180, 300, 45}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Quoted(c.commandLine) + " with Locked " + std::to_string(c.locked));
        SetTimeouts(Factory);
        Set(L"Locked", c.locked);
        Set(L"AltNotify", 45);
        ForeignWindow::received.clear();
        EXPECT_EQ(0, RunOstrelle(c.commandLine));
        std::vector<HWND> windows = TopLevelWindows(NotifierClass);
        EXPECT_EQ(1u, windows.size()) << "expected no notifier besides the foreign window";
        EXPECT_EQ(c.received, ForeignWindow::received);
        EXPECT_EQ(c.expected, CurrentTimeouts());
    }
}

TEST_F(Notifier, ManySimultaneousStartsLeaveOneNotifier) {
    Set(L"ShowLockIcon", 1);
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (const wchar_t* commandLine : {L"ON", L"", L"UPDATE", L"ON", L"", L"ON", L"UPDATE"})
            processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        WaitSettled(processes_);
        EXPECT_EQ(1u, Alive(processes_)) << "notifiers running";
        std::vector<HWND> windows = TopLevelWindows(NotifierClass);
        ASSERT_EQ(1u, windows.size()) << "notifier windows";
        // The one notifier saves the user's timeouts, not zeros of another lock.
        Tap(windows.front());
        EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts());
        EXPECT_EQ("180", Value(L"AltBatterie"));
        EXPECT_EQ("300", Value(L"AltExtern"));
        Tap(windows.front());
        EXPECT_EQ(Factory, CurrentTimeouts());
        CloseNotifiers(processes_);
    }
}

TEST_F(Notifier, StartsRacingAnOffLeaveAtMostOneNotifier) {
    Set(L"ShowLockIcon", 1);
    for (int round = 1; round <= 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_NE(nullptr, StartNotifier(L"ON"));
        // The running notifier closing while others start: whichever way each start goes,
        // every start ends or is the one notifier.
        for (const wchar_t* commandLine : {L"OFF", L"ON", L"", L"OFF", L"ON"})
            processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        WaitSettled(processes_);
        std::vector<HWND> windows = TopLevelWindows(NotifierClass);
        EXPECT_GE(1u, Alive(processes_)) << "processes still running";
        ASSERT_GE(1u, windows.size()) << "notifier windows";
        EXPECT_EQ(Alive(processes_), windows.size()) << "a running process is the one notifier";
        if (!windows.empty()) {
            Tap(windows.front());
            EXPECT_EQ("180", Value(L"AltBatterie"));
            EXPECT_EQ("300", Value(L"AltExtern"));
        }
        CloseNotifiers(processes_);
        SetTimeouts(Factory);
    }
}

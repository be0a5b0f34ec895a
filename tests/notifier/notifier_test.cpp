// Ostrelle.exe as a real process on the device: command lines, the hand-over to a running
// notifier, the lock and the power check, read back from the Settings key and idle timeouts.
#include <gtest/gtest.h>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>
#include "harness.h"
#include "tray_protocol.h"
#include "wince.h"

using namespace harness;

namespace {

constexpr wchar_t Key[] = L"Software\\Zilp\\Velmora";
constexpr wchar_t NotifierClass[] = L"PowerSupplyZilpNotify";
const std::string NothingSaved = std::to_string(0xFFFFFFFFu);

constexpr Timeouts Factory = FactoryTimeouts;

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
void SetBinary(const wchar_t* name, const std::vector<BYTE>& bytes) {
    WriteValue(HKEY_CURRENT_USER, Key, name, REG_BINARY, bytes.data(),
               static_cast<DWORD>(bytes.size()));
}
bool KeyExists() {
    HKEY key;
    bool exists = RegOpenKeyExW(HKEY_CURRENT_USER, Key, 0, KEY_READ, &key) == ERROR_SUCCESS;
    if (exists)
        RegCloseKey(key);
    return exists;
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

int RunOstrelle(const std::wstring& commandLine) {
    return Run(L"Ostrelle.exe", commandLine, 15000);
}
std::string Quoted(const std::wstring& text) {
    return "\"" + Utf8(text) + "\"";
}

bool Running(const Process& p) {
    return WaitForSingleObject(p.handle(), 0) == WAIT_TIMEOUT;
}
size_t Alive(const std::vector<Process>& processes) {
    size_t count = 0;
    for (const Process& process : processes)
        count += Running(process) ? 1 : 0;
    return count;
}

class Notifier : public testing::Test {
  protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }

    // Every notifier closed as the platform closes it, the key gone, the factory device.
    void Reset() {
        for (HWND window : TopLevelWindows(NotifierClass))
            PostMessageW(window, WM_CLOSE, 0, 0);
        WaitFor([] { return TopLevelWindows(NotifierClass).empty(); }, 10000);
        for (const Process& process : processes_)
            process.WaitExit(10000);
        processes_.clear();
        DeleteKey(HKEY_CURRENT_USER, Key);
        SetTimeouts(Factory);
        SetBattery(FactoryBattery());
    }

    // Starts Ostrelle.exe with a command line of arguments only, as the device does.
    HWND StartNotifier(const std::wstring& commandLine) {
        processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        return WaitWindow(NotifierClass, 10000, processes_.back().pid());
    }

    // Until every start has ended or is the one notifier.
    void WaitSettled() {
        WaitFor(
            [&] {
                size_t alive = Alive(processes_);
                return alive <= 1 && alive == TopLevelWindows(NotifierClass).size();
            },
            30000);
    }

    std::vector<Process> processes_;
};

// A window of the notifier's class owned by another program, recording what it is sent.
struct ForeignWindow {
    static inline std::string received;
    HWND window = nullptr;

    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message != WM_USER && message != WM_CLOSE)
            return DefWindowProcW(w, message, wParam, lParam);
        received += (message == WM_USER ? "WM_USER(" : "WM_CLOSE(") + std::to_string(wParam) + "," +
                    std::to_string(lParam) + ") ";
        return 0; // stays, for the next case
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
    } cases[] = {
        {L"ON", Show::NoKey, true},     {L"ON", Show::Absent, true},
        {L"ON", Show::Zero, true},      {L"", Show::One, true},
        {L"", Show::OneAsBinary, true}, // 4 bytes of another type are a number
        {L"", Show::Zero, false},       {L"", Show::NoKey, false},
        {L"UPDATE", Show::One, true},   {L"UPDATE", Show::Absent, false},
        {L"on", Show::Zero, false},     {L"ON ", Show::Absent, false},
        {L"off", Show::One, true},      {L"OFF", Show::One, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("command line " + Quoted(c.commandLine) + ", ShowLockIcon case " +
                     std::to_string(static_cast<int>(c.show)));
        DeleteKey(HKEY_CURRENT_USER, Key);
        if (c.show != Show::NoKey)
            Set(L"AltNotify", 45); // only a power check would restore it
        if (c.show == Show::Zero || c.show == Show::One)
            Set(L"ShowLockIcon", c.show == Show::One ? 1 : 0);
        if (c.show == Show::OneAsBinary)
            SetBinary(L"ShowLockIcon", {1, 0, 0, 0});
        Process process = Start(L"Ostrelle.exe", c.commandLine);
        if (c.runs) {
            HWND window = WaitWindow(NotifierClass, 10000, process.pid());
            EXPECT_NE(nullptr, window) << "expected a running notifier, found none";
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
        DWORD exitCode = 99;
        EXPECT_TRUE(process.WaitExit(10000, &exitCode))
            << (c.runs ? "expected WM_CLOSE to end it" : "expected it to end at once");
        EXPECT_EQ(0u, exitCode);
        EXPECT_EQ(Factory, CurrentTimeouts()) << "start-up never touches the idle timeouts";
        EXPECT_EQ(c.show == Show::NoKey ? "absent" : "45", Value(L"AltNotify"));
        EXPECT_EQ("absent", Value(L"Locked"));
        EXPECT_EQ(c.show != Show::NoKey, KeyExists()) << "the notifier never creates the key";
    }
}

TEST_F(Notifier, ARunningNotifierTakesEveryStartAndOffClosesIt) {
    for (bool locked : {false, true}) {
        SCOPED_TRACE(locked ? "OFF while locked" : "OFF while unlocked");
        Reset();
        Set(L"ShowLockIcon", 1); // a start that missed the running notifier would run too
        Set(L"AltBatterie", 11); // what an OFF that locked by mistake would overwrite
        SetTimeouts({180, 300, 20});
        HWND running = StartNotifier(L"");
        ASSERT_NE(nullptr, running);
        for (const wchar_t* commandLine : {L"ON", L"", L"UPDATE", L"on", L"ON ", L"off"}) {
            SCOPED_TRACE("second start with " + Quoted(commandLine));
            EXPECT_EQ(0, RunOstrelle(commandLine));
            EXPECT_EQ(std::vector<HWND>{running}, TopLevelWindows(NotifierClass));
        }
        if (locked) {
            Tap(running);
            Pump(500); // the check after the tap has run; the next one is 5 s away
        }
        Set(L"AltNotify", 45); // saved while "IgnoreNotify" was in force
        EXPECT_EQ(0, RunOstrelle(L"OFF"));
        EXPECT_TRUE(processes_.back().WaitExit(5000)) << "OFF closes the running notifier";
        EXPECT_EQ((Timeouts{180, 300, 45}), CurrentTimeouts());
        EXPECT_EQ(locked ? "0" : "absent", Value(L"Locked"));
        EXPECT_EQ(locked ? "180" : "11", Value(L"AltBatterie"));
        EXPECT_EQ(NothingSaved, Value(L"AltNotify"));
    }
}

// A lock whose notifier was killed (or whose device was reset) has nothing left to release
// it but "OFF"; with "Locked" 0 there is nothing to release and "OFF" changes nothing.
TEST_F(Notifier, OffWithoutARunningNotifierReleasesAnOrphanedLockOnly) {
    const struct {
        const char* what;
        DWORD locked;
        bool altExtern; // present
        Timeouts expected;
        const char *lockedAfter, *altNotifyAfter;
    } cases[] = {
        {"Locked 1", 1, true, {50, 70, 45}, "0", NothingSaved.c_str()},
        {"Locked 1 without AltExtern", 1, false, {50, 0, 45}, "0", NothingSaved.c_str()},
        {"Locked 0", 0, true, {0, 0, 20}, "0", "45"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Reset();
        Set(L"Locked", c.locked);
        Set(L"AltBatterie", 50);
        if (c.altExtern)
            Set(L"AltExtern", 70);
        Set(L"AltNotify", 45);
        SetTimeouts({0, 0, 20});
        EXPECT_EQ(0, RunOstrelle(L"OFF"));
        EXPECT_EQ(c.expected, CurrentTimeouts());
        EXPECT_EQ(c.lockedAfter, Value(L"Locked"));
        EXPECT_EQ(c.altNotifyAfter, Value(L"AltNotify"));
        EXPECT_TRUE(TopLevelWindows(NotifierClass).empty()) << "OFF never starts a notifier";
    }
}

TEST_F(Notifier, TheLockSavesZeroesAndRestoresBothTimeouts) {
    // Started while "Locked" is 1: the timeouts stay until the first tap unlocks.
    Set(L"ShowLockIcon", 1);
    Set(L"Locked", 1);
    Set(L"AltBatterie", 50);
    Set(L"AltExtern", 70);
    SetTimeouts({0, 0, 60});
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    Pump(500);
    const struct {
        const char* action;
        void (*act)(HWND);
        Timeouts expected;
        const char *locked, *altBatterie, *altExtern;
    } steps[] = {
        {"start", [](HWND) {}, {0, 0, 60}, "1", "50", "70"},
        {"tap", Tap, {50, 70, 60}, "0", "50", "70"},
        {"tap", Tap, {0, 0, 60}, "1", "50", "70"},
        {"other mouse events",
         [](HWND w) {
             for (LPARAM event : {WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_RBUTTONUP, WM_LBUTTONDBLCLK})
                 SendMessageW(w, WM_USER, 1, event);
         },
         {0, 0, 60},
         "1",
         "50",
         "70"},
        {"tap", Tap, {50, 70, 60}, "0", "50", "70"},
        {"battery 0, external 30, tap",
         [](HWND w) {
             SetTimeouts({0, 30, 60});
             Tap(w);
         },
         {0, 0, 60},
         "1",
         "0",
         "30"},
        {"tap", Tap, {0, 30, 60}, "0", "0", "30"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.action);
        step.act(notifier);
        EXPECT_EQ(step.expected, CurrentTimeouts());
        EXPECT_EQ(step.locked, Value(L"Locked"));
        EXPECT_EQ(step.altBatterie, Value(L"AltBatterie"));
        EXPECT_EQ(step.altExtern, Value(L"AltExtern"));
    }

    // Saved values that cannot be read: that timeout stays as it is.
    const struct {
        const char* what;
        void (*change)();
        Timeouts expected;
    } unreadable[] = {
        {"AltBatterie deleted",
         [] { DeleteValue(HKEY_CURRENT_USER, Key, L"AltBatterie"); },
         {33, 300, 60}},
        {"AltExtern deleted",
         [] { DeleteValue(HKEY_CURRENT_USER, Key, L"AltExtern"); },
         {180, 44, 60}},
        {"AltBatterie 4 bytes REG_BINARY",
         [] {
             SetBinary(L"AltBatterie", {77, 0, 0, 0});
         },
         {77, 300, 60}},
        {"AltExtern 8 bytes",
         [] {
             SetBinary(L"AltExtern", {1, 2, 3, 4, 5, 6, 7, 8});
         },
         {180, 44, 60}},
    };
    for (const auto& c : unreadable) {
        SCOPED_TRACE(c.what);
        SetTimeouts(Factory);
        Tap(notifier);
        SetTimeouts({33, 44, 60}); // changed during the lock, as the applet's save would
        c.change();
        Tap(notifier);
        EXPECT_EQ(c.expected, CurrentTimeouts());
        EXPECT_EQ("0", Value(L"Locked"));
    }
}

TEST_F(Notifier, WithoutTheSettingsKeyATapTouchesNothing) {
    HWND notifier = StartNotifier(L"ON");
    ASSERT_NE(nullptr, notifier);
    for (int tap = 1; tap <= 3; ++tap) {
        Tap(notifier);
        Pump(100); // and the check after it
        EXPECT_EQ(Factory, CurrentTimeouts()) << "tap " << tap;
        EXPECT_FALSE(KeyExists()) << "tap " << tap << ": the notifier never creates the key";
    }
}

TEST_F(Notifier, ExternalOnlyReleasesTheLockOffExternalPower) {
    Set(L"ShowLockIcon", 1);
    Set(L"ExternalOnly", 1);
    HWND notifier = StartNotifier(L"");
    ASSERT_NE(nullptr, notifier);
    // A tap locks; the check right after it releases unless on external power.
    for (BYTE line : {AC_LINE_ONLINE, AC_LINE_OFFLINE, AC_LINE_BACKUP_POWER, AC_LINE_UNKNOWN}) {
        SCOPED_TRACE("ACLineStatus " + std::to_string(line));
        SetLineStatus(line);
        const Timeouts before = {100u + line, 200u + line, 60}; // shows this lock saved them
        SetTimeouts(before);
        Tap(notifier);
        if (line == AC_LINE_ONLINE) {
            Pump(1000);
            EXPECT_EQ("1", Value(L"Locked")) << "on external power the lock stays";
            EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts());
            Tap(notifier);
            continue;
        }
        WaitFor([&] { return Value(L"Locked") == "0" && CurrentTimeouts() == before; }, 3000);
        EXPECT_EQ("0", Value(L"Locked"));
        EXPECT_EQ(before, CurrentTimeouts());
        EXPECT_EQ(std::to_string(before.battery), Value(L"AltBatterie"));
        EXPECT_EQ(std::to_string(before.external), Value(L"AltExtern"));
    }

    SetTimeouts(Factory);
    SetLineStatus(AC_LINE_ONLINE);
    Tap(notifier);
    Pump(500);
    ASSERT_EQ("1", Value(L"Locked"));
    SetLineStatus(AC_LINE_OFFLINE);
    WaitFor([] { return Value(L"Locked") == "0" && CurrentTimeouts() == Factory; }, 8000);
    EXPECT_EQ("0", Value(L"Locked")) << "unplugged: released by the next periodic check";
    EXPECT_EQ(Factory, CurrentTimeouts());
    SetLineStatus(AC_LINE_ONLINE);
    EXPECT_EQ(0, RunOstrelle(L"UPDATE")); // a check at once
    EXPECT_EQ("0", Value(L"Locked")) << "plugging in again does not lock";
    EXPECT_EQ(Factory, CurrentTimeouts());
}

TEST_F(Notifier, IgnoreNotifyMakesTheWakeupTimeoutFollowOnChangesOnly) {
    Set(L"ShowLockIcon", 1);
    Set(L"IgnoreNotify", 1);
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

// Kept instead when "IgnoreNotify" is set, as a later check keeps one, above.
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
    ASSERT_NE(nullptr, StartNotifier(L""));
    const struct {
        Timeouts saved;
        BYTE line;
        Timeouts expected;
    } steps[] = {
        {Factory, AC_LINE_OFFLINE, {180, 300, 180}},
        {{120, 240, 180}, AC_LINE_OFFLINE, {120, 240, 120}},
        {{120, 90, 120}, AC_LINE_ONLINE, {120, 90, 90}},
    };
    for (const auto& step : steps) {
        SetTimeouts(step.saved); // as the applet's save, which then starts "UPDATE"
        SetLineStatus(step.line);
        EXPECT_EQ(0, RunOstrelle(L"UPDATE"));
        EXPECT_EQ(step.expected, CurrentTimeouts()) << "saved " << step.saved;
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
        EXPECT_EQ(std::vector<HWND>{foreign.window}, TopLevelWindows(NotifierClass));
        EXPECT_EQ(c.received, ForeignWindow::received);
        EXPECT_EQ(c.expected, CurrentTimeouts());
    }
}

TEST_F(Notifier, SimultaneousStartsLeaveAtMostOneNotifier) {
    Set(L"ShowLockIcon", 1);
    const struct {
        bool running; // a notifier runs before, and OFFs close it while the others start
        std::vector<const wchar_t*> commandLines;
    } rounds[] = {
        {false, {L"ON", L"", L"UPDATE", L"ON", L"", L"ON", L"UPDATE"}},
        {false, {L"ON", L"", L"UPDATE", L"ON", L"", L"ON", L"UPDATE"}},
        {true, {L"OFF", L"ON", L"", L"OFF", L"ON"}},
        {true, {L"OFF", L"ON", L"", L"OFF", L"ON"}},
    };
    int number = 0;
    for (const auto& round : rounds) {
        SCOPED_TRACE("round " + std::to_string(++number));
        Reset();
        Set(L"ShowLockIcon", 1);
        if (round.running) {
            ASSERT_NE(nullptr, StartNotifier(L"ON"));
        }
        for (const wchar_t* commandLine : round.commandLines)
            processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        WaitSettled();
        std::vector<HWND> windows = TopLevelWindows(NotifierClass);
        EXPECT_TRUE(windows.size() == 1 || (round.running && windows.empty()))
            << "expected one notifier (or none after an OFF), found " << windows.size();
        EXPECT_EQ(windows.size(), Alive(processes_)) << "processes still running";
        if (windows.size() != 1)
            continue;
        // The one notifier saves the user's timeouts, not the zeros of another one's lock.
        Tap(windows.front());
        EXPECT_EQ((Timeouts{0, 0, 60}), CurrentTimeouts());
        EXPECT_EQ("180", Value(L"AltBatterie"));
        EXPECT_EQ("300", Value(L"AltExtern"));
    }
}

namespace {

// The hash the tray shows for one of the notifier's own icons.
std::string IconHash(int resource) {
    HMODULE ostrelle = LoadLibraryExW((WindowsDir() + L"\\Ostrelle.exe").c_str(), nullptr,
                                      LOAD_LIBRARY_AS_DATAFILE);
    auto icon =
        static_cast<HICON>(LoadImageW(ostrelle, MAKEINTRESOURCEW(resource), IMAGE_ICON, 16, 16, 0));
    tray::Pixels pixels{};
    bool captured = icon && tray::CapturePixels(icon, &pixels);
    if (icon)
        DestroyIcon(icon);
    FreeLibrary(ostrelle);
    char text[16];
    std::snprintf(text, sizeof text, "%08lx", static_cast<unsigned long>(tray::HashPixels(pixels)));
    return captured ? text : "no icon " + std::to_string(resource);
}

std::string TrayText() {
    std::string out;
    return RunDevtool(L"tray", &out) == 0 ? out : "tray failed: " + out;
}

// The image field of the tray's only line, or what the tray said instead.
std::string TrayImage() {
    std::string out = TrayText();
    size_t lines = 0;
    for (char c : out)
        lines += c == '\n';
    size_t image = out.find("image=");
    if (lines != 1 ||
        out.find("\"PowerSupplyZilpNotify\" id=1 message=0x0400") == std::string::npos ||
        image == std::string::npos)
        return "unexpected tray: " + out;
    return out.substr(image + 6, 8);
}

} // namespace

TEST_F(Notifier, TheTrayShowsIcon101Or102AsTheLockSaysAndATapThereToggles) {
    const std::string unlocked = IconHash(101), locked = IconHash(102);
    ASSERT_NE(unlocked, locked) << "icons 101 and 102 look the same";
    Set(L"ShowLockIcon", 1);
    Set(L"Locked", 1);
    ASSERT_NE(nullptr, StartNotifier(L""));
    EXPECT_TRUE(WaitFor([&] { return TrayImage() == locked; }, 5000))
        << "started while locked: expected icon 102 " << locked << ", actual " << TrayImage();
    // Taps through the shell, as the stylus gives them.
    std::string out;
    for (const char* expectedLocked : {"0", "1", "0"}) {
        ASSERT_EQ(0, RunDevtool(L"tap", &out)) << out;
        const std::string& expected = std::string(expectedLocked) == "1" ? locked : unlocked;
        EXPECT_TRUE(WaitFor([&] { return Value(L"Locked") == expectedLocked; }, 5000))
            << "after a tap: expected Locked " << expectedLocked << ", actual " << Value(L"Locked");
        EXPECT_TRUE(WaitFor([&] { return TrayImage() == expected; }, 5000))
            << "expected image " << expected << ", actual " << TrayImage();
    }
    // "OFF" takes the icon away with the notifier.
    EXPECT_EQ(0, RunOstrelle(L"OFF"));
    EXPECT_TRUE(WaitFor([&] { return TrayText().empty(); }, 5000))
        << "expected an empty tray, actual " << TrayText();
}

// --- a notifier killed mid-toggle, and starts and taps that race ---------------------------

namespace {

constexpr Timeouts User = {100, 200, 60}; // the user's own, which nothing may lose

// The start of every case below: the icon wanted, the user's own timeouts in force, and what
// an earlier lock saved, which must never come back.
void SetUserTimeoutsAndStaleSavedValues() {
    // As the applet's save leaves the key: it writes "Locked" beside "ShowLockIcon".
    Set(L"ShowLockIcon", 1);
    Set(L"Locked", 0);
    Set(L"AltBatterie", 11);
    Set(L"AltExtern", 22);
    SetTimeouts(User);
}

// The notifier of a test build, with pause points at the step boundaries of a toggle.
std::wstring PausableNotifier() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path = self;
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"Ostrelle_pausable.exe";
}

void Kill(HWND notifier) {
    DWORD pid = 0;
    GetWindowThreadProcessId(notifier, &pid);
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return;
    TerminateProcess(process, 9);
    WaitForSingleObject(process, 10000);
    CloseHandle(process);
}

// What a user does who finds the lock icon gone: either the lock page's "OFF" alone, or its
// "ON", a tap on the icon if it shows the lock, and "OFF". With none running, "ON" becomes the
// notifier and runs until the "OFF" closes it.
void RecoverAsAUser(bool withOn) {
    if (withOn) {
        Process on = Start(L"Ostrelle.exe", L"ON");
        HWND notifier = WaitWindow(NotifierClass, 10000, on.pid());
        ASSERT_NE(nullptr, notifier) << "ON shows no icon";
        if (Value(L"Locked") == "1")
            Tap(notifier);
        ASSERT_EQ(0, RunOstrelle(L"OFF"));
        DWORD code = 0;
        EXPECT_TRUE(on.WaitExit(10000, &code)) << "the notifier started by ON outlived the OFF";
        EXPECT_EQ(0u, code) << "the notifier's exit code";
        return;
    }
    ASSERT_EQ(0, RunOstrelle(L"OFF"));
}

// A top-level window of its own thread that answers WM_SETTINGCHANGE slowly, as a busy
// program does, and can send a tap to the notifier from inside its answer.
class SlowReceiver {
  public:
    SlowReceiver() {
        ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, nullptr);
        WaitForSingleObject(ready_, 10000);
    }
    ~SlowReceiver() {
        PostMessageW(window_, WM_CLOSE, 0, 0);
        WaitForSingleObject(thread_, 10000);
        CloseHandle(thread_);
        CloseHandle(ready_);
    }
    // The next announcement of a battery timeout sends this notifier a tap.
    void TapDuringNextAnnouncement(HWND notifier) { tapTarget_ = notifier; }
    bool tapped() const { return tapped_; }

  private:
    static LRESULT CALLBACK Proc(HWND w, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<SlowReceiver*>(GetWindowLongPtrW(w, GWLP_USERDATA));
        if (message == WM_SETTINGCHANGE && self) {
            Sleep(300);
            if (wParam == SPI_SETBATTERYIDLETIMEOUT && self->tapTarget_) {
                HWND target = self->tapTarget_;
                self->tapTarget_ = nullptr;
                SendMessageW(target, WM_USER, 1, WM_LBUTTONUP);
                self->tapped_ = true;
            }
            return 0;
        }
        if (message == WM_DESTROY)
            PostQuitMessage(0);
        return DefWindowProcW(w, message, wParam, lParam);
    }
    static DWORD WINAPI Run(void* parameter) {
        auto* self = static_cast<SlowReceiver*>(parameter);
        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = Proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"VelmoraSlowReceiver";
        RegisterClassW(&windowClass);
        self->window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 1, 1,
                                        nullptr, nullptr, windowClass.hInstance, nullptr);
        SetWindowLongPtrW(self->window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
        SetEvent(self->ready_);
        MSG message;
        while (GetMessageW(&message, nullptr, 0, 0) > 0)
            DispatchMessageW(&message);
        return 0;
    }
    HANDLE ready_ = nullptr, thread_ = nullptr;
    HWND window_ = nullptr;
    HWND volatile tapTarget_ = nullptr;
    volatile bool tapped_ = false;
};

// The lock as it stands must agree everywhere: the notifier (if any) toggles from it, and the
// user's timeouts come back in the end.
void ExpectConsistentAndIntact(const std::string& what) {
    SCOPED_TRACE(what);
    std::vector<HWND> notifiers = TopLevelWindows(NotifierClass);
    ASSERT_LE(notifiers.size(), 1u) << "two notifiers";
    const bool locked = Value(L"Locked") == "1";
    EXPECT_EQ((locked ? Timeouts{0, 0, User.wakeup} : User), CurrentTimeouts())
        << "Locked " << Value(L"Locked");
    if (notifiers.empty()) {
        EXPECT_FALSE(locked) << "a lock left without a notifier";
    } else {
        // A tap must go the other way: the notifier's own state agrees with the key.
        Tap(notifiers.front());
        EXPECT_EQ(locked ? "0" : "1", Value(L"Locked")) << "after a tap";
    }
    EXPECT_EQ(0, RunOstrelle(L"OFF"));
    EXPECT_EQ(User, CurrentTimeouts()) << "after OFF";
    EXPECT_EQ("0", Value(L"Locked")) << "after OFF";
}

} // namespace

TEST_F(Notifier, AKillAtAnyStepBoundaryOfAToggleLosesNoTimeout) {
    const struct {
        const char* point;
        bool recoverWithOn;
    } points[] = {
        {"lock-begun", true},
        {"lock-saved-battery", false},
        {"lock-saved-external", true},
        {"lock-recorded", false},
        {"lock-recorded", true},
        {"lock-cleared-battery", true},
        {"lock-done", false},
        {"unlock-begun", true},
        {"unlock-restored-battery", false},
        {"unlock-restored-battery", true},
        {"unlock-restored-external", false},
        {"unlock-done", true},
    };
    HANDLE paused = CreateEventW(nullptr, FALSE, FALSE, L"Velmora.Ostrelle.Paused");
    for (const auto& p : points) {
        const bool unlocking = std::string(p.point).rfind("unlock", 0) == 0;
        SCOPED_TRACE(std::string("killed at ") + p.point +
                     (p.recoverWithOn ? ", recovered by ON, tap, OFF" : ", recovered by OFF"));
        Reset();
        SetUserTimeoutsAndStaleSavedValues();
        SetEnvironmentVariableA("VELMORA_PAUSE_AT", p.point);
        processes_.push_back(Start(PausableNotifier(), L"ON"));
        SetEnvironmentVariableA("VELMORA_PAUSE_AT", nullptr);
        HWND notifier = WaitWindow(NotifierClass, 10000, processes_.back().pid());
        ASSERT_NE(nullptr, notifier);
        if (unlocking)
            Tap(notifier); // the lock, which passes every point of an unlock
        PostMessageW(notifier, WM_USER, 1, WM_LBUTTONUP);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(paused, 15000)) << "never paused";
        Kill(notifier);
        RecoverAsAUser(p.recoverWithOn);
        EXPECT_EQ(User, CurrentTimeouts());
        EXPECT_EQ("0", Value(L"Locked"));
        EXPECT_TRUE(TopLevelWindows(NotifierClass).empty());
    }
    CloseHandle(paused);
}

TEST_F(Notifier, AKillAtARandomMomentOfATapBesideASlowWindowLosesNoTimeout) {
    SlowReceiver slow; // widens every announcement of the toggle to 300 ms
    const unsigned seed = GetTickCount();
    srand(seed);
    for (int trial = 1; trial <= 4; ++trial) {
        const bool unlocking = rand() % 2;
        const DWORD delay = rand() % 1500;
        SCOPED_TRACE("seed " + std::to_string(seed) + ", trial " + std::to_string(trial) +
                     (unlocking ? ", unlock" : ", lock") + " killed after " +
                     std::to_string(delay) + " ms");
        Reset();
        SetUserTimeoutsAndStaleSavedValues();
        HWND notifier = StartNotifier(L"ON");
        ASSERT_NE(nullptr, notifier);
        if (unlocking)
            Tap(notifier);
        PostMessageW(notifier, WM_USER, 1, WM_LBUTTONUP);
        Pump(delay);
        Kill(notifier);
        RecoverAsAUser(trial % 2 == 0);
        EXPECT_EQ(User, CurrentTimeouts());
        EXPECT_EQ("0", Value(L"Locked"));
    }
}

TEST_F(Notifier, RacingStartsAndTapsEndConsistentWithTheTimeoutsIntact) {
    const struct {
        const char* what;
        bool locked; // a notifier runs, locked by a tap; else none, and "Locked" 0
        std::vector<const wchar_t*> commandLines;
    } rounds[] = {
        {"five OFF at once while locked", true, {L"OFF", L"OFF", L"OFF", L"OFF", L"OFF"}},
        {"ON and OFF at once while locked", true, {L"OFF", L"ON", L"OFF", L"ON"}},
        {"ON and OFF at once while unlocked", false, {L"ON", L"OFF", L"ON", L"OFF"}},
    };
    for (const auto& round : rounds) {
        Reset();
        SetUserTimeoutsAndStaleSavedValues();
        if (round.locked) {
            HWND notifier = StartNotifier(L"ON");
            ASSERT_NE(nullptr, notifier);
            Tap(notifier);
            ASSERT_EQ("1", Value(L"Locked"));
        }
        for (const wchar_t* commandLine : round.commandLines)
            processes_.push_back(Start(L"Ostrelle.exe", commandLine));
        WaitSettled();
        ExpectConsistentAndIntact(round.what);
    }

    // A tap that arrives while a toggle waits on a slow window is carried out after it.
    Reset();
    SetUserTimeoutsAndStaleSavedValues();
    HWND notifier = StartNotifier(L"ON");
    ASSERT_NE(nullptr, notifier);
    {
        SlowReceiver slow;
        slow.TapDuringNextAnnouncement(notifier);
        Tap(notifier); // locks; the second tap arrives during its first announcement
        EXPECT_TRUE(slow.tapped()) << "the slow window never sent its tap";
        WaitFor([] { return Value(L"Locked") == "0" && CurrentTimeouts() == User; }, 10000);
        EXPECT_EQ("0", Value(L"Locked")) << "lock, then the tap carried out after it: unlocked";
        EXPECT_EQ("100", Value(L"AltBatterie")) << "the lock saved the user's timeouts";
    }
    ExpectConsistentAndIntact("a tap during a toggle's announcement");
}

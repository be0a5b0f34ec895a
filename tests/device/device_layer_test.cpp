// The device's CE layer as the deliverables use it: idle timeouts, the emulated battery,
// named events, GetProcAddressW, the shell library and the device tool.
#include <gtest/gtest.h>
#include <cstdio>
#include <cstring>
#include <string>
#include "aygshell.h"
#include "device_store.h"
#include "harness.h"
#include "wince.h"

using namespace harness;

namespace {

std::string Hex(const SYSTEM_POWER_STATUS_EX& status) {
    std::string out;
    char byte[4];
    for (size_t i = 0; i < sizeof status; ++i) {
        std::snprintf(byte, sizeof byte, "%02x ", reinterpret_cast<const BYTE*>(&status)[i]);
        out += byte;
    }
    return out;
}

// Puts the factory idle timeouts and battery back after each test.
class DeviceLayer : public testing::Test {
  protected:
    void TearDown() override {
        for (const auto& slot : device_store::IdleTimeouts)
            SetIdleTimeout(slot.SetCode, slot.Factory);
        SetBattery(FactoryBattery());
    }
};

struct SettingChangeWindow {
    static inline std::vector<WPARAM> received;
    HWND window = nullptr;

    static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_SETTINGCHANGE)
            received.push_back(wp);
        return DefWindowProcW(w, msg, wp, lp);
    }
    SettingChangeWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelmoraTestSettingChange";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 10, 10, nullptr,
                                 nullptr, wc.hInstance, nullptr);
        received.clear();
    }
    ~SettingChangeWindow() { DestroyWindow(window); }
};

} // namespace

TEST_F(DeviceLayer, IdleTimeoutsReadBackWhatWasSetIncludingZeroAndTheLargestValue) {
    const struct {
        UINT set, get;
        DWORD seconds;
    } cases[] = {
        {SPI_SETBATTERYIDLETIMEOUT, SPI_GETBATTERYIDLETIMEOUT, 0},
        {SPI_SETBATTERYIDLETIMEOUT, SPI_GETBATTERYIDLETIMEOUT, 4294967295u},
        {SPI_SETEXTERNALIDLETIMEOUT, SPI_GETEXTERNALIDLETIMEOUT, 15},
        {SPI_SETWAKEUPIDLETIMEOUT, SPI_GETWAKEUPIDLETIMEOUT, 0},
    };
    for (const auto& c : cases) {
        SetIdleTimeout(c.set, c.seconds);
        EXPECT_EQ(c.seconds, IdleTimeout(c.get)) << "code " << c.get;
    }
    // The three are independent of each other.
    SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, 111);
    SetIdleTimeout(SPI_SETEXTERNALIDLETIMEOUT, 222);
    SetIdleTimeout(SPI_SETWAKEUPIDLETIMEOUT, 333);
    EXPECT_EQ(111u, IdleTimeout(SPI_GETBATTERYIDLETIMEOUT));
    EXPECT_EQ(222u, IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT));
    EXPECT_EQ(333u, IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT));
    DWORD stored = 0;
    ASSERT_TRUE(ReadDword(HKEY_LOCAL_MACHINE, device_store::PowerKey, L"ExtPowerOff", &stored));
    EXPECT_EQ(222u, stored) << "the external timeout is kept where CE keeps it";
}

TEST_F(DeviceLayer, AStoredTimeoutOfAnotherTypeReadsAsTheFactoryValue) {
    const wchar_t text[] = L"12";
    WriteValue(HKEY_LOCAL_MACHINE, device_store::PowerKey, L"BattPowerOff", REG_SZ, text,
               sizeof text);
    EXPECT_EQ(180u, IdleTimeout(SPI_GETBATTERYIDLETIMEOUT));
    DeleteValue(HKEY_LOCAL_MACHINE, device_store::PowerKey, L"WakeupPowerOff");
    EXPECT_EQ(60u, IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT));
}

TEST_F(DeviceLayer, OtherParametersStillReachTheDesktopAndAGetWithoutBufferFails) {
    RECT work = {};
    EXPECT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0));
    EXPECT_GT(work.bottom, work.top);
    EXPECT_FALSE(SystemParametersInfoW(SPI_GETBATTERYIDLETIMEOUT, 0, nullptr, 0));
}

TEST_F(DeviceLayer, SendChangeReachesATopLevelWindowOfAnotherProcess) {
    SettingChangeWindow listener;
    ASSERT_NE(nullptr, listener.window);
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"timeouts --external 123", &out)) << out;
    EXPECT_TRUE(WaitFor([] { return !SettingChangeWindow::received.empty(); }, 3000));
    ASSERT_EQ(1u, SettingChangeWindow::received.size());
    EXPECT_EQ(static_cast<WPARAM>(SPI_SETEXTERNALIDLETIMEOUT), SettingChangeWindow::received[0]);
    EXPECT_EQ(123u, IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT));
    // Without SPIF_SENDCHANGE nobody is told.
    SystemParametersInfoW(SPI_SETEXTERNALIDLETIMEOUT, 5, nullptr, SPIF_UPDATEINIFILE);
    Pump(300);
    EXPECT_EQ(1u, SettingChangeWindow::received.size());
}

TEST_F(DeviceLayer, PowerCommandSetsWhatGetSystemPowerStatusExReturnsByteForByte) {
    struct Case {
        const wchar_t* arguments;
        SYSTEM_POWER_STATUS_EX expected;
    };
    auto with = [](auto change) {
        SYSTEM_POWER_STATUS_EX s = FactoryBattery();
        change(s);
        return s;
    };
    const Case cases[] = {
        {L"power", FactoryBattery()},
        {L"power --ac on --battery-flag 8 --percent 57",
         with([](auto& s) { s.ACLineStatus = 1, s.BatteryFlag = 8, s.BatteryLifePercent = 57; })},
        {L"power --ac backup --life 3725 --full-life unknown",
         with([](auto& s) { s.ACLineStatus = 2, s.BatteryLifeTime = 3725; })},
        {L"power --ac unknown --percent unknown --life 4294967294",
         with([](auto& s) {
             s.ACLineStatus = 255, s.BatteryLifePercent = 255, s.BatteryLifeTime = 4294967294u;
         })},
        {L"power --backup-flag 2 --backup-percent 40 --battery-flag 128",
         with([](auto& s) {
             s.BackupBatteryFlag = 2, s.BackupBatteryLifePercent = 40, s.BatteryFlag = 128;
         })},
    };
    for (const auto& c : cases) {
        SetBattery(FactoryBattery());
        std::string out;
        ASSERT_EQ(0, RunDevtool(c.arguments, &out)) << out;
        SYSTEM_POWER_STATUS_EX actual = PowerStatus();
        EXPECT_EQ(0, std::memcmp(&c.expected, &actual, sizeof actual))
            << "after `" << Utf8(c.arguments)
            << "`\n expected " << Hex(c.expected) << "\n actual   " << Hex(actual);
    }
}

TEST_F(DeviceLayer, BadPowerArgumentsChangeNothing) {
    const wchar_t* bad[] = {L"power --ac plugged",     L"power --percent 256",
                            L"power --percent -1",     L"power --life 4294967296",
                            L"power --battery-flag",   L"power --volts 5",
                            L"power --percent 50 --ac maybe", L"power --driver maybe"};
    for (const wchar_t* arguments : bad) {
        std::string out;
        EXPECT_EQ(2, RunDevtool(arguments, &out))
            << Utf8(arguments) << ": " << out;
        SYSTEM_POWER_STATUS_EX actual = PowerStatus(), factory = FactoryBattery();
        EXPECT_EQ(0, std::memcmp(&factory, &actual, sizeof actual))
            << Utf8(arguments) << " changed the battery to "
            << Hex(actual);
    }
}

TEST_F(DeviceLayer, WithoutUpdateTheLastDriverReportIsReturned) {
    SYSTEM_POWER_STATUS_EX first = FactoryBattery(), second = FactoryBattery(), seen;
    first.BatteryLifePercent = 10;
    second.BatteryLifePercent = 20;
    SetBattery(first);
    GetSystemPowerStatusEx(&seen, TRUE);
    SetBattery(second);
    GetSystemPowerStatusEx(&seen, FALSE);
    EXPECT_EQ(10, seen.BatteryLifePercent);
    GetSystemPowerStatusEx(&seen, TRUE);
    EXPECT_EQ(20, seen.BatteryLifePercent);
    EXPECT_FALSE(GetSystemPowerStatusEx(nullptr, TRUE));
}

TEST_F(DeviceLayer, ADriverSwitchedOffFailsEveryReadAndKeepsItsBatteryForWhenItIsOn) {
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"power --percent 57 --driver off", &out)) << out;
    EXPECT_NE(std::string::npos, out.find("BatteryLifePercent 57\n")) << out;
    EXPECT_NE(std::string::npos, out.find("Driver off\n")) << out;
    SYSTEM_POWER_STATUS_EX seen, untouched;
    std::memset(&seen, 0xCC, sizeof seen);
    untouched = seen;
    SetLastError(0);
    EXPECT_FALSE(GetSystemPowerStatusEx(&seen, TRUE));
    EXPECT_EQ(static_cast<DWORD>(ERROR_GEN_FAILURE), GetLastError());
    EXPECT_EQ(0, std::memcmp(&untouched, &seen, sizeof seen)) << "a failed read wrote " << Hex(seen);

    ASSERT_EQ(0, RunDevtool(L"power --driver on", &out)) << out;
    EXPECT_NE(std::string::npos, out.find("Driver on\n")) << out;
    EXPECT_EQ(57, PowerStatus().BatteryLifePercent);
}

namespace {

// Counts the registry calls coredll.dll makes, through its import table. The originals are
// called through the pointers the table held: the plain names would reach coredll's own export.
struct RegistryCalls {
    using OpenCall = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
    using ReadCall = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
    static inline OpenCall open;
    static inline ReadCall read;
    static inline int opens, reads;
    static LONG WINAPI Open(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
        ++opens;
        return open(root, path, options, access, key);
    }
    static LONG WINAPI Read(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                           LPDWORD size) {
        ++reads;
        return read(key, name, reserved, type, data, size);
    }
};

// Points coredll.dll's import of `name` at `replacement`; returns what it pointed at.
void* PatchImport(const char* name, void* replacement) {
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(L"coredll.dll"));
    if (!base)
        return nullptr;
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* module = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         module->Name; ++module) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + module->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) ||
                std::strcmp(reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)
                                ->Name,
                            name) != 0)
                continue;
            DWORD protection;
            VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
            return previous;
        }
    }
    return nullptr;
}

} // namespace

TEST_F(DeviceLayer, AStatusReadOpensTheBatteryKeyOnceAndReadsOneValue) {
    RegistryCalls::open = reinterpret_cast<RegistryCalls::OpenCall>(
        PatchImport("RegOpenKeyExW", reinterpret_cast<void*>(&RegistryCalls::Open)));
    RegistryCalls::read = reinterpret_cast<RegistryCalls::ReadCall>(
        PatchImport("RegQueryValueExW", reinterpret_cast<void*>(&RegistryCalls::Read)));
    ASSERT_TRUE(RegistryCalls::open && RegistryCalls::read)
        << "coredll.dll imports RegOpenKeyExW and RegQueryValueExW";
    RegistryCalls::opens = RegistryCalls::reads = 0;
    SYSTEM_POWER_STATUS_EX status;
    const BOOL answered = GetSystemPowerStatusEx(&status, TRUE);
    const int opens = RegistryCalls::opens, reads = RegistryCalls::reads;
    PatchImport("RegOpenKeyExW", reinterpret_cast<void*>(RegistryCalls::open));
    PatchImport("RegQueryValueExW", reinterpret_cast<void*>(RegistryCalls::read));
    EXPECT_TRUE(answered);
    EXPECT_EQ(1, opens) << "key opens per status read";
    EXPECT_EQ(1, reads) << "value reads per status read";
}

HARNESS_CHILD_ROLE(WaitForEvent, L"wait-event") {
    if (argc != 1)
        return 3;
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, argv[0]);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"VelmoraTestWaiterReady");
    SetEvent(ready);
    return WaitForSingleObject(event, 10000) == WAIT_OBJECT_0 ? 0 : 1;
}

TEST_F(DeviceLayer, EventSetWakesAWaiterInAnotherProcess) {
    const wchar_t* name = L"BackLightChangeEvent";
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"VelmoraTestWaiterReady");
    ResetEvent(ready);
    Process waiter = StartChild(L"wait-event", name);
    ASSERT_TRUE(waiter.started());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 10000)) << "the waiter never got ready";
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, name);
    ASSERT_NE(nullptr, event);
    EXPECT_TRUE(EventModify(event, EVENT_SET));
    DWORD code = 99;
    ASSERT_TRUE(waiter.WaitExit(10000, &code));
    EXPECT_EQ(0u, code) << "1 means the waiter timed out";
    CloseHandle(event);
    CloseHandle(ready);
}

TEST_F(DeviceLayer, EventModifyFunctions) {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(EventModify(event, EVENT_SET));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0)) << "set stays set (manual reset)";
    EXPECT_TRUE(EventModify(event, EVENT_RESET));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0));
    EXPECT_TRUE(EventModify(event, EVENT_PULSE));
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(event, 0))
        << "a pulse with no waiter leaves the event clear";
    EXPECT_FALSE(EventModify(event, 4));
    CloseHandle(event);
}

TEST_F(DeviceLayer, GetProcAddressWFindsExportsByWideName) {
    HMODULE core = LoadLibraryW(L"coredll.dll");
    ASSERT_NE(nullptr, core);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(core, "EventModify")),
              reinterpret_cast<void*>(GetProcAddressW(core, L"EventModify")));
    EXPECT_NE(nullptr, GetProcAddressW(core, L"SetCleanRebootFlag"));
    EXPECT_NE(nullptr, GetProcAddressW(core, L"CreateEventW"));
    EXPECT_EQ(nullptr, GetProcAddressW(core, L"EventModifyX"));
    EXPECT_EQ(nullptr, GetProcAddressW(core, L"Event\u00e4Modify"));
    std::wstring longName(300, L'A');
    EXPECT_EQ(nullptr, GetProcAddressW(core, longName.c_str()));
    FreeLibrary(core);
}

HARNESS_CHILD_ROLE(CleanReboot, L"set-clean-reboot-flag") {
    SetCleanRebootFlag();
    return 0;
}

TEST_F(DeviceLayer, CleanRebootFlagIsStoredForTheBootLoader) {
    DeleteValue(HKEY_LOCAL_MACHINE, device_store::InitKey, device_store::CleanBootValue);
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"cleanflag", &out));
    EXPECT_EQ("0\n", out);
    SetCleanRebootFlag();
    ASSERT_EQ(0, RunDevtool(L"cleanflag", &out));
    EXPECT_EQ("1\n", out);
    ASSERT_EQ(0, RunDevtool(L"cleanflag clear", &out));
    ASSERT_EQ(0, RunDevtool(L"cleanflag", &out));
    EXPECT_EQ("0\n", out);
}

namespace {

struct ShellWindow {
    static inline int okCommands = 0;
    HWND window = nullptr;
    static LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_COMMAND && LOWORD(wp) == IDOK)
            ++okCommands;
        return DefWindowProcW(w, msg, wp, lp);
    }
    ShellWindow() {
        WNDCLASSW wc = {};
        wc.lpfnWndProc = Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"VelmoraTestShellDialog";
        RegisterClassW(&wc);
        window = CreateWindowExW(0, wc.lpszClassName, L"Test", WS_CAPTION | WS_SYSMENU, 10, 10,
                                 100, 100, nullptr, nullptr, wc.hInstance, nullptr);
        okCommands = 0;
    }
    ~ShellWindow() { DestroyWindow(window); }
};

} // namespace

TEST_F(DeviceLayer, InitDialogSizesTheWindowToTheWorkArea) {
    RECT saved, work = {0, 26, 240, 320};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &saved, 0);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &work, 0);
    ShellWindow dialog;
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog.window, SHIDIF_SIZEDLG};
    EXPECT_TRUE(SHInitDialog(&info));
    RECT r;
    GetWindowRect(dialog.window, &r);
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &saved, 0);
    EXPECT_EQ(work.left, r.left);
    EXPECT_EQ(work.top, r.top);
    EXPECT_EQ(work.right, r.right);
    EXPECT_EQ(work.bottom, r.bottom);
    info.hDlg = nullptr;
    EXPECT_FALSE(SHInitDialog(&info));
    EXPECT_TRUE(SHInitExtraControls());
}

TEST_F(DeviceLayer, DoneButtonInTheCaptionSendsOk) {
    ShellWindow dialog;
    SHINITDLGINFO info = {SHIDIM_FLAGS, dialog.window, SHIDIF_DONEBUTTON};
    ASSERT_TRUE(SHInitDialog(&info));
    ShowWindow(dialog.window, SW_SHOW);
    RECT r;
    GetWindowRect(dialog.window, &r);
    // Find the button by what the window says it is at each point of the caption row.
    int y = r.top + GetSystemMetrics(SM_CYCAPTION) / 2 + 2;
    LPARAM hit = 0;
    for (int x = r.right - 1; x > r.left && !hit; --x) {
        LPARAM point = MAKELPARAM(x, y);
        if (SendMessageW(dialog.window, WM_NCHITTEST, 0, point) == HTOBJECT)
            hit = point;
    }
    ASSERT_NE(0, hit) << "no ok button in the caption";
    SendMessageW(dialog.window, WM_NCLBUTTONUP, HTOBJECT, hit);
    Pump(100);
    EXPECT_EQ(1, ShellWindow::okCommands);
    // The rest of the caption is still a caption.
    EXPECT_EQ(HTCAPTION,
              SendMessageW(dialog.window, WM_NCHITTEST, 0, MAKELPARAM(r.left + 30, y)));
}

TEST_F(DeviceLayer, SpyShowsWindowsOfOtherProcessesWithTextStateAndCheck) {
    HWND top = CreateWindowExW(0, L"#32770", L"Spy Fenster \u00e4", WS_POPUP | WS_VISIBLE, 5, 30,
                               100, 60, nullptr, nullptr, nullptr, nullptr);
    HWND box = CreateWindowExW(0, L"Button", L"Symbol aktivieren",
                               WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX, 0, 0, 80, 12, top,
                               reinterpret_cast<HMENU>(1081), nullptr, nullptr);
    SendMessageW(box, BM_SETCHECK, BST_CHECKED, 0);
    HWND hidden = CreateWindowExW(0, L"Static", L"versteckt", WS_CHILD, 0, 20, 80, 12, top,
                                  reinterpret_cast<HMENU>(1021), nullptr, nullptr);
    EnableWindow(hidden, FALSE);
    std::string out;
    ASSERT_EQ(0, RunDevtool(L"spy #32770", &out));
    DestroyWindow(top);
    EXPECT_NE(std::string::npos, out.find("\"Spy Fenster \xc3\xa4\" visible enabled -")) << out;
    EXPECT_NE(std::string::npos,
              out.find("\"Button\" id=1081 \"Symbol aktivieren\" visible enabled checked")) << out;
    EXPECT_NE(std::string::npos, out.find("\"Static\" id=1021 \"versteckt\" hidden disabled -"))
        << out;
}

TEST_F(DeviceLayer, ToolRefusesBadArguments) {
    const wchar_t* bad[] = {L"",          L"nothing",     L"timeouts --battery",
                            L"timeouts --battery -5",     L"timeouts --sleep 5",
                            L"spy a b",   L"reg",         L"reg HKXX\\Software",
                            L"exec",      L"exec C:\\x.exe", L"cleanflag now"};
    for (const wchar_t* arguments : bad) {
        std::string out;
        int code = RunDevtool(arguments, &out);
        EXPECT_TRUE(code == 1 || code == 2)
            << "`" << Utf8(arguments) << "` exited " << code;
    }
    EXPECT_EQ(180u, IdleTimeout(SPI_GETBATTERYIDLETIMEOUT));
}

TEST_F(DeviceLayer, AnExportLeftOutIsFoundNeitherByNameNorByOrdinalUntilRestored) {
    HMODULE core = LoadLibraryW(L"coredll.dll");
    FARPROC flag = GetProcAddress(core, "SetCleanRebootFlag");
    WORD ordinal = 1;
    while (ordinal < 64 && GetProcAddress(core, MAKEINTRESOURCEA(ordinal)) != flag)
        ++ordinal;
    const struct {
        const wchar_t* arguments;
        const char* listed;
        bool found;
    } steps[] = {
        {L"exports --leave-out SetCleanRebootFlag --leave-out EventModify",
         "SetCleanRebootFlag\nEventModify\n", false},
        {L"exports --restore EventModify", "SetCleanRebootFlag\n", false},
        {L"exports --restore-all", "", true},
    };
    for (const auto& step : steps) {
        std::string out;
        ASSERT_EQ(0, RunDevtool(step.arguments, &out)) << out;
        EXPECT_EQ(step.listed, out) << Utf8(step.arguments);
        EXPECT_EQ(step.found ? flag : nullptr, GetProcAddressW(core, L"SetCleanRebootFlag"))
            << "by name after " << Utf8(step.arguments);
        EXPECT_EQ(step.found ? flag : nullptr, GetProcAddressW(core, MAKEINTRESOURCEW(ordinal)))
            << "by ordinal " << ordinal << " after " << Utf8(step.arguments);
        EXPECT_NE(nullptr, GetProcAddressW(core, L"CreateEventW")) << "not left out";
    }
    FreeLibrary(core);
}

TEST_F(DeviceLayer, RegWritesAndDeletesNumbersAndABadChangeChangesNothing) {
    const std::wstring key = L"Software\\VelmoraTest";
    DeleteKey(HKEY_CURRENT_USER, key);
    std::string out;
    EXPECT_EQ(0, RunDevtool(L"reg HKCU\\Software\\VelmoraTest A=5 B=4294967295", &out)) << out;
    EXPECT_EQ(2, RunDevtool(L"reg HKCU\\Software\\VelmoraTest A= B=-1", &out)) << out;
    EXPECT_EQ(1, RunDevtool(L"reg HKCU\\Software\\VelmoraTest A= C=", &out)) << out;
    DWORD a = 0, b = 0;
    EXPECT_TRUE(ReadDword(HKEY_CURRENT_USER, key, L"A", &a) && a == 5) << "A is " << a;
    EXPECT_TRUE(ReadDword(HKEY_CURRENT_USER, key, L"B", &b) && b == 4294967295u) << "B is " << b;
    EXPECT_EQ(0, RunDevtool(L"reg HKCU\\Software\\VelmoraTest A=", &out)) << out;
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, key, L"A"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, key, L"B"));
    DeleteKey(HKEY_CURRENT_USER, key);
}

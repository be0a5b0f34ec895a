// The timeout pages "Batterie", "Extern" and "Nachricht" driven inside the applet's own message
// loop: arrows pressed with the mouse, boxes clicked, texts read back, and what OK saves read
// from the device. The applet's code is linked in, so that every opening detects the device
// profile afresh (detection that finds nothing keeps the profile of the opening before).
#include <windows.h>
#include <gtest/gtest.h>
#include <commctrl.h>
#include <cpl.h>
#include <functional>
#include <string>
#include "applet.h"
#include "applet_support.h"
#include "linked_applet.h"
#include "harness.h"
#include "settings.h"
#include "wince.h"

using namespace applet_test;
using harness::Utf8;

namespace {

const HKEY CU = HKEY_CURRENT_USER;
const HKEY LM = HKEY_LOCAL_MACHINE;
constexpr wchar_t BacklightKey[] = L"ControlPanel\\Backlight";
// Keys that make the device another one; none is on the factory device.
const std::pair<HKEY, const wchar_t*> SignatureKeys[] = {
    {LM, L"Platform"},
    {LM, L"Drivers\\CASIO"},
    {LM, L"Software\\Philips"},
    {CU, L"ControlPanel\\Keybd2"},
    {CU, L"ControlPanel\\Keybd"},
};

// What each timeout tab edits on the device.
struct TabValues {
    UINT get, set;
    const wchar_t* backlight; // in BacklightKey; none on "Nachricht"
    const wchar_t* automatic;
};
const TabValues Tabs[] = {
    {},
    {SPI_GETBATTERYIDLETIMEOUT, SPI_SETBATTERYIDLETIMEOUT, L"BatteryTimeout", L"BatteryAuto"},
    {SPI_GETEXTERNALIDLETIMEOUT, SPI_SETEXTERNALIDLETIMEOUT, L"ACTimeout", L"ACAuto"},
    {SPI_GETWAKEUPIDLETIMEOUT, SPI_SETWAKEUPIDLETIMEOUT, nullptr, nullptr},
};
const wchar_t* const BacklightValues[] = {L"BatteryTimeout", L"ACTimeout", L"BatteryAuto",
                                          L"ACAuto"};

constexpr wchar_t Warning[] =
    L"Sie haben festgelegt, daß das Gerät nicht ausgeschaltet wird. Dies kann zum vollständigen "
    L"Entladen der Batterie führen. Unter ungünstigen Umständen kann dabei ein Datenverlust "
    L"auftreten.";

DWORD Saved(int tab, bool lower) {
    DWORD value = 0xDEADBEEF;
    if (!lower)
        return harness::IdleTimeout(Tabs[tab].get);
    harness::ReadDword(CU, BacklightKey, Tabs[tab].backlight, &value);
    return value;
}

void Put(int tab, bool lower, DWORD value) {
    if (lower)
        harness::WriteDword(CU, BacklightKey, Tabs[tab].backlight, value);
    else
        harness::SetIdleTimeout(Tabs[tab].set, value);
}

std::string Text(HWND page, int id) {
    return Utf8(harness::WindowText(GetDlgItem(page, id)));
}

// Number and unit as a user reads them: "2 Minuten".
std::string Shown(HWND page, bool lower) {
    return Text(page, lower ? 1073 : 1069) + " " + Text(page, lower ? 1075 : 1071);
}

// A tap on one arrow of an up-down control: the control itself tells the page.
void Press(HWND page, bool lower, char arrow) {
    HWND arrows = GetDlgItem(page, lower ? 1074 : 1070);
    RECT area = {};
    GetClientRect(arrows, &area);
    const LPARAM at =
        MAKELPARAM(area.right / 2, arrow == 'u' ? area.bottom / 4 : area.bottom * 3 / 4);
    SendMessageW(arrows, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(arrows, WM_LBUTTONUP, 0, at);
}

// The switch, number, arrows and unit of a group: "on, usable" or "off, unusable".
std::string GroupState(HWND page, bool lower) {
    const int first = lower ? 1072 : 1068;
    std::string state = IsDlgButtonChecked(page, first) == BST_CHECKED ? "on" : "off";
    for (int id = first + 1; id <= first + 2; ++id)
        state += IsWindowEnabled(GetDlgItem(page, id)) ? " enabled" : " disabled";
    return state;
}

// The lower group, heading to auto box: e = shown and usable, d = shown and disabled,
// h = hidden; then the switch and the auto box checks, then number and unit.
std::string LowerGroup(HWND page) {
    std::string states;
    for (int id : {1077, 1072, 1073, 1074, 1075, 1076}) {
        HWND control = GetDlgItem(page, id);
        states += !(GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) ? 'h'
                  : IsWindowEnabled(control)                         ? 'e'
                                                                     : 'd';
    }
    auto check = [page](int id) { return IsDlgButtonChecked(page, id) ? " on" : " off"; };
    return states + check(1072) + check(1076) + " \"" + Text(page, 1073) + "\" " + Text(page, 1075);
}

class TimeoutPages : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartLinkedApplet(true); }
    static void TearDownTestSuite() { StopLinkedApplet(true); }
    void SetUp() override {
        for (int tab = 1; tab <= 3; ++tab)
            idle_[tab] = harness::IdleTimeout(Tabs[tab].get);
        for (int i = 0; i < 4; ++i)
            had_[i] = harness::ReadDword(CU, BacklightKey, BacklightValues[i], &backlight_[i]);
        AppletSettings.DeviceProfile = ProfileGeneric;
    }
    void TearDown() override {
        EXPECT_EQ(nullptr, FindMainWindow()) << "the applet window outlived its test";
        for (const auto& [root, key] : SignatureKeys)
            harness::DeleteKey(root, key);
        for (int tab = 1; tab <= 3; ++tab)
            harness::SetIdleTimeout(Tabs[tab].set, idle_[tab]);
        for (int i = 0; i < 4; ++i)
            if (had_[i])
                harness::WriteDword(CU, BacklightKey, BacklightValues[i], backlight_[i]);
            else
                harness::DeleteValue(CU, BacklightKey, BacklightValues[i]);
        AppletSettings.DeviceProfile = ProfileGeneric;
    }
    // Opens the applet on `tab`, runs `drive` on that page and confirms with OK.
    static void OnPage(int tab, const std::function<void(HWND main, HWND page)>& drive) {
        OpenAndDrive(CPlApplet, nullptr, tab, [&](HWND main) {
            HWND page = PageOfTab(HostDialogOf(main), tab);
            EXPECT_NE(nullptr, page) << "tab " << tab;
            if (page)
                drive(main, page);
            SendMessageW(main, WM_COMMAND, IDOK, 0);
        });
    }

  private:
    DWORD idle_[4] = {};
    DWORD backlight_[4] = {};
    bool had_[4] = {};
};

} // namespace

TEST_F(TimeoutPages, ShowSecondsAndWholeMinutesStepOnTheLadderAndSaveWhatIsShown) {
    const struct {
        int tab;
        bool lower; // the backlight group
        DWORD start;
        const char* presses; // u: upper arrow, d: lower arrow
        const char* shown;
        DWORD saved;
    } cases[] = {
        // As loaded: the display is rounded down, the value keeps its seconds.
        {1, false, 15, "", "15 Sekunden", 15},
        {1, false, 59, "", "59 Sekunden", 59},
        {2, false, 60, "", "1 Minute", 60},
        {3, false, 61, "", "1 Minuten", 61},
        {1, false, 90, "", "1 Minuten", 90},
        {1, true, 119, "", "1 Minuten", 119},
        {2, true, 120, "", "2 Minuten", 120},
        // One step each way.
        {1, false, 10, "u", "25 Sekunden", 25},
        {1, false, 10, "d", "15 Sekunden", 15},
        {2, false, 15, "u", "30 Sekunden", 30},
        {2, false, 15, "d", "15 Sekunden", 15},
        {3, false, 45, "u", "1 Minute", 60},
        {3, false, 45, "d", "30 Sekunden", 30},
        {1, true, 59, "u", "1 Minuten", 74},
        {1, true, 59, "d", "44 Sekunden", 44},
        {2, true, 60, "u", "2 Minuten", 120},
        {2, true, 60, "d", "45 Sekunden", 45},
        {1, false, 61, "u", "2 Minuten", 121},
        {1, false, 61, "d", "15 Sekunden", 15},
        {2, false, 90, "u", "2 Minuten", 150},
        {2, false, 90, "d", "30 Sekunden", 30},
        {3, false, 120, "u", "3 Minuten", 180},
        {3, false, 120, "d", "1 Minute", 60},
        // The ladder, and values off it.
        {1, false, 15, "uuuu", "2 Minuten", 120},
        {1, false, 180, "ddddd", "15 Sekunden", 15},
        {2, true, 1, "u", "16 Sekunden", 16},
        // Near the top a step up stays at the largest value instead of wrapping.
        {1, false, 0xFFFFFFF0, "u", "71582788 Minuten", 0xFFFFFFFF},
        {2, true, 0xFFFFFFFF, "uu", "71582788 Minuten", 0xFFFFFFFF},
        {3, false, 0xFFFFFFFF, "d", "71582787 Minuten", 0xFFFFFFC3},
    };
    harness::MessageBoxCatcher boxes(IDOK);
    for (const auto& c : cases) {
        const std::string what = "tab " + std::to_string(c.tab) + (c.lower ? " backlight " : " ") +
                                 std::to_string(c.start) + " then \"" + c.presses + "\"";
        Put(c.tab, c.lower, c.start);
        std::string shown;
        OnPage(c.tab, [&](HWND, HWND page) {
            for (const char* arrow = c.presses; *arrow; ++arrow)
                Press(page, c.lower, *arrow);
            shown = Shown(page, c.lower);
        });
        EXPECT_EQ(c.shown, shown) << what;
        EXPECT_EQ(c.saved, Saved(c.tab, c.lower)) << what;
    }
    EXPECT_TRUE(boxes.boxes().empty()) << "a box for a value that is not 0";
}

TEST_F(TimeoutPages, EveryPageOfOneOpeningSavesIntoItsOwnValuesWhicheverTabShows) {
    // One step up from a start of its own each, so that a value saved in another's place shows.
    const struct {
        int tab;
        bool lower;
        DWORD start, saved;
    } values[] = {{1, false, 60, 120},
                  {1, true, 15, 30},
                  {2, false, 90, 150},
                  {2, true, 45, 60},
                  {3, false, 120, 180}};
    for (const auto& v : values)
        Put(v.tab, v.lower, v.start);
    OpenAndDrive(CPlApplet, nullptr, 2, [&](HWND main) {
        HWND host = HostDialogOf(main);
        for (int tab : {0, 1, 4, 3, 2, 5})
            SelectTab(host, tab);
        for (const auto& v : values) // while "Sperre" shows
            Press(PageOfTab(host, v.tab), v.lower, 'u');
        SendMessageW(main, WM_COMMAND, IDOK, 0);
    });
    for (const auto& v : values)
        EXPECT_EQ(v.saved, Saved(v.tab, v.lower))
            << "tab " << v.tab << (v.lower ? ", backlight" : "");
}

TEST_F(TimeoutPages, ZeroIsOffAndWarnsOnBatteryAndWakeUpOnlySwitchingOnStartsAt15) {
    const struct {
        int tab;
        size_t warnings; // at opening and when switched off again
    } cases[] = {{1, 2}, {2, 0}, {3, 2}};
    for (const auto& c : cases) {
        const std::string what = "tab " + std::to_string(c.tab);
        const bool lower = Tabs[c.tab].backlight != nullptr;
        for (int tab = 1; tab <= 3; ++tab)
            Put(tab, false, 0);
        Put(1, true, 0), Put(2, true, 0);
        harness::MessageBoxCatcher boxes(IDOK);
        HWND owner = nullptr;
        OnPage(c.tab, [&](HWND main, HWND page) {
            owner = main;
            EXPECT_EQ(c.warnings / 2, boxes.boxes().size()) << what << ": at opening";
            EXPECT_EQ("off disabled disabled", GroupState(page, false)) << what;
            EXPECT_EQ("0 Sekunden", Shown(page, false)) << what;
            if (lower) {
                EXPECT_EQ("off disabled disabled", GroupState(page, true)) << what;
                EXPECT_EQ("0 Sekunden", Shown(page, true)) << what;
            }
            HWND idleSwitch = GetDlgItem(page, 1068);
            SendMessageW(idleSwitch, BM_CLICK, 0, 0);
            EXPECT_EQ("on enabled enabled", GroupState(page, false)) << what;
            EXPECT_EQ("15 Sekunden", Shown(page, false)) << what;
            Press(page, false, 'u');
            SendMessageW(idleSwitch, BM_CLICK, 0, 0);
            EXPECT_EQ("off disabled disabled", GroupState(page, false)) << what;
            EXPECT_EQ("0 Sekunden", Shown(page, false)) << what;
            EXPECT_EQ(c.warnings, boxes.boxes().size()) << what << ": after switching off";
            SendMessageW(idleSwitch, BM_CLICK, 0, 0);
            EXPECT_EQ("15 Sekunden", Shown(page, false)) << what << ": not the 30 it had";
            if (lower) {
                SendMessageW(GetDlgItem(page, 1072), BM_CLICK, 0, 0);
                EXPECT_EQ("on enabled enabled", GroupState(page, true)) << what;
                EXPECT_EQ("15 Sekunden", Shown(page, true)) << what;
            }
        });
        EXPECT_EQ(15u, Saved(c.tab, false)) << what;
        if (lower) {
            EXPECT_EQ(15u, Saved(c.tab, true)) << what;
        }
        ASSERT_EQ(c.warnings, boxes.boxes().size()) << what << ": the backlight never warns";
        for (const auto& box : boxes.boxes()) {
            EXPECT_EQ("Velmora Zilp", Utf8(box.caption)) << what;
            EXPECT_EQ(Utf8(Warning), Utf8(box.text)) << what;
            EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.flags) << what;
            EXPECT_EQ(owner, box.owner) << what << ": the page's window";
        }
    }
}

TEST_F(TimeoutPages, TheLowerGroupFollowsTheDeviceProfile) {
    const auto keybd2 = [](DWORD timeout, DWORD automatic) {
        const wchar_t* key = L"ControlPanel\\Keybd2";
        harness::WriteDword(CU, key, L"TimeOut", timeout);
        harness::WriteDword(CU, key, L"Auto", automatic);
        for (const wchar_t* name : {L"FromCtlpnl", L"Contrast", L"Brightness"})
            harness::WriteDword(CU, key, name, 1);
        BYTE zone[172] = {};
        harness::WriteValue(CU, key, L"TimeZoneInformation", REG_BINARY, zone, sizeof zone);
        for (const wchar_t* name :
             {L"Brightness", L"Contrast", L"RepeatRate", L"DispDly", L"InitialDelay"})
            harness::WriteDword(CU, L"ControlPanel\\Keybd", name, 1);
    };
    const auto platform = [](const std::wstring& name) {
        harness::WriteValue(LM, L"Platform", L"Name", REG_SZ, name.c_str(),
                            static_cast<DWORD>((name.size() + 1) * sizeof(wchar_t)));
    };
    const struct {
        const char* device;
        std::function<void()> put;
        const char* battery; // LowerGroup of "Batterie"
        const char* external;
    } cases[] = {
        {"generic, auto values", [] { harness::WriteDword(CU, BacklightKey, L"ACAuto", 0); },
         "eeeeee on on \"30\" Sekunden", "eeeeee on off \"1\" Minute"},
        {"generic, no auto value",
         [] {
             harness::DeleteValue(CU, BacklightKey, L"ACAuto");
             harness::WriteDword(CU, BacklightKey, L"BatteryTimeout", 0);
         },
         "eeddeh off off \"0\" Sekunden", "eeeeeh on off \"1\" Minute"},
        {"reference platform without backlight key",
         [&] {
             harness::DeleteKey(CU, BacklightKey);
             platform(L"Microsoft PeRP Version 1.0a");
             harness::WriteDword(LM, L"Platform", L"Type", 2);
             harness::WriteDword(LM, L"Platform", L"Target", 1);
         },
         "dddddh off off \"\" Minuten", "dddddh off off \"\" Minuten"},
        {"profile 1", [&] { keybd2(45, 1); }, "eeeeee on on \"45\" Sekunden",
         "hhhhhh off off \"\" Minuten"},
        {"profile 2", [&] { keybd2(600, 0), platform(L"LG HPC Ver2.5"); },
         "eeeeee on off \"10\" Minuten", "hhhhhh off off \"\" Minuten"},
        {"profile 3",
         [] {
             const wchar_t* key = L"Drivers\\CASIO\\BackLight";
             harness::WriteDword(LM, key, L"TimeoutBattery", 120);
             harness::WriteDword(LM, key, L"TimeoutExPower", 180);
             for (const wchar_t* name : {L"BrightExPower", L"BrightBattery", L"Contrast"})
                 harness::WriteDword(LM, key, name, 1);
         },
         "eeeeeh on off \"2\" Minuten", "eeeeeh on off \"3\" Minuten"},
        {"profile 4",
         [] {
             harness::WriteDword(LM, L"Software\\Philips\\Backlight", L"BatteryTimeout", 0);
             harness::WriteDword(LM, L"Software\\Philips\\Backlight", L"ACTimeout", 90);
         },
         "eeddeh off off \"0\" Sekunden", "eeeeeh on off \"1\" Minuten"},
    };
    for (const auto& c : cases) {
        TearDown(); // the factory device again, profile 0
        c.put();
        std::string battery, external;
        OpenAndDrive(CPlApplet, nullptr, 1, [&](HWND main) {
            HWND host = HostDialogOf(main);
            battery = LowerGroup(PageOfTab(host, 1));
            SelectTab(host, 2);
            external = LowerGroup(PageOfTab(host, 2));
            SendMessageW(main, WM_CLOSE, 0, 0);
        });
        EXPECT_EQ(c.battery, battery) << c.device << ", Batterie";
        EXPECT_EQ(c.external, external) << c.device << ", Extern";
    }
}

TEST_F(TimeoutPages, TheAutoBoxSetsTheFlagOfItsOwnPage) {
    harness::WriteDword(CU, BacklightKey, L"BatteryAuto", 1);
    harness::WriteDword(CU, BacklightKey, L"ACAuto", 0);
    OnPage(1, [](HWND main, HWND battery) {
        SendMessageW(GetDlgItem(battery, 1076), BM_CLICK, 0, 0);
        HWND host = HostDialogOf(main);
        SelectTab(host, 2);
        HWND external = PageOfTab(host, 2);
        SendMessageW(GetDlgItem(external, 1076), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(external, 1076), BM_CLICK, 0, 0);
        SendMessageW(GetDlgItem(external, 1076), BM_CLICK, 0, 0);
    });
    DWORD battery = 9, external = 9;
    harness::ReadDword(CU, BacklightKey, L"BatteryAuto", &battery);
    harness::ReadDword(CU, BacklightKey, L"ACAuto", &external);
    EXPECT_EQ(0u, battery) << "BatteryAuto: checked, then unchecked once";
    EXPECT_EQ(1u, external) << "ACAuto: unchecked, then clicked three times";
}

TEST_F(TimeoutPages, ANumberFieldTappedAndTypedIntoKeepsNoFocusAndNoText) {
    Put(1, false, 120), Put(1, true, 45);
    OnPage(1, [](HWND, HWND page) {
        for (int id : {1069, 1073}) {
            HWND field = GetDlgItem(page, id);
            const std::string before = Text(page, id);
            // A tap and a key press, as the device's input delivers them.
            RECT area = {};
            GetClientRect(field, &area);
            const LPARAM at = MAKELPARAM(area.right / 2, area.bottom / 2);
            PostMessageW(field, WM_LBUTTONDOWN, MK_LBUTTON, at);
            PostMessageW(field, WM_LBUTTONUP, 0, at);
            harness::Pump(100);
            EXPECT_NE(field, GetFocus()) << "field " << id << " took the focus";
            if (HWND focus = GetFocus()) {
                PostMessageW(focus, WM_KEYDOWN, '7', 1);
                PostMessageW(focus, WM_CHAR, '7', 1);
                PostMessageW(focus, WM_KEYUP, '7', 0xC0000001);
                harness::Pump(100);
            }
            EXPECT_EQ(before, Text(page, id)) << "field " << id;
        }
    });
    EXPECT_EQ(120u, Saved(1, false));
    EXPECT_EQ(45u, Saved(1, true));
}

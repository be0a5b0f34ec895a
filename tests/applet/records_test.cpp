// The applet's frame linked into the test program, so that its module-wide records can be
// read where behaviour alone does not show them: the shared fonts and icons, the timeout
// binding, and the notifier refresh that depends on the lock icon setting.
#include <windows.h>
#include <gtest/gtest.h>
#include <cpl.h>
#include "applet.h"
#include "applet_support.h"
#include "linked_applet.h"
#include "harness.h"
#include "page_table.h"
#include "settings.h"

using namespace applet_test;

namespace {

class AppletRecords : public testing::Test {
  protected:
    static void SetUpTestSuite() { StartLinkedApplet(false); }
    static void TearDownTestSuite() { StopLinkedApplet(false); }
    void TearDown() override { EXPECT_EQ(nullptr, FindMainWindow()); }
};

std::wstring FaceOf(HFONT font, LOGFONTW* description) {
    *description = {};
    GetObjectW(font, sizeof *description, description);
    return description->lfFaceName;
}

} // namespace

TEST_F(AppletRecords, FontsAndBatteryIconsLiveFromTheFirstInitToTheLastExit) {
    ASSERT_EQ(0, InitCount);
    EXPECT_EQ(1, CPlApplet(nullptr, CPL_INIT, 0, 0));
    const SharedResourcesRecord first = SharedResources;
    EXPECT_EQ(1, CPlApplet(nullptr, CPL_INIT, 0, 0));
    EXPECT_EQ(first.LabelFont, SharedResources.LabelFont) << "a second CPL_INIT only counts";

    const struct {
        HFONT font;
        LONG weight;
    } fonts[] = {{first.LabelFont, FW_BOLD}, {first.TextFont, FW_NORMAL}};
    for (const auto& f : fonts) {
        ASSERT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(f.font));
        LOGFONTW description;
        EXPECT_EQ(L"Tahoma", FaceOf(f.font, &description));
        EXPECT_EQ(12, description.lfHeight);
        EXPECT_EQ(f.weight, description.lfWeight);
        EXPECT_EQ(FF_SWISS, description.lfPitchAndFamily & 0xF0);
    }
    const int order[] = {446, 445, 444, 443, 442, 447, 441};
    for (int i = 0; i < BatteryIconCount; ++i)
        EXPECT_EQ(LoadIconW(AppletWindows.Instance, MAKEINTRESOURCEW(order[i])),
                  first.BatteryIcons[i])
            << "battery icon " << i << " is resource " << order[i];

    EXPECT_EQ(0, CPlApplet(nullptr, CPL_EXIT, 0, 0));
    EXPECT_EQ(static_cast<DWORD>(OBJ_FONT), GetObjectType(first.LabelFont)) << "count 1 left";
    EXPECT_EQ(0, CPlApplet(nullptr, CPL_EXIT, 0, 0));
    EXPECT_EQ(0u, GetObjectType(first.LabelFont)) << "label font deleted at the last exit";
    EXPECT_EQ(0u, GetObjectType(first.TextFont)) << "text font deleted at the last exit";
    EXPECT_EQ(nullptr, SharedResources.BatteryIcons[0]);
    EXPECT_EQ(nullptr, SharedResources.BatteryIcons[6]);

    // An exit without its init counts below zero and releases nothing twice.
    EXPECT_EQ(0, CPlApplet(nullptr, CPL_EXIT, 0, 0));
    EXPECT_EQ(-1, InitCount);
    EXPECT_EQ(nullptr, SharedResources.LabelFont);
    InitCount = 0;
}

TEST_F(AppletRecords, EachTimeoutPageKeepsTheBindingOfItsOwnTab) {
    struct Binding {
        DWORD* idle;
        DWORD* backlight;
        DWORD* automatic;
        bool warn;
        PowerState power;
    };
    const Binding expected[PageCount] = {
        {},
        {&AppletSettings.BatteryIdleTimeout, &AppletSettings.BacklightBatteryTimeout,
         &AppletSettings.BacklightBatteryAuto, true, PowerState::Battery},
        {&AppletSettings.ExternalIdleTimeout, &AppletSettings.BacklightExternalTimeout,
         &AppletSettings.BacklightExternalAuto, false, PowerState::External},
        {&AppletSettings.WakeupIdleTimeout, nullptr, nullptr, true, PowerState::Wakeup},
    };
    // Every timeout page made so far keeps its own, whichever tab was chosen last.
    const int steps[] = {2, 0, 1, 4, 2, 3, 5, 0, 1};
    CPlApplet(nullptr, CPL_INIT, 0, 0);
    OpenAndDrive(CPlApplet, nullptr, 0, [&](HWND main) {
        HWND host = HostDialogOf(main);
        for (int step : steps) {
            SelectTab(host, step);
            for (int tab = 1; tab <= 3; ++tab) {
                HWND page = AppletWindows.PageWindows[tab];
                if (!page)
                    continue;
                const TimeoutBindingRecord& b = PageRowOf(page)->Binding;
                const std::string what =
                    "page " + std::to_string(tab) + " after tab " + std::to_string(step);
                EXPECT_EQ(expected[tab].idle, b.IdleTimeout) << what;
                EXPECT_EQ(expected[tab].backlight, b.BacklightTimeout) << what;
                EXPECT_EQ(expected[tab].automatic, b.BacklightAuto) << what;
                EXPECT_EQ(expected[tab].warn, b.WarnOnZero) << what;
                EXPECT_EQ(static_cast<int>(expected[tab].power), static_cast<int>(b.Power)) << what;
            }
        }
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
    CPlApplet(nullptr, CPL_EXIT, 0, 0);
}

TEST_F(AppletRecords, OkStartsTheNotifierWithUpdateAfterTheSaveOnlyWhileTheLockIconIsWanted) {
    constexpr DWORD Unchanged = 2;
    const struct {
        DWORD atLoad;    // in the Settings key when the window opens
        DWORD whileOpen; // set in the copy as the lock page does, or Unchanged
        WPARAM command;
        std::vector<std::string> started, keyAtStart;
    } cases[] = {
        {1, Unchanged, IDOK, {"Ostrelle.exe|UPDATE"}, {"Ostrelle.exe|ShowLockIcon=1"}},
        // Saved before the start: the notifier finds the new value.
        {0, 1, IDOK, {"Ostrelle.exe|UPDATE"}, {"Ostrelle.exe|ShowLockIcon=1"}},
        {1, 0, IDOK, {}, {}},
        {0, Unchanged, IDOK, {}, {}},
        {1, Unchanged, IDCANCEL, {}, {}},
    };
    for (const auto& c : cases) {
        ProgramRecorder recorder;
        harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon",
                            c.atLoad);
        OpenAndDrive(CPlApplet, nullptr, 5, [&](HWND main) {
            if (c.whileOpen != Unchanged)
                AppletSettings.ShowLockIcon = c.whileOpen;
            SendMessageW(main, WM_COMMAND, c.command, 0);
        });
        const std::string what = "ShowLockIcon " + std::to_string(c.atLoad) + " then " +
                                 std::to_string(c.whileOpen) + ", command " +
                                 std::to_string(c.command);
        EXPECT_EQ(c.started, recorder.StartedAfter(2000)) << what;
        EXPECT_EQ(c.keyAtStart, recorder.KeyAtStart()) << what;
    }
    harness::WriteDword(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", L"ShowLockIcon", 0);
}

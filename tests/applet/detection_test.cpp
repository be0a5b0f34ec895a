// The applet's detection of the device's make, against devices told what they are by the device
// tool and sharing no code with the applet: powerg.cpl loaded afresh for each make (the applet
// keeps the make it detected last), opened on "Batterie", and its lower groups read back.
#include <windows.h>
#include <gtest/gtest.h>
#include <cpl.h>
#include <string>
#include "applet_support.h"
#include "harness.h"

using namespace applet_test;
using harness::Utf8;

namespace {

// The lower group of a timeout page as a user sees it: "hidden", "disabled", or the time shown
// and, where the auto box shows, "+auto".
std::string LowerGroup(HWND page) {
    HWND sw = GetDlgItem(page, 1072);
    if (!IsWindowVisible(sw))
        return "hidden";
    if (!IsWindowEnabled(sw))
        return "disabled";
    std::string shown = Utf8(harness::WindowText(GetDlgItem(page, 1073))) + " " +
                        Utf8(harness::WindowText(GetDlgItem(page, 1075)));
    return IsWindowVisible(GetDlgItem(page, 1076)) ? shown + " +auto" : shown;
}

struct Seen {
    std::string battery, external;
};

Seen OpenOnEveryLowerGroup(HWND host) {
    Seen seen = {"not opened", "not opened"};
    HMODULE library = LoadLibraryW((harness::WindowsDir() + L"\\powerg.cpl").c_str());
    auto entry = reinterpret_cast<AppletEntry>(
        reinterpret_cast<void*>(GetProcAddress(library, "CPlApplet")));
    if (!entry) {
        FreeLibrary(library);
        return seen;
    }
    entry(host, CPL_INIT, 0, 0);
    OpenAndDrive(entry, host, 1, [&](HWND main) {
        HWND dialog = HostDialogOf(main);
        seen.battery = LowerGroup(PageOfTab(dialog, 1));
        SelectTab(dialog, 2);
        seen.external = LowerGroup(PageOfTab(dialog, 2));
        SendMessageW(main, WM_CLOSE, 0, 0);
    });
    entry(host, CPL_EXIT, 0, 0);
    FreeLibrary(library);
    return seen;
}

} // namespace

TEST(AppletDetection, EachMakeOfDeviceShowsItsOwnBacklightTimes) {
    // The devices' factory times differ by make: what is shown tells which key was read.
    const struct {
        const wchar_t* model;
        Seen expected;
    } cases[] = {
        {L"generic", {"30 Sekunden +auto", "1 Minute +auto"}},
        {L"keybd2", {"45 Sekunden +auto", "hidden"}},
        {L"lg", {"1 Minuten +auto", "hidden"}},
        {L"casio", {"2 Minuten", "3 Minuten"}},
        {L"philips", {"4 Minuten", "5 Minuten"}},
        {L"none", {"disabled", "disabled"}},
    };
    InitHostControls();
    PrepareRegistry();
    harness::MessageBoxCatcher boxes(IDOK); // a make not recognised fails its opening with one
    HWND host = CreateWindowExW(0, L"Static", L"host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                nullptr, nullptr);
    for (const auto& c : cases) {
        const std::string model = Utf8(c.model);
        std::string said;
        const int told = harness::RunDevtool(std::wstring(L"model ") + c.model, &said);
        EXPECT_EQ(0, told) << model << ": " << said;
        if (told != 0)
            continue;
        const Seen seen = OpenOnEveryLowerGroup(host);
        EXPECT_EQ(c.expected.battery, seen.battery) << model << ": Batterie";
        EXPECT_EQ(c.expected.external, seen.external) << model << ": Extern";
    }
    // The factory's make again, whatever failed: later tests expect its keys.
    EXPECT_EQ(0, harness::RunDevtool(L"model generic"));
    DestroyWindow(host);
    RestoreRegistry();
}

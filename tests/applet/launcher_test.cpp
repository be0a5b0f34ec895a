// The launcher starts the control-panel host with the applet's first page and ends with 0.
#include <gtest/gtest.h>
#include "applet_support.h"
#include "harness.h"

using namespace applet_test;

TEST(Launcher, StartsTheHostOnTheAppletsFirstPageAndEndsWithZero) {
    ProgramRecorder recorder; // holds a ctlpnl.exe that records its command line
    const std::wstring launcher = harness::WindowsDir() + L"\\launcher.exe";
    EXPECT_EQ(0, harness::Run(launcher, L"ignored words", 20000, recorder.dir()));
    std::vector<std::string> expected = {"ctlpnl.exe|powerg.cpl,0,0"};
    EXPECT_EQ(expected, recorder.Started(1));
    EXPECT_EQ(expected, recorder.StartedAfter(1000)) << "started once";
}

TEST(Launcher, EndsWithZeroWhenTheHostCannotBeStarted) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring empty = std::wstring(temp) + L"velmora-no-host";
    CreateDirectoryW(empty.c_str(), nullptr);
    EXPECT_EQ(0, harness::Run(harness::WindowsDir() + L"\\launcher.exe", L"", 20000, empty));
    RemoveDirectoryW(empty.c_str());
}

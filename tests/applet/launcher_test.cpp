// The launcher starts the control-panel host with the applet's first page and ends with 0.
#include <windows.h>
#include <tlhelp32.h>
#include <gtest/gtest.h>
#include <string>
#include <vector>
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

namespace {

// The programs still running that `parent` started; each is ended once it is named.
std::vector<std::string> EndChildrenOf(DWORD parent) {
    std::vector<std::string> names;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        if (entry.th32ParentProcessID != parent)
            continue;
        names.push_back(harness::Utf8(entry.szExeFile));
        if (HANDLE child = OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID)) {
            TerminateProcess(child, 1);
            CloseHandle(child);
        }
    }
    CloseHandle(snapshot);
    return names;
}

} // namespace

// No host in the current directory: the launcher starts nothing in its stead, shows nothing and
// still ends with 0.
TEST(Launcher, EndsWithZeroWhenTheHostCannotBeStarted) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring empty = std::wstring(temp) + L"velmora-no-host";
    CreateDirectoryW(empty.c_str(), nullptr);
    harness::Process launcher =
        harness::Start(harness::WindowsDir() + L"\\launcher.exe", L"", empty);
    ASSERT_TRUE(launcher.started());
    DWORD code = 259;
    EXPECT_TRUE(launcher.WaitExit(20000, &code)) << "the launcher still runs after 20 s";
    EXPECT_EQ(0u, code);
    EXPECT_EQ(nullptr, harness::WaitWindow(MainClass, 2000)) << "an applet window opened";
    EXPECT_EQ(std::vector<std::string>{}, EndChildrenOf(launcher.pid()))
        << "programs the launcher started";
    RemoveDirectoryW(empty.c_str());
}

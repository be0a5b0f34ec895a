// The control-panel host ctlpnl.exe driving a test applet: message order and answers, the
// misaligned record, bad command lines, and the "Einstellungen" list.
#include <gtest/gtest.h>
#include <string>
#include "harness.h"

using namespace harness;

namespace {

const std::wstring AppletKey = L"Software\\VelmoraTest\\Applet";

std::wstring TestBinDir() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring dir = self;
    return dir.substr(0, dir.find_last_of(L'\\'));
}

std::wstring AppletLog() {
    wchar_t log[4096] = L"";
    DWORD size = sizeof log;
    RegGetValueW(HKEY_CURRENT_USER, AppletKey.c_str(), L"Log", RRF_RT_REG_SZ, nullptr, log, &size);
    return log;
}

class Host : public testing::Test {
  protected:
    void SetUp() override {
        for (const wchar_t* file : {L"testapplet.cpl", L"noentry.cpl"})
            CopyFileW((TestBinDir() + L"\\" + file).c_str(), (WindowsDir() + L"\\" + file).c_str(),
                      FALSE);
        DeleteKey(HKEY_CURRENT_USER, AppletKey);
    }
    void TearDown() override {
        for (const wchar_t* file : {L"testapplet.cpl", L"noentry.cpl"})
            DeleteFileW((WindowsDir() + L"\\" + file).c_str());
        DeleteKey(HKEY_CURRENT_USER, L"Software\\VelmoraTest");
    }
};

} // namespace

TEST_F(Host, DrivesTheAppletInProtocolOrderWithAMisalignedRecord) {
    // The file as it is, and quoted: a quoted first word is no program path to drop.
    for (const wchar_t* line : {L"testapplet.cpl,1,3", L"\"testapplet.cpl\",1,3"}) {
        SCOPED_TRACE(Utf8(line));
        DeleteKey(HKEY_CURRENT_USER, AppletKey);
        Process host = Start(L"ctlpnl.exe", line);
        DWORD code = 99;
        ASSERT_TRUE(host.WaitExit(20000, &code));
        EXPECT_EQ(0u, code);
        // INIT, GETCOUNT, NEWINQUIRE for both applets at an address 2 mod 4, DBLCLK for
        // applet 1 with page 3 in the high word and its lData, STOP for each, EXIT.
        EXPECT_EQ(L"1(0,0,host);2(0,0,host);8(0,align2);8(1,align2);5(30001,101,host);"
                  L"6(0,100,host);6(1,101,host);7(0,0,host);",
                  AppletLog());
    }
}

TEST_F(Host, BadCommandLinesGetAGermanMessageAndANonZeroExit) {
    const struct {
        const wchar_t* line;
        DWORD initResult;
        DWORD exitCode;
        const wchar_t* textPart;
        const wchar_t* log; // what the applet saw
    } cases[] = {
        {L"fehlt.cpl,0,0", 1, 3, L"nicht gefunden", L""},
        {L"noentry.cpl,0,0", 1, 4, L"keine Systemsteuerungsoption", L""},
        {L"testapplet.cpl,x,0", 1, 2, L"Ungültige Befehlszeile", L""},
        {L"testapplet.cpl,0,-1", 1, 2, L"Ungültige Befehlszeile", L""},
        {L"testapplet.cpl,0,0,0", 1, 2, L"Ungültige Befehlszeile", L""},
        {L",0,0", 1, 2, L"Ungültige Befehlszeile", L""},
        {L"\"testapplet.cpl\",x,0", 1, 2, L"Befehlszeile \"\"testapplet.cpl\",x,0\"", L""},
        {L"\"fehlt.cpl\" 0", 1, 3, L"Datei \"fehlt.cpl\" 0 wurde", L""},
        {L"..\\testapplet.cpl,0,0", 1, 3, L"nicht gefunden", L""},
        {L"testapplet.cpl,2,0", 1, 6, L"kein Element 2",
         L"1(0,0,host);2(0,0,host);8(0,align2);8(1,align2);6(0,100,host);6(1,101,host);"
         L"7(0,0,host);"},
        {L"testapplet.cpl,0,0", 0, 5, L"nicht gestartet", L"1(0,0,host);"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Utf8(c.line));
        DeleteKey(HKEY_CURRENT_USER, AppletKey);
        WriteDword(HKEY_CURRENT_USER, AppletKey, L"InitResult", c.initResult);
        Process host = Start(L"ctlpnl.exe", c.line);
        HWND box = WaitMessageBox(host.pid(), 15000);
        ASSERT_NE(nullptr, box) << "no message box";
        MessageBoxInfo info = ReadMessageBox(box);
        EXPECT_NE(std::wstring::npos, info.text.find(c.textPart))
            << "expected a text with \"" << Utf8(c.textPart) << "\", actual \"" << Utf8(info.text)
            << "\"";
        EXPECT_EQ(L"Systemsteuerung", info.caption);
        AnswerBox(box, IDOK);
        DWORD code = 0;
        ASSERT_TRUE(host.WaitExit(15000, &code));
        EXPECT_EQ(c.exitCode, code);
        EXPECT_EQ(std::wstring(c.log), AppletLog());
    }
}

TEST_F(Host, WithoutACommandLineListsTheAppletsAndATapOpensOne) {
    Process host = Start(L"ctlpnl.exe", L"");
    HWND window = WaitWindow(L"CtlPnlSettings", 15000, host.pid());
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(L"Einstellungen", WindowText(window));
    // The window shows before it has looked at every .cpl.
    HWND list = nullptr;
    WaitFor(
        [&] {
            list = GetDlgItem(window, 100);
            return list && IsWindowVisible(window) && SendMessageW(list, LB_GETCOUNT, 0, 0) > 0;
        },
        15000);
    ASSERT_NE(nullptr, list);
    // Every applet of every .cpl in \Windows is a row; find the test applet's second one.
    int rows = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
    int row = -1;
    for (int i = 0; i < rows; ++i) {
        wchar_t text[64] = L"";
        SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
        if (std::wstring(text) == L"Test 1")
            row = i;
    }
    ASSERT_NE(-1, row) << rows << " rows, none \"Test 1\"";
    DeleteKey(HKEY_CURRENT_USER, AppletKey); // only what the tap brings
    SendMessageW(list, LB_SETCURSEL, row, 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(100, LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
    EXPECT_TRUE(WaitFor([] { return AppletLog().find(L"7(") != std::wstring::npos; }, 15000));
    EXPECT_NE(std::wstring::npos, AppletLog().find(L"5(1,101,host);"))
        << "expected applet 1 opened on page 0, log: " << Utf8(AppletLog());
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(host.WaitExit(10000));
}

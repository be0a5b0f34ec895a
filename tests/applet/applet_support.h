// Helpers for the applet's tests: opening the applet and driving it from inside its own
// message loop, finding its windows, recording what its pages receive, and a folder of
// stand-in programs that record how the applet starts them.
#pragma once
#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

namespace applet_test {

using AppletEntry = LONG(APIENTRY*)(HWND, UINT, LPARAM, LPARAM);

constexpr wchar_t MainClass[] = L"CPL_Velmora (Zilp)";
constexpr wchar_t MainTitle[] = L"Velmora Zilp";
constexpr int TabControlId = 2000;

// The common controls the control-panel host makes available before the applet runs.
void InitHostControls();

// Saving on OK creates the Settings key; RestoreRegistry takes it away again when it did not
// exist at PrepareRegistry, so that later test programs find the device as it was.
void PrepareRegistry();
void RestoreRegistry();

// powerg.cpl of \Windows hosted in this process as the control-panel host holds it: the host
// controls, the registry prepared, a host window, the library loaded and CPL_INIT sent (entry
// stays null when the file has no CPlApplet). Unhosting sends CPL_EXIT and undoes the rest.
struct HostedApplet {
    HMODULE library = nullptr;
    AppletEntry entry = nullptr;
    HWND host = nullptr;
};
HostedApplet HostApplet();
void UnhostApplet(const HostedApplet& applet);

// A suite whose tests share one hosted applet, hosted before the first and unhosted after the
// last; a test fails at once without the applet's entry.
class HostedAppletSuite : public testing::Test {
  protected:
    static void SetUpTestSuite() { Applet = HostApplet(); }
    static void TearDownTestSuite() { UnhostApplet(Applet); }
    void SetUp() override {
        ASSERT_NE(nullptr, Applet.entry) << "expected powerg.cpl in \\Windows exporting CPlApplet";
    }
    inline static HostedApplet Applet;
};

// --- the applet's windows ----------------------------------------------------------------

HWND FindMainWindow();
HWND HostDialogOf(HWND main);
HWND TabsOf(HWND host);
int SelectedTab(HWND host);
// As a tap on the tab does it: the control selects, then tells its parent.
void SelectTab(HWND host, int tab);
std::vector<HWND> PagesOf(HWND host);
// Which tab a page belongs to, told by the controls of its template; -1 if none fits.
int TabOfPage(HWND page);
HWND PageOfTab(HWND host, int tab);

// CPL_DBLCLK with `tab` in the high word of lParam1 (and `applet` in the low word); `drive`
// runs inside the applet's message loop once its window exists. A window that `drive` leaves
// open is closed after it, and after 30 s in any case. The test fails, in one line, when the
// window did not open and `drive` never ran.
LONG OpenAndDrive(AppletEntry entry, HWND host, UINT tab, const std::function<void(HWND)>& drive,
                  UINT applet = 0);
// CPL_DBLCLK where the applet must open no window; the test fails when one opens.
LONG OpenExpectingNoWindow(AppletEntry entry, HWND host, UINT tab);

// --- what windows receive ----------------------------------------------------------------

constexpr int MainWho = -1;

struct Event {
    int who; // the tab of a page, or MainWho
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool operator==(const Event& other) const {
        return who == other.who && message == other.message && wParam == other.wParam &&
               lParam == other.lParam;
    }
};
std::string Describe(const std::vector<Event>& events);

// Records WM_COMMAND and WM_DESTROY of the windows it watches, in arrival order.
class MessageLog {
  public:
    MessageLog();
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;
    void Watch(HWND window, int who);
    // The main window and every page of its host dialog.
    void WatchApplet(HWND main);
    const std::vector<Event>& events() const;
    void clear();
};

// --- started programs --------------------------------------------------------------------

// A temporary folder, made the current directory, holding the recorder under the names
// Ostrelle.exe, PegHelp.exe and ctlpnl.exe. Each start appends "NAME|COMMAND LINE".
class ProgramRecorder {
  public:
    ProgramRecorder();
    ~ProgramRecorder();
    ProgramRecorder(const ProgramRecorder&) = delete;
    ProgramRecorder& operator=(const ProgramRecorder&) = delete;
    const std::wstring& dir() const { return dir_; }
    // Waits (bounded, pumping) until `count` starts were recorded; returns all there are.
    std::vector<std::string> Started(size_t count, DWORD ms = 15000) const;
    // What was recorded after waiting `ms` for stragglers.
    std::vector<std::string> StartedAfter(DWORD ms) const;

    // For each start so far, "NAME|ShowLockIcon=VALUE" as the Settings key held it then.
    std::vector<std::string> KeyAtStart() const { return Read(L"key.log"); }

  private:
    std::vector<std::string> Read(const wchar_t* file = L"started.log") const;
    std::wstring dir_;
};

} // namespace applet_test

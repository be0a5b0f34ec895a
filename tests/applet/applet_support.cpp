#include "applet_support.h"
#include <commctrl.h>
#include <cpl.h>
#include <map>
#include "harness.h"

namespace applet_test {

void InitHostControls() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
}

namespace {

constexpr wchar_t SettingsKey[] = L"Software\\Zilp\\Velmora";
bool HadSettingsKey;

} // namespace

void PrepareRegistry() {
    HKEY h;
    HadSettingsKey = RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey, 0, KEY_READ, &h) == 0;
    if (HadSettingsKey)
        RegCloseKey(h);
}

void RestoreRegistry() {
    if (!HadSettingsKey)
        harness::DeleteKey(HKEY_CURRENT_USER, SettingsKey);
}

HostedApplet HostApplet() {
    InitHostControls();
    PrepareRegistry();
    HostedApplet applet;
    applet.host = CreateWindowExW(0, L"Static", L"host", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  nullptr, nullptr);
    applet.library = LoadLibraryW((harness::WindowsDir() + L"\\powerg.cpl").c_str());
    applet.entry = reinterpret_cast<AppletEntry>(
        reinterpret_cast<void*>(GetProcAddress(applet.library, "CPlApplet")));
    if (applet.entry)
        applet.entry(applet.host, CPL_INIT, 0, 0);
    return applet;
}

void UnhostApplet(const HostedApplet& applet) {
    if (applet.entry)
        applet.entry(applet.host, CPL_EXIT, 0, 0);
    FreeLibrary(applet.library);
    DestroyWindow(applet.host);
    RestoreRegistry();
}

// --- the applet's windows ----------------------------------------------------------------

HWND FindMainWindow() {
    return FindWindowW(MainClass, MainTitle);
}

HWND HostDialogOf(HWND main) {
    return main ? FindWindowExW(main, nullptr, L"#32770", nullptr) : nullptr;
}

HWND TabsOf(HWND host) {
    return GetDlgItem(host, TabControlId);
}

int SelectedTab(HWND host) {
    return static_cast<int>(SendMessageW(TabsOf(host), TCM_GETCURSEL, 0, 0));
}

void SelectTab(HWND host, int tab) {
    HWND tabs = TabsOf(host);
    SendMessageW(tabs, TCM_SETCURSEL, tab, 0);
    NMHDR header = {tabs, static_cast<UINT_PTR>(TabControlId), static_cast<UINT>(TCN_SELCHANGE)};
    SendMessageW(host, WM_NOTIFY, TabControlId, reinterpret_cast<LPARAM>(&header));
}

std::vector<HWND> PagesOf(HWND host) {
    std::vector<HWND> pages;
    for (HWND child = GetWindow(host, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (harness::ClassOf(child) == L"#32770")
            pages.push_back(child);
    return pages;
}

int TabOfPage(HWND page) {
    auto has = [page](int id) { return GetDlgItem(page, id) != nullptr; };
    if (has(1053) && has(1012))
        return 0;
    if (has(1068) && has(1077))
        return has(1021) ? 2 : 1;
    if (has(1068))
        return 3;
    if (has(1059))
        return 4;
    if (has(1081))
        return 5;
    return -1;
}

HWND PageOfTab(HWND host, int tab) {
    for (HWND page : PagesOf(host))
        if (TabOfPage(page) == tab)
            return page;
    return nullptr;
}

namespace {

struct Drive {
    const std::function<void(HWND)>* step = nullptr;
    bool done = false;
    UINT_PTR closer = 0;
};
Drive Driving;

void CALLBACK Watchdog(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND main = FindMainWindow())
        DestroyWindow(main);
}

void CALLBACK CloseLeftover(HWND, UINT, UINT_PTR timer, DWORD) {
    KillTimer(nullptr, timer);
    if (HWND main = FindMainWindow())
        PostMessageW(main, WM_CLOSE, 0, 0);
}

void CALLBACK DriveStep(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND main = FindMainWindow();
    if (!main || Driving.done)
        return; // not yet open, or a nested loop of the drive itself
    KillTimer(nullptr, timer);
    Driving.done = true;
    (*Driving.step)(main);
    // What the drive posted runs first; a window still open after that (a failed assertion)
    // ends like a close.
    Driving.closer = SetTimer(nullptr, 0, 2000, CloseLeftover);
}

} // namespace

namespace {

// CPL_DBLCLK with `drive` for the window; whether `drive` ran.
bool Open(AppletEntry entry, HWND host, UINT tab, const std::function<void(HWND)>& drive,
          UINT applet, LONG* result) {
    Driving = {&drive, false};
    UINT_PTR step = SetTimer(nullptr, 0, 20, DriveStep);
    UINT_PTR watchdog = SetTimer(nullptr, 0, 30000, Watchdog);
    *result = entry(host, CPL_DBLCLK, MAKELPARAM(applet, tab), 0);
    KillTimer(nullptr, step);
    KillTimer(nullptr, watchdog);
    if (Driving.closer)
        KillTimer(nullptr, Driving.closer); // it belongs to this opening only
    const bool ran = Driving.done;
    Driving = {};
    return ran;
}

} // namespace

LONG OpenAndDrive(AppletEntry entry, HWND host, UINT tab, const std::function<void(HWND)>& drive,
                  UINT applet) {
    LONG result = 0;
    const DWORD start = GetTickCount();
    if (!Open(entry, host, tab, drive, applet, &result))
        ADD_FAILURE() << "the applet's window did not open within 30 s (CPL_DBLCLK for tab " << tab
                      << " returned " << result << " after " << GetTickCount() - start << " ms)";
    return result;
}

LONG OpenExpectingNoWindow(AppletEntry entry, HWND host, UINT tab) {
    LONG result = 0;
    const std::function<void(HWND)> close = [](HWND main) { SendMessageW(main, WM_CLOSE, 0, 0); };
    EXPECT_FALSE(Open(entry, host, tab, close, 0, &result))
        << "expected no window for tab " << tab << ", actual: the applet's window opened";
    return result;
}

// --- what windows receive ----------------------------------------------------------------

namespace {

struct Watched {
    WNDPROC original;
    int who;
};
std::map<HWND, Watched>* WatchedWindows;
std::vector<Event>* Events;

LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Watched watched = (*WatchedWindows)[window];
    if (message == WM_COMMAND || message == WM_DESTROY)
        Events->push_back({watched.who, message, wParam, lParam});
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watched.original));
        WatchedWindows->erase(window);
    }
    return CallWindowProcW(watched.original, window, message, wParam, lParam);
}

} // namespace

std::string Describe(const std::vector<Event>& events) {
    std::string out = "[";
    char item[96];
    for (const Event& e : events) {
        const char* name = e.message == WM_COMMAND ? "WM_COMMAND" : "WM_DESTROY";
        const auto wParam = static_cast<unsigned long>(e.wParam);
        const auto lParam = static_cast<long>(e.lParam);
        if (e.who == MainWho)
            wsprintfA(item, " {main %s %lu %ld}", name, wParam, lParam);
        else
            wsprintfA(item, " {page %d %s %lu %ld}", e.who, name, wParam, lParam);
        out += item;
    }
    return out + " ]";
}

MessageLog::MessageLog() {
    WatchedWindows = new std::map<HWND, Watched>;
    Events = new std::vector<Event>;
}

MessageLog::~MessageLog() {
    for (auto& [window, watched] : *WatchedWindows)
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(watched.original));
    delete WatchedWindows;
    delete Events;
    WatchedWindows = nullptr;
    Events = nullptr;
}

void MessageLog::Watch(HWND window, int who) {
    if (!window || WatchedWindows->count(window))
        return;
    auto original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Record)));
    (*WatchedWindows)[window] = {original, who};
}

void MessageLog::WatchApplet(HWND main) {
    Watch(main, MainWho);
    for (HWND page : PagesOf(HostDialogOf(main)))
        Watch(page, TabOfPage(page));
}

const std::vector<Event>& MessageLog::events() const {
    return *Events;
}

void MessageLog::clear() {
    Events->clear();
}

// --- started programs --------------------------------------------------------------------

ProgramRecorder::ProgramRecorder() {
    static int serial;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    dir_ = std::wstring(temp) + L"velmora-started-" + std::to_wstring(GetCurrentProcessId()) +
           L"-" + std::to_wstring(++serial);
    CreateDirectoryW(dir_.c_str(), nullptr);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring recorder = self;
    recorder = recorder.substr(0, recorder.find_last_of(L"\\/") + 1) + L"applet_recorder.exe";
    for (const wchar_t* name : {L"Ostrelle.exe", L"PegHelp.exe", L"ctlpnl.exe"})
        CopyFileW(recorder.c_str(), (dir_ + L"\\" + name).c_str(), FALSE);
    SetCurrentDirectoryW(dir_.c_str());
}

ProgramRecorder::~ProgramRecorder() {
    SetCurrentDirectoryW(harness::WindowsDir().c_str());
    for (const wchar_t* name :
         {L"Ostrelle.exe", L"PegHelp.exe", L"ctlpnl.exe", L"started.log", L"key.log"})
        DeleteFileW((dir_ + L"\\" + name).c_str());
    RemoveDirectoryW(dir_.c_str());
}

std::vector<std::string> ProgramRecorder::Read(const wchar_t* file) const {
    std::vector<std::string> lines;
    HANDLE log =
        CreateFileW((dir_ + L"\\" + file).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (log == INVALID_HANDLE_VALUE)
        return lines;
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(log, buffer, sizeof buffer, &got, nullptr) && got)
        text.append(buffer, got);
    CloseHandle(log);
    for (size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
         start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

std::vector<std::string> ProgramRecorder::Started(size_t count, DWORD ms) const {
    harness::WaitFor([&] { return Read().size() >= count; }, ms);
    return Read();
}

std::vector<std::string> ProgramRecorder::StartedAfter(DWORD ms) const {
    harness::Pump(ms);
    return Read();
}

} // namespace applet_test

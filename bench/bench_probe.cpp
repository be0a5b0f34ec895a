// The probe of `velmora bench`, run inside the bench's device:
//   bench_probe open PROGRAM [ARGS]  starts PROGRAM in \Windows and prints the milliseconds
//                                    until a new top-level window of a new process is visible,
//                                    then closes that window and waits for both processes
//   bench_probe refresh              hosts powerg.cpl on its Status page and prints the control
//                                    writes of its opening and of one refresh made when the
//                                    battery has not changed ("none" without a Status page)
#include <windows.h>
#include <commctrl.h>
#include <cpl.h>
#include <cstdio>
#include <set>
#include <string>

namespace {

std::wstring WindowsDir() {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return dir;
}

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) /
           static_cast<double>(frequency.QuadPart);
}

// --- open ------------------------------------------------------------------------------------

struct Snapshot {
    std::set<HWND> windows;
    std::set<DWORD> processes;
    HWND found = nullptr;
};

DWORD ProcessOf(HWND window) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

BOOL CALLBACK Collect(HWND window, LPARAM lParam) {
    auto* before = reinterpret_cast<Snapshot*>(lParam);
    before->windows.insert(window);
    before->processes.insert(ProcessOf(window));
    return TRUE;
}

BOOL CALLBACK FindNew(HWND window, LPARAM lParam) {
    auto* before = reinterpret_cast<Snapshot*>(lParam);
    if (!IsWindowVisible(window) || before->windows.count(window) ||
        before->processes.count(ProcessOf(window)))
        return TRUE;
    before->found = window;
    return FALSE;
}

void EndOrKill(HANDLE process) {
    if (process && WaitForSingleObject(process, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process, 1);
    if (process)
        CloseHandle(process);
}

int Open(int argc, wchar_t** argv) {
    std::wstring line = argv[0];
    for (int i = 1; i < argc; ++i)
        line += L" " + std::wstring(argv[i]);
    Snapshot before;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&before));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        WindowsDir().c_str(), &startup, &started)) {
        std::printf("none: %ls did not start\n", line.c_str());
        return 1;
    }
    CloseHandle(started.hThread);
    const DWORD limit = GetTickCount() + 30000;
    while (EnumWindows(FindNew, reinterpret_cast<LPARAM>(&before)) && GetTickCount() < limit)
        Sleep(1);
    QueryPerformanceCounter(&to);
    if (!before.found) {
        std::printf("none: no window of %ls in 30 s\n", line.c_str());
        TerminateProcess(started.hProcess, 1);
        CloseHandle(started.hProcess);
        return 1;
    }
    std::printf("%.1f\n", Milliseconds(from, to));
    HANDLE owner = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, ProcessOf(before.found));
    PostMessageW(before.found, WM_CLOSE, 0, 0);
    EndOrKill(owner);
    EndOrKill(started.hProcess);
    return 0;
}

// --- refresh ---------------------------------------------------------------------------------

// Two controls that only the Status page has (main battery state and icon).
constexpr int MainStateId = 1015;
constexpr int MainIconId = 1053;
constexpr wchar_t AppletClass[] = L"CPL_Velmora (Zilp)";

struct Watch {
    HWND page;
    int openingWrites; // from the page's WM_INITDIALOG to the counted refresh
    int refreshWrites; // during the one counted refresh
    bool refreshing;
    int ticks;
    UINT_PTR timer;
};
Watch Seen;

bool IsControlWrite(UINT message) {
    return message == WM_SETTEXT || message == STM_SETIMAGE || message == WM_SETFONT ||
           message == WM_SHOWWINDOW;
}

// Sees every message sent to a window of this thread, the applet's included.
LRESULT CALLBACK Sent(int code, WPARAM wParam, LPARAM lParam) {
    const auto* sent = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION) {
        if (sent->message == WM_INITDIALOG && GetDlgItem(sent->hwnd, MainStateId) &&
            GetDlgItem(sent->hwnd, MainIconId))
            Seen.page = sent->hwnd;
        else if (Seen.page && GetParent(sent->hwnd) == Seen.page && IsControlWrite(sent->message))
            ++(Seen.refreshing ? Seen.refreshWrites : Seen.openingWrites);
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Runs in the applet's own message loop, every 500 ms.
void CALLBACK Step(HWND, UINT, UINT_PTR, DWORD) {
    ++Seen.ticks;
    if (!Seen.page) {
        if (Seen.ticks < 40)
            return;
        std::printf("none\n");
        std::fflush(stdout);
        ExitProcess(1); // no Status page in 20 s: whatever shows instead stays unanswered
    }
    if (Seen.ticks < 3)
        return;
    KillTimer(nullptr, Seen.timer);
    // The page has had its own first refresh by now; one more makes sure that what it shows
    // is the battery as it is, so the counted one finds it unchanged.
    SendMessageW(Seen.page, WM_TIMER, 1, 0);
    Seen.refreshing = true;
    SendMessageW(Seen.page, WM_TIMER, 1, 0); // the page's refresh timer
    Seen.refreshing = false;
    PostMessageW(FindWindowW(AppletClass, nullptr), WM_CLOSE, 0, 0);
}

int Refresh() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TAB_CLASSES | ICC_UPDOWN_CLASS};
    InitCommonControlsEx(&controls);
    HMODULE library = LoadLibraryW((WindowsDir() + L"\\powerg.cpl").c_str());
    auto entry = reinterpret_cast<APPLET_PROC>(
        reinterpret_cast<void*>(GetProcAddress(library, "CPlApplet")));
    if (!entry) {
        std::printf("none\n");
        return 1;
    }
    constexpr LPARAM AppletData = 100;
    entry(nullptr, CPL_INIT, 0, 0);
    NEWCPLINFOW info = {};
    entry(nullptr, CPL_NEWINQUIRE, 0, reinterpret_cast<LPARAM>(&info));
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, Sent, nullptr, GetCurrentThreadId());
    Seen.timer = SetTimer(nullptr, 0, 500, Step);
    entry(nullptr, CPL_DBLCLK, MAKELPARAM(0, 0), AppletData); // applet 0 on page 0
    UnhookWindowsHookEx(hook);
    entry(nullptr, CPL_STOP, 0, AppletData);
    entry(nullptr, CPL_EXIT, 0, 0);
    if (!Seen.page) {
        std::printf("none\n");
        return 1;
    }
    std::printf("%d %d\n", Seen.openingWrites, Seen.refreshWrites);
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc >= 3 && std::wstring(argv[1]) == L"open")
        return Open(argc - 2, argv + 2);
    if (argc == 2 && std::wstring(argv[1]) == L"refresh")
        return Refresh();
    std::fprintf(stderr, "usage: bench_probe open PROGRAM [ARGS] | refresh\n");
    return 2;
}

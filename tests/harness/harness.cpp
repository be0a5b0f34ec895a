#include "harness.h"
#include <cstring>
#include <thread>
#include <utility>
#include "device_store.h"

namespace harness {

std::wstring WindowsDir() {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return dir;
}

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), pid_(std::exchange(other.pid_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    if (this != &other) {
        Kill();
        process_ = std::exchange(other.process_, nullptr);
        pid_ = std::exchange(other.pid_, 0);
    }
    return *this;
}

Process::~Process() { Kill(); }

bool Process::WaitExit(DWORD ms, DWORD* exitCode) const {
    if (!process_)
        return false;
    DWORD start = GetTickCount();
    for (;;) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed >= ms ? 0 : ms - elapsed;
        DWORD rc = MsgWaitForMultipleObjects(1, &process_, FALSE, left, QS_ALLINPUT);
        if (rc == WAIT_OBJECT_0) {
            if (exitCode)
                GetExitCodeProcess(process_, exitCode);
            return true;
        }
        if (rc != WAIT_OBJECT_0 + 1)
            return false;
        Pump(0);
    }
}

void Process::Kill() {
    if (!process_)
        return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
    process_ = nullptr;
    pid_ = 0;
}

namespace {

Process CreateWith(const std::wstring& application, std::wstring commandLine,
                   const std::wstring& directory) {
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Device programs get their command line as the creator passed it, without the program
    // name, as on Windows CE.
    if (!CreateProcessW(application.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, directory.c_str(), &si, &pi))
        return Process();
    CloseHandle(pi.hThread);
    return Process(pi.hProcess, pi.dwProcessId);
}

} // namespace

Process Start(const std::wstring& program, const std::wstring& arguments,
              const std::wstring& directory) {
    std::wstring dir = directory.empty() ? WindowsDir() : directory;
    bool absolute = program.size() > 1 && (program[1] == L':' || program[0] == L'\\');
    return CreateWith(absolute ? program : dir + L"\\" + program, arguments, dir);
}

int Run(const std::wstring& program, const std::wstring& arguments, DWORD ms,
        const std::wstring& directory) {
    Process p = Start(program, arguments, directory);
    DWORD code = 0;
    if (!p.WaitExit(ms, &code))
        return -1;
    return static_cast<int>(code);
}

int RunDevtool(const std::wstring& arguments, std::string* output, DWORD ms) {
    SECURITY_ATTRIBUTES sa = {sizeof sa, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &sa, 0))
        return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::wstring path = WindowsDir() + L"\\devtool.exe";
    // The tool is a desktop console program: its first argument is its own name.
    std::wstring line = L"devtool.exe " + arguments;
    BOOL started = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                  WindowsDir().c_str(), &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        return -1;
    }
    CloseHandle(pi.hThread);
    Process process(pi.hProcess, pi.dwProcessId);
    // Read on a thread of its own: this thread keeps pumping, so the tool's messages to this
    // process's windows (window texts, check states) are answered.
    std::string text;
    std::thread reader([&] {
        char buffer[4096];
        DWORD got;
        while (ReadFile(readEnd, buffer, sizeof buffer, &got, nullptr) && got)
            text.append(buffer, got);
    });
    DWORD code = 0;
    bool ended = process.WaitExit(ms, &code);
    if (!ended)
        process.Kill();
    reader.join();
    CloseHandle(readEnd);
    if (output)
        *output = text;
    return ended ? static_cast<int>(code) : -1;
}

Process StartChild(const std::wstring& role, const std::wstring& arguments) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\" --child " + role;
    if (!arguments.empty())
        line += L" " + arguments;
    return CreateWith(self, line, WindowsDir());
}

void Pump(DWORD ms) {
    DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (ms)
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    } while (GetTickCount() - start < ms);
}

bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= ms)
            return condition();
        Pump(20);
    }
}

std::vector<HWND> TopLevelWindows(const wchar_t* className, DWORD pid) {
    std::vector<HWND> found;
    for (HWND w = FindWindowExW(nullptr, nullptr, className, nullptr); w;
         w = FindWindowExW(nullptr, w, className, nullptr)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (!pid || owner == pid)
            found.push_back(w);
    }
    return found;
}

HWND WaitWindow(const wchar_t* className, DWORD ms, DWORD pid) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            auto windows = TopLevelWindows(className, pid);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
        },
        ms);
    return found;
}

std::wstring WindowText(HWND window) {
    // Asked of the window itself: GetWindowTextW reads only captions across processes, not
    // the text of another program's controls.
    static wchar_t text[65536];
    text[0] = 0;
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 65536, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 5000, &length))
        return L"";
    return std::wstring(text, length < 65536 ? length : 0);
}

std::string Utf8(const std::wstring& text) {
    char out[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out,
                                sizeof out, nullptr, nullptr);
    return std::string(out, n > 0 ? n : 0);
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = L"";
    GetClassNameW(window, name, 256);
    return name;
}

bool ReadDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD* out) {
    return device_store::ReadDword(root, key.c_str(), value.c_str(), out);
}

bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& value) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return false;
    LONG rc = RegQueryValueExW(h, value.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return rc == ERROR_SUCCESS;
}

void WriteDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD data) {
    WriteValue(root, key, value, REG_DWORD, &data, sizeof data);
}

void WriteValue(HKEY root, const std::wstring& key, const std::wstring& value, DWORD type,
                const void* data, DWORD size) {
    HKEY h;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(h, value.c_str(), 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(h);
}

void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& value) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_WRITE, &h) != ERROR_SUCCESS)
        return;
    RegDeleteValueW(h, value.c_str());
    RegCloseKey(h);
}

void DeleteKey(HKEY root, const std::wstring& key) {
    HKEY h;
    if (RegOpenKeyExW(root, key.c_str(), 0, KEY_ALL_ACCESS, &h) != ERROR_SUCCESS)
        return;
    wchar_t name[256];
    for (;;) {
        DWORD length = 256;
        if (RegEnumKeyExW(h, 0, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        DeleteKey(root, key + L"\\" + name);
    }
    RegCloseKey(h);
    RegDeleteKeyW(root, key.c_str());
}

DWORD IdleTimeout(UINT getCode) {
    DWORD seconds = 0xDEADBEEF;
    SystemParametersInfoW(getCode, 0, &seconds, 0);
    return seconds;
}

void SetIdleTimeout(UINT setCode, DWORD seconds) {
    SystemParametersInfoW(setCode, seconds, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
}

std::ostream& operator<<(std::ostream& out, const Timeouts& t) {
    return out << "{battery " << t.battery << ", external " << t.external << ", wakeup " << t.wakeup
               << "}";
}

Timeouts CurrentTimeouts() {
    return {IdleTimeout(SPI_GETBATTERYIDLETIMEOUT), IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT),
            IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT)};
}

void SetTimeouts(const Timeouts& t) {
    SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, t.battery);
    SetIdleTimeout(SPI_SETEXTERNALIDLETIMEOUT, t.external);
    SetIdleTimeout(SPI_SETWAKEUPIDLETIMEOUT, t.wakeup);
}

SYSTEM_POWER_STATUS_EX PowerStatus() {
    SYSTEM_POWER_STATUS_EX status;
    std::memset(&status, 0xCC, sizeof status);
    GetSystemPowerStatusEx(&status, TRUE);
    return status;
}

void SetBattery(const SYSTEM_POWER_STATUS_EX& status) {
    device_store::WriteBatteryReport({status, 0});
}

void SetBatteryDriver(bool answers) {
    device_store::BatteryReport report = device_store::ReadBatteryReport();
    report.DriverOff = answers ? 0 : 1;
    device_store::WriteBatteryReport(report);
}

SYSTEM_POWER_STATUS_EX FactoryBattery() {
    return device_store::FactoryBattery;
}

void LeaveOutExports(const std::vector<std::wstring>& names) {
    device_store::WriteLeftOutExports(names);
}

} // namespace harness

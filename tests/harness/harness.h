// Helpers shared by the device tests: processes and windows on the device, message boxes,
// registry values, idle timeouts and the emulated battery.
#pragma once
#include <windows.h>
#include <functional>
#include <ostream>
#include <string>
#include <vector>
#include "wince.h"

namespace harness {

// --- processes ---------------------------------------------------------------------------

// The device's \Windows, where the deliverables are installed.
std::wstring WindowsDir();

// A started program; closes its handles, and ends the program if still running, when dropped.
class Process {
  public:
    Process() = default;
    Process(HANDLE process, DWORD pid) : process_(process), pid_(pid) {}
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    ~Process();

    bool started() const { return process_ != nullptr; }
    DWORD pid() const { return pid_; }
    HANDLE handle() const { return process_; }
    // Waits (pumping this thread's messages) for the end; false on timeout.
    bool WaitExit(DWORD ms, DWORD* exitCode = nullptr) const;
    void Kill();

  private:
    HANDLE process_ = nullptr;
    DWORD pid_ = 0;
};

// Starts `program` with `arguments` as its whole command line tail, in `directory`
// (default the device's \Windows). A relative program name is looked up in that directory.
Process Start(const std::wstring& program, const std::wstring& arguments,
              const std::wstring& directory = L"");

// Runs a program to its end (bounded); returns its exit code, or -1 on timeout/failure.
int Run(const std::wstring& program, const std::wstring& arguments, DWORD ms = 20000,
        const std::wstring& directory = L"");

// Runs the device tool (`velmora device` inside the device) with `arguments`, capturing its
// standard output; returns its exit code, or -1 on timeout/failure.
int RunDevtool(const std::wstring& arguments, std::string* output = nullptr, DWORD ms = 20000);

// This test program again, in child role `role` (see HARNESS_CHILD_ROLE).
Process StartChild(const std::wstring& role, const std::wstring& arguments = L"");

// Pumps this thread's messages for `ms` milliseconds.
void Pump(DWORD ms);

// Pumps until `condition` holds or `ms` pass; returns the last value of `condition`.
bool WaitFor(const std::function<bool()>& condition, DWORD ms);

// --- windows -----------------------------------------------------------------------------

// Top-level windows of a class (any title), optionally only those of one process.
std::vector<HWND> TopLevelWindows(const wchar_t* className, DWORD pid = 0);

// Waits for a top-level window of the class (and the process, if given).
HWND WaitWindow(const wchar_t* className, DWORD ms, DWORD pid = 0);

// The text of any window, also a control of another process.
std::wstring WindowText(HWND window);
// For failure messages.
std::string Utf8(const std::wstring& text);
std::wstring ClassOf(HWND window);

// --- message boxes -----------------------------------------------------------------------

struct MessageBoxInfo {
    std::wstring caption;
    std::wstring text;
    UINT flags = 0; // buttons | icon | default button, read back from the box itself
    HWND owner = nullptr;
    // What this program's own call of MessageBoxW asked for (MessageBoxCatcher only; 0 for a
    // box of another module or process).
    UINT asked = 0;
};

// Reads a message box window (of this or another process).
MessageBoxInfo ReadMessageBox(HWND box);

// While alive, every message box of this thread is recorded once it is up and answered with
// `answer` (an id such as IDOK or IDYES), through hooks of this thread.
class MessageBoxCatcher {
  public:
    explicit MessageBoxCatcher(int answer);
    ~MessageBoxCatcher();
    MessageBoxCatcher(const MessageBoxCatcher&) = delete;
    MessageBoxCatcher& operator=(const MessageBoxCatcher&) = delete;
    const std::vector<MessageBoxInfo>& boxes() const;
    void set_answer(int answer);
};

// Waits for a message box of process `pid`; nullptr on timeout. Answer it with AnswerBox.
HWND WaitMessageBox(DWORD pid, DWORD ms);
void AnswerBox(HWND box, int id);

// --- registry ------------------------------------------------------------------------------

bool ReadDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD* out);
bool ValueExists(HKEY root, const std::wstring& key, const std::wstring& value);
void WriteDword(HKEY root, const std::wstring& key, const std::wstring& value, DWORD data);
void WriteValue(HKEY root, const std::wstring& key, const std::wstring& value, DWORD type,
                const void* data, DWORD size);
void DeleteValue(HKEY root, const std::wstring& key, const std::wstring& value);
void DeleteKey(HKEY root, const std::wstring& key); // with all its subkeys

// --- the device ----------------------------------------------------------------------------

DWORD IdleTimeout(UINT getCode);
void SetIdleTimeout(UINT setCode, DWORD seconds);

// The three idle timeouts together, as tests compare them.
struct Timeouts {
    DWORD battery, external, wakeup;
    bool operator==(const Timeouts& o) const {
        return battery == o.battery && external == o.external && wakeup == o.wakeup;
    }
};
std::ostream& operator<<(std::ostream& out, const Timeouts& t);
constexpr Timeouts FactoryTimeouts = {180, 300, 60};
Timeouts CurrentTimeouts();
void SetTimeouts(const Timeouts& t); // announced, as the applet's save does

SYSTEM_POWER_STATUS_EX PowerStatus();
// What the emulated battery driver reports from now on (every field of the record); the driver
// answers again if it was off.
void SetBattery(const SYSTEM_POWER_STATUS_EX& status);
// false: the driver fails every status read from now on, keeping the battery it reported.
void SetBatteryDriver(bool answers);
// The factory battery: on battery, 80 %, flag high, lifetimes unknown, backup high.
SYSTEM_POWER_STATUS_EX FactoryBattery();

// The procedures of coredll.dll that the device goes without from now on (GetProcAddressW
// finds none of them); an empty list makes it the factory device again.
void LeaveOutExports(const std::vector<std::wstring>& names);

// --- child roles ---------------------------------------------------------------------------

using ChildRole = int (*)(int argc, wchar_t** argv);
bool RegisterChildRole(const wchar_t* name, ChildRole role);

} // namespace harness

// Defines a role this test program plays when started as `PROGRAM --child NAME ARGS...`.
#define HARNESS_CHILD_ROLE(ident, name)                                                            \
    static int ident([[maybe_unused]] int argc, [[maybe_unused]] wchar_t** argv);                  \
    static const bool ident##_registered = harness::RegisterChildRole(name, ident);                \
    static int ident([[maybe_unused]] int argc, [[maybe_unused]] wchar_t** argv)

// The device's core library: the calls where the platform behaves unlike desktop Win32, over a
// persistent store (device_store.h). Every other call of the platform's table
// (platform/coredll.def) is a forwarder to desktop Wine.
#include <windows.h>
#include "device_store.h"
#include "wince.h"

// This library's own module, whose exports the device may leave out.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

const device_store::IdleTimeoutSlot* FindIdleTimeout(UINT code, bool* isSet) {
    for (const auto& slot : device_store::IdleTimeouts) {
        if (slot.GetCode == code || slot.SetCode == code) {
            *isSet = slot.SetCode == code;
            return &slot;
        }
    }
    return nullptr;
}

DWORD ReadIdleTimeout(const device_store::IdleTimeoutSlot& slot) {
    DWORD seconds = slot.Factory;
    device_store::ReadDword(HKEY_LOCAL_MACHINE, device_store::PowerKey, slot.Value, &seconds);
    return seconds;
}

BOOL HandleIdleTimeout(const device_store::IdleTimeoutSlot& slot, bool isSet, UINT param, PVOID out,
                       UINT winIni) {
    if (!isSet) {
        if (!out) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *static_cast<DWORD*>(out) = ReadIdleTimeout(slot);
        return TRUE;
    }
    // The power manager keeps its timeouts in the registry, so a set is always persistent.
    if (!device_store::WriteDword(HKEY_LOCAL_MACHINE, device_store::PowerKey, slot.Value, param))
        return FALSE;
    // As the desktop does it: sent with a bound, so a hung window cannot stall the caller.
    if (winIni & SPIF_SENDCHANGE)
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, slot.SetCode, 0, SMTO_ABORTIFHUNG,
                            1000, nullptr);
    return TRUE;
}

// The work area must lie on the screen and leave something of it.
bool IsScreenRect(const RECT& r) {
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    return r.left >= 0 && r.top >= 0 && r.left < r.right && r.top < r.bottom && r.right <= width &&
           r.bottom <= height;
}

bool ReadWorkArea(RECT* out) {
    RECT r;
    if (!device_store::ReadValue(HKEY_LOCAL_MACHINE, device_store::WorkAreaKey,
                                 device_store::WorkAreaValue, REG_BINARY, &r) ||
        !IsScreenRect(r))
        return false;
    *out = r;
    return true;
}

BOOL SetWorkArea(const RECT* area, UINT winIni) {
    if (!area || !IsScreenRect(*area)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const RegistryKey key =
        RegistryKey::Create(HKEY_LOCAL_MACHINE, device_store::WorkAreaKey, KEY_WRITE);
    if (!key || RegSetValueExW(key.get(), device_store::WorkAreaValue, 0, REG_BINARY,
                               reinterpret_cast<const BYTE*>(area), sizeof *area) != ERROR_SUCCESS)
        return FALSE;
    // The caller's own process sees it through user32 too.
    SystemParametersInfoW(SPI_SETWORKAREA, 0, const_cast<RECT*>(area), 0);
    if (winIni & SPIF_SENDCHANGE)
        SendMessageTimeoutW(HWND_BROADCAST, WM_SETTINGCHANGE, SPI_SETWORKAREA, 0, SMTO_ABORTIFHUNG,
                            1000, nullptr);
    return TRUE;
}

// By address, so that a procedure left out is missing by ordinal too.
bool IsLeftOut(HMODULE module, FARPROC proc) {
    if (!proc || module != reinterpret_cast<HMODULE>(&__ImageBase))
        return false;
    for (const auto& leftOut : device_store::LeftOutExports()) {
        char narrow[256];
        if (WideCharToMultiByte(CP_ACP, 0, leftOut.c_str(), -1, narrow, sizeof narrow, nullptr,
                                nullptr) &&
            GetProcAddress(module, narrow) == proc)
            return true;
    }
    return false;
}

// The one way out of GetProcAddressW.
FARPROC Found(HMODULE module, FARPROC proc) {
    if (IsLeftOut(module, proc)) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return proc;
}

SYSTEM_POWER_STATUS_EX CachedStatus;
bool HaveCachedStatus;

} // namespace

extern "C" {

BOOL WINAPI CeSystemParametersInfoW(UINT action, UINT param, PVOID pv, UINT winIni) {
    bool isSet = false;
    if (const auto* slot = FindIdleTimeout(action, &isSet))
        return HandleIdleTimeout(*slot, isSet, param, pv, winIni);
    if (action == SPI_SETWORKAREA)
        return SetWorkArea(static_cast<const RECT*>(pv), winIni);
    if (action == SPI_GETWORKAREA && pv && ReadWorkArea(static_cast<RECT*>(pv)))
        return TRUE;
    return SystemParametersInfoW(action, param, pv, winIni);
}

// With update FALSE the driver's last report is returned, as on the device. A driver switched
// off (velmora device power --driver off) fails every read and leaves the record untouched.
BOOL WINAPI GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX status, BOOL update) {
    if (!status) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (update || !HaveCachedStatus) {
        const device_store::BatteryReport report = device_store::ReadBatteryReport();
        if (report.DriverOff) {
            SetLastError(ERROR_GEN_FAILURE);
            return FALSE;
        }
        CachedStatus = report.Status;
        HaveCachedStatus = true;
    }
    *status = CachedStatus;
    return TRUE;
}

// Windows CE ignores the access a key is opened or created with (callers pass 0), so every
// key handle of a device program may read and write.
LONG WINAPI CeRegOpenKeyExW(HKEY root, LPCWSTR path, DWORD options, REGSAM access, PHKEY key) {
    return RegOpenKeyExW(root, path, options, access ? access : KEY_ALL_ACCESS, key);
}

LONG WINAPI CeRegCreateKeyExW(HKEY root, LPCWSTR path, DWORD reserved, LPWSTR className,
                              DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                              PHKEY key, LPDWORD disposition) {
    return RegCreateKeyExW(root, path, reserved, className, options,
                           access ? access : KEY_ALL_ACCESS, security, key, disposition);
}

// The platform passes a program only its arguments. Wine passes the command line its creator
// gave, and an empty one as the program's own quoted path, which no command line of the
// platform starts with: a quoted first word is the program's name, and what follows it is the
// command line.
LPWSTR WINAPI CeGetCommandLineW(void) {
    LPWSTR line = GetCommandLineW();
    if (line[0] != L'"')
        return line;
    LPWSTR rest = line + 1;
    while (*rest && *rest != L'"')
        ++rest;
    if (*rest)
        ++rest;
    while (*rest == L' ' || *rest == L'\t')
        ++rest;
    return rest;
}

// The platform takes no start-up information (callers pass none); Wine needs the record.
BOOL WINAPI CeCreateProcessW(LPCWSTR program, LPWSTR commandLine, LPSECURITY_ATTRIBUTES process,
                             LPSECURITY_ATTRIBUTES thread, BOOL inherit, DWORD flags,
                             LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                             LPPROCESS_INFORMATION information) {
    STARTUPINFOW none = {};
    none.cb = sizeof none;
    return CreateProcessW(program, commandLine, process, thread, inherit, flags, environment,
                          directory, startup ? startup : &none, information);
}

BOOL WINAPI EventModify(HANDLE event, DWORD function) {
    switch (function) {
    case EVENT_PULSE:
        return PulseEvent(event);
    case EVENT_RESET:
        return ResetEvent(event);
    case EVENT_SET:
        return SetEvent(event);
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

void WINAPI SetCleanRebootFlag(void) {
    device_store::WriteDword(HKEY_LOCAL_MACHINE, device_store::InitKey,
                             device_store::CleanBootValue, 1);
}

// Export names are plain ASCII; anything else cannot name a procedure. A procedure this device
// goes without is found neither by name nor by ordinal.
FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return Found(module, GetProcAddress(module, reinterpret_cast<LPCSTR>(name)));
    char narrow[256];
    size_t i = 0;
    for (; name[i]; ++i) {
        if (i + 1 >= sizeof narrow || name[i] > 0x7F) {
            SetLastError(ERROR_PROC_NOT_FOUND);
            return nullptr;
        }
        narrow[i] = static_cast<char>(name[i]);
    }
    narrow[i] = 0;
    return Found(module, GetProcAddress(module, narrow));
}

} // extern "C"

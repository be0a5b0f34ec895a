// Where the device keeps what its CE layer emulates. Shared by coredll.dll, the device tool
// and the tests, so that all of them agree on one persistent, observable store.
#pragma once
#include <windows.h>
#include <cstddef>
#include <string>
#include <vector>
#include "registry_key.h"
#include "wince.h"

namespace device_store {

// Reads a value into *out only when it has the type asked for and exactly the size of T, so
// that a value of another shape leaves the caller's copy (its default) whole. Through
// RegOpenKeyExW and RegQueryValueExW, which a test counts for the battery's report.
template <typename T>
bool ReadValue(HKEY root, const wchar_t* key, const wchar_t* value, DWORD type, T* out) {
    const RegistryKey opened = RegistryKey::Open(root, key, KEY_READ);
    if (!opened)
        return false;
    T data;
    DWORD stored = 0, size = sizeof data;
    if (RegQueryValueExW(opened.get(), value, nullptr, &stored, reinterpret_cast<BYTE*>(&data),
                         &size) != ERROR_SUCCESS ||
        stored != type || size != sizeof data)
        return false;
    *out = data;
    return true;
}

// The power manager's idle timeouts, where Windows CE keeps them (HKLM).
constexpr wchar_t PowerKey[] = L"System\\CurrentControlSet\\Control\\Power";

struct IdleTimeoutSlot {
    UINT GetCode;
    UINT SetCode;
    const wchar_t* Value;
    DWORD Factory;
    const wchar_t* Name; // as the device tool spells it
};

constexpr IdleTimeoutSlot IdleTimeouts[] = {
    {SPI_GETBATTERYIDLETIMEOUT, SPI_SETBATTERYIDLETIMEOUT, L"BattPowerOff", 180, L"battery"},
    {SPI_GETEXTERNALIDLETIMEOUT, SPI_SETEXTERNALIDLETIMEOUT, L"ExtPowerOff", 300, L"external"},
    {SPI_GETWAKEUPIDLETIMEOUT, SPI_SETWAKEUPIDLETIMEOUT, L"WakeupPowerOff", 60, L"wakeup"},
};

// Not 0: the device stays on whatever its timeouts say, as a developer's device would
// (`velmora device sleep never`). Beside the timeouts, 32-bit.
constexpr wchar_t NeverSleepValue[] = L"NeverSleep";

// What the emulated battery driver reports (HKLM): one binary value holding the whole report,
// so that a status read costs one key open and one read.
constexpr wchar_t BatteryKey[] = L"Drivers\\BuiltIn\\Battery";
constexpr wchar_t BatteryValue[] = L"Report"; // REG_BINARY, a BatteryReport

struct BatteryReport {
    SYSTEM_POWER_STATUS_EX Status;
    DWORD DriverOff; // not 0: the driver fails every status read
};
static_assert(sizeof(BatteryReport) == 28, "the stored value's size");

// The factory battery (as device/factory.reg stores it): on battery, 80 %, flag high, lifetimes
// unknown, backup battery high with its charge unknown.
constexpr SYSTEM_POWER_STATUS_EX FactoryBattery = {
    AC_LINE_OFFLINE,
    BATTERY_FLAG_HIGH,
    80,
    0,
    BATTERY_LIFE_UNKNOWN,
    BATTERY_LIFE_UNKNOWN,
    0,
    BATTERY_FLAG_HIGH,
    BATTERY_PERCENTAGE_UNKNOWN,
    0,
    BATTERY_LIFE_UNKNOWN,
    BATTERY_LIFE_UNKNOWN,
};

// The report's fields by name, for the device tool's listing.
struct BatteryField {
    const wchar_t* Value;
    size_t Offset;
    size_t Size; // 1 or 4 bytes in SYSTEM_POWER_STATUS_EX
};

#define DEVICE_WIDEN2(text) L##text
#define DEVICE_WIDEN(text) DEVICE_WIDEN2(text)
#define DEVICE_FIELD(name)                                                                         \
    BatteryField {                                                                                 \
        DEVICE_WIDEN(#name), offsetof(SYSTEM_POWER_STATUS_EX, name),                               \
            sizeof(SYSTEM_POWER_STATUS_EX::name)                                                   \
    }
constexpr BatteryField BatteryFields[] = {
    DEVICE_FIELD(ACLineStatus),
    DEVICE_FIELD(BatteryFlag),
    DEVICE_FIELD(BatteryLifePercent),
    DEVICE_FIELD(Reserved1),
    DEVICE_FIELD(BatteryLifeTime),
    DEVICE_FIELD(BatteryFullLifeTime),
    DEVICE_FIELD(Reserved2),
    DEVICE_FIELD(BackupBatteryFlag),
    DEVICE_FIELD(BackupBatteryLifePercent),
    DEVICE_FIELD(Reserved3),
    DEVICE_FIELD(BackupBatteryLifeTime),
    DEVICE_FIELD(BackupBatteryFullLifeTime),
};
#undef DEVICE_FIELD
#undef DEVICE_WIDEN
#undef DEVICE_WIDEN2

// The stored report, trusted only when it has the report's type and size; otherwise the
// factory battery with a working driver.
inline BatteryReport ReadBatteryReport() {
    BatteryReport report = {FactoryBattery, 0};
    ReadValue(HKEY_LOCAL_MACHINE, BatteryKey, BatteryValue, REG_BINARY, &report);
    return report;
}

// The same from BatteryKey opened by the caller (or none), which keeps it open; result gets the
// read's answer.
inline BatteryReport ReadBatteryReport(HKEY key, LONG* result) {
    BatteryReport report = {FactoryBattery, 0};
    BatteryReport stored;
    DWORD type = 0, size = sizeof stored;
    *result = key ? RegQueryValueExW(key, BatteryValue, nullptr, &type,
                                     reinterpret_cast<BYTE*>(&stored), &size)
                  : ERROR_FILE_NOT_FOUND;
    if (*result == ERROR_SUCCESS && type == REG_BINARY && size == sizeof stored)
        report = stored;
    return report;
}

inline bool WriteBatteryReport(const BatteryReport& report) {
    RegistryKey key = RegistryKey::Create(HKEY_LOCAL_MACHINE, BatteryKey, KEY_WRITE);
    return key &&
           RegSetValueExW(key.get(), BatteryValue, 0, REG_BINARY,
                          reinterpret_cast<const BYTE*>(&report), sizeof report) == ERROR_SUCCESS;
}

// The boot loader's flag: set, the next reset is a cold boot to factory state (HKLM).
constexpr wchar_t InitKey[] = L"Init";
constexpr wchar_t CleanBootValue[] = L"CleanBoot";

// Procedures this device's coredll.dll goes without (HKLM, REG_MULTI_SZ): GetProcAddressW
// finds none of them, as on a device whose platform was built without them. The factory device
// has them all.
constexpr wchar_t LoaderKey[] = L"Loader";
constexpr wchar_t LeftOutValue[] = L"LeftOutExports";

// The work area the device shell leaves free for programs (HKLM). The desktop keeps it per
// process; on the device it is one for all, as programs size themselves to it.
constexpr wchar_t WorkAreaKey[] = L"System\\GWE";
constexpr wchar_t WorkAreaValue[] = L"WorkArea"; // REG_BINARY, a RECT

// Reads a 32-bit value, trusting it only when it really is 4 bytes of number.
inline bool ReadDword(HKEY root, const wchar_t* key, const wchar_t* value, DWORD* out) {
    return ReadValue(root, key, value, REG_DWORD, out);
}

inline bool WriteDword(HKEY root, const wchar_t* key, const wchar_t* value, DWORD data) {
    return WriteNumber(RegistryKey::Create(root, key, KEY_WRITE), value, data);
}

// A REG_MULTI_SZ value as its strings, in order; empty when the value is missing or is no list.
inline std::vector<std::wstring> ReadMultiString(HKEY key, const wchar_t* value) {
    std::vector<std::wstring> strings;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return strings;
    // One character more than asked for, so that the list always ends.
    std::vector<wchar_t> list(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(list.data()), &size) !=
        ERROR_SUCCESS)
        return strings;
    for (size_t i = 0; i < list.size() && list[i];) {
        strings.emplace_back(&list[i]);
        i += strings.back().size() + 1;
    }
    return strings;
}

inline LONG WriteMultiString(HKEY key, const wchar_t* value,
                             const std::vector<std::wstring>& strings) {
    std::wstring list;
    for (const auto& text : strings)
        list.append(text).push_back(L'\0');
    list.push_back(L'\0');
    return RegSetValueExW(key, value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(list.data()),
                          static_cast<DWORD>(list.size() * sizeof(wchar_t)));
}

// The procedures left out, in the order they were named; empty when the value is missing or
// is not a list of names.
inline std::vector<std::wstring> LeftOutExports() {
    RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, LoaderKey, KEY_READ);
    return key ? ReadMultiString(key.get(), LeftOutValue) : std::vector<std::wstring>();
}

// Stores the list; an empty one removes the value.
inline bool WriteLeftOutExports(const std::vector<std::wstring>& names) {
    RegistryKey key = RegistryKey::Create(HKEY_LOCAL_MACHINE, LoaderKey, KEY_WRITE);
    if (!key)
        return false;
    if (!names.empty())
        return WriteMultiString(key.get(), LeftOutValue, names) == ERROR_SUCCESS;
    const LONG rc = RegDeleteValueW(key.get(), LeftOutValue);
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

} // namespace device_store

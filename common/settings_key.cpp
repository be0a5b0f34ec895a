#include "settings_key.h"

namespace settings_key {

RegistryKey Open() {
    return RegistryKey::Open(HKEY_CURRENT_USER, Path, 0);
}

RegistryKey OpenOrCreate() {
    return RegistryKey::Create(HKEY_CURRENT_USER, Path, 0);
}

DWORD Read(const wchar_t* name, DWORD fallback) {
    DWORD value = fallback;
    ReadNumber(Open(), name, &value);
    return value;
}

void Write(const wchar_t* name, DWORD value) {
    WriteNumber(Open(), name, value);
}

} // namespace settings_key

namespace {

struct TimeoutCodes {
    UINT Get;
    UINT Set;
};

constexpr TimeoutCodes CodesOf(IdleTimeout which) {
    switch (which) {
    case IdleTimeout::Battery:
        return {SPI_GETBATTERYIDLETIMEOUT, SPI_SETBATTERYIDLETIMEOUT};
    case IdleTimeout::External:
        return {SPI_GETEXTERNALIDLETIMEOUT, SPI_SETEXTERNALIDLETIMEOUT};
    case IdleTimeout::Wakeup:
    default:
        return {SPI_GETWAKEUPIDLETIMEOUT, SPI_SETWAKEUPIDLETIMEOUT};
    }
}

} // namespace

DWORD GetIdleTimeout(IdleTimeout which) {
    DWORD seconds = 0;
    SystemParametersInfoW(CodesOf(which).Get, 0, &seconds, 0);
    return seconds;
}

bool ReadIdleTimeout(IdleTimeout which, DWORD* seconds) {
    DWORD read = 0;
    if (!SystemParametersInfoW(CodesOf(which).Get, 0, &read, 0))
        return false;
    *seconds = read;
    return true;
}

void SetIdleTimeout(IdleTimeout which, DWORD seconds) {
    SystemParametersInfoW(CodesOf(which).Set, seconds, nullptr,
                          SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
}

SYSTEM_POWER_STATUS_EX ReadPowerStatus() {
    SYSTEM_POWER_STATUS_EX status = {};
    GetSystemPowerStatusEx(&status, TRUE);
    return status;
}

// The Settings key that the notifier and the applet share, and the platform's idle timeouts
// and power status, used by both through the same few calls.
#pragma once
#include "wince.h"
#include "registry_key.h"

namespace settings_key {

constexpr wchar_t Path[] = L"Software\\Zilp\\Velmora"; // below HKEY_CURRENT_USER

// Values shared by applet and notifier.
constexpr wchar_t ShowLockIcon[] = L"ShowLockIcon";
constexpr wchar_t Locked[] = L"Locked";
constexpr wchar_t ExternalOnly[] = L"ExternalOnly";
constexpr wchar_t IgnoreNotify[] = L"IgnoreNotify";
// Values of the notifier only.
constexpr wchar_t AltBatterie[] = L"AltBatterie";
constexpr wchar_t AltExtern[] = L"AltExtern";
constexpr wchar_t AltNotify[] = L"AltNotify";

// "AltNotify" when no wake-up timeout is saved.
constexpr DWORD NothingSaved = 0xFFFFFFFF;

// Defaults of the values that have one (read when the value or the key is missing).
constexpr DWORD DefaultShowLockIcon = 0;
constexpr DWORD DefaultLocked = 0;
constexpr DWORD DefaultExternalOnly = 0;
constexpr DWORD DefaultIgnoreNotify = 0;
constexpr DWORD DefaultAltNotify = NothingSaved;

// Opens the key for one group of reads or writes (access 0: the platform ignores it).
// Empty when the key does not exist; the notifier never creates it.
RegistryKey Open();

// Opens the key, creating it when it does not exist yet (the applet's save).
RegistryKey OpenOrCreate();

// One value with its own open, read and close; `fallback` when it cannot be read.
DWORD Read(const wchar_t* name, DWORD fallback);

// One value with its own open, write and close; skipped when the key does not exist.
void Write(const wchar_t* name, DWORD value);

} // namespace settings_key

// The platform's idle timeouts, in seconds, 0 meaning never.
enum class IdleTimeout { Battery, External, Wakeup };

DWORD GetIdleTimeout(IdleTimeout which);
// Into the caller's copy, which keeps its value when the platform call fails.
bool ReadIdleTimeout(IdleTimeout which, DWORD* seconds);
// Stored persistently and announced to all windows at once.
void SetIdleTimeout(IdleTimeout which, DWORD seconds);

// The power status, fresh from the battery driver.
SYSTEM_POWER_STATUS_EX ReadPowerStatus();

// Only "line power on" is external power; off-line, backup power and unknown count as battery.
constexpr bool OnExternalPower(BYTE acLineStatus) { return acLineStatus == AC_LINE_ONLINE; }

// Windows CE as the package sees it, over the desktop MinGW headers: the declarations they lack,
// with the platform's values, and the calls that are macros on the platform, as it defines them.
// Everything declared here is imported from coredll.dll (platform/coredll.def).
#pragma once
#include <windows.h>
#include <wchar.h>

// Macros on the platform: its core library has no such functions.
#undef CheckDlgButton
#define CheckDlgButton(dialog, id, check)                                                          \
    SendDlgItemMessageW((dialog), (id), BM_SETCHECK, (WPARAM)(check), 0)
#undef IsDlgButtonChecked
#define IsDlgButtonChecked(dialog, id)                                                             \
    ((UINT)SendDlgItemMessageW((dialog), (id), BM_GETCHECK, 0, 0))
#undef LockResource
#define LockResource(resource) ((LPVOID)(resource))
// The platform waits for one of several objects, never for all.
#undef MsgWaitForMultipleObjects
#define MsgWaitForMultipleObjects(count, handles, waitAll, ms, wakeMask)                           \
    MsgWaitForMultipleObjectsEx((count), (handles), (ms), (wakeMask), 0)
#undef lstrcpyW
#define lstrcpyW wcscpy
#undef lstrcatW
#define lstrcatW wcscat
#undef lstrlenW
#define lstrlenW wcslen

// Idle timeouts of SystemParametersInfoW, in seconds, 0 meaning never.
#define SPI_SETBATTERYIDLETIMEOUT 251
#define SPI_GETBATTERYIDLETIMEOUT 252
#define SPI_SETEXTERNALIDLETIMEOUT 253
#define SPI_GETEXTERNALIDLETIMEOUT 254
#define SPI_SETWAKEUPIDLETIMEOUT 255
#define SPI_GETWAKEUPIDLETIMEOUT 256

// Extended window styles of the CE window manager.
#define WS_EX_CAPTIONOKBTN 0x80000000L
#define WS_EX_NODRAG 0x40000000L

// EventModify functions.
#define EVENT_PULSE 1
#define EVENT_RESET 2
#define EVENT_SET 3

// ACLineStatus values.
#ifndef AC_LINE_OFFLINE
#define AC_LINE_OFFLINE 0x00
#define AC_LINE_ONLINE 0x01
#define AC_LINE_BACKUP_POWER 0x02
#endif
#undef AC_LINE_UNKNOWN
#define AC_LINE_UNKNOWN 0xFF

// Battery flag values (BatteryFlag, BackupBatteryFlag).
#ifndef BATTERY_FLAG_HIGH
#define BATTERY_FLAG_HIGH 0x01
#define BATTERY_FLAG_LOW 0x02
#define BATTERY_FLAG_CRITICAL 0x04
#define BATTERY_FLAG_CHARGING 0x08
#define BATTERY_FLAG_NO_BATTERY 0x80
#define BATTERY_FLAG_UNKNOWN 0xFF
#endif
#undef BATTERY_PERCENTAGE_UNKNOWN
#define BATTERY_PERCENTAGE_UNKNOWN 0xFF
#undef BATTERY_LIFE_UNKNOWN
#define BATTERY_LIFE_UNKNOWN 0xFFFFFFFF

// The CE power status record: 24 bytes.
typedef struct _SYSTEM_POWER_STATUS_EX {
    BYTE ACLineStatus;
    BYTE BatteryFlag;
    BYTE BatteryLifePercent;
    BYTE Reserved1;
    DWORD BatteryLifeTime;
    DWORD BatteryFullLifeTime;
    BYTE Reserved2;
    BYTE BackupBatteryFlag;
    BYTE BackupBatteryLifePercent;
    BYTE Reserved3;
    DWORD BackupBatteryLifeTime;
    DWORD BackupBatteryFullLifeTime;
} SYSTEM_POWER_STATUS_EX, *PSYSTEM_POWER_STATUS_EX;
static_assert(sizeof(SYSTEM_POWER_STATUS_EX) == 24, "CE layout");

// The CE notification-area record is the desktop's first version: 152 bytes on the 32-bit
// device, the same fields at their natural alignment elsewhere.
#include <shellapi.h>
#define CE_NOTIFYICONDATA_SIZE NOTIFYICONDATAW_V1_SIZE
#ifndef _WIN64
static_assert(CE_NOTIFYICONDATA_SIZE == 152, "CE layout");
#endif

#ifdef __cplusplus
extern "C" {
#endif
// The notification area is the core library's, under the one name.
#undef Shell_NotifyIcon
BOOL WINAPI Shell_NotifyIcon(DWORD message, PNOTIFYICONDATAW data);
BOOL WINAPI GetSystemPowerStatusEx(PSYSTEM_POWER_STATUS_EX status, BOOL update);
BOOL WINAPI EventModify(HANDLE event, DWORD function);
void WINAPI SetCleanRebootFlag(void);
FARPROC WINAPI GetProcAddressW(HMODULE module, LPCWSTR name);
#ifdef __cplusplus
}
#endif

// A control-panel applet for testing the host: it does what HKCU\Software\VelmoraTest\Applet
// says ("InitResult", "Count") and appends every message it gets to the value "Log".
#include <windows.h>
#include <cpl.h>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

constexpr wchar_t Key[] = L"Software\\VelmoraTest\\Applet";

DWORD Setting(const wchar_t* name, DWORD fallback) {
    DWORD value = fallback, size = sizeof value;
    RegGetValueW(HKEY_CURRENT_USER, Key, name, RRF_RT_REG_DWORD, nullptr, &value, &size);
    return value;
}

void Log(const wchar_t* entry) {
    wchar_t log[4096] = L"";
    DWORD size = sizeof log - 512;
    RegGetValueW(HKEY_CURRENT_USER, Key, L"Log", RRF_RT_REG_SZ, nullptr, log, &size);
    wcscat(log, entry);
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, Key, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(key, L"Log", 0, REG_SZ, reinterpret_cast<const BYTE*>(log),
                       static_cast<DWORD>((wcslen(log) + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

// The record may be misaligned: fill it byte by byte.
void FillRecord(int index, BYTE* record) {
    NEWCPLINFOW info = {};
    info.dwSize = sizeof info;
    info.lData = 100 + index;
    info.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    swprintf(info.szName, 32, L"Test %d", index);
    swprintf(info.szInfo, 64, L"Testelement %d", index);
    std::memcpy(record, &info, sizeof info);
}

} // namespace

extern "C" LONG APIENTRY CPlApplet(HWND host, UINT message, LPARAM lParam1, LPARAM lParam2) {
    wchar_t entry[96];
    if (message == CPL_NEWINQUIRE)
        swprintf(entry, 96, L"%u(%ld,align%d);", message, static_cast<long>(lParam1),
                 static_cast<int>(lParam2 % 4));
    else
        swprintf(entry, 96, L"%u(%lx,%ld,%ls);", message, static_cast<unsigned long>(lParam1),
                 static_cast<long>(lParam2), IsWindow(host) ? L"host" : L"nohost");
    Log(entry);
    switch (message) {
    case CPL_INIT:
        return static_cast<LONG>(Setting(L"InitResult", 1));
    case CPL_GETCOUNT:
        return static_cast<LONG>(Setting(L"Count", 2));
    case CPL_NEWINQUIRE:
        FillRecord(static_cast<int>(lParam1), reinterpret_cast<BYTE*>(lParam2));
        return 0;
    default:
        return 0;
    }
}

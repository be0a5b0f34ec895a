// Stands in for a device program (Ostrelle.exe, PegHelp.exe, ctlpnl.exe) in tests: appends
// "NAME|COMMAND LINE" to started.log in its current directory, and "NAME|ShowLockIcon=VALUE"
// (what the Settings key held as it started) to key.log, and ends.
#include <windows.h>

namespace {

void Append(const wchar_t* file, const wchar_t* line) {
    char utf8[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    HANDLE log = CreateFileW(file, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(log, utf8, length > 0 ? length - 1 : 0, &written, nullptr);
    CloseHandle(log);
}

} // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at; ++at)
        if (*at == L'\\' || *at == L'/')
            name = at + 1;
    wchar_t line[1024];
    wsprintfW(line, L"%s|%s\n", name, GetCommandLineW());
    Append(L"started.log", line);

    DWORD value = 0, size = sizeof value;
    HKEY key;
    bool read = false;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Zilp\\Velmora", 0, KEY_READ, &key) == 0) {
        read = RegQueryValueExW(key, L"ShowLockIcon", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(&value), &size) == 0;
        RegCloseKey(key);
    }
    if (read)
        wsprintfW(line, L"%s|ShowLockIcon=%lu\n", name, value);
    else
        wsprintfW(line, L"%s|ShowLockIcon absent\n", name);
    Append(L"key.log", line);
    return 0;
}

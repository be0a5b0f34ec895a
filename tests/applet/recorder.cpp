// Stands in for a device program (Ostrelle.exe, PegHelp.exe, ctlpnl.exe) in tests: appends
// "NAME|COMMAND LINE" to started.log in its current directory and ends.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    const wchar_t* name = path;
    for (const wchar_t* at = path; *at; ++at)
        if (*at == L'\\' || *at == L'/')
            name = at + 1;
    wchar_t line[1024];
    wsprintfW(line, L"%s|%s\n", name, GetCommandLineW());
    char utf8[4096];
    int length = WideCharToMultiByte(CP_UTF8, 0, line, -1, utf8, sizeof utf8, nullptr, nullptr);
    HANDLE log = CreateFileW(L"started.log", FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(log, utf8, length > 0 ? length - 1 : 0, &written, nullptr);
    CloseHandle(log);
    return 0;
}

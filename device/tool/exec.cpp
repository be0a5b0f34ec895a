// Starts a program of the device's \Windows the way device programs start each other: the
// command line holds only the arguments, and the program does not wait.
#include <windows.h>
#include <cwchar>
#include <string>
#include "commands.h"
#include "output.h"

int ExecCommand(int argc, wchar_t** argv) {
    if (argc < 1 || wcspbrk(argv[0], L"\\/:")) {
        PrintError(L"exec: expected a program of \\Windows, such as Ostrelle.exe\n");
        return 2;
    }
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    std::wstring path = std::wstring(dir) + L"\\" + argv[0];
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        PrintError(L"exec: no program %ls in \\Windows\n", argv[0]);
        return 1;
    }
    std::wstring line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += L' ';
        line += argv[i];
    }
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, dir, &si,
                        &pi)) {
        PrintError(L"exec: %ls did not start (error %lu)\n", argv[0], GetLastError());
        return 1;
    }
    Print(L"%lu\n", pi.dwProcessId);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

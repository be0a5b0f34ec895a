// Starts a program of the device's \Windows the way device programs start each other: the
// command line holds only the arguments. It returns once the program's process is created,
// waiting neither for its windows nor for its end.
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
    // The program's standard handles go nowhere: given ours, it would hold the caller's output
    // open for as long as it runs, and `exec ... | cat` would wait for its end.
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE nowhere =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherited, OPEN_EXISTING, 0, nullptr);
    if (nowhere == INVALID_HANDLE_VALUE) {
        PrintError(L"exec: %ls did not start (no NUL device, error %lu)\n", argv[0],
                   GetLastError());
        return 1;
    }
    // Only that handle is passed on.
    for (DWORD id : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(id), HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nowhere;
    PROCESS_INFORMATION pi = {};
    const BOOL started = CreateProcessW(path.c_str(), line.data(), nullptr, nullptr, TRUE,
                                        DETACHED_PROCESS, nullptr, dir, &si, &pi);
    const DWORD error = GetLastError();
    CloseHandle(nowhere);
    if (!started) {
        PrintError(L"exec: %ls did not start (error %lu)\n", argv[0], error);
        return 1;
    }
    Print(L"%lu\n", pi.dwProcessId);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return 0;
}

// Starting another device program the way Windows CE does it: the program name relative to
// the current directory (\Windows on the device), the command line holding only the
// arguments, nothing waited for.
#pragma once
#include <windows.h>

// True when the program was started. On Windows CE the caller passes no start-up or process
// information and gets no handles back; the desktop system needs both records, so the
// handles it returns are closed at once and nothing is held.
inline bool StartProgram(const wchar_t* program, const wchar_t* arguments) {
    wchar_t commandLine[256]; // CreateProcessW may write into its command line
    lstrcpynW(commandLine, arguments, 256);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
}

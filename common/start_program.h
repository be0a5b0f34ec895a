// Starting another device program the way Windows CE does it: the program name relative to
// the current directory (\Windows on the device), the command line holding only the
// arguments.
#pragma once
#include "wince.h"
#include "text.h"

// The started program's process handle, which the caller closes, or none when it did not
// start. The platform takes no start-up information.
inline HANDLE StartProgramWithHandle(const wchar_t* program, const wchar_t* arguments) {
    wchar_t commandLine[256]; // CreateProcessW may write into its command line
    CopyText(commandLine, arguments, 256);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(program, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                        &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// True when the program was started; nothing is waited for and no handle is held.
inline bool StartProgram(const wchar_t* program, const wchar_t* arguments) {
    HANDLE process = StartProgramWithHandle(program, arguments);
    if (!process)
        return false;
    CloseHandle(process);
    return true;
}

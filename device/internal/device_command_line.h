// The command line of a device program, as its creator passed it (only the arguments, as on
// Windows CE). Wine hands an empty command line on as the program's own quoted path instead,
// which no device command line starts with: that reads as empty.
#pragma once
#include <windows.h>

inline const wchar_t* DeviceCommandLine() {
    const wchar_t* line = GetCommandLineW();
    return line[0] == L'"' ? L"" : line;
}

// unload.exe, the device's "Remove Programs": without arguments the installed packages, one a
// line; unload NAME takes the package NAME ("Zilp Velmora") off the device again.
#include <windows.h>
#include "../tool/output.h"
#include "package.h"

int wmain(int argc, wchar_t** argv) {
    if (argc == 1) {
        for (const auto& name : InstalledPackages())
            Print(L"%ls\n", name.c_str());
        return 0;
    }
    if (argc != 2 || !argv[1][0]) {
        PrintError(L"usage: unload [NAME]\n");
        return 2;
    }
    std::wstring error;
    if (!RemovePackage(argv[1], &error)) {
        PrintError(L"unload: %ls: %ls\n", argv[1], error.c_str());
        return 1;
    }
    Print(L"removed %ls\n", argv[1]);
    return 0;
}

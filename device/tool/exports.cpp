// Which procedures of coredll.dll the device goes without: a device built without a facility.
#include <windows.h>
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>
#include "commands.h"
#include "device_store.h"
#include "output.h"

namespace {

// Only a real export of the library can be left out: a misspelt name would leave out nothing.
bool IsExport(HMODULE core, const wchar_t* name) {
    char narrow[256];
    return core &&
           WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof narrow, nullptr, nullptr) &&
           GetProcAddress(core, narrow) != nullptr;
}

} // namespace

int ExportsCommand(int argc, wchar_t** argv) {
    std::vector<std::wstring> leftOut = device_store::LeftOutExports();
    HMODULE core = LoadLibraryW(L"coredll.dll");
    bool changed = false;
    for (int i = 0; i < argc; ++i) {
        if (wcscmp(argv[i], L"--restore-all") == 0) {
            leftOut.clear();
            changed = true;
            continue;
        }
        const bool leave = wcscmp(argv[i], L"--leave-out") == 0;
        if (!leave && wcscmp(argv[i], L"--restore") != 0) {
            PrintError(L"exports: expected --leave-out NAME, --restore NAME or --restore-all, "
                       L"got '%ls'\n",
                       argv[i]);
            return 2;
        }
        const wchar_t* name = i + 1 < argc ? argv[++i] : L"";
        if (!IsExport(core, name)) {
            PrintError(L"exports: coredll.dll has no export '%ls'\n", name);
            return 2;
        }
        auto at = std::find(leftOut.begin(), leftOut.end(), name);
        if (leave && at == leftOut.end())
            leftOut.push_back(name);
        else if (!leave && at != leftOut.end())
            leftOut.erase(at);
        changed = true;
    }
    if (changed && !device_store::WriteLeftOutExports(leftOut)) {
        PrintError(L"exports: the device's store cannot be written\n");
        return 1;
    }
    for (const auto& name : leftOut)
        Print(L"%ls\n", name.c_str());
    return 0;
}

// The registry's roots as the device's programs name them: short ("HKLM") and long
// ("HKEY_LOCAL_MACHINE"), with the number a CE setup file gives each (1 to 4). One table for the
// installer, the remover and the device tool.
#pragma once
#include <windows.h>
#include <cwchar>
#include <string>

struct RegistryRoot {
    const wchar_t* shortName;
    const wchar_t* longName;
    HKEY key;
    unsigned setupNumber; // in a setup file's REGHIVES table
};

inline const RegistryRoot RegistryRoots[] = {
    {L"HKCR", L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT, 1},
    {L"HKCU", L"HKEY_CURRENT_USER", HKEY_CURRENT_USER, 2},
    {L"HKLM", L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE, 3},
    {L"HKU", L"HKEY_USERS", HKEY_USERS, 4},
};

inline const RegistryRoot* RootBySetupNumber(unsigned number) {
    for (const auto& root : RegistryRoots) {
        if (root.setupNumber == number)
            return &root;
    }
    return nullptr;
}

// "HKLM\Software\X" (either name, any case): its root and the path below it.
inline const RegistryRoot* SplitRegistryKey(const std::wstring& key, std::wstring* path) {
    const size_t slash = key.find(L'\\');
    const std::wstring name = key.substr(0, slash);
    for (const auto& root : RegistryRoots) {
        if (_wcsicmp(name.c_str(), root.shortName) == 0 ||
            _wcsicmp(name.c_str(), root.longName) == 0) {
            *path = slash == std::wstring::npos ? L"" : key.substr(slash + 1);
            return &root;
        }
    }
    return nullptr;
}

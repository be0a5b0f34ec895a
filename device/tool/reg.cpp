// A registry key of the device with its values and subkeys.
#include <windows.h>
#include <cwchar>
#include <string>
#include "commands.h"
#include "output.h"

namespace {

struct Root {
    const wchar_t* name;
    HKEY key;
};

const Root Roots[] = {
    {L"HKCU", HKEY_CURRENT_USER},       {L"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {L"HKLM", HKEY_LOCAL_MACHINE},      {L"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {L"HKCR", HKEY_CLASSES_ROOT},       {L"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
};

bool SplitKey(const wchar_t* text, HKEY* root, const wchar_t** path) {
    const wchar_t* slash = wcschr(text, L'\\');
    size_t length = slash ? static_cast<size_t>(slash - text) : wcslen(text);
    for (const auto& candidate : Roots) {
        if (wcslen(candidate.name) == length && _wcsnicmp(text, candidate.name, length) == 0) {
            *root = candidate.key;
            *path = slash ? slash + 1 : L"";
            return true;
        }
    }
    return false;
}

void PrintValue(const wchar_t* name, DWORD type, const BYTE* data, DWORD size) {
    std::wstring shown = *name ? Quoted(name) : L"@";
    if (type == REG_DWORD && size == 4) {
        DWORD v;
        memcpy(&v, data, 4);
        Print(L"%ls = dword:%08lx (%lu)\n", shown.c_str(), v, v);
    } else if ((type == REG_SZ || type == REG_EXPAND_SZ) && size % 2 == 0) {
        std::wstring text(reinterpret_cast<const wchar_t*>(data), size / 2);
        while (!text.empty() && text.back() == 0)
            text.pop_back();
        Print(L"%ls = sz:%ls\n", shown.c_str(), Quoted(text).c_str());
    } else {
        std::wstring hex;
        wchar_t byte[4];
        for (DWORD i = 0; i < size; ++i) {
            swprintf(byte, 4, L"%02x", data[i]);
            hex += byte;
        }
        Print(L"%ls = type%lu:%ls\n", shown.c_str(), type, hex.c_str());
    }
}

} // namespace

int RegCommand(int argc, wchar_t** argv) {
    HKEY root;
    const wchar_t* path;
    if (argc != 1 || !SplitKey(argv[0], &root, &path)) {
        PrintError(L"reg: expected one key such as HKCU\\Software\\Zilp\\Velmora\n");
        return 2;
    }
    HKEY key;
    if (RegOpenKeyExW(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        PrintError(L"reg: no key %ls\n", argv[0]);
        return 1;
    }
    Print(L"[%ls]\n", argv[0]);
    wchar_t name[16384];
    static BYTE data[65536];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 16384, size = sizeof data, type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data, &size) != ERROR_SUCCESS)
            break;
        PrintValue(name, type, data, size);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 16384;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Print(L"[%ls\\%ls]\n", argv[0], name);
    }
    RegCloseKey(key);
    return 0;
}

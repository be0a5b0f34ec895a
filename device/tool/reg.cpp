// A registry key of the device with its values and subkeys; setting and deleting 32-bit values.
#include <windows.h>
#include <cwchar>
#include <string>
#include <vector>
#include "commands.h"
#include "output.h"
#include "registry_key.h"
#include "registry_roots.h"

namespace {

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

// NAME=NUMBER writes a 32-bit value, NAME= deletes one.
struct Change {
    std::wstring name;
    bool remove;
    DWORD number;
};

bool ParseChange(const wchar_t* text, Change* change) {
    const wchar_t* equals = wcsrchr(text, L'=');
    if (!equals || equals == text)
        return false;
    change->name.assign(text, equals);
    change->remove = !equals[1];
    unsigned long number = 0;
    if (!change->remove && !ParseNumber(equals + 1, 0xFFFFFFFFull, &number))
        return false;
    change->number = number;
    return true;
}

bool HasValue(HKEY root, const wchar_t* path, const std::wstring& name) {
    const RegistryKey key = RegistryKey::Open(root, path, KEY_READ);
    return key && RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                      ERROR_SUCCESS;
}

// All changes are checked before the first is made, so that a bad one changes nothing.
int ChangeValues(const wchar_t* keyName, HKEY root, const wchar_t* path, int count,
                 wchar_t** texts) {
    std::vector<Change> changes(count);
    for (int i = 0; i < count; ++i) {
        if (!ParseChange(texts[i], &changes[i])) {
            PrintError(L"reg: expected NAME=NUMBER (0 to 4294967295) or NAME=, got '%ls'\n",
                       texts[i]);
            return 2;
        }
        if (changes[i].remove && !HasValue(root, path, changes[i].name)) {
            PrintError(L"reg: no value %ls in %ls\n", Quoted(changes[i].name).c_str(), keyName);
            return 1;
        }
    }
    const RegistryKey key = RegistryKey::Create(root, path, KEY_WRITE);
    if (!key) {
        PrintError(L"reg: cannot write %ls\n", keyName);
        return 1;
    }
    LONG rc = ERROR_SUCCESS;
    for (const Change& change : changes) {
        if (rc != ERROR_SUCCESS)
            break;
        rc = change.remove ? RegDeleteValueW(key.get(), change.name.c_str())
                           : RegSetValueExW(key.get(), change.name.c_str(), 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&change.number), 4);
    }
    if (rc != ERROR_SUCCESS) {
        PrintError(L"reg: cannot write %ls\n", keyName);
        return 1;
    }
    return 0;
}

} // namespace

int RegCommand(int argc, wchar_t** argv) {
    std::wstring subkey;
    const RegistryRoot* found = argc < 1 ? nullptr : SplitRegistryKey(argv[0], &subkey);
    if (!found) {
        PrintError(L"reg: expected a key such as HKCU\\Software\\Zilp\\Velmora, then "
                   L"NAME=NUMBER or NAME= to write or delete\n");
        return 2;
    }
    if (argc > 1)
        return ChangeValues(argv[0], found->key, subkey.c_str(), argc - 1, argv + 1);
    const RegistryKey key = RegistryKey::Open(found->key, subkey.c_str(), KEY_READ);
    if (!key) {
        PrintError(L"reg: no key %ls\n", argv[0]);
        return 1;
    }
    Print(L"[%ls]\n", argv[0]);
    wchar_t name[16384];
    static BYTE data[65536];
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 16384, size = sizeof data, type = 0;
        if (RegEnumValueW(key.get(), i, name, &nameLength, nullptr, &type, data, &size) !=
            ERROR_SUCCESS)
            break;
        PrintValue(name, type, data, size);
    }
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = 16384;
        if (RegEnumKeyExW(key.get(), i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        Print(L"[%ls\\%ls]\n", argv[0], name);
    }
    return 0;
}

// The make of device this one is: with a name, it becomes that make as a factory would make it,
// with that make's registry values and backlight keys in place of every other make's.
#include <windows.h>
#include <cwchar>
#include "commands.h"
#include "device_models.h"
#include "device_store.h"
#include "output.h"
#include "power_protocol.h"
#include "registry_key.h"

namespace {

using namespace device_models;

void PrintNames() {
    for (DWORD i = 0; i < ModelCount; ++i)
        PrintError(L"%ls%ls", i ? L", " : L"", Models[i].name);
    PrintError(L"\n");
}

bool WriteFactoryValue(const FactoryValue& value) {
    RegistryKey key = RegistryKey::Create(HiveKey(value.hive), value.key, KEY_WRITE);
    if (!key)
        return false;
    if (!value.text)
        return WriteNumber(key, value.name, value.number);
    return RegSetValueExW(
               key.get(), value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.text),
               static_cast<DWORD>((wcslen(value.text) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Every make's keys go first, so that the device is one make only. None of them has subkeys.
bool BecomeModel(DWORD model) {
    for (const auto& value : FactoryValues) {
        const LONG gone = RegDeleteKeyW(HiveKey(value.hive), value.key);
        if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND)
            return false;
    }
    for (const auto& value : FactoryValues)
        if (value.model == model && !WriteFactoryValue(value))
            return false;
    return device_store::WriteDword(HKEY_LOCAL_MACHINE, ModelKey, ModelValue, model);
}

} // namespace

int ModelCommand(int argc, wchar_t** argv) {
    DWORD model = ModelCount;
    for (DWORD i = 0; argc == 1 && i < ModelCount; ++i)
        if (wcscmp(argv[0], Models[i].name) == 0)
            model = i;
    if (argc > 1 || (argc == 1 && model == ModelCount)) {
        PrintError(L"model: expected nothing or one of ");
        PrintNames();
        return 2;
    }
    if (argc == 1) {
        if (!BecomeModel(model)) {
            PrintError(L"model: the device's registry cannot be written\n");
            return 1;
        }
        // The shell watches the new make's backlight key from now on; one not yet started
        // reads the make as it starts.
        TellPowerManager(power::ReconsiderMessage);
    }
    Print(L"%ls\n", Models[CurrentModel()].name);
    return 0;
}

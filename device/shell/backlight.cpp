#include "backlight.h"
#include "device_models.h"
#include "registry_key.h"

namespace {

// The keys of the make the device was told to be, or none when that make has no backlight.
const device_models::LightKeys* ModelLight() {
    const device_models::LightKeys& light =
        device_models::Models[device_models::CurrentModel()].light;
    return light.key ? &light : nullptr;
}

} // namespace

BacklightRule ReadBacklightRule(bool externalPower) {
    BacklightRule rule = {0, true};
    const device_models::LightKeys* light = ModelLight();
    if (!light)
        return rule;
    RegistryKey key = RegistryKey::Open(device_models::HiveKey(light->hive), light->key, KEY_READ);
    const wchar_t* time = externalPower ? light->externalTime : light->batteryTime;
    const wchar_t* flag = externalPower ? light->externalAuto : light->batteryAuto;
    DWORD value = 0;
    if (key && time && ReadNumber(key, time, &value))
        rule.seconds = value;
    if (key && flag && ReadNumber(key, flag, &value))
        rule.comesBack = value != 0;
    return rule;
}

HANDLE WatchBacklight() {
    static HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    static RegistryKey watched;
    watched.Close();
    const device_models::LightKeys* light = ModelLight();
    if (!changed || !light)
        return nullptr;
    watched =
        RegistryKey::Open(device_models::HiveKey(light->hive), light->key, KEY_NOTIFY | KEY_READ);
    if (!watched || RegNotifyChangeKeyValue(watched.get(), FALSE, REG_NOTIFY_CHANGE_LAST_SET,
                                            changed, TRUE) != ERROR_SUCCESS)
        return nullptr;
    return changed;
}

#include "backlight.h"
#include <array>
#include <cwchar>

namespace {

// HKEY_* are no constants the compiler can keep in a table.
enum class Root { CurrentUser, LocalMachine };
HKEY Handle(Root root) {
    return root == Root::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Where one make keeps its times and "auto" flags; nullptr where it has none. A make without
// an external time keeps its light on external power; one without flags always brings it back.
struct Layout {
    Root root;
    const wchar_t* key;
    const wchar_t* externalTime;
    const wchar_t* batteryTime;
    const wchar_t* externalAuto;
    const wchar_t* batteryAuto;
};

constexpr Layout Keybd2 = {
    Root::CurrentUser, L"ControlPanel\\Keybd2", nullptr, L"TimeOut", nullptr, L"Auto"};
constexpr Layout Casio = {Root::LocalMachine,
                          L"Drivers\\CASIO\\BackLight",
                          L"TimeoutExPower",
                          L"TimeoutBattery",
                          nullptr,
                          nullptr};
constexpr Layout Philips = {Root::LocalMachine,
                            L"Software\\Philips\\Backlight",
                            L"ACTimeout",
                            L"BatteryTimeout",
                            nullptr,
                            nullptr};
// The generic makes: the first of these keys that exists.
constexpr std::array<Layout, 4> Generic = {{
    {Root::CurrentUser, L"ControlPanel\\Backlight", L"ACTimeout", L"BatteryTimeout", L"ACAuto",
     L"BatteryAuto"},
    {Root::CurrentUser, L"ControlPanel\\HPBackLight", L"ACTimeout", L"BatteryTimeout", L"ACAuto",
     L"BatteryAuto"},
    {Root::CurrentUser, L"ControlPanel\\S_BackLight", L"TimeoutOnACPower", L"TimeoutOnBattery",
     L"ACAuto", L"BatteryAuto"},
    {Root::LocalMachine, L"Backlight", L"ExtOffTime", L"BattOffTime", L"fExtActivityOn",
     L"fBattActivityOn"},
}};

// A signature: values that must all be readable as 4 bytes (or into `size` bytes).
struct Needed {
    const wchar_t* name;
    DWORD size;
};
struct Signature {
    Root root;
    const wchar_t* key;
    std::array<Needed, 6> values; // up to the first without a name
};

constexpr Signature CasioSignature = {Root::LocalMachine,
                                      L"Drivers\\CASIO\\BackLight",
                                      {{{L"TimeoutExPower", 4},
                                        {L"TimeoutBattery", 4},
                                        {L"BrightExPower", 4},
                                        {L"BrightBattery", 4},
                                        {L"Contrast", 4}}}};
constexpr Signature PhilipsSignature = {Root::LocalMachine,
                                        L"Software\\Philips\\Backlight",
                                        {{{L"BatteryTimeout", 4}, {L"ACTimeout", 4}}}};
constexpr Signature Keybd2Signature = {Root::CurrentUser,
                                       L"ControlPanel\\Keybd2",
                                       {{{L"TimeOut", 4},
                                         {L"Auto", 4},
                                         {L"FromCtlpnl", 4},
                                         {L"Contrast", 4},
                                         {L"Brightness", 4},
                                         {L"TimeZoneInformation", 255}}}};
constexpr Signature KeybdSignature = {Root::CurrentUser,
                                      L"ControlPanel\\Keybd",
                                      {{{L"Brightness", 4},
                                        {L"Contrast", 4},
                                        {L"RepeatRate", 4},
                                        {L"DispDly", 4},
                                        {L"InitialDelay", 4}}}};

struct Key {
    HKEY handle = nullptr;
    Key(Root root, const wchar_t* path) {
        if (RegOpenKeyExW(Handle(root), path, 0, KEY_READ, &handle) != ERROR_SUCCESS)
            handle = nullptr;
    }
    ~Key() {
        if (handle)
            RegCloseKey(handle);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
};

bool Readable(HKEY key, const wchar_t* name, DWORD size) {
    BYTE buffer[255];
    DWORD got = size;
    return RegQueryValueExW(key, name, nullptr, nullptr, buffer, &got) == ERROR_SUCCESS;
}

bool Matches(const Signature& signature) {
    Key key(signature.root, signature.key);
    if (!key.handle)
        return false;
    for (const auto& value : signature.values)
        if (value.name && !Readable(key.handle, value.name, value.size))
            return false;
    return true;
}

bool IsLgPlatform() {
    Key key(Root::LocalMachine, L"Platform");
    wchar_t name[255] = L"";
    DWORD size = sizeof name - sizeof(wchar_t);
    return key.handle &&
           RegQueryValueExW(key.handle, L"Name", nullptr, nullptr, reinterpret_cast<BYTE*>(name),
                            &size) == ERROR_SUCCESS &&
           wcscmp(name, L"LG HPC Ver2.5") == 0;
}

// The layout of this device, or nullptr when it has no backlight keys.
const Layout* DeviceLayout() {
    if (IsLgPlatform())
        return &Keybd2;
    if (Matches(CasioSignature))
        return &Casio;
    if (Matches(PhilipsSignature))
        return &Philips;
    if (Matches(Keybd2Signature) && Matches(KeybdSignature))
        return &Keybd2;
    for (const auto& layout : Generic)
        if (Key(layout.root, layout.key).handle)
            return &layout;
    return nullptr;
}

} // namespace

BacklightRule ReadBacklightRule(bool externalPower) {
    BacklightRule rule = {0, true};
    const Layout* layout = DeviceLayout();
    if (!layout)
        return rule;
    Key key(layout->root, layout->key);
    const wchar_t* time = externalPower ? layout->externalTime : layout->batteryTime;
    const wchar_t* flag = externalPower ? layout->externalAuto : layout->batteryAuto;
    DWORD value = 0, size = sizeof value;
    if (key.handle && time &&
        RegQueryValueExW(key.handle, time, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                         &size) == ERROR_SUCCESS)
        rule.seconds = value;
    size = sizeof value;
    if (key.handle && flag &&
        RegQueryValueExW(key.handle, flag, nullptr, nullptr, reinterpret_cast<BYTE*>(&value),
                         &size) == ERROR_SUCCESS)
        rule.comesBack = value != 0;
    return rule;
}

HANDLE WatchBacklight() {
    static HANDLE changed = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    static HKEY watched = nullptr;
    if (watched)
        RegCloseKey(watched);
    watched = nullptr;
    const Layout* layout = DeviceLayout();
    if (!changed || !layout ||
        RegOpenKeyExW(Handle(layout->root), layout->key, 0, KEY_NOTIFY | KEY_READ, &watched) !=
            ERROR_SUCCESS)
        return nullptr;
    if (RegNotifyChangeKeyValue(watched, FALSE, REG_NOTIFY_CHANGE_LAST_SET, changed, TRUE) !=
        ERROR_SUCCESS)
        return nullptr;
    return changed;
}

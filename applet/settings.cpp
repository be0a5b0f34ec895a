// The applet's copy of all settings: which backlight layout the device has, filling the copy
// before the window opens and writing all of it back on OK.
#include "settings.h"
#include <array>
#include <cstddef>
#include <cwchar>
#include "registry_key.h"
#include "scrambled_names.h"
#include "settings_key.h"
#include "wince.h"

AppletSettingsRecord AppletSettings;

namespace {

// Registry roots as table entries (the HKEY constants cannot be).
enum class Root { CurrentUser, LocalMachine };

HKEY RootKey(Root root) {
    return root == Root::CurrentUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

RegistryKey OpenDeviceKey(Root root, const wchar_t* path) {
    return RegistryKey::Open(RootKey(root), path, KEY_ALL_ACCESS);
}

// --- signatures ----------------------------------------------------------------------------

constexpr wchar_t PlatformKey[] = L"Platform";     // below HKLM
constexpr wchar_t OemVersionKey[] = L"OEMVersion"; // below HKLM, not below "Platform"

// The platform strings are read into 255 characters.
using SignatureText = std::array<wchar_t, 255>;

// True only for a REG_SZ value that ends within the buffer, terminator included, and equals
// `expected`. A longer or unterminated string, or a value of another type, compares unequal.
bool StringEquals(const RegistryKey& key, const wchar_t* name, const wchar_t* expected) {
    if (!key)
        return false;
    SignatureText text{};
    DWORD type = 0, size = sizeof text;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                         &size) != ERROR_SUCCESS ||
        type != REG_SZ || size > sizeof text - sizeof text[0])
        return false;
    if (!std::wmemchr(text.data(), L'\0', size / sizeof text[0]))
        return false;
    return std::wcscmp(text.data(), expected) == 0;
}

struct SignatureValue {
    const wchar_t* Name = nullptr;
    DWORD Bytes = 4; // the buffer the value must fit
};

struct ValueSet {
    Root Hive;
    const wchar_t* Path;
    std::array<SignatureValue, 6> Values; // up to the first without a name
};

constexpr ValueSet CasioSignature = {Root::LocalMachine,
                                     L"Drivers\\CASIO\\BackLight",
                                     {{{L"TimeoutExPower"},
                                       {L"TimeoutBattery"},
                                       {L"BrightExPower"},
                                       {L"BrightBattery"},
                                       {L"Contrast"}}}};
constexpr ValueSet PhilipsSignature = {
    Root::LocalMachine, L"Software\\Philips\\Backlight", {{{L"BatteryTimeout"}, {L"ACTimeout"}}}};
constexpr ValueSet Keybd2Signature = {Root::CurrentUser,
                                      L"ControlPanel\\Keybd2",
                                      {{{L"TimeOut"},
                                        {L"Auto"},
                                        {L"FromCtlpnl"},
                                        {L"Contrast"},
                                        {L"Brightness"},
                                        {L"TimeZoneInformation", 255}}}};
constexpr ValueSet KeybdSignature = {
    Root::CurrentUser,
    L"ControlPanel\\Keybd",
    {{{L"Brightness"}, {L"Contrast"}, {L"RepeatRate"}, {L"DispDly"}, {L"InitialDelay"}}}};

bool Readable(const RegistryKey& key, const SignatureValue& value) {
    std::array<BYTE, 255> data;
    DWORD size = value.Bytes;
    return RegQueryValueExW(key.get(), value.Name, nullptr, nullptr, data.data(), &size) ==
           ERROR_SUCCESS;
}

// The key is closed again before the caller goes on.
bool AllReadable(const ValueSet& set) {
    RegistryKey key = OpenDeviceKey(set.Hive, set.Path);
    if (!key)
        return false;
    for (const auto& value : set.Values) {
        if (!value.Name)
            break;
        if (!Readable(key, value))
            return false;
    }
    return true;
}

bool IsPeRP() {
    RegistryKey platform = OpenDeviceKey(Root::LocalMachine, PlatformKey);
    DWORD type = 0, target = 0;
    return StringEquals(platform, L"Name", L"Microsoft PeRP Version 1.0a") &&
           ReadNumber(platform, L"Type", &type) && type == 2 &&
           ReadNumber(platform, L"Target", &target) && target == 1;
}

bool IsHardwareReferencePlatform() {
    RegistryKey platform = OpenDeviceKey(Root::LocalMachine, PlatformKey);
    DWORD type = 0;
    if (!StringEquals(platform, L"Name", L"Microsoft Windows CE Hardware Referece Platform") ||
        !ReadNumber(platform, L"Type", &type) || type != 2)
        return false;
    platform.Close();
    return StringEquals(OpenDeviceKey(Root::LocalMachine, OemVersionKey), L"ROMVersion",
                        L"V2.0-200");
}

// --- backlight layouts -----------------------------------------------------------------------

// The four backlight fields, one group in this order.
enum BacklightValue : size_t { ExternalTimeout, BatteryTimeout, ExternalAuto, BatteryAuto };

constexpr std::array<DWORD AppletSettingsRecord::*, 4> BacklightGroup = {
    &AppletSettingsRecord::BacklightExternalTimeout, &AppletSettingsRecord::BacklightBatteryTimeout,
    &AppletSettingsRecord::BacklightExternalAuto, &AppletSettingsRecord::BacklightBatteryAuto};

struct BacklightLayout {
    Root Hive;
    const wchar_t* Path;
    std::array<const wchar_t*, 4> Values; // by BacklightValue; none where the layout has none
};

constexpr BacklightLayout Keybd2Layout = {
    Root::CurrentUser, L"ControlPanel\\Keybd2", {nullptr, L"TimeOut", nullptr, L"Auto"}};
constexpr BacklightLayout CasioLayout = {Root::LocalMachine,
                                         L"Drivers\\CASIO\\BackLight",
                                         {L"TimeoutExPower", L"TimeoutBattery", nullptr, nullptr}};
constexpr BacklightLayout PhilipsLayout = {Root::LocalMachine,
                                           L"Software\\Philips\\Backlight",
                                           {L"ACTimeout", L"BatteryTimeout", nullptr, nullptr}};

// Profile 0: the first of these keys that opens is used, for loading and for saving alike.
constexpr std::array<BacklightLayout, 4> GenericChain = {{
    {Root::CurrentUser,
     L"ControlPanel\\Backlight",
     {L"ACTimeout", L"BatteryTimeout", L"ACAuto", L"BatteryAuto"}},
    {Root::CurrentUser,
     L"ControlPanel\\HPBackLight",
     {L"ACTimeout", L"BatteryTimeout", L"ACAuto", L"BatteryAuto"}},
    {Root::CurrentUser,
     L"ControlPanel\\S_BackLight",
     {L"TimeoutOnACPower", L"TimeoutOnBattery", L"ACAuto", L"BatteryAuto"}},
    {Root::LocalMachine,
     L"Backlight",
     {L"ExtOffTime", L"BattOffTime", L"fExtActivityOn", L"fBattActivityOn"}},
}};

// Profiles 1 to 4 have a layout of their own; everything else is the generic chain.
const BacklightLayout* ProfileLayout(DWORD profile) {
    switch (profile) {
    case ProfileKeybd2:
    case ProfileLgHpc:
        return &Keybd2Layout;
    case ProfileCasio:
        return &CasioLayout;
    case ProfilePhilips:
        return &PhilipsLayout;
    default:
        return nullptr;
    }
}

// Reads the group's values from `first` to `last` that the layout has; true when every one
// of them was read. A value that cannot be read keeps its field.
bool ReadBacklight(const RegistryKey& key, const BacklightLayout& layout, size_t first,
                   size_t last) {
    bool all = true;
    for (size_t i = first; i <= last; ++i)
        if (layout.Values[i] &&
            !ReadNumber(key, layout.Values[i], &(AppletSettings.*BacklightGroup[i])))
            all = false;
    return all;
}

void WriteBacklight(const RegistryKey& key, const BacklightLayout& layout, size_t first,
                    size_t last) {
    for (size_t i = first; i <= last; ++i)
        if (layout.Values[i])
            WriteNumber(key, layout.Values[i], AppletSettings.*BacklightGroup[i]);
}

// The first key of the generic chain that opens, with its layout.
RegistryKey OpenGenericKey(const BacklightLayout** layout) {
    for (const auto& candidate : GenericChain) {
        RegistryKey key = OpenDeviceKey(candidate.Hive, candidate.Path);
        if (key) {
            *layout = &candidate;
            return key;
        }
    }
    return RegistryKey();
}

bool LoadGenericBacklight() {
    const BacklightLayout* layout = nullptr;
    RegistryKey key = OpenGenericKey(&layout);
    if (!key)
        return false;
    ReadBacklight(key, *layout, ExternalTimeout, BatteryTimeout);
    AppletSettings.GenericBacklightAuto =
        ReadBacklight(key, *layout, ExternalAuto, BatteryAuto) ? TRUE : FALSE;
    return true;
}

void SaveGenericBacklight() {
    const BacklightLayout* layout = nullptr;
    RegistryKey key = OpenGenericKey(&layout);
    if (!key)
        return;
    WriteBacklight(key, *layout, ExternalTimeout, BatteryTimeout);
    if (AppletSettings.GenericBacklightAuto)
        WriteBacklight(key, *layout, ExternalAuto, BatteryAuto);
}

// --- idle timeouts and the Settings key ------------------------------------------------------

// While the lock is in force the battery and external timeouts are 0 and the user's own wait
// in the saved values of the Settings key: those are the ones the applet shows and edits.
struct IdleField {
    IdleTimeout Which;
    DWORD AppletSettingsRecord::*Field;
    const wchar_t* SavedWhileLocked; // none: the lock leaves this timeout alone
};

constexpr std::array<IdleField, 3> IdleFields = {{
    {IdleTimeout::Battery, &AppletSettingsRecord::BatteryIdleTimeout, settings_key::AltBatterie},
    {IdleTimeout::External, &AppletSettingsRecord::ExternalIdleTimeout, settings_key::AltExtern},
    {IdleTimeout::Wakeup, &AppletSettingsRecord::WakeupIdleTimeout, nullptr},
}};

// While locked, the edited battery and external timeouts are the user's own: they go where
// the notifier's unlock takes them from, and the live ones stay 0.
void SaveIdleTimeouts() {
    const DWORD locked = settings_key::Read(settings_key::Locked, settings_key::DefaultLocked);
    for (const auto& idle : IdleFields) {
        if (locked && idle.SavedWhileLocked)
            settings_key::Write(idle.SavedWhileLocked, AppletSettings.*idle.Field);
        else
            SetIdleTimeout(idle.Which, AppletSettings.*idle.Field);
    }
}

struct OwnValue {
    const wchar_t* Name;
    DWORD AppletSettingsRecord::*Field;
};

constexpr std::array<OwnValue, 4> OwnValues = {{
    {settings_key::ShowLockIcon, &AppletSettingsRecord::ShowLockIcon},
    {settings_key::Locked, &AppletSettingsRecord::Locked},
    {settings_key::ExternalOnly, &AppletSettingsRecord::ExternalOnly},
    {settings_key::IgnoreNotify, &AppletSettingsRecord::IgnoreNotify},
}};

void LoadOwnValues() {
    RegistryKey key = settings_key::Open();
    if (!key)
        return;
    for (const auto& value : OwnValues)
        ReadNumber(key, value.Name, &(AppletSettings.*value.Field));
}

void SaveOwnValues() {
    RegistryKey key = settings_key::OpenOrCreate();
    // "Locked" belongs to the notifier: written back as it stands now, never as it was loaded,
    // or a lock released while the applet was open would be recorded again.
    AppletSettings.Locked = settings_key::DefaultLocked;
    ReadNumber(key, settings_key::Locked, &AppletSettings.Locked);
    for (const auto& value : OwnValues)
        WriteNumber(key, value.Name, AppletSettings.*value.Field);
}

// --- messages --------------------------------------------------------------------------------

constexpr wchar_t LoadFailureCaption[] = L"Fehler beim Lesen";
constexpr wchar_t LoadFailureText[] =
    L"Registry Pfad HKCU\\ControlPanel\\Backlight\n"
    L"Wahrscheinlich ist Velmoraseig. noch nicht für Ihr Gerät angepaßt. Bitte kontakten Sie "
    L"support@zilp.example!";

// --- change notification ---------------------------------------------------------------------

using CreateEventProc = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCWSTR);
using EventModifyProc = BOOL(WINAPI*)(HANDLE, DWORD);

} // namespace

void DetectDeviceProfile() {
    if (StringEquals(OpenDeviceKey(Root::LocalMachine, PlatformKey), L"Name", L"LG HPC Ver2.5"))
        AppletSettings.DeviceProfile = ProfileLgHpc;
    else if (AllReadable(CasioSignature))
        AppletSettings.DeviceProfile = ProfileCasio;
    else if (AllReadable(PhilipsSignature))
        AppletSettings.DeviceProfile = ProfilePhilips;
    else if (AllReadable(Keybd2Signature) && AllReadable(KeybdSignature))
        AppletSettings.DeviceProfile = ProfileKeybd2;
    // Nothing matched: the profile stays as it was.
}

bool IsReferencePlatform() {
    // Both tests are made, each with its own look at the platform key.
    bool perp = IsPeRP();
    bool hardwareReference = IsHardwareReferencePlatform();
    return perp || hardwareReference;
}

void LoadIdleTimeouts() {
    const DWORD locked = settings_key::Read(settings_key::Locked, settings_key::DefaultLocked);
    for (const auto& idle : IdleFields) {
        DWORD& field = AppletSettings.*idle.Field;
        ReadIdleTimeout(idle.Which, &field);
        // A saved value that cannot be read leaves the live timeout in place.
        if (locked && idle.SavedWhileLocked)
            field = settings_key::Read(idle.SavedWhileLocked, field);
    }
}

bool LoadSettings() {
    LoadIdleTimeouts();
    LoadOwnValues();

    if (const BacklightLayout* layout = ProfileLayout(AppletSettings.DeviceProfile)) {
        // The generic flags belong to profile 0 alone.
        AppletSettings.GenericBacklight = FALSE;
        AppletSettings.GenericBacklightAuto = FALSE;
        ReadBacklight(OpenDeviceKey(layout->Hive, layout->Path), *layout, ExternalTimeout,
                      BatteryAuto);
        return true;
    }

    AppletSettings.GenericBacklight = TRUE;
    if (LoadGenericBacklight())
        return true;
    if (IsReferencePlatform()) {
        // These devices have no backlight settings: the applet opens without them.
        AppletSettings.GenericBacklight = FALSE;
        AppletSettings.GenericBacklightAuto = FALSE;
        return true;
    }
    MessageBoxW(nullptr, LoadFailureText, LoadFailureCaption, MB_OK | MB_ICONEXCLAMATION);
    return false;
}

void SaveSettings() {
    SaveIdleTimeouts();
    SaveOwnValues();

    if (const BacklightLayout* layout = ProfileLayout(AppletSettings.DeviceProfile)) {
        WriteBacklight(OpenDeviceKey(layout->Hive, layout->Path), *layout, ExternalTimeout,
                       BatteryAuto);
    } else if (AppletSettings.GenericBacklight) {
        SaveGenericBacklight();
    }

    NotifySettingsChange();
}

void NotifySettingsChange() {
    constexpr std::array<ScrambledName, 2> names = {ScrambledName::CreateEvent,
                                                    ScrambledName::EventModify};
    UseDeviceProcedures(names, [](const std::array<FARPROC, 2>& found) {
        auto create = ProcAs<CreateEventProc>(found[0]);
        auto modify = ProcAs<EventModifyProc>(found[1]);
        if (!create || !modify)
            return;
        // Only a handle that was made is signalled and closed.
        if (HANDLE event =
                create(nullptr, FALSE, FALSE, ExpandName(ScrambledName::SettingsEvent))) {
            modify(event, EVENT_SET);
            CloseHandle(event);
        }
    });
}

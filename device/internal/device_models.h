// The makes of device this emulator can be told to be (`velmora device model NAME`). Each keeps
// its backlight settings where its maker put them and carries the registry values that came
// with it from the factory; what a program makes of those values is the program's business.
#pragma once
#include <windows.h>
#include "device_store.h"

namespace device_models {

enum class Hive { User, Machine };

inline HKEY HiveKey(Hive hive) {
    return hive == Hive::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

// Where the device's backlight driver finds its times and "auto" flags; none where a make has
// none. A make without an external time keeps its light on external power; one without flags
// always brings it back.
struct LightKeys {
    Hive hive;
    const wchar_t* key; // none: the make has no backlight settings
    const wchar_t* batteryTime;
    const wchar_t* externalTime;
    const wchar_t* batteryAuto;
    const wchar_t* externalAuto;
};

struct Model {
    const wchar_t* name;
    LightKeys light;
};

// In the order of their numbers, which the device remembers; the first is the factory's.
constexpr Model Models[] = {
    {L"generic",
     {Hive::User, L"ControlPanel\\Backlight", L"BatteryTimeout", L"ACTimeout", L"BatteryAuto",
      L"ACAuto"}},
    {L"keybd2", {Hive::User, L"ControlPanel\\Keybd2", L"TimeOut", nullptr, L"Auto", nullptr}},
    {L"lg", {Hive::User, L"ControlPanel\\Keybd2", L"TimeOut", nullptr, L"Auto", nullptr}},
    {L"casio",
     {Hive::Machine, L"Drivers\\CASIO\\BackLight", L"TimeoutBattery", L"TimeoutExPower", nullptr,
      nullptr}},
    {L"philips",
     {Hive::Machine, L"Software\\Philips\\Backlight", L"BatteryTimeout", L"ACTimeout", nullptr,
      nullptr}},
    {L"none", {Hive::Machine, nullptr, nullptr, nullptr, nullptr, nullptr}},
};
constexpr DWORD ModelCount = sizeof Models / sizeof *Models;

// One value as the factory writes it: a 32-bit number, or a string where `text` is set.
struct FactoryValue {
    DWORD model; // index into Models
    Hive hive;
    const wchar_t* key;
    const wchar_t* name;
    DWORD number;
    const wchar_t* text;
};

// Each make's times differ, so that what a program shows tells which key it read.
constexpr FactoryValue FactoryValues[] = {
    {0, Hive::User, L"ControlPanel\\Backlight", L"BatteryTimeout", 30, nullptr},
    {0, Hive::User, L"ControlPanel\\Backlight", L"ACTimeout", 60, nullptr},
    {0, Hive::User, L"ControlPanel\\Backlight", L"BatteryAuto", 1, nullptr},
    {0, Hive::User, L"ControlPanel\\Backlight", L"ACAuto", 1, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"TimeOut", 45, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"Auto", 1, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"FromCtlpnl", 0, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"Contrast", 8, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"Brightness", 10, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd2", L"TimeZoneInformation", 0, L"W. Europe"},
    {1, Hive::User, L"ControlPanel\\Keybd", L"Brightness", 10, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd", L"Contrast", 8, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd", L"RepeatRate", 30, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd", L"DispDly", 1, nullptr},
    {1, Hive::User, L"ControlPanel\\Keybd", L"InitialDelay", 500, nullptr},
    {2, Hive::Machine, L"Platform", L"Name", 0, L"LG HPC Ver2.5"},
    {2, Hive::User, L"ControlPanel\\Keybd2", L"TimeOut", 75, nullptr},
    {2, Hive::User, L"ControlPanel\\Keybd2", L"Auto", 0, nullptr},
    {3, Hive::Machine, L"Drivers\\CASIO\\BackLight", L"TimeoutExPower", 180, nullptr},
    {3, Hive::Machine, L"Drivers\\CASIO\\BackLight", L"TimeoutBattery", 120, nullptr},
    {3, Hive::Machine, L"Drivers\\CASIO\\BackLight", L"BrightExPower", 5, nullptr},
    {3, Hive::Machine, L"Drivers\\CASIO\\BackLight", L"BrightBattery", 3, nullptr},
    {3, Hive::Machine, L"Drivers\\CASIO\\BackLight", L"Contrast", 4, nullptr},
    {4, Hive::Machine, L"Software\\Philips\\Backlight", L"BatteryTimeout", 240, nullptr},
    {4, Hive::Machine, L"Software\\Philips\\Backlight", L"ACTimeout", 300, nullptr},
    {5, Hive::Machine, L"Platform", L"Name", 0, L"Microsoft PeRP Version 1.0a"},
    {5, Hive::Machine, L"Platform", L"Type", 2, nullptr},
    {5, Hive::Machine, L"Platform", L"Target", 1, nullptr},
};

// The make the device was last told to be (HKLM): its number in Models.
constexpr wchar_t ModelKey[] = L"Drivers\\BuiltIn";
constexpr wchar_t ModelValue[] = L"Model";

// The factory's make where none was told, or the number is none of ours.
inline DWORD CurrentModel() {
    DWORD model = 0;
    device_store::ReadDword(HKEY_LOCAL_MACHINE, ModelKey, ModelValue, &model);
    return model < ModelCount ? model : 0;
}

} // namespace device_models

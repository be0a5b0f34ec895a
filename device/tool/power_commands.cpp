// Idle timeouts, through coredll.dll as the deliverables see them, and the stored report of the
// emulated battery driver.
#include <windows.h>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <cwchar>
#include "commands.h"
#include "device_store.h"
#include "output.h"
#include "power_protocol.h"
#include "wince.h"

namespace {

struct Choice {
    const wchar_t* word;
    DWORD value;
};

constexpr Choice AcChoices[] = {{L"off", AC_LINE_OFFLINE},
                                {L"on", AC_LINE_ONLINE},
                                {L"backup", AC_LINE_BACKUP_POWER},
                                {L"unknown", AC_LINE_UNKNOWN}};

// "off" makes the driver fail every status read; the battery it reports is kept for "on".
constexpr Choice DriverChoices[] = {{L"on", 0}, {L"off", 1}};

// One settable field of the stored report: its option, where it lies and how its value reads.
enum class Kind { Ac, Byte, Percent, Seconds, Driver };
struct PowerOption {
    const wchar_t* option;
    size_t offset; // in device_store::BatteryReport
    size_t size;   // 1 or 4 bytes
    Kind kind;
};

#define REPORT_FIELD(name)                                                                         \
    offsetof(SYSTEM_POWER_STATUS_EX, name), sizeof(SYSTEM_POWER_STATUS_EX::name)
constexpr PowerOption PowerOptions[] = {
    {L"--ac", REPORT_FIELD(ACLineStatus), Kind::Ac},
    {L"--battery-flag", REPORT_FIELD(BatteryFlag), Kind::Byte},
    {L"--percent", REPORT_FIELD(BatteryLifePercent), Kind::Percent},
    {L"--life", REPORT_FIELD(BatteryLifeTime), Kind::Seconds},
    {L"--full-life", REPORT_FIELD(BatteryFullLifeTime), Kind::Seconds},
    {L"--backup-flag", REPORT_FIELD(BackupBatteryFlag), Kind::Byte},
    {L"--backup-percent", REPORT_FIELD(BackupBatteryLifePercent), Kind::Percent},
    {L"--driver", offsetof(device_store::BatteryReport, DriverOff), sizeof(DWORD), Kind::Driver},
};
#undef REPORT_FIELD

bool Choose(const Choice* choices, size_t count, const wchar_t* text, DWORD* out) {
    for (size_t i = 0; i < count; ++i) {
        if (wcscmp(text, choices[i].word) == 0) {
            *out = choices[i].value;
            return true;
        }
    }
    return false;
}

bool ParsePowerValue(Kind kind, const wchar_t* text, DWORD* out) {
    unsigned long number = 0;
    switch (kind) {
    case Kind::Ac:
        return Choose(AcChoices, std::size(AcChoices), text, out);
    case Kind::Driver:
        return Choose(DriverChoices, std::size(DriverChoices), text, out);
    case Kind::Byte:
        if (!ParseNumber(text, 255, &number))
            return false;
        break;
    case Kind::Percent:
        // 255 is how the driver says "not known".
        if (wcscmp(text, L"unknown") == 0)
            number = BATTERY_PERCENTAGE_UNKNOWN;
        else if (!ParseNumber(text, 255, &number))
            return false;
        break;
    case Kind::Seconds:
        if (wcscmp(text, L"unknown") == 0)
            number = BATTERY_LIFE_UNKNOWN;
        else if (!ParseNumber(text, 0xFFFFFFFFull, &number))
            return false;
        break;
    }
    *out = number;
    return true;
}

void PrintTimeouts() {
    for (const auto& slot : device_store::IdleTimeouts) {
        DWORD seconds = 0;
        SystemParametersInfoW(slot.GetCode, 0, &seconds, 0);
        Print(L"%ls %lu\n", slot.Name, seconds);
    }
}

// The report as stored: a driver that is off still has the battery it will report when on.
void PrintPower(const device_store::BatteryReport& report) {
    const BYTE* bytes = reinterpret_cast<const BYTE*>(&report.Status);
    for (const auto& field : device_store::BatteryFields) {
        DWORD value = 0;
        std::memcpy(&value, bytes + field.Offset, field.Size);
        Print(L"%ls %lu\n", field.Value, value);
    }
    Print(L"Driver %ls\n", report.DriverOff ? L"off" : L"on");
    power::StatusReply status;
    Print(L"Light %ls\n", RequestPowerStatus(&status) ? LightOf(status) : L"unknown");
}

} // namespace

int TimeoutsCommand(int argc, wchar_t** argv) {
    struct Pending {
        const device_store::IdleTimeoutSlot* slot;
        DWORD seconds;
    } pending[8];
    int count = 0;
    for (int i = 0; i < argc; i += 2) {
        const device_store::IdleTimeoutSlot* slot = nullptr;
        for (const auto& candidate : device_store::IdleTimeouts)
            if (wcsncmp(argv[i], L"--", 2) == 0 && wcscmp(argv[i] + 2, candidate.Name) == 0)
                slot = &candidate;
        unsigned long seconds = 0;
        if (!slot || i + 1 >= argc || !ParseNumber(argv[i + 1], 0xFFFFFFFFull, &seconds) ||
            count == 8) {
            PrintError(L"timeouts: expected --battery|--external|--wakeup SECONDS, got '%ls'\n",
                       argv[i]);
            return 2;
        }
        pending[count++] = {slot, seconds};
    }
    for (int i = 0; i < count; ++i)
        SystemParametersInfoW(pending[i].slot->SetCode, pending[i].seconds, nullptr,
                              SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    PrintTimeouts();
    return 0;
}

int PowerCommand(int argc, wchar_t** argv) {
    // Everything is checked before the report is written, whole and once.
    device_store::BatteryReport report = device_store::ReadBatteryReport();
    for (int i = 0; i < argc; i += 2) {
        const PowerOption* option = nullptr;
        for (const auto& candidate : PowerOptions)
            if (wcscmp(argv[i], candidate.option) == 0)
                option = &candidate;
        if (!option) {
            PrintError(L"power: unknown option '%ls'\n", argv[i]);
            return 2;
        }
        DWORD value = 0;
        if (i + 1 >= argc || !ParsePowerValue(option->kind, argv[i + 1], &value)) {
            PrintError(L"power: bad value for %ls: '%ls'\n", argv[i],
                       i + 1 < argc ? argv[i + 1] : L"");
            return 2;
        }
        std::memcpy(reinterpret_cast<BYTE*>(&report) + option->offset, &value, option->size);
    }
    if (argc > 0 && !device_store::WriteBatteryReport(report)) {
        PrintError(L"power: the battery report cannot be stored\n");
        return 1;
    }
    if (argc > 0)
        AnnouncePowerStatus();
    PrintPower(report);
    return 0;
}

// Prints 1 when the next reset is a cold boot; "clear" takes the flag back (after a boot).
int CleanFlagCommand(int argc, wchar_t** argv) {
    if (argc == 1 && wcscmp(argv[0], L"clear") == 0) {
        if (const RegistryKey key =
                RegistryKey::Open(HKEY_LOCAL_MACHINE, device_store::InitKey, KEY_WRITE))
            RegDeleteValueW(key.get(), device_store::CleanBootValue);
        return 0;
    }
    if (argc != 0) {
        PrintError(L"cleanflag: expected no argument or 'clear'\n");
        return 2;
    }
    DWORD flag = 0;
    device_store::ReadDword(HKEY_LOCAL_MACHINE, device_store::InitKey, device_store::CleanBootValue,
                            &flag);
    Print(L"%lu\n", flag ? 1UL : 0UL);
    return 0;
}

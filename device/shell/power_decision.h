// What the power manager makes of the screen, decided from the times in force alone: no clock,
// no registry, no window, so that every rule can be checked by a table.
#pragma once
#include <windows.h>
#include "backlight.h"
#include "power_protocol.h"

namespace power {

constexpr ULONGLONG NoDecisionDue = ~0ULL;

struct Situation {
    Screen screen;
    ULONGLONG idle; // milliseconds since the last tap or key, or the last switch-on
    bool externalPower;
    bool neverSleeps;
    bool byNotification;                      // switched on by an alarm, and no input since
    DWORD batteryOff, externalOff, wakeupOff; // idle timeouts in seconds, 0: never
    BacklightRule batteryLight, externalLight;
    bool lightComesBack; // the "auto" of the rule that dimmed the light
};

struct Decision {
    Screen screen;
    wchar_t cause[CauseLength]; // empty while the screen stays as it is
    bool lightComesBack;
    ULONGLONG next; // milliseconds until the next decision is due, or NoDecisionDue
};

Decision Decide(const Situation& now);

} // namespace power

#include "power_decision.h"
#include <algorithm>
#include <cwchar>

namespace power {

namespace {

const wchar_t* SourceName(bool externalPower) {
    return externalPower ? L"on external power" : L"on battery";
}

ULONGLONG Milliseconds(DWORD seconds) {
    return seconds * 1000ULL;
}

} // namespace

Decision Decide(const Situation& now) {
    Decision decision = {now.screen, L"", now.lightComesBack, NoDecisionDue};
    // Only a tap, a key or an alarm ends the off state; a developer's device never sleeps.
    if (now.screen == Screen::Off || now.neverSleeps)
        return decision;
    DWORD off = now.externalPower ? now.externalOff : now.batteryOff;
    const wchar_t* source = SourceName(now.externalPower);
    if (now.byNotification) {
        off = now.wakeupOff;
        source = L"after a notification";
    }
    if (off && now.idle >= Milliseconds(off)) {
        decision.screen = Screen::Off;
        swprintf(decision.cause, CauseLength, L"idle %lu s %ls", static_cast<unsigned long>(off),
                 source);
        return decision;
    }
    if (off)
        decision.next = Milliseconds(off) - now.idle;
    const BacklightRule& light = now.externalPower ? now.externalLight : now.batteryLight;
    // A dimmed light follows its rule's "auto" as it changes.
    if (now.screen == Screen::Dimmed)
        decision.lightComesBack = light.comesBack;
    if (now.screen != Screen::On || !light.seconds)
        return decision;
    if (now.idle < Milliseconds(light.seconds)) {
        decision.next = std::min(decision.next, Milliseconds(light.seconds) - now.idle);
        return decision;
    }
    decision.screen = Screen::Dimmed;
    decision.lightComesBack = light.comesBack;
    swprintf(decision.cause, CauseLength, L"light %lu s %ls",
             static_cast<unsigned long>(light.seconds), SourceName(now.externalPower));
    return decision;
}

} // namespace power

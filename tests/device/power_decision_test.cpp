// The power manager's decision: which screen the times in force make of the idle time, why,
// and when to look again.
#include <windows.h>
#include <gtest/gtest.h>
#include <string>
#include "harness.h"
#include "power_decision.h"

using power::Screen;

namespace {

const char* Name(Screen screen) {
    return screen == Screen::On ? "on" : screen == Screen::Dimmed ? "dimmed" : "off";
}

std::string Show(const power::Decision& d) {
    return std::string(Name(d.screen)) + " \"" + harness::Utf8(d.cause) + "\" auto " +
           (d.lightComesBack ? "1" : "0") + " next " +
           (d.next == power::NoDecisionDue ? std::string("none") : std::to_string(d.next));
}

constexpr ULONGLONG None = power::NoDecisionDue;
constexpr bool Battery = false, External = true;

} // namespace

TEST(PowerDecision, TheTimesInForceDecideTheScreenItsCauseAndTheNextLook) {
    const struct {
        const char* name;
        power::Situation now; // screen, idle ms, power, never sleeps, by notification,
                              // battery/external/wake-up off s, battery/external light, auto
        power::Decision expected;
    } cases[] = {
        {"battery, before its time",
         {Screen::On, 4000, Battery, false, false, 5, 60, 60, {0, true}, {0, true}, true},
         {Screen::On, L"", true, 1000}},
        {"battery, at its time",
         {Screen::On, 5000, Battery, false, false, 5, 60, 60, {0, true}, {0, true}, true},
         {Screen::Off, L"idle 5 s on battery", true, None}},
        {"external power, its own time",
         {Screen::On, 4500, External, false, false, 2, 4, 60, {0, true}, {0, true}, true},
         {Screen::Off, L"idle 4 s on external power", true, None}},
        {"0 is never, and no light time",
         {Screen::On, 999999, Battery, false, false, 0, 3, 3, {0, true}, {0, true}, true},
         {Screen::On, L"", true, None}},
        {"the light comes first",
         {Screen::On, 1000, Battery, false, false, 6, 60, 60, {2, true}, {60, true}, true},
         {Screen::On, L"", true, 1000}},
        {"the light dims, off still ahead",
         {Screen::On, 2000, Battery, false, false, 6, 60, 60, {2, false}, {60, true}, true},
         {Screen::Dimmed, L"light 2 s on battery", false, 4000}},
        {"the light's time on external power",
         {Screen::On, 3000, External, false, false, 60, 60, 60, {2, true}, {3, true}, false},
         {Screen::Dimmed, L"light 3 s on external power", true, 57000}},
        {"a light time of its own without an off time",
         {Screen::On, 500, Battery, false, false, 0, 0, 0, {2, true}, {0, true}, true},
         {Screen::On, L"", true, 1500}},
        {"dimmed, then off",
         {Screen::Dimmed, 6000, Battery, false, false, 6, 60, 60, {2, true}, {60, true}, false},
         {Screen::Off, L"idle 6 s on battery", false, None}},
        {"dimmed follows its rule's auto",
         {Screen::Dimmed, 3000, Battery, false, false, 6, 60, 60, {2, true}, {60, true}, false},
         {Screen::Dimmed, L"", true, 3000}},
        {"a light longer than off never dims",
         {Screen::On, 3000, Battery, false, false, 3, 60, 60, {5, true}, {0, true}, true},
         {Screen::Off, L"idle 3 s on battery", true, None}},
        {"after a notification the wake-up time",
         {Screen::On, 3000, Battery, false, true, 60, 60, 3, {0, true}, {0, true}, true},
         {Screen::Off, L"idle 3 s after a notification", true, None}},
        {"after a notification, wake-up 0 is never",
         {Screen::On, 99000, External, false, true, 2, 2, 0, {0, true}, {0, true}, true},
         {Screen::On, L"", true, None}},
        {"sleep never: nothing, not even the light",
         {Screen::On, 99000, Battery, true, false, 5, 5, 5, {2, true}, {2, true}, true},
         {Screen::On, L"", true, None}},
        {"off stays off until an input",
         {Screen::Off, 99000, Battery, false, false, 5, 5, 5, {2, true}, {2, true}, false},
         {Screen::Off, L"", false, None}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Show(c.expected), Show(power::Decide(c.now))) << c.name;
}

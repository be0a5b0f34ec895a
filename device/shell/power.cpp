// The device's power manager. It counts the idle time from the last tap or key (seen by
// low-level hooks on the device's input) or from the last switch-on, and shows what it decided
// on a layer over the whole screen: scan lines of black while the light is dimmed, all black
// while the device is off. The programs keep running under it; a tap or a key on a dark screen
// only switches the device on and reaches no program.
#include "power.h"
#include <algorithm>
#include <cwchar>
#include "backlight.h"
#include "device_store.h"
#include "power_decision.h"
#include "power_protocol.h"
#include "wince.h"

namespace {

using power::Screen;

constexpr UINT_PTR IdleTimer = 1;
constexpr UINT InputMessage = WM_APP + 10; // posted by the hooks; wParam 1 for a key
constexpr wchar_t LayerTitle[] = L"Bildschirm";
constexpr DWORD StylusSource = 1; // every button of the stylus is one source of input

struct PowerState {
    HWND layer;
    Screen screen;
    SYSTEMTIME since;      // of the last switch on or off
    SYSTEMTIME lightSince; // of the last change of the light
    DWORD lastInput;       // ticks of the last tap or key
    DWORD switchedOn;      // ticks of the last switch-on
    bool byNotification;   // switched on by an alarm, and no input since
    bool lightComesBack;   // the "auto" of the rule that dimmed the light
    bool buttonDown;       // the stylus is on the screen
    DWORD holdButton;      // StylusSource while the tap that switched the device on is held
    DWORD holdKey;         // the same for a key: its virtual-key code
    HHOOK mouseHook;
    HHOOK keyboardHook;
    HANDLE backlightEvent;
    power::LogEntry log[power::LogLength];
    DWORD logCount;
    DWORD events; // since boot
};
PowerState State;

bool After(DWORD ticks, DWORD other) {
    return static_cast<LONG>(ticks - other) > 0;
}

void Record(Screen screen, const wchar_t* cause) {
    if (State.logCount == power::LogLength) {
        std::copy(State.log + 1, State.log + power::LogLength, State.log);
        --State.logCount;
    }
    power::LogEntry& entry = State.log[State.logCount++];
    entry.number = ++State.events;
    GetLocalTime(&entry.at);
    entry.screen = screen;
    wcsncpy(entry.cause, cause, power::CauseLength - 1);
    entry.cause[power::CauseLength - 1] = 0;
}

// Every other row of the screen: the picture stays readable, visibly darker.
HRGN ScanLines(int width, int height) {
    HRGN lines = CreateRectRgn(0, 0, 0, 0);
    for (int y = 0; y < height; y += 2) {
        HRGN line = CreateRectRgn(0, y, width, y + 1);
        CombineRgn(lines, lines, line, RGN_OR);
        DeleteObject(line);
    }
    return lines;
}

void ShowLayer(Screen screen) {
    if (screen == Screen::On) {
        ShowWindow(State.layer, SW_HIDE);
        return;
    }
    const int width = GetSystemMetrics(SM_CXSCREEN), height = GetSystemMetrics(SM_CYSCREEN);
    // The window owns the region from here on.
    SetWindowRgn(State.layer, screen == Screen::Dimmed ? ScanLines(width, height) : nullptr, FALSE);
    SetWindowPos(State.layer, HWND_TOPMOST, 0, 0, width, height, SWP_NOACTIVATE | SWP_SHOWWINDOW);
    InvalidateRect(State.layer, nullptr, TRUE);
    UpdateWindow(State.layer);
}

void SetScreen(Screen screen, const wchar_t* cause) {
    if (screen == State.screen)
        return;
    if ((screen == Screen::Off) != (State.screen == Screen::Off))
        GetLocalTime(&State.since);
    GetLocalTime(&State.lightSince);
    if (State.screen == Screen::Off)
        State.switchedOn = GetTickCount();
    State.screen = screen;
    ShowLayer(screen);
    Record(screen, cause);
}

bool NeverSleeps() {
    DWORD never = 0;
    device_store::ReadDword(HKEY_LOCAL_MACHINE, device_store::PowerKey,
                            device_store::NeverSleepValue, &never);
    return never != 0;
}

// A driver that does not answer leaves the device on its battery, as the notifier sees it.
bool OnExternalPower() {
    SYSTEM_POWER_STATUS_EX status = {};
    return GetSystemPowerStatusEx(&status, TRUE) && status.ACLineStatus == AC_LINE_ONLINE;
}

DWORD IdleTimeout(UINT getCode) {
    DWORD seconds = 0;
    SystemParametersInfoW(getCode, 0, &seconds, 0);
    return seconds;
}

// Gathers the times in force, lets the decision speak, and carries it out.
void Reconsider() {
    KillTimer(State.layer, IdleTimer);
    if (State.screen == Screen::Off)
        return;
    if (State.byNotification && After(State.lastInput, State.switchedOn))
        State.byNotification = false;
    const DWORD from =
        After(State.lastInput, State.switchedOn) ? State.lastInput : State.switchedOn;
    power::Situation now = {};
    now.screen = State.screen;
    now.idle = GetTickCount() - from;
    now.neverSleeps = NeverSleeps();
    now.byNotification = State.byNotification;
    now.lightComesBack = State.lightComesBack;
    if (!now.neverSleeps) {
        now.externalPower = OnExternalPower();
        now.batteryOff = IdleTimeout(SPI_GETBATTERYIDLETIMEOUT);
        now.externalOff = IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT);
        now.wakeupOff = IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT);
        now.batteryLight = ReadBacklightRule(false);
        now.externalLight = ReadBacklightRule(true);
    }
    const power::Decision decision = power::Decide(now);
    State.lightComesBack = decision.lightComesBack;
    if (decision.screen != State.screen)
        SetScreen(decision.screen, decision.cause);
    // A little late rather than early: a timer that comes early only looks again.
    if (decision.next != power::NoDecisionDue)
        SetTimer(State.layer, IdleTimer,
                 static_cast<UINT>(std::min(decision.next + 20, 0x7FFFFFFFULL)), nullptr);
}

void Input(bool key) {
    const wchar_t* cause = key ? L"key" : L"tap";
    if (State.screen == Screen::Off)
        SetScreen(Screen::On, cause);
    else if (State.screen == Screen::Dimmed && State.lightComesBack)
        SetScreen(Screen::On, cause);
    Reconsider();
}

// Whether the power manager must hear of an input at once, beyond noting its time.
bool MustHear() {
    return State.screen != Screen::On || State.byNotification;
}

// A stylus event as press or release; false for a move with the stylus up, which is no input
// on a stylus device: the pointer moves by itself only as windows come and go under it.
bool StylusEvent(WPARAM message, bool* press, bool* release) {
    *press = message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
    *release = message == WM_LBUTTONUP || message == WM_RBUTTONUP || message == WM_MBUTTONUP;
    if (message == WM_MOUSEMOVE && !State.buttonDown && !State.holdButton)
        return false;
    State.buttonDown = *press || (State.buttonDown && !*release);
    return true;
}

// Notes an input and decides its way: true when no program may have it. The press that
// switches a dark device on is held, with everything of its source until its release.
bool Swallow(WPARAM message, LPARAM lParam) {
    const bool key = message >= WM_KEYFIRST && message <= WM_KEYLAST;
    bool press = false, release = false;
    DWORD source = StylusSource, *held = &State.holdButton;
    if (key) {
        source = reinterpret_cast<const KBDLLHOOKSTRUCT*>(lParam)->vkCode;
        press = message == WM_KEYDOWN || message == WM_SYSKEYDOWN;
        release = !press;
        held = &State.holdKey;
    } else if (!StylusEvent(message, &press, &release)) {
        return false;
    }
    State.lastInput = GetTickCount();
    if (*held && *held == source) {
        if (release)
            *held = 0;
        return true;
    }
    if (press && State.screen == Screen::Off) {
        *held = source;
        PostMessageW(State.layer, InputMessage, key, 0);
        return true;
    }
    if (press && MustHear())
        PostMessageW(State.layer, InputMessage, key, 0);
    return false;
}

// One procedure for both low-level hooks: their messages tell a key from the stylus.
LRESULT CALLBACK InputHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && Swallow(wParam, lParam))
        return 1;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT Wake() {
    if (State.screen != Screen::Off)
        return 2;
    State.byNotification = true;
    SetScreen(Screen::On, L"notification");
    Reconsider();
    return 1;
}

LRESULT ReplyStatus(HWND requester) {
    if (!IsWindow(requester))
        return 0;
    power::StatusReply reply = {};
    reply.screen = State.screen;
    reply.since = State.since;
    reply.lightSince = State.lightSince;
    reply.neverSleeps = NeverSleeps();
    reply.count = State.logCount;
    std::copy(State.log, State.log + State.logCount, reply.log);
    COPYDATASTRUCT copy = {power::StatusReplyTag, sizeof reply, &reply};
    SendMessageTimeoutW(requester, WM_COPYDATA, reinterpret_cast<WPARAM>(State.layer),
                        reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 2000, nullptr);
    return 1;
}

LRESULT CALLBACK LayerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_TIMER:
        if (wParam == IdleTimer)
            Reconsider();
        return 0;
    case InputMessage:
        Input(wParam != 0);
        return 0;
    // The idle timeouts (SPIF_SENDCHANGE) or the power source changed.
    case WM_SETTINGCHANGE:
    case WM_POWERBROADCAST:
        Reconsider();
        return message == WM_POWERBROADCAST ? TRUE : 0;
    case power::WakeMessage:
        return Wake();
    case power::ReconsiderMessage:
        // The device may have been told it is another make, with another backlight key.
        State.backlightEvent = WatchBacklight();
        if (NeverSleeps())
            SetScreen(Screen::On, L"sleep never");
        Reconsider();
        return 1;
    case power::StatusMessage:
        return ReplyStatus(reinterpret_cast<HWND>(wParam));
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

HWND CreatePowerManager(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = LayerProc;
    wc.hInstance = instance;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = power::LayerClass;
    if (!RegisterClassW(&wc))
        return nullptr;
    // Layered and transparent: a tap goes through the dimmed light to the program under it.
    State.layer = CreateWindowExW(
        WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE | WS_EX_LAYERED | WS_EX_TRANSPARENT,
        power::LayerClass, LayerTitle, WS_POPUP, 0, 0, GetSystemMetrics(SM_CXSCREEN),
        GetSystemMetrics(SM_CYSCREEN), nullptr, nullptr, instance, nullptr);
    if (!State.layer)
        return nullptr;
    SetLayeredWindowAttributes(State.layer, 0, 255, LWA_ALPHA);
    State.mouseHook = SetWindowsHookExW(WH_MOUSE_LL, InputHook, instance, 0);
    State.keyboardHook = SetWindowsHookExW(WH_KEYBOARD_LL, InputHook, instance, 0);
    State.backlightEvent = WatchBacklight();
    State.screen = Screen::On;
    GetLocalTime(&State.since);
    State.lightSince = State.since;
    State.switchedOn = State.lastInput = GetTickCount();
    Record(Screen::On, L"boot");
    Reconsider();
    return State.layer;
}

HANDLE BacklightChangeEvent() {
    return State.backlightEvent;
}

void BacklightChanged() {
    State.backlightEvent = WatchBacklight();
    Reconsider();
}

bool NoteTaskbarTap() {
    State.lastInput = GetTickCount();
    const bool wasOff = State.screen == Screen::Off;
    Input(false);
    return !wasOff;
}

// The device's screen and its power manager in the shell: on or off, the light, the log of
// power events, a tap anywhere, a wake by an alarm, and whether the device sleeps at all.
#include <windows.h>
#include <cstring>
#include <cwchar>
#include <vector>
#include "commands.h"
#include "device_store.h"
#include "output.h"
#include "power_protocol.h"

namespace {

HWND Layer() {
    return FindWindowExW(nullptr, nullptr, power::LayerClass, nullptr);
}

const wchar_t* const NoShell =
    L"%ls: the device shell does not answer (is devshell.exe running?)\n";

// Sends the layer one of its messages; false when it does not answer.

const wchar_t* ScreenWord(power::Screen screen) {
    return screen == power::Screen::Off ? L"off" : L"on";
}

const wchar_t* LightWord(power::Screen screen) {
    switch (screen) {
    case power::Screen::On:
        return L"on";
    case power::Screen::Dimmed:
        return L"dimmed";
    case power::Screen::Off:
        break;
    }
    return L"off";
}

void PrintTime(const SYSTEMTIME& t) {
    Print(L"%04u-%02u-%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute,
          t.wSecond);
}

// "X,Y" on the screen.
bool ParsePoint(const wchar_t* text, POINT* point) {
    const wchar_t* comma = wcschr(text, L',');
    if (!comma || comma - text > 5)
        return false;
    wchar_t x[8] = L"";
    wcsncpy(x, text, comma - text);
    unsigned long px = 0, py = 0;
    if (!ParseNumber(x, 0xFFFF, &px) || !ParseNumber(comma + 1, 0xFFFF, &py) ||
        static_cast<int>(px) >= GetSystemMetrics(SM_CXSCREEN) ||
        static_cast<int>(py) >= GetSystemMetrics(SM_CYSCREEN))
        return false;
    *point = POINT{static_cast<LONG>(px), static_cast<LONG>(py)};
    return true;
}

} // namespace

bool RequestPowerStatus(power::StatusReply* reply) {
    HWND layer = Layer();
    if (!layer)
        return false;
    std::vector<BYTE> answer;
    if (!AskShell(layer, power::StatusMessage, 0, power::StatusReplyTag, &answer) ||
        answer.size() != sizeof *reply)
        return false;
    power::StatusReply received;
    memcpy(&received, answer.data(), sizeof received);
    if (received.count > power::LogLength)
        return false;
    *reply = received;
    return true;
}

const wchar_t* LightOf(const power::StatusReply& reply) {
    return LightWord(reply.screen);
}

// One line: "on since ..." or "off since ...", then what keeps it on.
namespace {

// The shell's power status for a command without arguments: 0, or the exit code with which
// the command ends.
int StatusFor(const wchar_t* command, int argc, power::StatusReply* reply) {
    if (argc != 0) {
        PrintError(L"%ls: no arguments\n", command);
        return 2;
    }
    if (!RequestPowerStatus(reply)) {
        PrintError(NoShell, command);
        return 1;
    }
    return 0;
}

} // namespace

int ScreenCommand(int argc, wchar_t**) {
    power::StatusReply reply;
    if (int code = StatusFor(L"screen", argc, &reply))
        return code;
    Print(L"%ls since ", ScreenWord(reply.screen));
    PrintTime(reply.since);
    Print(L", light %ls%ls\n", LightWord(reply.screen), reply.neverSleeps ? L", sleep never" : L"");
    return 0;
}

int LogCommand(int argc, wchar_t**) {
    power::StatusReply reply;
    if (int code = StatusFor(L"log", argc, &reply))
        return code;
    for (DWORD i = 0; i < reply.count; ++i) {
        const power::LogEntry& entry = reply.log[i];
        WCHAR cause[power::CauseLength + 1] = L"";
        wmemcpy(cause, entry.cause, power::CauseLength);
        Print(L"%lu ", static_cast<unsigned long>(entry.number));
        PrintTime(entry.at);
        Print(L" %ls: %ls\n",
              entry.screen == power::Screen::Dimmed ? L"dimmed" : ScreenWord(entry.screen), cause);
    }
    return 0;
}

// A stylus tap through the device's input, as a finger on the glass would make it.
int TouchCommand(int argc, wchar_t** argv) {
    POINT point;
    if (argc != 1 || !ParsePoint(argv[0], &point)) {
        PrintError(L"touch: expected X,Y on the %dx%d screen, such as 120,160\n",
                   GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 2;
    }
    if (!PressAt(point)) {
        PrintError(L"touch: the device took no input\n");
        return 1;
    }
    return 0;
}

// The press and the release each carry the point: a press sent apart from its move can reach
// the device before the move does, and land where the stylus was before.
bool PressAt(POINT point) {
    // The middle of the pixel, in the 0 to 65535 of absolute coordinates: whichever way the
    // device rounds back, it is that pixel.
    auto scaled = [](LONG at, int size) {
        return static_cast<LONG>((2LL * at + 1) * 65536 / (2LL * size));
    };
    const LONG x = scaled(point.x, GetSystemMetrics(SM_CXSCREEN));
    const LONG y = scaled(point.y, GetSystemMetrics(SM_CYSCREEN));
    constexpr DWORD At = MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_MOVE;
    INPUT tap[2] = {};
    for (INPUT& event : tap) {
        event.type = INPUT_MOUSE;
        event.mi.dx = x;
        event.mi.dy = y;
    }
    tap[0].mi.dwFlags = At | MOUSEEVENTF_LEFTDOWN;
    tap[1].mi.dwFlags = At | MOUSEEVENTF_LEFTUP;
    return SendInput(2, tap, sizeof(INPUT)) == 2;
}

bool TellPowerManager(UINT message, LRESULT* result) {
    HWND layer = Layer();
    DWORD_PTR answer = 0;
    if (!layer || !SendMessageTimeoutW(layer, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer) ||
        !answer)
        return false;
    if (result)
        *result = static_cast<LRESULT>(answer);
    return true;
}

int WakeCommand(int argc, wchar_t** argv) {
    if (argc != 1 || wcscmp(argv[0], L"--notification") != 0) {
        PrintError(L"wake: expected --notification\n");
        return 2;
    }
    LRESULT result = 0;
    if (!TellPowerManager(power::WakeMessage, &result)) {
        PrintError(NoShell, L"wake");
        return 1;
    }
    Print(result == 1 ? L"switched on by a notification\n" : L"already on\n");
    return 0;
}

int SleepCommand(int argc, wchar_t** argv) {
    const bool never = argc == 1 && wcscmp(argv[0], L"never") == 0;
    if (argc > 1 || (argc == 1 && !never && wcscmp(argv[0], L"normal") != 0)) {
        PrintError(L"sleep: expected nothing, never or normal\n");
        return 2;
    }
    if (argc == 1) {
        if (!device_store::WriteDword(HKEY_LOCAL_MACHINE, device_store::PowerKey,
                                      device_store::NeverSleepValue, never ? 1 : 0)) {
            PrintError(L"sleep: the setting cannot be stored\n");
            return 1;
        }
        // A shell not yet started reads it as it starts.
        TellPowerManager(power::ReconsiderMessage);
    }
    DWORD value = 0;
    device_store::ReadDword(HKEY_LOCAL_MACHINE, device_store::PowerKey,
                            device_store::NeverSleepValue, &value);
    Print(L"%ls\n", value ? L"never" : L"normal");
    return 0;
}

// The battery driver tells the power manager that the power source may have changed.
void AnnouncePowerStatus() {
    if (HWND layer = Layer())
        SendMessageTimeoutW(layer, WM_POWERBROADCAST, PBT_APMPOWERSTATUSCHANGE, 0, SMTO_ABORTIFHUNG,
                            2000, nullptr);
}

// The notification area as the device shell holds it, and taps on its icons.
#include <windows.h>
#include <cstring>
#include <cwchar>
#include <vector>
#include "commands.h"
#include "output.h"
#include "tray_protocol.h"

namespace {

// Asks the shell for its icons: an array of its records.
bool RequestIconList(HWND* taskbar, std::vector<tray::ListEntry>* entries) {
    *taskbar = FindWindowExW(nullptr, nullptr, tray::ShellClass, tray::ShellTitle);
    if (!*taskbar)
        return false;
    COPYDATASTRUCT request = {tray::ListRequestTag, 0, nullptr};
    std::vector<BYTE> answer;
    if (!AskShell(*taskbar, WM_COPYDATA, reinterpret_cast<LPARAM>(&request), tray::ListReplyTag,
                  &answer) ||
        answer.size() % sizeof(tray::ListEntry) != 0)
        return false;
    entries->resize(answer.size() / sizeof(tray::ListEntry));
    if (!answer.empty())
        memcpy(entries->data(), answer.data(), answer.size());
    return true;
}

// With a place, the line ends in " at=X,Y": the middle of the icon's slot on the screen, where
// a tap from outside the device (a VNC viewer, a browser) hits it.
void PrintEntry(const tray::ListEntry& entry, HWND taskbar, bool withPlace) {
    HWND owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(entry.window));
    wchar_t className[256] = L"";
    GetClassNameW(owner, className, 256);
    wchar_t image[16] = L"none";
    if (entry.hasImage)
        swprintf(image, 16, L"%08lx", static_cast<unsigned long>(entry.imageHash));
    wchar_t tip[tray::TipLength + 1] = L"";
    wmemcpy(tip, entry.tip, tray::TipLength);
    std::wstring tipPart = *tip ? L" tip=" + Quoted(tip) : L"";
    wchar_t place[32] = L"";
    if (withPlace) {
        POINT middle = {(entry.bounds.left + entry.bounds.right) / 2,
                        (entry.bounds.top + entry.bounds.bottom) / 2};
        ClientToScreen(taskbar, &middle);
        swprintf(place, 32, L" at=%ld,%ld", middle.x, middle.y);
    }
    Print(L"0x%08lx %ls id=%lu message=0x%04lx image=%ls%ls%ls\n",
          static_cast<unsigned long>(entry.window), Quoted(className).c_str(),
          static_cast<unsigned long>(entry.id), static_cast<unsigned long>(entry.callbackMessage),
          image, tipPart.c_str(), place);
}

} // namespace

int TrayCommand(int argc, wchar_t** argv) {
    const bool withPlace = argc == 1 && wcscmp(argv[0], L"--at") == 0;
    if (argc != 0 && !withPlace) {
        PrintError(L"tray: expected nothing or --at\n");
        return 2;
    }
    HWND taskbar;
    std::vector<tray::ListEntry> entries;
    if (!RequestIconList(&taskbar, &entries)) {
        PrintError(L"tray: the device shell does not answer (is devshell.exe running?)\n");
        return 1;
    }
    for (const auto& entry : entries)
        PrintEntry(entry, taskbar, withPlace);
    return 0;
}

// A stylus tap on the N-th icon from the left, in the middle of its slot, through the device's
// input as `touch` makes it.
int TapCommand(int argc, wchar_t** argv) {
    unsigned long position = 1;
    if (argc > 1 || (argc == 1 && (!ParseNumber(argv[0], 1000, &position) || position == 0))) {
        PrintError(L"tap: expected the position of an icon, 1 for the first\n");
        return 2;
    }
    HWND taskbar;
    std::vector<tray::ListEntry> entries;
    if (!RequestIconList(&taskbar, &entries)) {
        PrintError(L"tap: the device shell does not answer (is devshell.exe running?)\n");
        return 1;
    }
    if (position > entries.size()) {
        PrintError(L"tap: there is no icon %lu; the taskbar shows %u\n", position,
                   static_cast<unsigned>(entries.size()));
        return 1;
    }
    const RECT& slot = entries[position - 1].bounds;
    POINT middle = {(slot.left + slot.right) / 2, (slot.top + slot.bottom) / 2};
    ClientToScreen(taskbar, &middle);
    if (!PressAt(middle)) {
        PrintError(L"tap: the device took no input\n");
        return 1;
    }
    return 0;
}

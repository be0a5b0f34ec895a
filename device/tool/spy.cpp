// The window tree of the device, one window a line, as a person would see it.
#include <windows.h>
#include <cwchar>
#include <string>
#include "commands.h"
#include "output.h"

namespace {

std::wstring TextOf(HWND window) {
    wchar_t text[512] = L"";
    DWORD_PTR length = 0;
    // A hung program must not hang the tool: fall back to the text the system keeps.
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, 500, &length))
        InternalGetWindowText(window, text, 512);
    text[511] = 0;
    return text;
}

const wchar_t* CheckStateOf(HWND window, const wchar_t* className) {
    if (_wcsicmp(className, L"Button") != 0)
        return L"-";
    LONG type = GetWindowLongW(window, GWL_STYLE) & BS_TYPEMASK;
    bool checkable = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                     type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
    if (!checkable)
        return L"-";
    DWORD_PTR state = 0;
    SendMessageTimeoutW(window, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 500, &state);
    return state == BST_CHECKED ? L"checked" : state == BST_INDETERMINATE ? L"indeterminate"
                                                                          : L"unchecked";
}

void PrintWindow(HWND window, int depth) {
    wchar_t className[256] = L"";
    GetClassNameW(window, className, 256);
    RECT r;
    GetWindowRect(window, &r);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    Print(L"%*ls0x%08lx %ls id=%ld %ls %ls %ls %ls (%ld,%ld,%ld,%ld) pid=%lu\n", depth * 2, L"",
          static_cast<unsigned long>(reinterpret_cast<ULONG_PTR>(window)),
          Quoted(className).c_str(),
          static_cast<long>(GetWindowLongPtrW(window, GWLP_ID)), Quoted(TextOf(window)).c_str(),
          IsWindowVisible(window) ? L"visible" : L"hidden",
          IsWindowEnabled(window) ? L"enabled" : L"disabled", CheckStateOf(window, className),
          r.left, r.top, r.right, r.bottom, pid);
}

void PrintTree(HWND window, int depth) {
    PrintWindow(window, depth);
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        PrintTree(child, depth + 1);
}

// With a class, only the subtrees whose root has that class, wherever they stand.
void PrintMatching(HWND window, const wchar_t* wanted) {
    wchar_t className[256] = L"";
    GetClassNameW(window, className, 256);
    if (_wcsicmp(className, wanted) == 0) {
        PrintTree(window, 0);
        return;
    }
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        PrintMatching(child, wanted);
}

} // namespace

int SpyCommand(int argc, wchar_t** argv) {
    if (argc > 1) {
        PrintError(L"spy: expected at most one window class\n");
        return 2;
    }
    HWND desktop = GetDesktopWindow();
    for (HWND top = GetWindow(desktop, GW_CHILD); top; top = GetWindow(top, GW_HWNDNEXT)) {
        if (argc == 1)
            PrintMatching(top, argv[0]);
        else
            PrintTree(top, 0);
    }
    return 0;
}

int DesktopCommand(int argc, wchar_t**) {
    if (argc != 0) {
        PrintError(L"desktop: expected no argument\n");
        return 2;
    }
    RECT r;
    GetWindowRect(GetDesktopWindow(), &r);
    Print(L"%ldx%ld\n", r.right - r.left, r.bottom - r.top);
    return 0;
}

// Waits for a visible top-level window of a class (and title); 1 when none came in time.
int WaitCommand(int argc, wchar_t** argv) {
    unsigned long seconds = 0;
    if (argc < 2 || argc > 3 || !ParseNumber(argv[0], 600, &seconds)) {
        PrintError(L"wait: expected SECONDS CLASS [TITLE]\n");
        return 2;
    }
    const wchar_t* title = argc == 3 ? argv[2] : nullptr;
    DWORD start = GetTickCount();
    for (;;) {
        for (HWND w = FindWindowExW(nullptr, nullptr, argv[1], title); w;
             w = FindWindowExW(nullptr, w, argv[1], title))
            if (IsWindowVisible(w))
                return 0;
        if (GetTickCount() - start >= seconds * 1000)
            return 1;
        Sleep(50);
    }
}

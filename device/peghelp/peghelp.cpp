// The device's help viewer: "FILE#ANCHOR" shows one topic of a help file of \Windows.
#include <windows.h>
#include <string>
#include "help_file.h"
#include "resource.h"

namespace {

constexpr wchar_t ClassName[] = L"PegHelp";
constexpr wchar_t Caption[] = L"Hilfe";

struct ViewerState {
    HelpTopic topic;
    HFONT titleFont;
} Viewer;

void Layout(HWND window) {
    RECT r;
    GetClientRect(window, &r);
    MoveWindow(GetDlgItem(window, IDC_HELP_TITLE), 4, 4, r.right - 8, 18, TRUE);
    MoveWindow(GetDlgItem(window, IDC_HELP_TEXT), 4, 26, r.right - 8, r.bottom - 58, TRUE);
    MoveWindow(GetDlgItem(window, IDCANCEL), r.right - 84, r.bottom - 28, 80, 24, TRUE);
}

void CreateControls(HWND window) {
    auto font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));
    HWND title =
        CreateWindowExW(0, L"STATIC", Viewer.topic.title.c_str(), WS_CHILD | WS_VISIBLE, 0, 0, 0, 0,
                        window, reinterpret_cast<HMENU>(IDC_HELP_TITLE), nullptr, nullptr);
    LOGFONTW bold = {};
    GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof bold, &bold);
    bold.lfWeight = FW_BOLD;
    Viewer.titleFont = CreateFontIndirectW(&bold);
    SendMessageW(title, WM_SETFONT, reinterpret_cast<WPARAM>(Viewer.titleFont), FALSE);
    HWND text = CreateWindowExW(
        WS_EX_CLIENTEDGE, L"EDIT", Viewer.topic.text.c_str(),
        WS_CHILD | WS_VISIBLE | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, 0, 0, 0,
        0, window, reinterpret_cast<HMENU>(IDC_HELP_TEXT), nullptr, nullptr);
    SendMessageW(text, WM_SETFONT, font, FALSE);
    HWND close = CreateWindowExW(0, L"BUTTON", L"Schließen",
                                 WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 0, 0, 0, 0,
                                 window, reinterpret_cast<HMENU>(IDCANCEL), nullptr, nullptr);
    SendMessageW(close, WM_SETFONT, font, FALSE);
    Layout(window);
}

LRESULT CALLBACK ViewerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        CreateControls(window);
        return 0;
    case WM_SIZE:
        Layout(window);
        return 0;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL)
            DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        DeleteObject(Viewer.titleFont);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int ShowTopic(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = ViewerWindowProc;
    wc.hInstance = instance;
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = ClassName;
    RegisterClassW(&wc);
    RECT work;
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    std::wstring caption = std::wstring(Caption) + L": " + Viewer.topic.title;
    HWND window = CreateWindowExW(0, ClassName, caption.c_str(), WS_CAPTION | WS_SYSMENU, work.left,
                                  work.top, work.right - work.left, work.bottom - work.top, nullptr,
                                  nullptr, instance, nullptr);
    if (!window)
        return 1;
    ShowWindow(window, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    const std::wstring line = GetCommandLineW(); // the arguments alone
    size_t hash = line.find(L'#');
    std::wstring file = line.substr(0, hash);
    std::wstring anchor = hash == std::wstring::npos ? L"" : line.substr(hash + 1);
    std::wstring html;
    if (!LoadHelpFile(file, &html)) {
        std::wstring text = L"Die Hilfedatei \"" + file + L"\" wurde nicht gefunden.";
        MessageBoxW(nullptr, text.c_str(), Caption, MB_OK | MB_ICONEXCLAMATION | MB_SETFOREGROUND);
        return 1;
    }
    Viewer.topic = FindTopic(html, anchor);
    return ShowTopic(instance);
}

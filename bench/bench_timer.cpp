// The baseline of the idle figures: a program that keeps one hidden window with one timer and
// does nothing else. Its command line is the period in milliseconds (default 2000).
#include <windows.h>

namespace {

void CALLBACK Nothing(HWND, UINT, UINT_PTR, DWORD) {}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR, int) {
    UINT period = 0;
    for (const wchar_t* p = GetCommandLineW(); *p >= L'0' && *p <= L'9' && period < 600000; ++p)
        period = period * 10 + (*p - L'0');
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = L"VelmoraBenchTimer";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr,
                                  nullptr, instance, nullptr);
    SetTimer(window, 1, period ? period : 2000, Nothing);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    return 0;
}

// The device's shell library: dialog sizing to the work area and the caption's "ok" button.
#include <windows.h>
#include "aygshell.h"

namespace {

constexpr wchar_t OriginalProcProperty[] = L"VelmoraAygOriginalProc";

// The "ok" button sits in the caption, left of the close button, in window coordinates.
RECT OkButtonRect(HWND window) {
    RECT frame;
    GetWindowRect(window, &frame);
    const int border = GetSystemMetrics(SM_CXFIXEDFRAME);
    const int caption = GetSystemMetrics(SM_CYCAPTION);
    const int closeWidth = GetSystemMetrics(SM_CXSIZE);
    const int width = frame.right - frame.left;
    RECT ok;
    ok.right = width - border - closeWidth - 2;
    ok.left = ok.right - caption - 6;
    ok.top = GetSystemMetrics(SM_CYFIXEDFRAME) + 2;
    ok.bottom = ok.top + caption - 4;
    return ok;
}

bool HitsOkButton(HWND window, LPARAM screenPoint) {
    RECT frame, ok = OkButtonRect(window);
    GetWindowRect(window, &frame);
    POINT pt = {static_cast<short>(LOWORD(screenPoint)) - frame.left,
                static_cast<short>(HIWORD(screenPoint)) - frame.top};
    return PtInRect(&ok, pt) != FALSE;
}

void PaintOkButton(HWND window) {
    HDC dc = GetWindowDC(window);
    if (!dc)
        return;
    RECT ok = OkButtonRect(window);
    DrawFrameControl(dc, &ok, DFC_BUTTON, DFCS_BUTTONPUSH);
    SetBkMode(dc, TRANSPARENT);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    DrawTextW(dc, L"ok", 2, &ok, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
}

LRESULT CALLBACK OkButtonProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto original = reinterpret_cast<WNDPROC>(GetPropW(window, OriginalProcProperty));
    switch (message) {
    case WM_NCHITTEST:
        // Keeps the default caption handling (dragging) away from the button.
        if (HitsOkButton(window, lParam))
            return HTOBJECT;
        break;
    case WM_NCLBUTTONUP:
        if (HitsOkButton(window, lParam)) {
            PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            return 0;
        }
        break;
    case WM_NCPAINT:
    case WM_NCACTIVATE:
    case WM_SETTEXT: {
        LRESULT result = CallWindowProcW(original, window, message, wParam, lParam);
        PaintOkButton(window);
        return result;
    }
    case WM_NCDESTROY:
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropW(window, OriginalProcProperty);
        break;
    }
    return CallWindowProcW(original, window, message, wParam, lParam);
}

void SizeToWorkArea(HWND window) {
    RECT work;
    if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
        return;
    SetWindowPos(window, nullptr, work.left, work.top, work.right - work.left,
                 work.bottom - work.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void AddOkButton(HWND window) {
    if (GetPropW(window, OriginalProcProperty))
        return;
    auto original = GetWindowLongPtrW(window, GWLP_WNDPROC);
    SetPropW(window, OriginalProcProperty, reinterpret_cast<HANDLE>(original));
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OkButtonProc));
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
}

} // namespace

extern "C" {

BOOL WINAPI SHInitExtraControls(void) { return TRUE; }

BOOL WINAPI SHInitDialog(PSHINITDLGINFO info) {
    if (!info || !IsWindow(info->hDlg)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(info->dwMask & SHIDIM_FLAGS))
        return TRUE;
    if (info->dwFlags & SHIDIF_SIZEDLG)
        SizeToWorkArea(info->hDlg);
    if (info->dwFlags & SHIDIF_DONEBUTTON)
        AddOkButton(info->hDlg);
    return TRUE;
}

} // extern "C"

// The heading line of the pages. It keeps nothing between paintings: the font is made and
// deleted on every paint, and the text comes from the window text each time.
#include "separator.h"
#include "gdi_guards.h"

namespace {

constexpr int MaxTextLength = 127;
constexpr int BarGap = 5;       // pixels between the text and the bar
constexpr int BarThickness = 2; // a two-pixel rectangle: its outline fills both rows

// Always the control's own face, never the dialog font the dialog manager hands it.
LOGFONTW HeadingFont() {
    LOGFONTW description = {};
    description.lfHeight = 14;
    description.lfWeight = FW_BOLD;
    description.lfCharSet = DEFAULT_CHARSET;
    description.lfPitchAndFamily = FF_SWISS;
    lstrcpyW(description.lfFaceName, L"Tahoma");
    return description;
}

void PaintSeparator(HWND window, WPARAM wParam, LPARAM lParam) {
    // The default handling validates the control and erases it with the white class brush.
    DefWindowProcW(window, WM_PAINT, wParam, lParam);
    WindowDc dc(window);
    RECT client;
    GetClientRect(window, &client);
    wchar_t text[MaxTextLength + 1] = L"";
    int length = GetWindowTextW(window, text, MaxTextLength + 1);

    OwnedFont font(HeadingFont());
    SelectedObject selected(dc, font);
    // The DC's defaults: black text on an opaque white background.
    DrawTextW(dc, text, length, &client, 0);
    SIZE extent = {};
    GetTextExtentExPointW(dc, text, length, 0, nullptr, nullptr, &extent);
    const int top = extent.cy / 2;
    Rectangle(dc, extent.cx + BarGap, top, client.right, top + BarThickness);
}

LRESULT CALLBACK SeparatorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_PAINT)
        return DefWindowProcW(window, message, wParam, lParam);
    PaintSeparator(window, wParam, lParam);
    return 0;
}

} // namespace

ATOM RegisterSeparatorClass(HINSTANCE instance) {
    WNDCLASSW windowClass = {};
    // A size change repaints the whole control, so the bar always ends at the right edge.
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = SeparatorProc;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    windowClass.lpszClassName = SeparatorClassName;
    return RegisterClassW(&windowClass);
}

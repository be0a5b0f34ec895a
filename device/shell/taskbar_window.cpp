// The taskbar window: the notification area that Shell_NotifyIcon reaches, drawn with the
// icons at 16 x 16 left of the clock; a stylus tap on an icon tells its owner.
#include <windows.h>
#include <cwchar>
#include <vector>
#include "power.h"
#include "taskbar.h"
#include "tray_icons.h"
#include "tray_protocol.h"

namespace {

constexpr UINT_PTR ClockTimer = 1;
constexpr int SlotWidth = tray::IconSize + 4;
constexpr int ClockPadding = 6;

struct TaskbarState {
    HFONT font;
    wchar_t clock[8];
    bool pressed; // the stylus went down on an icon and is not up yet
    HWND pressedOwner;
    UINT pressedId;
};
TaskbarState State;

void ReadClock(wchar_t* text, size_t length) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    swprintf(text, length, L"%02u:%02u", now.wHour, now.wMinute);
}

// The clock shows minutes, so the shell wakes once a minute, just after the minute turns. A
// timer that comes a little early finds the old minute and is set again for the short rest.
void ArmClock(HWND window) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    const UINT untilMinute = (60 - now.wSecond) * 1000 - now.wMilliseconds;
    SetTimer(window, ClockTimer, untilMinute + 20, nullptr);
}

RECT ClockRect(HWND window, HDC dc) {
    RECT client;
    GetClientRect(window, &client);
    SIZE extent = {};
    GetTextExtentPoint32W(dc, State.clock, static_cast<int>(wcslen(State.clock)), &extent);
    return RECT{client.right - extent.cx - 2 * ClockPadding, 0, client.right, client.bottom};
}

// Icons stand right-aligned in front of the clock, the oldest leftmost.
RECT IconSlot(LONG clockLeft, int index) {
    LONG left = clockLeft - (IconCount() - index) * SlotWidth;
    return RECT{left, 0, left + SlotWidth, tray::TaskbarHeight};
}

POINT IconOrigin(const RECT& slot) {
    return POINT{slot.left + (SlotWidth - tray::IconSize) / 2,
                 (tray::TaskbarHeight - tray::IconSize) / 2};
}

LONG ClockLeft(HWND window) {
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, State.font);
    LONG left = ClockRect(window, dc).left;
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return left;
}

void BlendIcon(uint32_t* bits, int stride, POINT origin, const TrayIcon& icon) {
    for (int y = 0; y < tray::IconSize; ++y) {
        for (int x = 0; x < tray::IconSize; ++x) {
            uint32_t pixel = icon.pixels[y * tray::IconSize + x];
            int px = origin.x + x, py = origin.y + y;
            if ((pixel >> 24) && px >= 0 && px < stride)
                bits[py * stride + px] = pixel & 0xFFFFFF;
        }
    }
}

void PaintTaskbar(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT client;
    GetClientRect(window, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP canvas = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ oldBitmap = SelectObject(memory, canvas);
    HGDIOBJ oldFont = SelectObject(memory, State.font);
    FillRect(memory, &client, GetSysColorBrush(COLOR_BTNFACE));
    RECT edge = {0, client.bottom - 1, client.right, client.bottom};
    FillRect(memory, &edge, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT clock = ClockRect(window, memory);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, GetSysColor(COLOR_BTNTEXT));
    DrawTextW(memory, State.clock, -1, &clock, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    GdiFlush();
    for (int i = 0; i < IconCount(); ++i)
        BlendIcon(static_cast<uint32_t*>(bits), client.right, IconOrigin(IconSlot(clock.left, i)),
                  IconAt(i));
    BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, oldFont);
    SelectObject(memory, oldBitmap);
    DeleteObject(canvas);
    DeleteDC(memory);
    EndPaint(window, &ps);
}

void ReplyIconList(HWND window, HWND requester) {
    std::vector<tray::ListEntry> entries(IconCount());
    LONG clockLeft = ClockLeft(window);
    for (int i = 0; i < IconCount(); ++i) {
        const TrayIcon& icon = IconAt(i);
        tray::ListEntry& entry = entries[i];
        entry = {};
        entry.window = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(icon.owner));
        entry.id = icon.id;
        entry.callbackMessage = icon.callbackMessage;
        entry.hasImage = icon.hasImage;
        entry.imageHash = icon.hasImage ? tray::HashPixels(icon.pixels) : 0;
        entry.bounds = IconSlot(clockLeft, i);
        wmemcpy(entry.tip, icon.tip, tray::TipLength);
    }
    COPYDATASTRUCT copy = {tray::ListReplyTag,
                           static_cast<DWORD>(entries.size() * sizeof(tray::ListEntry)),
                           entries.data()};
    SendMessageTimeoutW(requester, WM_COPYDATA, reinterpret_cast<WPARAM>(window),
                        reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 2000, nullptr);
}

// Anything may arrive here, Wine's own shell32 records included: only our records count.
LRESULT ReceiveCopyData(HWND window, WPARAM wParam, const COPYDATASTRUCT* copy) {
    if (!copy)
        return FALSE;
    if (copy->dwData == tray::ListRequestTag) {
        HWND requester = reinterpret_cast<HWND>(wParam);
        if (copy->cbData != 0 || !IsWindow(requester))
            return FALSE;
        RemoveOrphanIcons();
        ReplyIconList(window, requester);
        InvalidateRect(window, nullptr, FALSE);
        return TRUE;
    }
    if (!ApplyIconRecord(*copy))
        return FALSE;
    InvalidateRect(window, nullptr, FALSE);
    return TRUE;
}

int IconAtPoint(HWND window, POINT point) {
    LONG clockLeft = ClockLeft(window);
    for (int i = 0; i < IconCount(); ++i) {
        RECT slot = IconSlot(clockLeft, i);
        if (PtInRect(&slot, point))
            return i;
    }
    return -1;
}

// As the CE shell does it: the owner's callback message, the icon id, the stylus event.
void NotifyOwner(const TrayIcon& icon, UINT stylusMessage) {
    if (icon.callbackMessage)
        PostMessageW(icon.owner, icon.callbackMessage, icon.id, stylusMessage);
}

void StylusDown(HWND window, LPARAM position) {
    // On a dark screen a tap only switches the device on.
    if (!NoteTaskbarTap())
        return;
    RemoveOrphanIcons();
    int index = IconAtPoint(
        window, POINT{static_cast<short>(LOWORD(position)), static_cast<short>(HIWORD(position))});
    if (index < 0)
        return;
    const TrayIcon& icon = IconAt(index);
    State.pressed = true;
    State.pressedOwner = icon.owner;
    State.pressedId = icon.id;
    SetCapture(window);
    NotifyOwner(icon, WM_LBUTTONDOWN);
}

// The icon that got the stylus down gets its up, wherever the stylus has moved meanwhile.
void StylusUp() {
    if (!State.pressed)
        return;
    State.pressed = false;
    ReleaseCapture();
    for (int i = 0; i < IconCount(); ++i) {
        const TrayIcon& icon = IconAt(i);
        if (icon.owner == State.pressedOwner && icon.id == State.pressedId)
            NotifyOwner(icon, WM_LBUTTONUP);
    }
}

void Tick(HWND window) {
    wchar_t clock[8];
    ReadClock(clock, 8);
    bool changed = wcscmp(clock, State.clock) != 0;
    wcscpy(State.clock, clock);
    if (RemoveOrphanIcons() || changed)
        InvalidateRect(window, nullptr, FALSE);
    ArmClock(window);
}

LRESULT CALLBACK TaskbarProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        ReadClock(State.clock, 8);
        ArmClock(window);
        return 0;
    case WM_PAINT:
        PaintTaskbar(window);
        return 0;
    case WM_COPYDATA:
        return ReceiveCopyData(window, wParam, reinterpret_cast<const COPYDATASTRUCT*>(lParam));
    case WM_LBUTTONDOWN:
        StylusDown(window, lParam);
        return 0;
    case WM_LBUTTONUP:
        StylusUp();
        return 0;
    case WM_CAPTURECHANGED:
        State.pressed = false;
        return 0;
    case WM_MOUSEACTIVATE:
        return MA_NOACTIVATE; // a tap on the taskbar leaves the program in front active
    case WM_TIMER:
        Tick(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace

void ForgetEndedOwners(HWND taskbar) {
    if (RemoveOrphanIcons())
        InvalidateRect(taskbar, nullptr, FALSE);
}

HWND CreateTaskbar(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = TaskbarProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.lpszClassName = tray::ShellClass;
    if (!RegisterClassW(&wc))
        return nullptr;
    State.font = CreateFontW(-11, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0,
                             FF_SWISS, L"Tahoma");
    return CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, tray::ShellClass,
                           tray::ShellTitle, WS_POPUP | WS_VISIBLE, 0, 0,
                           GetSystemMetrics(SM_CXSCREEN), tray::TaskbarHeight, nullptr, nullptr,
                           instance, nullptr);
}

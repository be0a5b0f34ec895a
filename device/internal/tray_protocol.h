// How the notification area talks across processes: coredll.dll's Shell_NotifyIconW and the
// device tool send WM_COPYDATA to the device shell's taskbar in these records of our own.
// Nothing here depends on how Wine's shell32 packs its records; the shell refuses those.
#pragma once
#include <windows.h>
#include <shellapi.h>
#include <array>
#include <cstdint>
#include <cstring>

namespace tray {

// The taskbar: its class is the one Shell_NotifyIcon looks for; the title tells it apart from
// the hidden tray window that Wine's explorer keeps.
constexpr wchar_t ShellClass[] = L"Shell_TrayWnd";
constexpr wchar_t ShellTitle[] = L"Taskleiste";
constexpr int TaskbarHeight = 26;

// COPYDATASTRUCT::dwData of each kind of request; far from the small NIM_* codes that Wine's
// shell32 puts there.
constexpr ULONG_PTR IconRecordTag = 0x56544931;  // "VTI1": add, modify or delete an icon
constexpr ULONG_PTR ListRequestTag = 0x5654521A; // no data; the reply goes to wParam's window
constexpr ULONG_PTR ListReplyTag = 0x5654521B;   // ListEntry records, one per icon

constexpr int IconSize = 16;
constexpr int MaxIcons = 32;
constexpr int TipLength = 128;
constexpr UINT KnownFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// 0xAARRGGBB, alpha either 0 (transparent, and then all zero) or 255.
using Pixels = std::array<uint32_t, IconSize * IconSize>;

// An icon record. Followed by imageWidth * imageHeight pixels; the image is either absent
// (0 x 0) or IconSize x IconSize, and size counts the whole record with its image.
struct IconRecord {
    DWORD size;
    DWORD message; // NIM_ADD, NIM_MODIFY, NIM_DELETE
    DWORD window;  // window handles are 32-bit values that every process shares
    DWORD id;
    DWORD flags; // KnownFlags only
    DWORD callbackMessage;
    DWORD imageWidth;
    DWORD imageHeight;
    WCHAR tip[TipLength]; // terminated within the field
};

struct ListEntry {
    DWORD window;
    DWORD id;
    DWORD callbackMessage; // 0 when the owner asked for no messages
    DWORD hasImage;
    DWORD imageHash;
    RECT bounds; // in taskbar client coordinates, where a tap hits the icon
    WCHAR tip[TipLength];
};

// FNV-1a over the pixels' little-endian bytes: short enough to print, and icons 101 and 102
// differ in far more than one pixel.
inline uint32_t HashPixels(const Pixels& pixels) {
    uint32_t hash = 2166136261u;
    for (uint32_t pixel : pixels) {
        for (int shift = 0; shift < 32; shift += 8) {
            hash ^= (pixel >> shift) & 0xFF;
            hash *= 16777619u;
        }
    }
    return hash;
}

// The icon as the taskbar shows it: drawn at 16 x 16, opaque where its mask says so.
inline bool CapturePixels(HICON icon, Pixels* out) {
    if (!icon)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = IconSize;
    info.bmiHeader.biHeight = -IconSize; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    HDC dc = CreateCompatibleDC(nullptr);
    void* colorBits = nullptr;
    void* maskBits = nullptr;
    HBITMAP color = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &colorBits, nullptr, 0);
    HBITMAP mask = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &maskBits, nullptr, 0);
    bool drawn = false;
    if (color && mask) {
        HGDIOBJ old = SelectObject(dc, color);
        drawn = DrawIconEx(dc, 0, 0, icon, IconSize, IconSize, 0, nullptr, DI_IMAGE) != FALSE;
        SelectObject(dc, mask);
        drawn = drawn && DrawIconEx(dc, 0, 0, icon, IconSize, IconSize, 0, nullptr, DI_MASK);
        SelectObject(dc, old);
        GdiFlush();
    }
    if (drawn) {
        const auto* c = static_cast<const uint32_t*>(colorBits);
        const auto* m = static_cast<const uint32_t*>(maskBits);
        for (size_t i = 0; i < out->size(); ++i)
            (*out)[i] = (m[i] & 0xFFFFFF) ? 0 : 0xFF000000u | (c[i] & 0xFFFFFF);
    }
    if (color)
        DeleteObject(color);
    if (mask)
        DeleteObject(mask);
    DeleteDC(dc);
    return drawn;
}

} // namespace tray

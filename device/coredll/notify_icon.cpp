// Shell_NotifyIcon as Windows CE has it in its core library: the record goes to the device
// shell's taskbar, with the icon's image drawn here, since an icon handle means nothing in
// another process.
#include <windows.h>
#include <shellapi.h>
#include <cstddef>
#include <cstring>
#include <vector>
#include "tray_protocol.h"
#include "wince.h"

namespace {

// The record sizes callers may pass: CE's (the desktop's first version) and the desktop's
// later ones, whose tips are twice as long.
// The headers declare the third version (Windows XP's); the fourth adds hBalloonIcon after it.
constexpr DWORD DesktopV2Size = NOTIFYICONDATAW_V2_SIZE, DesktopV3Size = sizeof(NOTIFYICONDATAW),
                DesktopV4Size = sizeof(NOTIFYICONDATAW) + sizeof(HICON);
#ifndef _WIN64
static_assert(DesktopV2Size == 936 && DesktopV3Size == 952 && DesktopV4Size == 956, "32-bit sizes");
#endif
constexpr size_t CeTipLength = 64;
constexpr size_t TipOffset = offsetof(NOTIFYICONDATAW, szTip);
static_assert(TipOffset + CeTipLength * sizeof(WCHAR) == CE_NOTIFYICONDATA_SIZE, "CE layout");

size_t TipLengthFor(DWORD cbSize) {
    switch (cbSize) {
    case CE_NOTIFYICONDATA_SIZE:
        return CeTipLength;
    case DesktopV2Size:
    case DesktopV3Size:
    case DesktopV4Size:
        return tray::TipLength;
    default:
        return 0;
    }
}

HWND FindTaskbar() {
    return FindWindowExW(nullptr, nullptr, tray::ShellClass, tray::ShellTitle);
}

// The record for the shell. An icon that cannot be drawn travels without an image, so the
// owner's slot stays there to be tapped.
std::vector<BYTE> BuildRecord(DWORD message, const NOTIFYICONDATAW& data, size_t tipLength) {
    tray::IconRecord record = {};
    record.message = message;
    record.window = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(data.hWnd));
    record.id = data.uID;
    record.flags = data.uFlags & tray::KnownFlags;
    record.callbackMessage = data.uCallbackMessage;
    if (record.flags & NIF_TIP) {
        for (size_t i = 0; i + 1 < tipLength && data.szTip[i]; ++i)
            record.tip[i] = data.szTip[i];
    }
    tray::Pixels pixels;
    bool hasImage = (record.flags & NIF_ICON) && tray::CapturePixels(data.hIcon, &pixels);
    record.imageWidth = record.imageHeight = hasImage ? tray::IconSize : 0;
    const size_t imageBytes = hasImage ? sizeof pixels : 0;
    record.size = static_cast<DWORD>(sizeof record + imageBytes);
    std::vector<BYTE> bytes(record.size);
    std::memcpy(bytes.data(), &record, sizeof record);
    if (hasImage)
        std::memcpy(bytes.data() + sizeof record, pixels.data(), imageBytes);
    return bytes;
}

} // namespace

extern "C" BOOL WINAPI CeShell_NotifyIcon(DWORD message, PNOTIFYICONDATAW data) {
    if (!data || (message != NIM_ADD && message != NIM_MODIFY && message != NIM_DELETE)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const size_t tipLength = TipLengthFor(data->cbSize);
    if (!tipLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    HWND taskbar = FindTaskbar();
    if (!taskbar) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    std::vector<BYTE> record = BuildRecord(message, *data, tipLength);
    COPYDATASTRUCT copy = {tray::IconRecordTag, static_cast<DWORD>(record.size()), record.data()};
    DWORD_PTR answer = 0;
    // Bounded, so that a hung shell cannot hang the caller.
    if (!SendMessageTimeoutW(taskbar, WM_COPYDATA, reinterpret_cast<WPARAM>(data->hWnd),
                             reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 5000, &answer))
        return FALSE;
    return answer ? TRUE : FALSE;
}

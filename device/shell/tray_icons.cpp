#include "tray_icons.h"
#include <shellapi.h>
#include <array>
#include <cstring>

namespace {

// In taskbar order: the oldest icon first, on the left.
struct IconTable {
    std::array<TrayIcon, tray::MaxIcons> icons;
    int count;
};
IconTable Table;

int FindIcon(HWND owner, UINT id) {
    for (int i = 0; i < Table.count; ++i)
        if (Table.icons[i].owner == owner && Table.icons[i].id == id)
            return i;
    return -1;
}

bool TipTerminated(const WCHAR* tip) {
    for (int i = 0; i < tray::TipLength; ++i)
        if (!tip[i])
            return true;
    return false;
}

bool PixelsWellFormed(const tray::Pixels& pixels) {
    for (uint32_t pixel : pixels) {
        uint32_t alpha = pixel >> 24;
        if (alpha != 0xFF && pixel != 0)
            return false;
    }
    return true;
}

// The record must be exactly as long as it says, with a header we know and an image of the
// one size we draw, or none.
bool ReadRecord(const COPYDATASTRUCT& copy, tray::IconRecord* record, tray::Pixels* pixels,
                bool* hasImage) {
    if (copy.dwData != tray::IconRecordTag || !copy.lpData || copy.cbData < sizeof *record)
        return false;
    std::memcpy(record, copy.lpData, sizeof *record);
    if (record->size != copy.cbData || (record->flags & ~tray::KnownFlags) ||
        !TipTerminated(record->tip))
        return false;
    if (record->message != NIM_ADD && record->message != NIM_MODIFY &&
        record->message != NIM_DELETE)
        return false;
    const bool empty = record->imageWidth == 0 && record->imageHeight == 0;
    const bool full = record->imageWidth == tray::IconSize && record->imageHeight == tray::IconSize;
    if (!empty && !full)
        return false;
    if (copy.cbData != sizeof *record + (full ? sizeof *pixels : 0))
        return false;
    if (full && !(record->flags & NIF_ICON))
        return false;
    *hasImage = full;
    if (full) {
        std::memcpy(pixels->data(), static_cast<const BYTE*>(copy.lpData) + sizeof *record,
                    sizeof *pixels);
        if (!PixelsWellFormed(*pixels))
            return false;
    }
    return true;
}

void Update(TrayIcon* icon, const tray::IconRecord& record, const tray::Pixels& pixels,
            bool hasImage) {
    if (record.flags & NIF_MESSAGE)
        icon->callbackMessage = record.callbackMessage;
    if (record.flags & NIF_ICON) {
        icon->hasImage = hasImage;
        icon->pixels = hasImage ? pixels : tray::Pixels{};
    }
    if (record.flags & NIF_TIP)
        std::memcpy(icon->tip, record.tip, sizeof icon->tip);
}

HANDLE OpenOwnerProcess(HWND owner) {
    DWORD id = 0;
    GetWindowThreadProcessId(owner, &id);
    return id ? OpenProcess(SYNCHRONIZE, FALSE, id) : nullptr;
}

bool Ended(HANDLE process) {
    return process && WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
}

void RemoveAt(int index) {
    if (Table.icons[index].process)
        CloseHandle(Table.icons[index].process);
    for (int i = index; i + 1 < Table.count; ++i)
        Table.icons[i] = Table.icons[i + 1];
    --Table.count;
}

} // namespace

bool ApplyIconRecord(const COPYDATASTRUCT& copy) {
    tray::IconRecord record;
    tray::Pixels pixels{};
    bool hasImage = false;
    if (!ReadRecord(copy, &record, &pixels, &hasImage))
        return false;
    RemoveOrphanIcons();
    HWND owner = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(record.window));
    int index = FindIcon(owner, record.id);
    switch (record.message) {
    case NIM_ADD: {
        if (index >= 0 || Table.count == tray::MaxIcons || !IsWindow(owner))
            return false;
        TrayIcon& icon = Table.icons[Table.count++];
        icon = TrayIcon{owner, record.id, 0, false, {}, {}, OpenOwnerProcess(owner)};
        Update(&icon, record, pixels, hasImage);
        return true;
    }
    case NIM_MODIFY:
        if (index < 0)
            return false;
        Update(&Table.icons[index], record, pixels, hasImage);
        return true;
    default: // NIM_DELETE
        if (index < 0)
            return false;
        RemoveAt(index);
        return true;
    }
}

bool RemoveOrphanIcons() {
    bool removed = false;
    for (int i = Table.count - 1; i >= 0; --i) {
        // A window of an ended process may outlive it for a moment; the icon goes with the
        // process, or it would wake every wait on that process at once forever.
        if (!IsWindow(Table.icons[i].owner) || Ended(Table.icons[i].process)) {
            RemoveAt(i);
            removed = true;
        }
    }
    return removed;
}

DWORD OwnerProcesses(HANDLE* processes) {
    DWORD count = 0;
    for (int i = 0; i < Table.count; ++i)
        if (Table.icons[i].process)
            processes[count++] = Table.icons[i].process;
    return count;
}

int IconCount() {
    return Table.count;
}

const TrayIcon& IconAt(int index) {
    return Table.icons[index];
}

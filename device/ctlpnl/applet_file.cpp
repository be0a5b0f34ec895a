#include "applet_file.h"
#include <cstddef>
#include <cstring>

namespace {

// The record goes to an address that is 2-byte but not 4-byte aligned: an applet must cope
// with that, so the host reads it back field by field.
void Inquire(const AppletFile& file, HWND host, int index, AppletInfo* info) {
    alignas(4) static BYTE raw[sizeof(NEWCPLINFOW) + 4];
    BYTE* record = raw + 2;
    std::memset(raw, 0, sizeof raw);
    file.entry(host, CPL_NEWINQUIRE, index, reinterpret_cast<LPARAM>(record));
    std::memcpy(&info->data, record + offsetof(NEWCPLINFOW, lData), sizeof info->data);
    std::memcpy(&info->icon, record + offsetof(NEWCPLINFOW, hIcon), sizeof info->icon);
    std::memcpy(info->name, record + offsetof(NEWCPLINFOW, szName), sizeof info->name);
    std::memcpy(info->info, record + offsetof(NEWCPLINFOW, szInfo), sizeof info->info);
    // Whatever the applet wrote, the texts end within their fields.
    info->name[31] = 0;
    info->info[63] = 0;
}

} // namespace

LoadResult LoadAppletFile(const wchar_t* name, HWND host, AppletFile* out) {
    std::memset(out, 0, sizeof *out);
    wchar_t path[MAX_PATH];
    GetWindowsDirectoryW(path, MAX_PATH);
    if (wcslen(path) + 1 + wcslen(name) >= MAX_PATH || wcspbrk(name, L"\\/:"))
        return LoadResult::FileMissing;
    wcscat(path, L"\\");
    wcscat(path, name);
    out->module = LoadLibraryW(path);
    if (!out->module)
        return LoadResult::FileMissing;
    out->entry = reinterpret_cast<APPLET_PROC>(
        reinterpret_cast<void*>(GetProcAddress(out->module, "CPlApplet")));
    if (!out->entry) {
        FreeLibrary(out->module);
        return LoadResult::NoEntry;
    }
    if (!out->entry(host, CPL_INIT, 0, 0)) {
        FreeLibrary(out->module);
        return LoadResult::InitFailed;
    }
    LONG count = out->entry(host, CPL_GETCOUNT, 0, 0);
    out->count = count < 0 ? 0 : count > MaxApplets ? MaxApplets : static_cast<int>(count);
    for (int i = 0; i < out->count; ++i)
        Inquire(*out, host, i, &out->applets[i]);
    return LoadResult::Loaded;
}

void ReleaseAppletFile(AppletFile* file, HWND host) {
    for (int i = 0; i < file->count; ++i)
        file->entry(host, CPL_STOP, i, file->applets[i].data);
    file->entry(host, CPL_EXIT, 0, 0);
    FreeLibrary(file->module);
    file->module = nullptr;
    file->entry = nullptr;
}

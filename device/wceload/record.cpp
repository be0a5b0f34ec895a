// Installed packages as the platform registers them (HKLM\Software\Apps\NAME, "Instl" 1 and
// "InstlDir"), with the list of what their installation created, and their removal. What a
// package must do at its removal (end a program in its own way) is its setup library's
// business; the remover knows no package.
#include <windows.h>
#include <cwchar>
#include "ce_setup.h"
#include "device_store.h"
#include "package.h"
#include "registry_key.h"
#include "registry_roots.h"

namespace {

constexpr wchar_t InstalledValue[] = L"Instl";
constexpr wchar_t DirValue[] = L"InstlDir";
constexpr wchar_t FilesValue[] = L"InstalledFiles";
constexpr wchar_t DirsValue[] = L"InstalledDirs";
constexpr wchar_t ValuesValue[] = L"InstalledValues";
constexpr wchar_t KeysValue[] = L"InstalledKeys";
constexpr DWORD ReleaseWait = 10000; // ms, for an ended program's file to be let go

std::wstring AppsPath(const std::wstring& name) {
    return std::wstring(AppsKey) + L"\\" + name;
}

// A file another process holds: a running program, a loaded library.
bool InUse(const std::wstring& devicePath) {
    HANDLE file = CreateFileW(HostPath(devicePath).c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return false;
    }
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

// The file of the record in use that a user can close: a library another program has loaded
// (the control panel's applet) before a running program; null when none is in use.
const std::wstring* FileInUse(const PackageRecord& record) {
    const std::wstring* busy = nullptr;
    for (const auto& file : record.files) {
        if (!InUse(file))
            continue;
        if (!IsImageName(file) || _wcsicmp(file.c_str() + file.size() - 4, L".exe") != 0)
            return &file;
        if (!busy)
            busy = &file;
    }
    return busy;
}

bool KeyIsEmpty(HKEY root, const std::wstring& path) {
    const RegistryKey key = RegistryKey::Open(root, path.c_str(), KEY_READ);
    DWORD subkeys = 0, values = 0;
    return key &&
           RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

bool StartsWithDir(const std::wstring& path, const std::wstring& dir) {
    return path.size() > dir.size() && path[dir.size()] == L'\\' &&
           Folded(path.substr(0, dir.size())) == Folded(dir);
}

// A path as the installer writes one: below a standard directory, every name as the file
// system stores it, and outside the installer's own directory.
bool InstallerWouldWrite(const std::wstring& path) {
    bool standard = false;
    for (unsigned n = 1; n <= 17; ++n)
        standard = standard || (StandardDir(n) && StartsWithDir(path, StandardDir(n)));
    if (!standard || StartsWithDir(path, SetupLibraryDir))
        return false;
    for (size_t at = 1; at <= path.size();) {
        const size_t end = std::min(path.find(L'\\', at), path.size());
        std::wstring stored, why;
        if (!StoredName(path.substr(at, end - at), &stored, &why) ||
            stored != path.substr(at, end - at))
            return false;
        at = end + 1;
    }
    return true;
}

// A key as the installer makes one: below a known root, no way out, not the installer's.
bool InstallerWouldMake(const std::wstring& key) {
    std::wstring path;
    const RegistryRoot* root = SplitRegistryKey(key, &path);
    if (!root || path.empty() || IsInstallerRecord(root->key, path))
        return false;
    for (size_t at = 0; at <= path.size();) {
        const size_t end = std::min(path.find(L'\\', at), path.size());
        const std::wstring part = path.substr(at, end - at);
        if (part.empty() || part == L"." || part == L"..")
            return false;
        at = end + 1;
    }
    return true;
}

// Before anything is deleted: every entry of the record lies where an installation puts things,
// so that a record written by anyone else cannot make the remover delete the platform's files.
bool CheckRecord(const PackageRecord& record, std::wstring* error) {
    std::vector<std::wstring> wrong;
    for (const auto& file : record.files)
        if (!InstallerWouldWrite(file))
            wrong.push_back(file);
    for (const auto& dir : record.dirs)
        if (!InstallerWouldWrite(dir))
            wrong.push_back(dir);
    for (const auto& key : record.keys)
        if (!InstallerWouldMake(key))
            wrong.push_back(key);
    for (const auto& value : record.values)
        if (value.find(L'\t') == std::wstring::npos ||
            !InstallerWouldMake(value.substr(0, value.find(L'\t'))))
            wrong.push_back(value.substr(0, value.find(L'\t')));
    if (wrong.empty())
        return true;
    *error = L"its record lists \"" + Shown(wrong[0]) +
             L"\", which no installation puts there; nothing is removed";
    return false;
}

// The package's setup library's answer before the removal; with none, nothing may be in use.
bool BeginRemoval(const SetupLibrary& library, const PackageRecord& record, std::wstring* error) {
    auto init = library.Find<UninstallInitProc>("Uninstall_Init");
    if (init && init(nullptr, record.installDir.c_str()) == codeUNINSTALL_INIT_CONTINUE)
        return true;
    const std::wstring* busy = FileInUse(record);
    if (busy)
        *error = FileName(*busy) + L" is in use; close it first";
    else if (init)
        *error = L"its setup library declined the removal";
    return !busy && !init;
}

} // namespace

std::wstring HostPath(const std::wstring& devicePath) {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    // The device's root is the drive of its \Windows.
    return std::wstring(dir, 2) + devicePath;
}

bool IsInstallerRecord(HKEY root, const std::wstring& subkey) {
    const std::wstring apps = Folded(AppsKey);
    const std::wstring key = Folded(subkey);
    return root == HKEY_LOCAL_MACHINE &&
           (key == apps || (key.size() > apps.size() && key.compare(0, apps.size(), apps) == 0 &&
                            key[apps.size()] == L'\\'));
}

std::wstring SetupLibraryPath(const std::wstring& name) {
    return std::wstring(SetupLibraryDir) + L"\\" + name + L".dll";
}

bool SetupLibrary::Load(const std::wstring& devicePath) {
    Unload();
    module_ = LoadLibraryW(HostPath(devicePath).c_str());
    return module_ != nullptr;
}

void SetupLibrary::Unload() {
    if (module_)
        FreeLibrary(module_);
    module_ = nullptr;
}

std::wstring Reason(DWORD code) {
    struct Known {
        DWORD code;
        const wchar_t* words;
    };
    static const Known Reasons[] = {
        {ERROR_FILE_EXISTS, L"the file exists"},
        {ERROR_ALREADY_EXISTS, L"the file exists"},
        {ERROR_ACCESS_DENIED, L"access is denied"},
        {ERROR_PATH_NOT_FOUND, L"its directory is not there"},
        {ERROR_SHARING_VIOLATION, L"another program has it open"},
        {ERROR_DISK_FULL, L"the device is full"},
        {ERROR_HANDLE_DISK_FULL, L"the device is full"},
        {ERROR_FILENAME_EXCED_RANGE, L"the name is too long"},
        {ERROR_INVALID_NAME, L"the name is not valid"},
        {ERROR_INVALID_PARAMETER, L"the device does not take it"},
    };
    for (const auto& known : Reasons) {
        if (known.code == code)
            return std::wstring(known.words) + L" (error " + std::to_wstring(code) + L")";
    }
    return L"error " + std::to_wstring(code);
}

bool ReadPackageRecord(const std::wstring& name, PackageRecord* record) {
    const RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, AppsPath(name).c_str(), KEY_READ);
    DWORD installed = 0;
    if (!device_store::ReadDword(HKEY_LOCAL_MACHINE, AppsPath(name).c_str(), InstalledValue,
                                 &installed) ||
        installed != 1 || !key)
        return false;
    wchar_t dir[MAX_PATH] = {};
    DWORD type = 0, size = sizeof dir - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), DirValue, nullptr, &type, reinterpret_cast<BYTE*>(dir),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        record->installDir = dir;
    record->files = device_store::ReadMultiString(key.get(), FilesValue);
    record->dirs = device_store::ReadMultiString(key.get(), DirsValue);
    record->values = device_store::ReadMultiString(key.get(), ValuesValue);
    record->keys = device_store::ReadMultiString(key.get(), KeysValue);
    return true;
}

bool WritePackageRecord(const std::wstring& name, const PackageRecord& record) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_LOCAL_MACHINE, AppsPath(name).c_str(), KEY_WRITE);
    if (!key)
        return false;
    using device_store::WriteMultiString;
    return WriteMultiString(key.get(), FilesValue, record.files) == ERROR_SUCCESS &&
           WriteMultiString(key.get(), DirsValue, record.dirs) == ERROR_SUCCESS &&
           WriteMultiString(key.get(), ValuesValue, record.values) == ERROR_SUCCESS &&
           WriteMultiString(key.get(), KeysValue, record.keys) == ERROR_SUCCESS &&
           RegSetValueExW(key.get(), DirValue, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(record.installDir.c_str()),
                          static_cast<DWORD>((record.installDir.size() + 1) * sizeof(wchar_t))) ==
               ERROR_SUCCESS &&
           WriteNumber(key, InstalledValue, 1);
}

std::vector<std::wstring> InstalledPackages() {
    std::vector<std::wstring> names;
    const RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, AppsKey, KEY_READ);
    if (!key)
        return names;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        PackageRecord record;
        if (ReadPackageRecord(name, &record))
            names.emplace_back(name);
    }
    return names;
}

void DeleteCreated(const PackageRecord& record) {
    for (const auto& file : record.files)
        DeleteFileW(HostPath(file).c_str());
    for (auto dir = record.dirs.rbegin(); dir != record.dirs.rend(); ++dir)
        RemoveDirectoryW(HostPath(*dir).c_str()); // only when empty: the user's files stay
    for (const auto& entry : record.values) {
        const size_t tab = entry.find(L'\t');
        std::wstring path;
        const RegistryRoot* root =
            tab == std::wstring::npos ? nullptr : SplitRegistryKey(entry.substr(0, tab), &path);
        if (!root)
            continue;
        if (const RegistryKey key = RegistryKey::Open(root->key, path.c_str(), KEY_SET_VALUE))
            RegDeleteValueW(key.get(), entry.substr(tab + 1).c_str());
    }
    for (auto entry = record.keys.rbegin(); entry != record.keys.rend(); ++entry) {
        std::wstring path;
        const RegistryRoot* root = SplitRegistryKey(*entry, &path);
        if (root && !path.empty() && KeyIsEmpty(root->key, path))
            RegDeleteKeyW(root->key, path.c_str());
    }
}

bool RemovePackage(const std::wstring& name, std::wstring* error) {
    PackageRecord record;
    if (!ReadPackageRecord(name, &record)) {
        *error = L"no package \"" + name + L"\" is installed";
        return false;
    }
    if (!CheckRecord(record, error))
        return false;
    const std::wstring libraryPath = SetupLibraryPath(name);
    // A setup library runs as every program of the device does: in \Windows.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    SetCurrentDirectoryW(windows);
    SetupLibrary library;
    library.Load(libraryPath);
    if (!BeginRemoval(library, record, error))
        return false;
    // A program the setup library ended may hold its file a moment longer.
    for (DWORD waited = 0; FileInUse(record) && waited < ReleaseWait; waited += 100)
        Sleep(100);
    if (const std::wstring* busy = FileInUse(record)) {
        *error = FileName(*busy) + L" is still in use; close it first";
        return false;
    }
    DeleteCreated(record);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, AppsPath(name).c_str());
    if (auto exit = library.Find<UninstallExitProc>("Uninstall_Exit"))
        exit(nullptr);
    library.Unload();
    DeleteFileW(HostPath(libraryPath).c_str());
    return true;
}

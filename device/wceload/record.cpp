// Installed packages as the platform registers them (HKLM\Software\Apps\NAME, "Instl" 1 and
// "InstlDir"), with the list of what their installation created, and their removal.
#include <windows.h>
#include <cwchar>
#include "package.h"
#include "registry_key.h"

namespace {

constexpr wchar_t InstalledValue[] = L"Instl";
constexpr wchar_t DirValue[] = L"InstlDir";
constexpr wchar_t FilesValue[] = L"InstalledFiles";
constexpr wchar_t DirsValue[] = L"InstalledDirs";
constexpr wchar_t ValuesValue[] = L"InstalledValues";
constexpr wchar_t KeysValue[] = L"InstalledKeys";

// Programs that must end in their own way before their files go. The platform leaves this to a
// package's setup library; this device knows its one package: the notifier ends with "OFF",
// which releases a lock in force and restores the user's timeouts.
struct EndStep {
    const wchar_t* program;
    const wchar_t* arguments;
};
constexpr EndStep EndSteps[] = {{L"Ostrelle.exe", L"OFF"}};
constexpr DWORD EndWait = 30000;     // ms, for the program started to end it
constexpr DWORD ReleaseWait = 10000; // ms, for the ended program's file to be let go

std::wstring AppsPath(const std::wstring& name) {
    return std::wstring(AppsKey) + L"\\" + name;
}

std::vector<std::wstring> ReadList(HKEY key, const wchar_t* value) {
    std::vector<std::wstring> list;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, value, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return list;
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) !=
        ERROR_SUCCESS)
        return list;
    for (size_t i = 0; i < text.size() && text[i];) {
        list.emplace_back(&text[i]);
        i += list.back().size() + 1;
    }
    return list;
}

bool WriteList(HKEY key, const wchar_t* value, const std::vector<std::wstring>& list) {
    std::wstring text;
    for (const auto& item : list)
        text.append(item).push_back(L'\0');
    text.push_back(L'\0');
    return RegSetValueExW(key, value, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text.data()),
                          static_cast<DWORD>(text.size() * sizeof(wchar_t))) == ERROR_SUCCESS;
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

const EndStep* EndStepOf(const std::wstring& path) {
    for (const auto& step : EndSteps) {
        if (_wcsicmp(FileName(path).c_str(), step.program) == 0)
            return &step;
    }
    return nullptr;
}

// The first file of the record that is in use, leaving out those that end in their own way.
const std::wstring* FileInUse(const PackageRecord& record, bool withEndSteps) {
    for (const auto& file : record.files) {
        if ((withEndSteps || !EndStepOf(file)) && InUse(file))
            return &file;
    }
    return nullptr;
}

void RunEndStep(const std::wstring& devicePath, const EndStep& step) {
    const std::wstring host = HostPath(devicePath);
    if (GetFileAttributesW(host.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    std::wstring arguments = step.arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(host.c_str(), arguments.data(), nullptr, nullptr, FALSE, 0, nullptr, dir,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, EndWait);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (DWORD waited = 0; InUse(devicePath) && waited < ReleaseWait; waited += 100)
        Sleep(100);
}

bool KeyIsEmpty(HKEY root, const std::wstring& path) {
    const RegistryKey key = RegistryKey::Open(root, path.c_str(), KEY_READ);
    DWORD subkeys = 0, values = 0;
    return key &&
           RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                            &values, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
           subkeys == 0 && values == 0;
}

} // namespace

std::wstring HostPath(const std::wstring& devicePath) {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    // The device's root is the drive of its \Windows.
    return std::wstring(dir, 2) + devicePath;
}

bool SplitRecordedKey(const std::wstring& key, HKEY* root, std::wstring* path) {
    struct Root {
        const wchar_t* name;
        HKEY key;
    };
    const Root Roots[] = {{L"HKCR", HKEY_CLASSES_ROOT},
                          {L"HKCU", HKEY_CURRENT_USER},
                          {L"HKLM", HKEY_LOCAL_MACHINE},
                          {L"HKU", HKEY_USERS}};
    const size_t slash = key.find(L'\\');
    const std::wstring name = key.substr(0, slash);
    for (const auto& candidate : Roots) {
        if (name == candidate.name) {
            *root = candidate.key;
            *path = slash == std::wstring::npos ? L"" : key.substr(slash + 1);
            return true;
        }
    }
    return false;
}

bool ReadPackageRecord(const std::wstring& name, PackageRecord* record) {
    const RegistryKey key = RegistryKey::Open(HKEY_LOCAL_MACHINE, AppsPath(name).c_str(), KEY_READ);
    if (!key)
        return false;
    DWORD installed = 0, type = 0, size = sizeof installed;
    if (RegQueryValueExW(key.get(), InstalledValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(&installed), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || installed != 1)
        return false;
    wchar_t dir[MAX_PATH] = {};
    size = sizeof dir - sizeof(wchar_t);
    if (RegQueryValueExW(key.get(), DirValue, nullptr, &type, reinterpret_cast<BYTE*>(dir),
                         &size) == ERROR_SUCCESS &&
        type == REG_SZ)
        record->installDir = dir;
    record->files = ReadList(key.get(), FilesValue);
    record->dirs = ReadList(key.get(), DirsValue);
    record->values = ReadList(key.get(), ValuesValue);
    record->keys = ReadList(key.get(), KeysValue);
    return true;
}

bool WritePackageRecord(const std::wstring& name, const PackageRecord& record) {
    const RegistryKey key =
        RegistryKey::Create(HKEY_LOCAL_MACHINE, AppsPath(name).c_str(), KEY_WRITE);
    if (!key)
        return false;
    const DWORD installed = 1;
    return WriteList(key.get(), FilesValue, record.files) &&
           WriteList(key.get(), DirsValue, record.dirs) &&
           WriteList(key.get(), ValuesValue, record.values) &&
           WriteList(key.get(), KeysValue, record.keys) &&
           RegSetValueExW(key.get(), DirValue, 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(record.installDir.c_str()),
                          static_cast<DWORD>((record.installDir.size() + 1) * sizeof(wchar_t))) ==
               ERROR_SUCCESS &&
           RegSetValueExW(key.get(), InstalledValue, 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&installed),
                          sizeof installed) == ERROR_SUCCESS;
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
        HKEY root;
        std::wstring path;
        if (tab == std::wstring::npos || !SplitRecordedKey(entry.substr(0, tab), &root, &path))
            continue;
        if (const RegistryKey key = RegistryKey::Open(root, path.c_str(), KEY_SET_VALUE))
            RegDeleteValueW(key.get(), entry.substr(tab + 1).c_str());
    }
    for (auto entry = record.keys.rbegin(); entry != record.keys.rend(); ++entry) {
        HKEY root;
        std::wstring path;
        if (SplitRecordedKey(*entry, &root, &path) && !path.empty() && KeyIsEmpty(root, path))
            RegDeleteKeyW(root, path.c_str());
    }
}

bool RemovePackage(const std::wstring& name, std::wstring* error) {
    PackageRecord record;
    if (!ReadPackageRecord(name, &record)) {
        *error = L"no package \"" + name + L"\" is installed";
        return false;
    }
    // Nothing is ended while another file of the package is in use, so that a refusal leaves
    // everything as it was.
    if (const std::wstring* busy = FileInUse(record, false)) {
        *error = FileName(*busy) + L" is in use; close it first";
        return false;
    }
    for (const auto& file : record.files) {
        if (const EndStep* step = EndStepOf(file))
            RunEndStep(file, *step);
    }
    if (const std::wstring* busy = FileInUse(record, true)) {
        *error = FileName(*busy) + L" is still running";
        return false;
    }
    DeleteCreated(record);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, AppsPath(name).c_str());
    return true;
}

// wceload.exe, the device's installer: wceload [--reinstall] FILE.CAB installs a CE installation
// cabinet as the platform does. The whole cabinet is read and checked first (processor, CE
// version, every file it names, every image, every target); only then does anything reach the
// device, and a failure on the way takes back what was written. One line says why it refused.
// A package's setup library (file 999) is called before and after the installation.
#include <windows.h>
#include <algorithm>
#include <cwchar>
#include <set>
#include "../tool/output.h"
#include "ce_setup.h"
#include "package.h"
#include "registry_key.h"

namespace {

// Programs for an older x86 processor run on a newer one.
constexpr DWORD X86Processors[] = {PROCESSOR_INTEL_386, PROCESSOR_INTEL_486,
                                   PROCESSOR_INTEL_PENTIUM};

bool ProcessorFits(DWORD wanted, DWORD device) {
    if (wanted == 0 || wanted == device)
        return true;
    const auto* end = std::end(X86Processors);
    const auto* w = std::find(std::begin(X86Processors), end, wanted);
    const auto* d = std::find(std::begin(X86Processors), end, device);
    return w != end && d != end && w <= d;
}

bool Before(DWORD major, DWORD minor, DWORD otherMajor, DWORD otherMinor) {
    return major < otherMajor || (major == otherMajor && minor < otherMinor);
}

// "3.0", or "3.0 build 126" where a build is asked for.
std::wstring Version(DWORD major, DWORD minor, DWORD build) {
    return std::to_wstring(major) + L"." + std::to_wstring(minor) +
           (build ? L" build " + std::to_wstring(build) : L"");
}

// The reason this device's CE version cannot take the package, or empty.
std::wstring VersionMismatch(const SetupFile& setup) {
    const std::wstring device = Version(DeviceMajor, DeviceMinor, 0);
    const std::wstring deviceBuild = Version(DeviceMajor, DeviceMinor, DeviceBuild);
    if (Before(DeviceMajor, DeviceMinor, setup.minMajor, setup.minMinor) ||
        (setup.minBuild && DeviceBuild < setup.minBuild))
        return L"it needs Windows CE " + Version(setup.minMajor, setup.minMinor, setup.minBuild) +
               L" or later, this device runs " + (setup.minBuild ? deviceBuild : device);
    if (((setup.maxMajor || setup.maxMinor) &&
         Before(setup.maxMajor, setup.maxMinor, DeviceMajor, DeviceMinor)) ||
        (setup.maxBuild && DeviceBuild > setup.maxBuild))
        return L"it runs on Windows CE up to " +
               Version(setup.maxMajor, setup.maxMinor, setup.maxBuild) + L", this device runs " +
               (setup.maxBuild ? deviceBuild : device);
    return L"";
}

// The reason this device cannot take the package, or empty.
std::wstring Mismatch(const SetupFile& setup) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (!ProcessorFits(setup.processor, system.dwProcessorType))
        return L"it is for processor " + std::to_wstring(setup.processor) + L", this device's is " +
               std::to_wstring(system.dwProcessorType);
    const std::wstring version = VersionMismatch(setup);
    if (!version.empty())
        return version;
    for (const auto& platform : setup.unsupported) {
        if (_wcsicmp(platform.c_str(), DevicePlatform) == 0)
            return L"it does not support this device's platform, " + platform;
    }
    return L"";
}

bool Exists(const std::wstring& devicePath) {
    return GetFileAttributesW(HostPath(devicePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

// A checked cabinet, ready to install.
struct Plan {
    std::wstring shown; // the cabinet's file name, for messages
    Cabinet cabinet;
    SetupFile setup;
    std::wstring name; // "PROVIDER APP"
    bool reinstall = false;
    bool installed = false; // a package of that name is on the device
    const Bytes* library = nullptr;
};

// Every file is in the cabinet and every image one the platform loads, the setup library too.
bool CheckFiles(const Plan& plan, std::wstring* error) {
    for (const auto& file : plan.setup.files) {
        auto found = plan.cabinet.files.find(file.number);
        if (found == plan.cabinet.files.end()) {
            *error = L"file " + std::to_wstring(file.number) +
                     L" of its setup file is not in the cabinet";
            return false;
        }
        std::wstring cause;
        if (IsImageName(file.path) && !CheckCeImage(found->second, &cause)) {
            *error = Shown(FileName(file.path)) + L" is no CE image: " + cause;
            return false;
        }
    }
    std::wstring cause;
    if (plan.library && !CheckCeImage(*plan.library, &cause)) {
        *error = L"its setup library (file 999) is no CE image: " + cause;
        return false;
    }
    return true;
}

// Every target once, and none of them on the device already (other than the package's own
// files, on a reinstall). The file system finds a name in any case and by its short alias.
bool CheckTargets(const Plan& plan, std::wstring* error) {
    std::vector<std::wstring> targets;
    for (const auto& file : plan.setup.files)
        targets.push_back(file.path);
    for (const auto& link : plan.setup.links)
        targets.push_back(link.path);
    PackageRecord installed;
    if (plan.installed)
        ReadPackageRecord(plan.name, &installed);
    std::set<std::wstring> seen, owned;
    for (const auto& file : installed.files)
        owned.insert(Folded(file));
    for (const auto& target : targets) {
        if (!seen.insert(Folded(target)).second) {
            *error = L"it installs two files as " + Shown(target);
            return false;
        }
        if (!owned.count(Folded(target)) && Exists(target)) {
            *error = Shown(target) + L" is on the device already";
            return false;
        }
    }
    return true;
}

bool Check(const std::wstring& path, Plan* plan, std::wstring* error) {
    if (!ReadCabinet(path, &plan->cabinet, error))
        return false;
    auto setupBytes = plan->cabinet.files.find(0);
    if (setupBytes == plan->cabinet.files.end()) {
        *error = L"it has no setup file (.000)";
        return false;
    }
    if (!ParseSetupFile(setupBytes->second, &plan->setup, error))
        return false;
    *error = Mismatch(plan->setup);
    if (!error->empty())
        return false;
    auto library = plan->cabinet.files.find(SetupLibraryFileNumber);
    plan->library = library == plan->cabinet.files.end() ? nullptr : &library->second;
    plan->name = plan->setup.provider + L" " + plan->setup.app;
    PackageRecord installed;
    plan->installed = ReadPackageRecord(plan->name, &installed);
    if (plan->installed && !plan->reinstall) {
        *error = plan->name + L" is installed already (--reinstall installs it again)";
        return false;
    }
    return CheckTargets(*plan, error) && CheckFiles(*plan, error);
}

// The installation in progress, and what it has created so far. A failed write says which
// file or key, and why.
struct Installation {
    PackageRecord record;
    std::wstring error;

    bool Refused(const std::wstring& what, DWORD code) {
        error = L"the device refused to write " + Shown(what) + L": " + Reason(code);
        return false;
    }

    // The directory of a device path, made with every missing directory above it.
    bool MakeDirectories(const std::wstring& path) {
        const size_t last = path.rfind(L'\\');
        for (size_t at = path.find(L'\\', 1); at != std::wstring::npos && at <= last;
             at = at == last ? std::wstring::npos : path.find(L'\\', at + 1)) {
            const std::wstring dir = path.substr(0, at);
            const DWORD attributes = GetFileAttributesW(HostPath(dir).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    error = L"the device refused to write " + Shown(path) + L": " + Shown(dir) +
                            L" is a file, not a directory";
                    return false;
                }
                continue;
            }
            if (!CreateDirectoryW(HostPath(dir).c_str(), nullptr))
                return Refused(dir, GetLastError());
            record.dirs.push_back(dir);
        }
        return true;
    }

    bool WriteFile(const std::wstring& path, const void* data, size_t size, bool recorded = true) {
        if (!MakeDirectories(path))
            return false;
        HANDLE file = CreateFileW(HostPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return Refused(path, GetLastError());
        if (recorded)
            record.files.push_back(path);
        DWORD written = 0;
        const BOOL ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
        const DWORD code = ok ? ERROR_HANDLE_DISK_FULL : GetLastError();
        CloseHandle(file);
        return (ok && written == size) || Refused(path, code);
    }

    // A shortcut as the platform writes it: the target's length in characters, '#', the
    // target quoted, in the ANSI code page.
    bool WriteShortcut(const SetupFile::Link& link) {
        const std::wstring target = L"\"" + link.target + L"\"";
        const std::wstring text = std::to_wstring(target.size()) + L"#" + target + L"\r\n";
        char bytes[MAX_PATH * 2];
        const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                          bytes, sizeof bytes, nullptr, nullptr);
        return n > 0 ? WriteFile(link.path, bytes, n) : Refused(link.path, GetLastError());
    }

    // The keys that are not there yet are the installation's.
    bool MakeKeys(const SetupFile::Value& value) {
        const std::wstring root = value.key.substr(0, value.key.size() - value.subkey.size());
        for (size_t at = 0; !value.subkey.empty() && at != std::wstring::npos;) {
            at = value.subkey.find(L'\\', at + 1);
            const std::wstring part = value.subkey.substr(0, at);
            if (RegistryKey::Open(value.root, part.c_str(), KEY_READ))
                continue;
            HKEY made = nullptr;
            const LONG rc = RegCreateKeyExW(value.root, part.c_str(), 0, nullptr, 0, KEY_WRITE,
                                            nullptr, &made, nullptr);
            if (rc != ERROR_SUCCESS)
                return Refused(root + part, rc);
            RegCloseKey(made);
            record.keys.push_back(root + part);
        }
        return true;
    }

    bool WriteValue(const SetupFile::Value& value) {
        if (!MakeKeys(value))
            return false;
        const RegistryKey key =
            RegistryKey::Open(value.root, value.subkey.c_str(), KEY_READ | KEY_WRITE);
        if (!key)
            return Refused(value.key, ERROR_ACCESS_DENIED);
        if (value.noClobber && RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS)
            return true;
        const LONG rc = RegSetValueExW(key.get(), value.name.c_str(), 0, value.type,
                                       value.data.data(), static_cast<DWORD>(value.data.size()));
        if (rc != ERROR_SUCCESS)
            return Refused(value.key + L"\\" + value.name, rc);
        record.values.push_back(value.key + L"\t" + value.name);
        return true;
    }

    bool WriteAll(const Plan& plan) {
        for (const auto& file : plan.setup.files) {
            const Bytes& bytes = plan.cabinet.files.at(file.number);
            if (!WriteFile(file.path, bytes.data(), bytes.size()))
                return false;
        }
        for (const auto& link : plan.setup.links) {
            if (!WriteShortcut(link))
                return false;
        }
        for (const auto& value : plan.setup.values) {
            if (!WriteValue(value))
                return false;
        }
        return WritePackageRecord(plan.name, record) ||
               Refused(L"HKLM\\" + std::wstring(AppsKey) + L"\\" + plan.name, ERROR_ACCESS_DENIED);
    }
};

// The setup library where the remover finds it again, loaded for Install_Init and Install_Exit.
bool PlaceLibrary(const Plan& plan, Installation* installation, SetupLibrary* library) {
    if (!plan.library)
        return true;
    const std::wstring path = SetupLibraryPath(plan.name);
    const bool dirThere = Exists(SetupLibraryDir);
    // The installer's directory holds no package's files: a library left by a package whose
    // record is gone goes.
    DeleteFileW(HostPath(path).c_str());
    if (!installation->WriteFile(path, plan.library->data(), plan.library->size(), false))
        return false;
    if (!dirThere)
        installation->record.dirs.clear(); // the installer's directory stays
    if (!library->Load(path)) {
        DeleteFileW(HostPath(path).c_str());
        installation->error = L"its setup library (file 999) cannot be loaded";
        return false;
    }
    return true;
}

int Refuse(const std::wstring& cabinet, const std::wstring& why) {
    PrintError(L"wceload: %ls: %ls\n", cabinet.c_str(), why.c_str());
    return 1;
}

// Takes back everything of a failed installation, the setup library too.
int Undo(const Plan& plan, Installation* installation, SetupLibrary* library,
         const std::wstring& why) {
    DeleteCreated(installation->record);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(AppsKey) + L"\\" + plan.name).c_str());
    if (library->Loaded()) {
        library->Unload();
        DeleteFileW(HostPath(SetupLibraryPath(plan.name)).c_str());
    }
    return Refuse(plan.shown, why + L"; nothing is installed");
}

int Install(const Plan& plan) {
    // The cabinet is read; from here on the installer runs, as every program of the device and
    // the setup library with it, in \Windows.
    wchar_t windows[MAX_PATH];
    GetWindowsDirectoryW(windows, MAX_PATH);
    SetCurrentDirectoryW(windows);
    std::wstring error;
    if (plan.installed && !RemovePackage(plan.name, &error))
        return Refuse(plan.shown, L"the installed " + plan.name + L" cannot be removed: " + error);
    Installation installation;
    installation.record.installDir =
        plan.setup.files.empty()
            ? std::wstring(L"\\Windows")
            : plan.setup.files[0].path.substr(0, plan.setup.files[0].path.rfind(L'\\'));
    SetupLibrary library;
    if (!PlaceLibrary(plan, &installation, &library))
        return Refuse(plan.shown, installation.error + L"; nothing is installed");
    const wchar_t* dir = installation.record.installDir.c_str();
    if (auto init = library.Find<InstallInitProc>("Install_Init")) {
        if (init(nullptr, TRUE, plan.installed, dir) != codeINSTALL_INIT_CONTINUE)
            return Undo(plan, &installation, &library,
                        L"its setup library declined the installation");
    }
    if (!installation.WriteAll(plan))
        return Undo(plan, &installation, &library, installation.error);
    if (auto exit = library.Find<InstallExitProc>("Install_Exit")) {
        if (exit(nullptr, dir, 0, 0, 0, 0, 0) == codeINSTALL_EXIT_UNINSTALL)
            return Undo(plan, &installation, &library, L"its setup library undid the installation");
    }
    Print(L"installed %ls: %zu files, %zu shortcuts, %zu registry values\n", plan.name.c_str(),
          plan.setup.files.size(), plan.setup.links.size(), installation.record.values.size());
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Plan plan;
    plan.reinstall = argc == 3 && wcscmp(argv[1], L"--reinstall") == 0;
    if (argc != 2 + plan.reinstall || argv[argc - 1][0] == L'-') {
        PrintError(L"usage: wceload [--reinstall] FILE.CAB\n");
        return 2;
    }
    const std::wstring path = argv[argc - 1];
    plan.shown = path.substr(path.find_last_of(L"\\/:") + 1);
    std::wstring error;
    if (!Check(path, &plan, &error))
        return Refuse(plan.shown, error);
    return Install(plan);
}

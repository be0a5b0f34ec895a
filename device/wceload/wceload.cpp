// wceload.exe, the device's installer: wceload [--reinstall] FILE.CAB installs a CE installation
// cabinet as the platform does. The whole cabinet is read and checked first (processor, CE
// version, every file it names, every image, every target); only then does anything reach the
// device, and a failure on the way takes back what was written. One line says why it refused.
#include <windows.h>
#include <algorithm>
#include <cwchar>
#include <set>
#include "../tool/output.h"
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

// The reason this device cannot take the package, or empty.
std::wstring Mismatch(const SetupFile& setup) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (!ProcessorFits(setup.processor, system.dwProcessorType))
        return L"it is for processor " + std::to_wstring(setup.processor) + L", this device's is " +
               std::to_wstring(system.dwProcessorType);
    const std::wstring device = std::to_wstring(DeviceMajor) + L"." + std::to_wstring(DeviceMinor);
    if (Before(DeviceMajor, DeviceMinor, setup.minMajor, setup.minMinor) ||
        (setup.minBuild && DeviceBuild < setup.minBuild))
        return L"it needs Windows CE " + std::to_wstring(setup.minMajor) + L"." +
               std::to_wstring(setup.minMinor) + L" or later, this device runs " + device;
    if (((setup.maxMajor || setup.maxMinor) &&
         Before(setup.maxMajor, setup.maxMinor, DeviceMajor, DeviceMinor)) ||
        (setup.maxBuild && DeviceBuild > setup.maxBuild))
        return L"it runs on Windows CE up to " + std::to_wstring(setup.maxMajor) + L"." +
               std::to_wstring(setup.maxMinor) + L", this device runs " + device;
    for (const auto& platform : setup.unsupported) {
        if (_wcsicmp(platform.c_str(), DevicePlatform) == 0)
            return L"it does not support this device's platform, " + platform;
    }
    return L"";
}

bool IsImage(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos)
        return false;
    const std::wstring extension = path.substr(dot);
    return _wcsicmp(extension.c_str(), L".exe") == 0 || _wcsicmp(extension.c_str(), L".dll") == 0 ||
           _wcsicmp(extension.c_str(), L".cpl") == 0;
}

std::wstring Lower(std::wstring text) {
    for (auto& c : text)
        c = towlower(c);
    return text;
}

bool Exists(const std::wstring& devicePath) {
    return GetFileAttributesW(HostPath(devicePath).c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The installation in progress, and what it has created so far.
struct Installation {
    PackageRecord record;

    // The directory of a device path, made with every missing directory above it.
    bool MakeDirectories(const std::wstring& path) {
        const size_t last = path.rfind(L'\\');
        for (size_t at = path.find(L'\\', 1); at != std::wstring::npos && at <= last;
             at = at == last ? std::wstring::npos : path.find(L'\\', at + 1)) {
            const std::wstring dir = path.substr(0, at);
            const DWORD attributes = GetFileAttributesW(HostPath(dir).c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES) {
                if (!(attributes & FILE_ATTRIBUTE_DIRECTORY))
                    return false;
                continue;
            }
            if (!CreateDirectoryW(HostPath(dir).c_str(), nullptr))
                return false;
            record.dirs.push_back(dir);
        }
        return true;
    }

    bool WriteFile(const std::wstring& path, const void* data, size_t size) {
        if (!MakeDirectories(path))
            return false;
        HANDLE file = CreateFileW(HostPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        record.files.push_back(path);
        DWORD written = 0;
        const BOOL ok = ::WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr);
        CloseHandle(file);
        return ok && written == size;
    }

    // A shortcut as the platform writes it: the target's length in characters, '#', the
    // target quoted, in the ANSI code page.
    bool WriteShortcut(const SetupFile::Link& link) {
        const std::wstring target = L"\"" + link.target + L"\"";
        const std::wstring text = std::to_wstring(target.size()) + L"#" + target + L"\r\n";
        char bytes[MAX_PATH * 2];
        const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()),
                                          bytes, sizeof bytes, nullptr, nullptr);
        return n > 0 && WriteFile(link.path, bytes, n);
    }

    bool WriteValue(const SetupFile::Value& value) {
        // The keys that are not there yet are the installation's.
        size_t at = 0;
        do {
            at = value.subkey.find(L'\\', at + 1);
            const std::wstring part = value.subkey.substr(0, at);
            if (RegistryKey::Open(value.root, part.c_str(), KEY_READ))
                continue;
            if (!RegistryKey::Create(value.root, part.c_str(), KEY_WRITE))
                return false;
            record.keys.push_back(value.key.substr(0, value.key.size() - value.subkey.size()) +
                                  part);
        } while (at != std::wstring::npos && !value.subkey.empty());
        const RegistryKey key =
            RegistryKey::Open(value.root, value.subkey.c_str(), KEY_READ | KEY_WRITE);
        if (!key)
            return false;
        if (value.noClobber && RegQueryValueExW(key.get(), value.name.c_str(), nullptr, nullptr,
                                                nullptr, nullptr) == ERROR_SUCCESS)
            return true;
        if (RegSetValueExW(key.get(), value.name.c_str(), 0, value.type, value.data.data(),
                           static_cast<DWORD>(value.data.size())) != ERROR_SUCCESS)
            return false;
        record.values.push_back(value.key + L"\t" + value.name);
        return true;
    }
};

int Refuse(const std::wstring& cabinet, const std::wstring& why) {
    PrintError(L"wceload: %ls: %ls\n", cabinet.c_str(), why.c_str());
    return 1;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    const bool reinstall = argc == 3 && wcscmp(argv[1], L"--reinstall") == 0;
    if (argc != 2 + reinstall || argv[argc - 1][0] == L'-') {
        PrintError(L"usage: wceload [--reinstall] FILE.CAB\n");
        return 2;
    }
    const std::wstring path = argv[argc - 1];
    const std::wstring shown = path.substr(path.find_last_of(L"\\/:") + 1);

    Cabinet cabinet;
    std::wstring error;
    if (!ReadCabinet(path, &cabinet, &error))
        return Refuse(shown, error);
    auto setupBytes = cabinet.files.find(0);
    if (setupBytes == cabinet.files.end())
        return Refuse(shown, L"it has no setup file (.000)");
    SetupFile setup;
    if (!ParseSetupFile(setupBytes->second, &setup, &error))
        return Refuse(shown, error);
    const std::wstring mismatch = Mismatch(setup);
    if (!mismatch.empty())
        return Refuse(shown, mismatch);

    std::set<std::wstring> targets;
    for (const auto& file : setup.files) {
        auto found = cabinet.files.find(file.number);
        if (found == cabinet.files.end())
            return Refuse(shown, L"file " + std::to_wstring(file.number) +
                                     L" of its setup file is not in the cabinet");
        std::wstring cause;
        if (IsImage(file.path) && !CheckCeImage(found->second, &cause))
            return Refuse(shown, file.path.substr(file.path.rfind(L'\\') + 1) +
                                     L" is no CE image: " + cause);
        targets.insert(Lower(file.path));
    }
    for (const auto& link : setup.links)
        targets.insert(Lower(link.path));
    if (targets.size() != setup.files.size() + setup.links.size())
        return Refuse(shown, L"it installs two things at one place");

    const std::wstring name = setup.provider + L" " + setup.app;
    PackageRecord installed;
    const bool already = ReadPackageRecord(name, &installed);
    if (already && !reinstall)
        return Refuse(shown, name + L" is installed already (--reinstall installs it again)");
    std::set<std::wstring> owned;
    for (const auto& file : installed.files)
        owned.insert(Lower(file));
    for (const auto& target : targets) {
        if (!owned.count(target) && Exists(target))
            return Refuse(shown, target + L" is on the device already");
    }
    if (already && !RemovePackage(name, &error))
        return Refuse(shown, L"the installed " + name + L" cannot be removed: " + error);

    Installation installation;
    installation.record.installDir =
        setup.files.empty() ? std::wstring(L"\\Windows")
                            : setup.files[0].path.substr(0, setup.files[0].path.rfind(L'\\'));
    bool ok = true;
    for (const auto& file : setup.files) {
        const Bytes& bytes = cabinet.files[file.number];
        ok = ok && installation.WriteFile(file.path, bytes.data(), bytes.size());
    }
    for (const auto& link : setup.links)
        ok = ok && installation.WriteShortcut(link);
    for (const auto& value : setup.values)
        ok = ok && installation.WriteValue(value);
    ok = ok && WritePackageRecord(name, installation.record);
    if (!ok) {
        const DWORD code = GetLastError();
        DeleteCreated(installation.record);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, (std::wstring(AppsKey) + L"\\" + name).c_str());
        return Refuse(shown, L"the device refused a write (error " + std::to_wstring(code) +
                                 L"); nothing is installed");
    }
    Print(L"installed %ls: %zu files, %zu shortcuts, %zu registry values\n", name.c_str(),
          setup.files.size(), setup.links.size(), installation.record.values.size());
    return 0;
}

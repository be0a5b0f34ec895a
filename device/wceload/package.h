// The device's software installation: a CE installation cabinet read through the platform's
// cabinet library, its setup file (.000), the images it may install, and the record of an
// installed package that removal follows.
#pragma once
#include <windows.h>
#include <cstring>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

// A bounded view of a file read from a cabinet, which nothing trusts: every read says whether
// it was inside.
class ByteView {
  public:
    explicit ByteView(const Bytes& bytes) : bytes_(bytes) {}
    bool Inside(size_t at, size_t length) const {
        return at <= bytes_.size() && length <= bytes_.size() - at;
    }
    template <typename T> bool Read(size_t at, T* out) const {
        if (!Inside(at, sizeof(T)))
            return false;
        std::memcpy(out, bytes_.data() + at, sizeof(T));
        return true;
    }
    const unsigned char* At(size_t at) const { return bytes_.data() + at; }
    size_t Size() const { return bytes_.size(); }

  private:
    const Bytes& bytes_;
};

// The cabinet's files by the number of their extension ("OSTREL~1.004" is file 4).
struct Cabinet {
    std::map<unsigned, Bytes> files;
};

bool ReadCabinet(const std::wstring& path, Cabinet* cabinet, std::wstring* error);

// What the setup file asks for, its paths already expanded to the device's (from "\").
struct SetupFile {
    std::wstring app;
    std::wstring provider;
    DWORD processor = 0;
    DWORD minMajor = 0, minMinor = 0, maxMajor = 0, maxMinor = 0, minBuild = 0, maxBuild = 0;
    // The texts are stored names: "\Windows\evil.exe" for a file written "evil.exe.".
    std::vector<std::wstring> unsupported;
    struct File {
        unsigned number;
        std::wstring path; // "\Windows\Ostrelle.exe"
    };
    std::vector<File> files;
    struct Value {
        HKEY root;
        std::wstring key; // "HKLM\Software\..." as recorded
        std::wstring subkey;
        std::wstring name;
        DWORD type;
        Bytes data;
        bool noClobber;
    };
    std::vector<Value> values;
    struct Link {
        std::wstring path;   // "\Windows\StartUp\Ostrelle.lnk"
        std::wstring target; // "\Windows\Ostrelle.exe"
    };
    std::vector<Link> links;
};

bool ParseSetupFile(const Bytes& bytes, SetupFile* setup, std::wstring* error);

// Names as the file system stores them: "evil.exe. " is "evil.exe"; a name that reaches no file
// (a device such as NUL, a way out, a control character) is refused with why, in words.
bool StoredName(const std::wstring& written, std::wstring* stored, std::wstring* why);
// Text for a message: control characters as \xNN.
std::wstring Shown(const std::wstring& text);
// The form two names are compared in: the file system and the registry ignore case.
std::wstring Folded(const std::wstring& text);
// The platform's standard directory %CEn% on this device, or nullptr where it has none.
const wchar_t* StandardDir(unsigned n);

// Whether an image is one the platform loads: a CE program or library of this device's machine,
// no newer than the platform, importing only the platform's libraries. Otherwise the cause.
bool CheckCeImage(const Bytes& image, std::wstring* cause);
bool IsImageName(const std::wstring& path); // .exe, .dll, .cpl

// The device's own description of itself, against which a cabinet is checked.
constexpr DWORD DeviceMajor = 3, DeviceMinor = 0, DeviceBuild = 126;
constexpr wchar_t DevicePlatform[] = L"POCKETPC";

// Device paths ("\Windows\X") on this machine's file system ("C:\windows\X").
std::wstring HostPath(const std::wstring& devicePath);

// Installed packages: HKLM\Software\Apps\PROVIDER APP, as the platform registers them, with what
// the installation created, so that removal takes exactly that away.
constexpr wchar_t AppsKey[] = L"Software\\Apps";
struct PackageRecord {
    std::wstring installDir;
    std::vector<std::wstring> files;  // files and shortcuts, device paths
    std::vector<std::wstring> dirs;   // directories made for them, outermost first
    std::vector<std::wstring> values; // "HKLM\key\tname"
    std::vector<std::wstring> keys;   // keys made, outermost first: "HKLM\key"
};

bool ReadPackageRecord(const std::wstring& name, PackageRecord* record);
bool WritePackageRecord(const std::wstring& name, const PackageRecord& record);
std::vector<std::wstring> InstalledPackages();

// Deletes what the record lists: files, then the directories and keys made for them where
// they are empty (what the user put there stays), and the values.
void DeleteCreated(const PackageRecord& record);

// Where an installed package keeps its setup library (\Windows\AppMgr\NAME.dll), which the
// remover calls; the installer's, not the package's.
std::wstring SetupLibraryPath(const std::wstring& name);
constexpr wchar_t SetupLibraryDir[] = L"\\Windows\\AppMgr";

// A package's setup library, loaded for the calls of one installation or removal.
class SetupLibrary {
  public:
    SetupLibrary() = default;
    SetupLibrary(const SetupLibrary&) = delete;
    SetupLibrary& operator=(const SetupLibrary&) = delete;
    ~SetupLibrary() { Unload(); }
    bool Load(const std::wstring& devicePath);
    bool Loaded() const { return module_ != nullptr; }
    void Unload();
    // An entry of the library; none where it has none (every entry is optional).
    template <typename Proc> Proc Find(const char* name) const {
        return module_
                   ? reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module_, name)))
                   : nullptr;
    }

  private:
    HMODULE module_ = nullptr;
};

// The records under HKLM\Software\Apps belong to the installer alone.
bool IsInstallerRecord(HKEY root, const std::wstring& subkey);

// The reason in words for an error code of a write the device refused.
std::wstring Reason(DWORD code);

// Takes an installed package off the device: its setup library first (Uninstall_Init, which may
// end its programs or decline), then everything the installation created, checked first to lie
// where an installation puts things. Fails, deleting nothing, while a file of it is in use.
bool RemovePackage(const std::wstring& name, std::wstring* error);

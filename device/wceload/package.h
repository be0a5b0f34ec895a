// The device's software installation: a CE installation cabinet read through the platform's
// cabinet library, its setup file (.000), the images it may install, and the record of an
// installed package that removal follows.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

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

// Whether an image is one the platform loads: a CE program or library of this device's machine,
// no newer than the platform, importing only the platform's libraries. Otherwise the cause.
bool CheckCeImage(const Bytes& image, std::wstring* cause);

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

// Takes an installed package off the device: running programs of it ended as they end, then
// everything the installation created. Fails, changing nothing, while a file of it is in use.
bool RemovePackage(const std::wstring& name, std::wstring* error);

// A registry key as recorded ("HKLM\Software\X"), split into its root and path.
bool SplitRecordedKey(const std::wstring& key, HKEY* root, std::wstring* path);

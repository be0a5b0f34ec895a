// What the platform's loader would refuse, refused at installation: an image must be a CE
// program or library (subsystem 9) of this device's machine, for a platform no newer than this
// one, and import only libraries this platform has. The headers are read from an untrusted file:
// every offset is checked against it before it is followed.
#include <windows.h>
#include <cstring>
#include <cwchar>
#include "package.h"

namespace {

constexpr WORD WindowsCeGui = 9; // IMAGE_SUBSYSTEM_WINDOWS_CE_GUI
constexpr WORD NewestMajor = 3, NewestMinor = 0;
constexpr const char* PlatformLibraries[] = {"coredll.dll", "aygshell.dll", "commctrl.dll"};
// An image with more sections or imports than this is no program of this platform's size.
constexpr unsigned MaxSections = 96, MaxLibraries = 256;

#ifdef _WIN64
constexpr WORD DeviceMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD DeviceMagic = IMAGE_NT_OPTIONAL_HDR64_MAGIC;
#else
constexpr WORD DeviceMachine = IMAGE_FILE_MACHINE_I386;
constexpr WORD DeviceMagic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
#endif

class Image {
  public:
    explicit Image(const Bytes& bytes) : bytes_(bytes) {}
    bool Inside(size_t at, size_t length) const {
        return at <= bytes_.size() && length <= bytes_.size() - at;
    }
    template <typename T> bool Read(size_t at, T* out) const {
        if (!Inside(at, sizeof(T)))
            return false;
        memcpy(out, bytes_.data() + at, sizeof(T));
        return true;
    }
    // A zero-ended name at AT, at most 255 characters.
    bool Name(size_t at, std::string* out) const {
        out->clear();
        for (size_t i = 0; i < 256; ++i) {
            if (!Inside(at + i, 1))
                return false;
            const char c = static_cast<char>(bytes_[at + i]);
            if (c == 0)
                return !out->empty();
            out->push_back(c);
        }
        return false;
    }

  private:
    const Bytes& bytes_;
};

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text)
        wide.push_back(static_cast<unsigned char>(c) < 0x80 ? c : L'?');
    return wide;
}

} // namespace

bool CheckCeImage(const Bytes& bytes, std::wstring* cause) {
    const Image image(bytes);
    IMAGE_DOS_HEADER dos;
    if (!image.Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        *cause = L"no image at all";
        return false;
    }
    const size_t pe = static_cast<DWORD>(dos.e_lfanew);
    DWORD signature;
    IMAGE_FILE_HEADER file;
    WORD magic;
    const size_t optional = pe + 4 + sizeof file;
    if (pe > bytes.size() || !image.Read(pe, &signature) || signature != IMAGE_NT_SIGNATURE ||
        !image.Read(pe + 4, &file) || !image.Read(optional, &magic)) {
        *cause = L"its PE headers are missing or cut short";
        return false;
    }
    if (file.Machine != DeviceMachine || magic != DeviceMagic) {
        wchar_t text[96];
        swprintf(text, 96, L"machine 0x%04x, this device runs 0x%04x", file.Machine, DeviceMachine);
        *cause = text;
        return false;
    }
#ifdef _WIN64
    IMAGE_OPTIONAL_HEADER64 header;
#else
    IMAGE_OPTIONAL_HEADER32 header;
#endif
    if (file.SizeOfOptionalHeader < sizeof header || !image.Read(optional, &header)) {
        *cause = L"its optional header is cut short";
        return false;
    }
    if (header.Subsystem != WindowsCeGui) {
        *cause = L"subsystem " + std::to_wstring(header.Subsystem) + L", expected 9 (Windows CE)";
        return false;
    }
    if (header.MajorSubsystemVersion > NewestMajor ||
        (header.MajorSubsystemVersion == NewestMajor &&
         header.MinorSubsystemVersion > NewestMinor)) {
        wchar_t text[96];
        swprintf(text, 96, L"subsystem version %u.%02u, this platform is %u.%02u",
                 header.MajorSubsystemVersion, header.MinorSubsystemVersion, NewestMajor,
                 NewestMinor);
        *cause = text;
        return false;
    }
    if (file.NumberOfSections > MaxSections) {
        *cause = L"more sections than an image has";
        return false;
    }
    // Addresses in the image are found through the section that holds them.
    const size_t sections = optional + file.SizeOfOptionalHeader;
    auto offsetOf = [&](DWORD rva, size_t length, size_t* out) {
        for (unsigned i = 0; i < file.NumberOfSections; ++i) {
            IMAGE_SECTION_HEADER section;
            if (!image.Read(sections + i * sizeof section, &section))
                return false;
            const DWORD size = section.SizeOfRawData;
            if (rva >= section.VirtualAddress && rva - section.VirtualAddress < size &&
                length <= size - (rva - section.VirtualAddress)) {
                const unsigned long long raw =
                    static_cast<unsigned long long>(section.PointerToRawData) +
                    (rva - section.VirtualAddress);
                if (raw > bytes.size())
                    return false;
                *out = static_cast<size_t>(raw);
                return image.Inside(*out, length);
            }
        }
        return false;
    };
    if (header.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return true;
    const IMAGE_DATA_DIRECTORY imports = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0)
        return true;
    for (unsigned i = 0;; ++i) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        size_t at;
        if (i == MaxLibraries ||
            !offsetOf(imports.VirtualAddress + i * sizeof descriptor, sizeof descriptor, &at) ||
            !image.Read(at, &descriptor)) {
            *cause = L"its import table is damaged";
            return false;
        }
        if (descriptor.Name == 0 && descriptor.FirstThunk == 0)
            return true;
        std::string name;
        size_t nameAt;
        if (!offsetOf(descriptor.Name, 1, &nameAt) || !image.Name(nameAt, &name)) {
            *cause = L"its import table is damaged";
            return false;
        }
        bool known = false;
        for (const char* library : PlatformLibraries)
            known = known || _stricmp(name.c_str(), library) == 0;
        if (!known) {
            *cause = L"imports " + Widen(name) + L", which the platform does not have";
            return false;
        }
    }
}

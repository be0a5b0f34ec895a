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

// A zero-ended name at AT, at most 255 characters.
bool NameAt(const ByteView& image, size_t at, std::string* out) {
    out->clear();
    for (size_t i = 0; i < 256; ++i) {
        unsigned char c;
        if (!image.Read(at + i, &c))
            return false;
        if (c == 0)
            return !out->empty();
        out->push_back(static_cast<char>(c));
    }
    return false;
}

std::wstring Widen(const std::string& text) {
    std::wstring wide;
    for (char c : text)
        wide.push_back(static_cast<unsigned char>(c) < 0x80 ? c : L'?');
    return wide;
}

#ifdef _WIN64
using OptionalHeader = IMAGE_OPTIONAL_HEADER64;
#else
using OptionalHeader = IMAGE_OPTIONAL_HEADER32;
#endif

// The headers of an image, each read once and checked to lie in the file.
struct Headers {
    IMAGE_FILE_HEADER file;
    OptionalHeader optional;
    size_t sections; // where the section table starts
};

bool ReadHeaders(const ByteView& image, size_t size, Headers* headers, std::wstring* cause) {
    IMAGE_DOS_HEADER dos;
    if (!image.Read(0, &dos) || dos.e_magic != IMAGE_DOS_SIGNATURE) {
        *cause = L"no image at all";
        return false;
    }
    const size_t pe = static_cast<DWORD>(dos.e_lfanew);
    DWORD signature;
    WORD magic;
    const size_t optional = pe + 4 + sizeof headers->file;
    if (pe > size || !image.Read(pe, &signature) || signature != IMAGE_NT_SIGNATURE ||
        !image.Read(pe + 4, &headers->file) || !image.Read(optional, &magic)) {
        *cause = L"its PE headers are missing or cut short";
        return false;
    }
    if (headers->file.Machine != DeviceMachine || magic != DeviceMagic) {
        wchar_t text[96];
        swprintf(text, 96, L"machine 0x%04x, this device runs 0x%04x", headers->file.Machine,
                 DeviceMachine);
        *cause = text;
        return false;
    }
    if (headers->file.SizeOfOptionalHeader < sizeof headers->optional ||
        !image.Read(optional, &headers->optional)) {
        *cause = L"its optional header is cut short";
        return false;
    }
    headers->sections = optional + headers->file.SizeOfOptionalHeader;
    return true;
}

// A CE program of a platform no newer than this one.
bool CheckSubsystem(const OptionalHeader& header, std::wstring* cause) {
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
    return true;
}

// Addresses in the image are found through the section that holds them.
bool OffsetOf(const ByteView& image, size_t size, const Headers& headers, DWORD rva, size_t length,
              size_t* out) {
    for (unsigned i = 0; i < headers.file.NumberOfSections; ++i) {
        IMAGE_SECTION_HEADER section;
        if (!image.Read(headers.sections + i * sizeof section, &section))
            return false;
        const DWORD raw = section.SizeOfRawData;
        if (rva >= section.VirtualAddress && rva - section.VirtualAddress < raw &&
            length <= raw - (rva - section.VirtualAddress)) {
            const unsigned long long at =
                static_cast<unsigned long long>(section.PointerToRawData) +
                (rva - section.VirtualAddress);
            if (at > size)
                return false;
            *out = static_cast<size_t>(at);
            return image.Inside(*out, length);
        }
    }
    return false;
}

// Every library the image imports is one of the platform's.
bool CheckImports(const ByteView& image, size_t size, const Headers& headers, std::wstring* cause) {
    if (headers.optional.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_IMPORT)
        return true;
    const IMAGE_DATA_DIRECTORY imports =
        headers.optional.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (unsigned i = 0; imports.VirtualAddress != 0; ++i) {
        IMAGE_IMPORT_DESCRIPTOR descriptor;
        size_t at, nameAt;
        std::string name;
        if (i == MaxLibraries ||
            !OffsetOf(image, size, headers, imports.VirtualAddress + i * sizeof descriptor,
                      sizeof descriptor, &at) ||
            !image.Read(at, &descriptor)) {
            *cause = L"its import table is damaged";
            return false;
        }
        if (descriptor.Name == 0 && descriptor.FirstThunk == 0)
            return true;
        if (!OffsetOf(image, size, headers, descriptor.Name, 1, &nameAt) ||
            !NameAt(image, nameAt, &name)) {
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
    return true;
}

} // namespace

bool IsImageName(const std::wstring& path) {
    const size_t dot = path.rfind(L'.');
    if (dot == std::wstring::npos || path.find(L'\\', dot) != std::wstring::npos)
        return false;
    const wchar_t* extension = path.c_str() + dot;
    return _wcsicmp(extension, L".exe") == 0 || _wcsicmp(extension, L".dll") == 0 ||
           _wcsicmp(extension, L".cpl") == 0;
}

bool CheckCeImage(const Bytes& bytes, std::wstring* cause) {
    const ByteView image(bytes);
    Headers headers;
    if (!ReadHeaders(image, bytes.size(), &headers, cause) ||
        !CheckSubsystem(headers.optional, cause))
        return false;
    if (headers.file.NumberOfSections > MaxSections) {
        *cause = L"more sections than an image has";
        return false;
    }
    return CheckImports(image, bytes.size(), headers, cause);
}

// Names as the device's file system stores them. The file system drops trailing dots and blanks,
// ignores case and takes "/" for "\", so every decision of the installer and the remover is
// made on the stored form, never on the name as a cabinet spells it. Names of devices (CON,
// NUL.TXT) reach no file at all.
#include <windows.h>
#include <cwchar>
#include "package.h"

namespace {

struct DeviceName {
    const wchar_t* name; // COM and LPT take a digit 1 to 9
    const wchar_t* what;
};
constexpr DeviceName DeviceNames[] = {
    {L"CON", L"the console"},   {L"CONIN$", L"the console"}, {L"CONOUT$", L"the console"},
    {L"PRN", L"the printer"},   {L"AUX", L"a serial port"},  {L"NUL", L"the null device"},
    {L"COM", L"a serial port"}, {L"LPT", L"a printer port"},
};

// The name of the device a file name reaches whatever its extension ("nul.txt" is NUL), with
// what it is; empty for a file.
std::wstring DeviceOf(const std::wstring& name, const wchar_t** what) {
    std::wstring base = Folded(name.substr(0, name.find(L'.')));
    while (!base.empty() && base.back() == L' ')
        base.pop_back();
    for (const auto& device : DeviceNames) {
        const bool numbered = !wcscmp(device.name, L"COM") || !wcscmp(device.name, L"LPT");
        const bool match = numbered ? base.size() == 4 && !base.compare(0, 3, device.name) &&
                                          base[3] >= L'1' && base[3] <= L'9'
                                    : base == device.name;
        if (match) {
            *what = device.what;
            return base;
        }
    }
    return L"";
}

} // namespace

std::wstring Shown(const std::wstring& text) {
    std::wstring shown;
    for (wchar_t c : text) {
        if (c < 0x20 || c == 0x7F) {
            wchar_t escaped[8];
            swprintf(escaped, 8, L"\\x%02x", static_cast<unsigned>(c));
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

std::wstring Folded(const std::wstring& text) {
    std::wstring folded = text;
    CharUpperBuffW(folded.data(), static_cast<DWORD>(folded.size()));
    return folded;
}

bool StoredName(const std::wstring& written, std::wstring* stored, std::wstring* why) {
    std::wstring name = written;
    while (!name.empty() && (name.back() == L'.' || name.back() == L' '))
        name.pop_back();
    if (written == L"." || written == L"..") {
        *why = L"holds \"" + written + L"\", a way out of its directory";
        return false;
    }
    if (name.empty()) {
        *why = written.empty() ? L"has a directory without a name"
                               : L"holds \"" + written + L"\", a name of dots and blanks only";
        return false;
    }
    for (wchar_t c : name) {
        if (c < 0x20 || c == 0x7F) {
            *why = L"holds the control character " + Shown(std::wstring(1, c));
            return false;
        }
        if (std::wcschr(L"\\/:*?\"<>|%", c)) {
            *why = std::wstring(L"holds \"") + c + L"\", which no file name may";
            return false;
        }
    }
    if (name.size() >= MAX_PATH) {
        *why = L"has a name of " + std::to_wstring(name.size()) + L" characters";
        return false;
    }
    const wchar_t* what = nullptr;
    const std::wstring device = DeviceOf(name, &what);
    if (!device.empty()) {
        *why = L"names the device " + device + L", " + what + L", not a file";
        return false;
    }
    *stored = name;
    return true;
}

// The setup file (.000) of a CE installation cabinet: a 100-byte header of counts and offsets,
// then the strings, directories, files, registry hives and keys, and shortcuts it refers to.
// Every offset and length is checked against the file before it is followed, and every path is
// checked to stay inside the device's file system.
#include <windows.h>
#include <cstring>
#include <map>
#include "package.h"

namespace {

constexpr size_t HeaderSize = 100;

// The platform's standard directories, %CE1% to %CE17%, as a Pocket PC 3.0 has them; the empty
// ones are not defined there.
constexpr const wchar_t* StandardDirs[] = {
    L"\\Program Files",
    L"\\Windows",
    L"",
    L"\\Windows\\StartUp",
    L"\\My Documents",
    L"",
    L"",
    L"",
    L"",
    L"",
    L"\\Windows\\Start Menu\\Programs",
    L"",
    L"",
    L"\\Windows\\Start Menu\\Games",
    L"\\Windows\\Fonts",
    L"",
    L"\\Windows\\Start Menu",
};

// A bounded view of the file: every read says whether it was inside.
class Reader {
  public:
    explicit Reader(const Bytes& bytes) : bytes_(bytes) {}
    bool Inside(size_t at, size_t length) const {
        return at <= bytes_.size() && length <= bytes_.size() - at;
    }
    bool U16(size_t at, unsigned* out) const {
        if (!Inside(at, 2))
            return false;
        *out = bytes_[at] | bytes_[at + 1] << 8;
        return true;
    }
    bool U32(size_t at, DWORD* out) const {
        if (!Inside(at, 4))
            return false;
        *out = bytes_[at] | bytes_[at + 1] << 8 | bytes_[at + 2] << 16 |
               static_cast<DWORD>(bytes_[at + 3]) << 24;
        return true;
    }
    const unsigned char* At(size_t at) const { return bytes_.data() + at; }

  private:
    const Bytes& bytes_;
};

std::wstring Widen(const unsigned char* text, size_t length) {
    std::wstring wide(length, L'\0');
    const int n =
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(text),
                            static_cast<int>(length), wide.data(), static_cast<int>(length));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

// A string of LENGTH bytes at AT that ends in its one terminating zero.
bool String(const Reader& reader, size_t at, size_t length, std::wstring* out) {
    if (length == 0 || !reader.Inside(at, length) || reader.At(at)[length - 1] != 0 ||
        std::memchr(reader.At(at), 0, length) != reader.At(at) + length - 1)
        return false;
    *out = Widen(reader.At(at), length - 1);
    return true;
}

// One part of a path: a plain name, never a way out (".."), a drive or a device.
bool PlainName(const std::wstring& part) {
    if (part.empty() || part == L"." || part == L".." || part.size() >= MAX_PATH)
        return false;
    for (wchar_t c : part) {
        if (c < 0x20 || std::wcschr(L"\\/:*?\"<>|%", c))
            return false;
    }
    return true;
}

struct Parser {
    const Reader& reader;
    std::wstring* error;
    std::map<unsigned, std::wstring> strings;
    std::map<unsigned, std::wstring> dirs;

    bool Fail(const std::wstring& what) {
        *error = what;
        return false;
    }

    // An entry of a section: its place is checked, and AT moves past it.
    bool Fixed(size_t* at, size_t length, const wchar_t* section) {
        if (!reader.Inside(*at, length))
            return Fail(std::wstring(L"its ") + section + L" section runs past the file's end");
        return true;
    }

    // A path given as string IDs ending in 0, within LENGTH bytes at AT; its first part may be
    // a %CEn% directory, every other part must be a plain name.
    bool Path(size_t at, size_t length, bool standardFirst, std::wstring* out,
              const wchar_t* section) {
        if (length < 2 || length % 2 || !reader.Inside(at, length))
            return Fail(std::wstring(L"a path of its ") + section + L" section is damaged");
        std::wstring joined;
        unsigned id = 1;
        size_t i = 0;
        for (; i + 2 <= length; i += 2) {
            reader.U16(at + i, &id);
            if (id == 0)
                break;
            auto found = strings.find(id);
            if (found == strings.end())
                return Fail(std::wstring(L"its ") + section + L" section names string " +
                            std::to_wstring(id) + L", which it does not have");
            joined += (joined.empty() ? L"" : L"\\") + found->second;
        }
        if (id != 0 || i + 2 != length)
            return Fail(std::wstring(L"a path of its ") + section + L" section is not ended");
        out->clear();
        size_t start = 0;
        for (bool first = true;; first = false) {
            const size_t end = joined.find(L'\\', start);
            const std::wstring part = joined.substr(start, end - start);
            unsigned n = 0;
            if (first && standardFirst && part.size() >= 5 && part.compare(0, 3, L"%CE") == 0 &&
                part.back() == L'%') {
                for (size_t k = 3; k + 1 < part.size(); ++k)
                    n = part[k] >= L'0' && part[k] <= L'9' && n < 100 ? n * 10 + (part[k] - L'0')
                                                                      : 1000;
                if (n < 1 || n > 17 || !*StandardDirs[n - 1])
                    return Fail(L"it names " + part + L", a directory this device does not have");
                *out = StandardDirs[n - 1];
            } else if (!PlainName(part)) {
                return Fail(L"its path \"" + joined + L"\" leaves the device's file system");
            } else {
                *out += L"\\" + part;
            }
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
        return true;
    }
};

} // namespace

bool ParseSetupFile(const Bytes& bytes, SetupFile* setup, std::wstring* error) {
    Reader reader(bytes);
    Parser parser{reader, error, {}, {}};
    DWORD signature = 0, length = 0;
    if (!reader.U32(0, &signature) || signature != 0x4543534D || bytes.size() < HeaderSize)
        return parser.Fail(L"its setup file is no CE setup file");
    reader.U32(8, &length);
    if (length != bytes.size())
        return parser.Fail(L"its setup file is " + std::to_wstring(bytes.size()) +
                           L" bytes, its header says " + std::to_wstring(length));
    reader.U32(20, &setup->processor);
    reader.U32(24, &setup->minMajor);
    reader.U32(28, &setup->minMinor);
    reader.U32(32, &setup->maxMajor);
    reader.U32(36, &setup->maxMinor);
    reader.U32(40, &setup->minBuild);
    reader.U32(44, &setup->maxBuild);
    unsigned counts[6];
    DWORD offsets[6];
    for (int i = 0; i < 6; ++i) {
        reader.U16(48 + 2 * i, &counts[i]);
        reader.U32(60 + 4 * i, &offsets[i]);
    }
    enum { Strings, Dirs, Files, Hives, Keys, Links };
    unsigned textAt[3], textLength[3];
    for (int i = 0; i < 3; ++i) {
        reader.U16(84 + 4 * i, &textAt[i]);
        reader.U16(86 + 4 * i, &textLength[i]);
    }
    if (!String(reader, textAt[0], textLength[0], &setup->app) ||
        !String(reader, textAt[1], textLength[1], &setup->provider) || setup->app.empty() ||
        setup->provider.empty())
        return parser.Fail(L"its setup file has no application or provider name");
    if (!PlainName(setup->provider + L" " + setup->app))
        return parser.Fail(L"its application name \"" + setup->app + L"\" is no plain name");
    if (textLength[2] > 0) {
        if (!reader.Inside(textAt[2], textLength[2]) || reader.At(textAt[2])[textLength[2] - 1])
            return parser.Fail(L"its list of unsupported platforms is damaged");
        for (size_t at = textAt[2]; at < textAt[2] + textLength[2] - 1;) {
            const size_t n = std::strlen(reinterpret_cast<const char*>(reader.At(at)));
            if (n == 0)
                break;
            setup->unsupported.push_back(Widen(reader.At(at), n));
            at += n + 1;
        }
    }

    size_t at = offsets[Strings];
    for (unsigned i = 0; i < counts[Strings]; ++i) {
        unsigned id = 0, n = 0;
        if (!parser.Fixed(&at, 4, L"STRINGS"))
            return false;
        reader.U16(at, &id);
        reader.U16(at + 2, &n);
        std::wstring text;
        if (!String(reader, at + 4, n, &text))
            return parser.Fail(L"string " + std::to_wstring(id) + L" of its setup file is damaged");
        parser.strings[id] = text;
        at += 4 + n;
    }
    at = offsets[Dirs];
    for (unsigned i = 0; i < counts[Dirs]; ++i) {
        unsigned id = 0, n = 0;
        if (!parser.Fixed(&at, 4, L"DIRS"))
            return false;
        reader.U16(at, &id);
        reader.U16(at + 2, &n);
        std::wstring path;
        if (!parser.Path(at + 4, n, true, &path, L"DIRS"))
            return false;
        parser.dirs[id] = path;
        at += 4 + n;
    }
    at = offsets[Files];
    for (unsigned i = 0; i < counts[Files]; ++i) {
        unsigned number = 0, dir = 0, unused = 0, n = 0;
        DWORD flags = 0;
        if (!parser.Fixed(&at, 12, L"FILES"))
            return false;
        reader.U16(at, &number);
        reader.U16(at + 2, &dir);
        reader.U16(at + 4, &unused);
        reader.U32(at + 6, &flags);
        reader.U16(at + 10, &n);
        std::wstring name;
        if (!String(reader, at + 12, n, &name))
            return parser.Fail(L"the name of file " + std::to_wstring(number) +
                               L" in its setup file is damaged");
        auto found = parser.dirs.find(dir);
        if (found == parser.dirs.end())
            return parser.Fail(L"file " + std::to_wstring(number) + L" goes to directory " +
                               std::to_wstring(dir) + L", which its setup file does not have");
        if (!PlainName(name))
            return parser.Fail(L"its target \"" + found->second + L"\\" + name +
                               L"\" leaves the device's file system");
        if (number == 0 || number > 999)
            return parser.Fail(L"its setup file lists a file numbered " + std::to_wstring(number));
        setup->files.push_back({number, found->second + L"\\" + name});
        at += 12 + n;
    }
    std::map<unsigned, std::pair<HKEY, std::wstring>> hives;
    at = offsets[Hives];
    for (unsigned i = 0; i < counts[Hives]; ++i) {
        unsigned id = 0, root = 0, unused = 0, n = 0;
        if (!parser.Fixed(&at, 8, L"REGHIVES"))
            return false;
        reader.U16(at, &id);
        reader.U16(at + 2, &root);
        reader.U16(at + 4, &unused);
        reader.U16(at + 6, &n);
        const HKEY Roots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};
        constexpr const wchar_t* RootNames[] = {L"HKCR", L"HKCU", L"HKLM", L"HKU"};
        if (root < 1 || root > 4)
            return parser.Fail(L"registry hive " + std::to_wstring(id) + L" has no root");
        std::wstring key;
        // A key's parts are names as a path's are; none may climb out of its root.
        if (!parser.Path(at + 8, n, false, &key, L"REGHIVES"))
            return false;
        hives[id] = {Roots[root - 1], std::wstring(RootNames[root - 1]) + key};
        at += 8 + n;
    }
    at = offsets[Keys];
    for (unsigned i = 0; i < counts[Keys]; ++i) {
        unsigned id = 0, hive = 0, substitute = 0, n = 0;
        DWORD flags = 0;
        if (!parser.Fixed(&at, 12, L"REGKEYS"))
            return false;
        reader.U16(at, &id);
        reader.U16(at + 2, &hive);
        reader.U16(at + 4, &substitute);
        reader.U32(at + 6, &flags);
        reader.U16(at + 10, &n);
        auto found = hives.find(hive);
        if (found == hives.end() || !reader.Inside(at + 12, n))
            return parser.Fail(L"registry entry " + std::to_wstring(id) + L" is damaged");
        const unsigned char* data = reader.At(at + 12);
        const size_t nameLength = strnlen(reinterpret_cast<const char*>(data), n);
        if (nameLength == n)
            return parser.Fail(L"registry entry " + std::to_wstring(id) + L" has no name");
        SetupFile::Value value;
        value.root = found->second.first;
        value.key = found->second.second;
        const size_t slash = value.key.find(L'\\');
        value.subkey = slash == std::wstring::npos ? L"" : value.key.substr(slash + 1);
        value.name = Widen(data, nameLength);
        value.noClobber = (flags & 0x2) != 0;
        const unsigned char* rest = data + nameLength + 1;
        const size_t restLength = n - nameLength - 1;
        switch (flags & 0x00010001) {
        case 0x00010001:
            if (restLength < 4)
                return parser.Fail(L"registry entry " + std::to_wstring(id) + L" is damaged");
            value.type = REG_DWORD;
            value.data.assign(rest, rest + 4);
            break;
        case 0x00000001:
            value.type = REG_BINARY;
            value.data.assign(rest, rest + restLength);
            break;
        default: {
            // Text, one string or a list of them, stored as the registry keeps it: UTF-16.
            value.type = flags & 0x00010000 ? REG_MULTI_SZ : REG_SZ;
            if (restLength == 0 || rest[restLength - 1] != 0)
                return parser.Fail(L"registry entry " + std::to_wstring(id) + L" is damaged");
            std::wstring text = Widen(rest, restLength);
            if (substitute) {
                for (int k = 17; k >= 1; --k) {
                    const std::wstring name = L"%CE" + std::to_wstring(k) + L"%";
                    for (size_t p; (p = text.find(name)) != std::wstring::npos;)
                        text.replace(p, name.size(), StandardDirs[k - 1]);
                }
            }
            const auto* wide = reinterpret_cast<const unsigned char*>(text.data());
            value.data.assign(wide, wide + text.size() * sizeof(wchar_t));
        }
        }
        setup->values.push_back(value);
        at += 12 + n;
    }
    at = offsets[Links];
    for (unsigned i = 0; i < counts[Links]; ++i) {
        unsigned id = 0, unused = 0, base = 0, target = 0, type = 0, n = 0;
        if (!parser.Fixed(&at, 12, L"LINKS"))
            return false;
        reader.U16(at, &id);
        reader.U16(at + 2, &unused);
        reader.U16(at + 4, &base);
        reader.U16(at + 6, &target);
        reader.U16(at + 8, &type);
        reader.U16(at + 10, &n);
        if (base < 1 || base > 17 || !*StandardDirs[base - 1])
            return parser.Fail(L"shortcut " + std::to_wstring(id) +
                               L" goes to a directory this device does not have");
        std::wstring name;
        if (!parser.Path(at + 12, n, false, &name, L"LINKS"))
            return false;
        SetupFile::Link link;
        link.path = StandardDirs[base - 1] + name;
        // A shortcut is a .lnk file, whether the name says so or not.
        if (link.path.size() < 4 || _wcsicmp(link.path.c_str() + link.path.size() - 4, L".lnk"))
            link.path += L".lnk";
        if (type == 1) {
            for (const auto& file : setup->files) {
                if (file.number == target)
                    link.target = file.path;
            }
        } else if (type == 0 && parser.dirs.count(target)) {
            link.target = parser.dirs[target];
        }
        if (link.target.empty())
            return parser.Fail(L"shortcut " + std::to_wstring(id) + L" points to " +
                               (type == 1 ? L"file " : L"directory ") + std::to_wstring(target) +
                               L", which its setup file does not install");
        setup->links.push_back(link);
        at += 12 + n;
    }
    return true;
}

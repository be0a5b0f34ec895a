// The setup file (.000) of a CE installation cabinet: a 100-byte header of counts and offsets,
// then the strings, directories, files, registry hives and keys, and shortcuts it refers to, one
// table each. Every offset and length is checked against the file before it is followed, every
// path is taken apart into names as the file system stores them, and whatever could be read
// two ways (an id defined twice, a name inside the header) is refused, not guessed.
#include <windows.h>
#include <cstring>
#include <map>
#include <set>
#include "ce_setup.h"
#include "package.h"
#include "registry_roots.h"

namespace {

enum Table { Strings, Dirs, Files, Hives, Keys, Links, TableCount };
constexpr const wchar_t* TableNames[TableCount] = {L"STRINGS",  L"DIRS",    L"FILES",
                                                   L"REGHIVES", L"REGKEYS", L"LINKS"};

struct TextField {
    WORD offset;
    WORD length; // bytes, with the terminating zero
};

struct Header {
    DWORD signature; // "MSCE"
    DWORD unknown1;
    DWORD length; // of the whole setup file
    DWORD unknown2;
    DWORD unknown3;
    DWORD processor;
    DWORD minMajor, minMinor, maxMajor, maxMinor, minBuild, maxBuild;
    WORD counts[TableCount];
    DWORD offsets[TableCount];
    TextField app, provider, unsupported;
    WORD unknown4[2];
};
static_assert(sizeof(Header) == 100, "the setup file's header");
constexpr DWORD SetupSignature = 0x4543534D;

#pragma pack(push, 1)
struct StringEntry {
    WORD id, length;
};
struct DirEntry {
    WORD id, length; // string ids ending in 0
};
struct FileEntry {
    WORD number, dir, unknown;
    DWORD flags;
    WORD length;
};
struct HiveEntry {
    WORD id, root, unknown, length;
};
struct KeyEntry {
    WORD id, hive, substitute;
    DWORD flags;
    WORD length; // the value's name, then its data
};
struct LinkEntry {
    WORD id, unknown, base, target, type, length;
};
#pragma pack(pop)
static_assert(sizeof(FileEntry) == 12 && sizeof(KeyEntry) == 12 && sizeof(LinkEntry) == 12 &&
                  sizeof(HiveEntry) == 8,
              "the setup file's entries");

// A registry entry's flags: its data kind, and whether an existing value stays.
enum class ValueKind : DWORD {
    Mask = 0x00010001,
    String = 0x00000000,
    MultiString = 0x00010000,
    Binary = 0x00000001,
    Dword = 0x00010001,
};
constexpr DWORD NoClobberFlag = 0x00000002;
enum class LinkKind : WORD { Directory = 0, File = 1 };

// The registry's own limit for a value's or a key's name.
constexpr size_t MaxRegistryName = 255;

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

std::wstring Widen(const unsigned char* text, size_t length) {
    std::wstring wide(length, L'\0');
    const int n =
        MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<const char*>(text),
                            static_cast<int>(length), wide.data(), static_cast<int>(length));
    wide.resize(n > 0 ? n : 0);
    return wide;
}

std::wstring Number(unsigned n) {
    return std::to_wstring(n);
}

// Long names are cut for a message: enough to recognise them.
std::wstring Abridged(const std::wstring& text) {
    return Shown(text.size() > 32 ? text.substr(0, 32) + L"..." : text);
}

struct Parser {
    const ByteView& reader;
    SetupFile* setup;
    std::wstring* error;
    Header header = {};
    std::map<unsigned, std::wstring> strings;
    std::map<unsigned, std::wstring> dirs;
    struct Hive {
        const RegistryRoot* root;
        std::wstring subkey;
    };
    std::map<unsigned, Hive> hives;

    bool Fail(const std::wstring& what) {
        *error = what;
        return false;
    }

    // A string of LENGTH bytes at AT that ends in its one terminating zero.
    bool String(size_t at, size_t length, std::wstring* out) const {
        if (length == 0 || !reader.Inside(at, length) || reader.At(at)[length - 1] != 0 ||
            std::memchr(reader.At(at), 0, length) != reader.At(at) + length - 1)
            return false;
        *out = Widen(reader.At(at), length - 1);
        return true;
    }

    // Every entry of a table, its fixed part and its LENGTH bytes checked to be in the file.
    template <typename Entry, typename Each> bool ForEach(Table table, Each each) {
        size_t at = header.offsets[table];
        for (unsigned i = 0; i < header.counts[table]; ++i) {
            Entry entry;
            if (!reader.Read(at, &entry) || !reader.Inside(at + sizeof entry, entry.length))
                return Fail(std::wstring(L"its ") + TableNames[table] +
                            L" section runs past the file's end");
            if (!each(entry, at + sizeof entry))
                return false;
            at += sizeof entry + entry.length;
        }
        return true;
    }

    // Names given as string ids ending in 0; a string may hold several, split at "\" or "/".
    bool Names(size_t at, size_t length, Table table, std::vector<std::wstring>* names) {
        if (length < 2 || length % 2)
            return Fail(std::wstring(L"a path of its ") + TableNames[table] +
                        L" section is damaged");
        WORD id = 0;
        for (size_t i = 0; i + 2 <= length; i += 2) {
            reader.Read(at + i, &id);
            if (id == 0) {
                if (i + 2 != length)
                    break;
                return true;
            }
            auto found = strings.find(id);
            if (found == strings.end())
                return Fail(std::wstring(L"its ") + TableNames[table] + L" section names string " +
                            Number(id) + L", which it does not have");
            std::wstring text = found->second;
            for (size_t start = 0;;) {
                const size_t end = text.find_first_of(L"\\/", start);
                names->push_back(text.substr(start, end - start));
                if (end == std::wstring::npos)
                    break;
                start = end + 1;
            }
        }
        return Fail(std::wstring(L"a path of its ") + TableNames[table] + L" section is not ended");
    }

    // A device path from names: each as the file system stores it, after a first directory.
    bool Stored(const std::wstring& base, const std::vector<std::wstring>& names, size_t first,
                std::wstring* path, const wchar_t* what) {
        std::wstring written = base;
        for (size_t i = first; i < names.size(); ++i)
            written += L"\\" + names[i];
        *path = base;
        for (size_t i = first; i < names.size(); ++i) {
            std::wstring stored, why;
            if (!StoredName(names[i], &stored, &why))
                return Fail(std::wstring(L"its ") + what + L" \"" + Shown(written) + L"\" " + why);
            *path += L"\\" + stored;
        }
        return true;
    }

    bool ReadHeader();
    bool ReadNames();
    bool ReadUnsupported();
    bool ReadStrings();
    bool ReadDirs();
    bool ReadFiles();
    bool ReadHives();
    bool ReadKeys();
    bool ValueData(const KeyEntry& entry, const unsigned char* data, size_t nameLength,
                   SetupFile::Value* value);
    bool ReadLinks();
    bool LinkTarget(const LinkEntry& entry, SetupFile::Link* link);
};

bool Parser::ReadHeader() {
    if (!reader.Read(0, &header) || header.signature != SetupSignature)
        return Fail(L"its setup file is no CE setup file");
    if (header.length != reader.Size())
        return Fail(L"its setup file is " + Number(static_cast<unsigned>(reader.Size())) +
                    L" bytes, its header says " + Number(header.length));
    setup->processor = header.processor;
    setup->minMajor = header.minMajor;
    setup->minMinor = header.minMinor;
    setup->maxMajor = header.maxMajor;
    setup->maxMinor = header.maxMinor;
    setup->minBuild = header.minBuild;
    setup->maxBuild = header.maxBuild;
    return true;
}

// The application's and the provider's names, which lie past the header.
bool Parser::ReadNames() {
    const struct {
        const TextField& field;
        std::wstring* out;
        const wchar_t* what;
    } names[] = {{header.app, &setup->app, L"application"},
                 {header.provider, &setup->provider, L"provider"}};
    for (const auto& name : names) {
        if (name.field.length && name.field.offset < sizeof(Header))
            return Fail(std::wstring(L"its ") + name.what + L" name lies in its header (offset " +
                        Number(name.field.offset) + L")");
        if (!String(name.field.offset, name.field.length, name.out) || name.out->empty())
            return Fail(L"its setup file has no application or provider name");
    }
    std::wstring stored, why;
    const std::wstring package = setup->provider + L" " + setup->app;
    if (!StoredName(package, &stored, &why) || stored != package)
        return Fail(L"its package name \"" + Shown(package) + L"\" is no plain name");
    return true;
}

bool Parser::ReadUnsupported() {
    const TextField& list = header.unsupported;
    if (list.length == 0)
        return true;
    if (!reader.Inside(list.offset, list.length) || reader.At(list.offset)[list.length - 1])
        return Fail(L"its list of unsupported platforms is damaged");
    for (size_t at = list.offset; at < list.offset + list.length - 1u;) {
        const size_t n = std::strlen(reinterpret_cast<const char*>(reader.At(at)));
        if (n == 0)
            break;
        setup->unsupported.push_back(Widen(reader.At(at), n));
        at += n + 1;
    }
    return true;
}

bool Parser::ReadStrings() {
    return ForEach<StringEntry>(Strings, [&](const StringEntry& entry, size_t at) {
        std::wstring text;
        if (!String(at, entry.length, &text))
            return Fail(L"string " + Number(entry.id) + L" of its setup file is damaged");
        if (!strings.emplace(entry.id, text).second)
            return Fail(L"its setup file defines string " + Number(entry.id) + L" twice");
        return true;
    });
}

// A directory: a standard one (%CEn%), then names below it.
bool Parser::ReadDirs() {
    return ForEach<DirEntry>(Dirs, [&](const DirEntry& entry, size_t at) {
        std::vector<std::wstring> names;
        if (!Names(at, entry.length, Dirs, &names))
            return false;
        if (names.empty() || names[0].empty())
            return Fail(L"directory " + Number(entry.id) + L" of its setup file has no name");
        const std::wstring& first = names[0];
        unsigned n = 0;
        bool standard =
            first.size() >= 5 && first.compare(0, 3, L"%CE") == 0 && first.back() == L'%';
        for (size_t k = 3; standard && k + 1 < first.size(); ++k)
            n = first[k] >= L'0' && first[k] <= L'9' && n < 100 ? n * 10 + (first[k] - L'0') : 1000;
        if (!standard)
            return Fail(L"its path \"" + Shown(first) + L"\" leaves the device's file system");
        if (!StandardDir(n))
            return Fail(L"it names " + Shown(first) + L", a directory this device does not have");
        std::wstring path;
        if (!Stored(StandardDir(n), names, 1, &path, L"directory"))
            return false;
        if (!dirs.emplace(entry.id, path).second)
            return Fail(L"its setup file defines directory " + Number(entry.id) + L" twice");
        return true;
    });
}

bool Parser::ReadFiles() {
    std::set<unsigned> numbers;
    return ForEach<FileEntry>(Files, [&](const FileEntry& entry, size_t at) {
        const std::wstring which = L"file " + Number(entry.number);
        std::wstring name;
        if (!String(at, entry.length, &name))
            return Fail(L"the name of " + which + L" in its setup file is damaged");
        auto dir = dirs.find(entry.dir);
        if (dir == dirs.end())
            return Fail(which + L" goes to directory " + Number(entry.dir) +
                        L", which its setup file does not have");
        if (entry.number == 0 || entry.number >= SetupLibraryFileNumber)
            return Fail(L"its setup file lists a file numbered " + Number(entry.number));
        if (!numbers.insert(entry.number).second)
            return Fail(L"its setup file lists " + which + L" twice");
        SetupFile::File file{entry.number, L""};
        if (!Stored(dir->second, {name}, 0, &file.path, L"target"))
            return false;
        setup->files.push_back(file);
        return true;
    });
}

// A hive: a root and the key below it, each part a key name; none may climb out.
bool Parser::ReadHives() {
    return ForEach<HiveEntry>(Hives, [&](const HiveEntry& entry, size_t at) {
        const RegistryRoot* root = RootBySetupNumber(entry.root);
        if (!root)
            return Fail(L"its registry hive " + Number(entry.id) + L" has root " +
                        Number(entry.root) + L", which is no registry root (1 HKCR to 4 HKU)");
        std::vector<std::wstring> names;
        if (!Names(at, entry.length, Hives, &names))
            return false;
        std::wstring subkey, written = root->shortName;
        for (const auto& name : names)
            written += L"\\" + name;
        for (const auto& name : names) {
            if (name == L".." || name == L"." || name.empty() || name.size() > MaxRegistryName)
                return Fail(L"its registry key \"" + Abridged(written) + L"\" leaves " +
                            root->shortName + L": a key name may not be \"" + Abridged(name) +
                            L"\"");
            subkey += (subkey.empty() ? L"" : L"\\") + name;
        }
        if (IsInstallerRecord(root->key, subkey))
            return Fail(L"its registry key \"" + Shown(written) +
                        L"\" is the installer's record of packages (HKLM\\Software\\Apps)");
        if (!hives.emplace(entry.id, Hive{root, subkey}).second)
            return Fail(L"its setup file defines registry hive " + Number(entry.id) + L" twice");
        return true;
    });
}

bool Parser::ReadKeys() {
    return ForEach<KeyEntry>(Keys, [&](const KeyEntry& entry, size_t at) {
        auto hive = hives.find(entry.hive);
        if (hive == hives.end())
            return Fail(L"registry entry " + Number(entry.id) + L" is damaged");
        const unsigned char* data = reader.At(at);
        const size_t nameLength = strnlen(reinterpret_cast<const char*>(data), entry.length);
        if (nameLength == entry.length)
            return Fail(L"registry entry " + Number(entry.id) + L" has no name");
        SetupFile::Value value;
        value.root = hive->second.root->key;
        value.subkey = hive->second.subkey;
        value.key = std::wstring(hive->second.root->shortName) +
                    (value.subkey.empty() ? L"" : L"\\" + value.subkey);
        value.name = Widen(data, nameLength);
        if (value.name.size() > MaxRegistryName)
            return Fail(L"its registry value \"" + Abridged(value.name) + L"\" in " +
                        Shown(value.key) + L" has a name of " + Number(value.name.size()) +
                        L" characters, the registry takes at most " + Number(MaxRegistryName));
        value.noClobber = (entry.flags & NoClobberFlag) != 0;
        if (!ValueData(entry, data, nameLength, &value))
            return false;
        setup->values.push_back(value);
        return true;
    });
}

// The data after the value's name, as the registry keeps it: text as UTF-16, %CEn% expanded
// where the entry asks.
bool Parser::ValueData(const KeyEntry& entry, const unsigned char* data, size_t nameLength,
                       SetupFile::Value* value) {
    const unsigned char* rest = data + nameLength + 1;
    const size_t restLength = entry.length - nameLength - 1;
    const auto kind = static_cast<ValueKind>(entry.flags & static_cast<DWORD>(ValueKind::Mask));
    if (kind == ValueKind::Dword || kind == ValueKind::Binary) {
        if (kind == ValueKind::Dword && restLength < 4)
            return Fail(L"registry entry " + Number(entry.id) + L" is damaged");
        value->type = kind == ValueKind::Dword ? REG_DWORD : REG_BINARY;
        value->data.assign(rest, rest + (kind == ValueKind::Dword ? 4 : restLength));
        return true;
    }
    value->type = kind == ValueKind::MultiString ? REG_MULTI_SZ : REG_SZ;
    if (restLength == 0 || rest[restLength - 1] != 0)
        return Fail(L"registry entry " + Number(entry.id) + L" is damaged");
    std::wstring text = Widen(rest, restLength);
    for (unsigned k = 17; entry.substitute && k >= 1; --k) {
        const std::wstring name = L"%CE" + Number(k) + L"%";
        const wchar_t* dir = StandardDir(k) ? StandardDir(k) : L"";
        for (size_t p; (p = text.find(name)) != std::wstring::npos;)
            text.replace(p, name.size(), dir);
    }
    const auto* wide = reinterpret_cast<const unsigned char*>(text.data());
    value->data.assign(wide, wide + text.size() * sizeof(wchar_t));
    return true;
}

bool Parser::ReadLinks() {
    return ForEach<LinkEntry>(Links, [&](const LinkEntry& entry, size_t at) {
        if (!StandardDir(entry.base))
            return Fail(L"shortcut " + Number(entry.id) +
                        L" goes to a directory this device does not have");
        std::vector<std::wstring> names;
        if (!Names(at, entry.length, Links, &names))
            return false;
        SetupFile::Link link;
        if (!Stored(StandardDir(entry.base), names, 0, &link.path, L"shortcut"))
            return false;
        // A shortcut is a .lnk file, whether the name says so or not.
        if (link.path.size() < 4 || _wcsicmp(link.path.c_str() + link.path.size() - 4, L".lnk"))
            link.path += L".lnk";
        if (!LinkTarget(entry, &link))
            return false;
        setup->links.push_back(link);
        return true;
    });
}

bool Parser::LinkTarget(const LinkEntry& entry, SetupFile::Link* link) {
    const auto kind = static_cast<LinkKind>(entry.type);
    if (kind == LinkKind::File) {
        for (const auto& file : setup->files) {
            if (file.number == entry.target)
                link->target = file.path;
        }
    } else if (kind == LinkKind::Directory && dirs.count(entry.target)) {
        link->target = dirs[entry.target];
    }
    if (link->target.empty())
        return Fail(L"shortcut " + Number(entry.id) + L" points to " +
                    (kind == LinkKind::File ? L"file " : L"directory ") + Number(entry.target) +
                    L", which its setup file does not install");
    return true;
}

} // namespace

const wchar_t* StandardDir(unsigned n) {
    return n >= 1 && n <= 17 && *StandardDirs[n - 1] ? StandardDirs[n - 1] : nullptr;
}

bool ParseSetupFile(const Bytes& bytes, SetupFile* setup, std::wstring* error) {
    ByteView reader(bytes);
    Parser parser{reader, setup, error, {}, {}, {}, {}};
    return parser.ReadHeader() && parser.ReadNames() && parser.ReadUnsupported() &&
           parser.ReadStrings() && parser.ReadDirs() && parser.ReadFiles() && parser.ReadHives() &&
           parser.ReadKeys() && parser.ReadLinks();
}

// The applet's settings on real device keys: profile detection, load, save, the change
// notification and its scrambled names. Every key a test touches is saved before and put back
// after it, since other test programs run on the same device.
#include <gtest/gtest.h>
#include <array>
#include <functional>
#include <string>
#include <vector>
#include "harness.h"
#include "scrambled_names.h"
#include "settings.h"
#include "wince.h"

using namespace harness;

namespace {

const HKEY CU = HKEY_CURRENT_USER;
const HKEY LM = HKEY_LOCAL_MACHINE;
using Group = std::array<DWORD, 4>; // external, battery timeout; external, battery auto

// --- saving and restoring the keys the tests touch -----------------------------------------

struct SavedValue {
    std::wstring name;
    DWORD type;
    std::vector<BYTE> data;
};
struct SavedKey {
    std::wstring path;
    std::vector<SavedValue> values;
};

void SaveTree(HKEY root, const std::wstring& path, std::vector<SavedKey>* out) {
    HKEY h;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return;
    SavedKey key{path, {}};
    wchar_t name[256];
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; ++i) {
        DWORD length = 256, type = 0, size = static_cast<DWORD>(data.size());
        if (RegEnumValueW(h, i, name, &length, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        key.values.push_back({name, type, {data.begin(), data.begin() + size}});
    }
    std::vector<std::wstring> subkeys;
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(h, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.push_back(name);
    }
    RegCloseKey(h);
    out->push_back(key);
    for (const auto& subkey : subkeys)
        SaveTree(root, path + L"\\" + subkey, out);
}

void RestoreKey(HKEY root, const SavedKey& key) {
    HKEY h;
    if (RegCreateKeyExW(root, key.path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &h, nullptr) !=
        ERROR_SUCCESS)
        return;
    for (const auto& v : key.values)
        RegSetValueExW(h, v.name.c_str(), 0, v.type, v.data.data(),
                       static_cast<DWORD>(v.data.size()));
    RegCloseKey(h);
}

// --- writing fixtures ----------------------------------------------------------------------

// Stores exactly the characters given. The registry adds a terminator left out of the size
// when one follows the data in memory, so a character of its own follows them.
void PutChars(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& chars,
              DWORD type = REG_SZ) {
    const std::wstring data = chars + L'x';
    WriteValue(root, key, name, type, data.c_str(),
               static_cast<DWORD>(chars.size() * sizeof(wchar_t)));
}
void PutText(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text) {
    PutChars(root, key, name, text + L'\0');
}

// Each value as a number of its own, starting at `first`; `except` is left out.
void PutNumbers(HKEY root, const wchar_t* key, const std::vector<const wchar_t*>& names,
                DWORD first = 1, const wchar_t* except = L"") {
    for (const wchar_t* name : names) {
        if (std::wstring(name) != except)
            WriteDword(root, key, name, first);
        ++first;
    }
}

constexpr wchar_t CasioKey[] = L"Drivers\\CASIO\\BackLight";
constexpr wchar_t PhilipsKey[] = L"Software\\Philips\\Backlight";
constexpr wchar_t Keybd2Key[] = L"ControlPanel\\Keybd2";
const std::vector<const wchar_t*> KeybdValues = {L"Brightness", L"Contrast", L"RepeatRate",
                                                 L"DispDly", L"InitialDelay"};

void PutCasio(const wchar_t* except = L"") {
    PutNumbers(
        LM, CasioKey,
        {L"TimeoutExPower", L"TimeoutBattery", L"BrightExPower", L"BrightBattery", L"Contrast"}, 1,
        except);
}
void PutPhilips(const wchar_t* except = L"") {
    PutNumbers(LM, PhilipsKey, {L"BatteryTimeout", L"ACTimeout"}, 1, except);
}
void PutKeybd2(DWORD zoneBytes = 172, const wchar_t* keybdExcept = L"") {
    PutNumbers(CU, Keybd2Key, {L"TimeOut", L"Auto", L"FromCtlpnl", L"Contrast", L"Brightness"});
    std::vector<BYTE> zone(zoneBytes, 7);
    WriteValue(CU, Keybd2Key, L"TimeZoneInformation", REG_BINARY, zone.data(), zoneBytes);
    PutNumbers(CU, L"ControlPanel\\Keybd", KeybdValues, 1, keybdExcept);
}
void PutPlatform(const std::wstring& name, DWORD type, DWORD target) {
    PutText(LM, L"Platform", L"Name", name);
    WriteDword(LM, L"Platform", L"Type", type);
    WriteDword(LM, L"Platform", L"Target", target);
}

DWORD ValueCount(HKEY root, const wchar_t* key) {
    HKEY h;
    DWORD count = 0;
    if (RegOpenKeyExW(root, key, 0, KEY_READ, &h) != ERROR_SUCCESS)
        return 0xFFFFFFFF; // no key
    RegQueryInfoKeyW(h, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                     nullptr, nullptr, nullptr);
    RegCloseKey(h);
    return count;
}

std::string Read(HKEY root, const wchar_t* key, const wchar_t* name) {
    DWORD value = 0;
    return ReadDword(root, key, name, &value) ? std::to_string(value) : "absent";
}

Group BacklightFields() {
    return {AppletSettings.BacklightExternalTimeout, AppletSettings.BacklightBatteryTimeout,
            AppletSettings.BacklightExternalAuto, AppletSettings.BacklightBatteryAuto};
}
void SetBacklightFields(DWORD first) {
    AppletSettings.BacklightExternalTimeout = first;
    AppletSettings.BacklightBatteryTimeout = first + 1;
    AppletSettings.BacklightExternalAuto = first + 2;
    AppletSettings.BacklightBatteryAuto = first + 3;
}

// A backlight layout as the tests see it: value names by group position, none where absent.
struct Layout {
    HKEY root;
    const wchar_t* key;
    std::array<const wchar_t*, 4> names;

    void Put(DWORD first, int missing = -1) const {
        for (int i = 0; i < 4; ++i)
            if (names[i] && i != missing)
                WriteDword(root, key, names[i], first + i);
    }
};

// The profile-0 chain, in its order.
const Layout Chain[] = {
    {CU, L"ControlPanel\\Backlight", {L"ACTimeout", L"BatteryTimeout", L"ACAuto", L"BatteryAuto"}},
    {CU,
     L"ControlPanel\\HPBackLight",
     {L"ACTimeout", L"BatteryTimeout", L"ACAuto", L"BatteryAuto"}},
    {CU,
     L"ControlPanel\\S_BackLight",
     {L"TimeoutOnACPower", L"TimeoutOnBattery", L"ACAuto", L"BatteryAuto"}},
    {LM, L"Backlight", {L"ExtOffTime", L"BattOffTime", L"fExtActivityOn", L"fBattActivityOn"}},
};

class AppletSettingsTest : public testing::Test {
  protected:
    void SetUp() override {
        for (auto& tree : trees_)
            SaveTree(tree.root, tree.path, &tree.saved);
        for (const auto& slot : timeouts_)
            savedTimeouts_.push_back(IdleTimeout(slot.get));
        Clean();
        AppletSettings = AppletSettingsRecord{};
    }
    void TearDown() override {
        Clean();
        for (const auto& tree : trees_)
            for (const auto& key : tree.saved)
                RestoreKey(tree.root, key);
        for (size_t i = 0; i < timeouts_.size(); ++i)
            harness::SetIdleTimeout(timeouts_[i].set, savedTimeouts_[i]);
    }
    // Every touched key gone: a device that has none of them.
    void Clean() {
        for (const auto& tree : trees_)
            DeleteKey(tree.root, tree.path);
    }
    DWORD Detect(const std::function<void()>& put) {
        Clean();
        put();
        AppletSettings.DeviceProfile = ProfileGeneric;
        DetectDeviceProfile();
        return AppletSettings.DeviceProfile;
    }

    MessageBoxCatcher boxes_{IDOK};

  private:
    struct Tree {
        HKEY root;
        const wchar_t* path;
        std::vector<SavedKey> saved;
    };
    std::vector<Tree> trees_ = {
        {CU, L"ControlPanel", {}}, {CU, L"Software\\Zilp", {}}, {LM, L"Platform", {}},
        {LM, L"OEMVersion", {}},   {LM, L"Drivers\\CASIO", {}}, {LM, L"Software\\Philips", {}},
        {LM, L"Backlight", {}},
    };
    struct Codes {
        UINT get, set;
    };
    const std::vector<Codes> timeouts_ = {
        {SPI_GETBATTERYIDLETIMEOUT, SPI_SETBATTERYIDLETIMEOUT},
        {SPI_GETEXTERNALIDLETIMEOUT, SPI_SETEXTERNALIDLETIMEOUT},
        {SPI_GETWAKEUPIDLETIMEOUT, SPI_SETWAKEUPIDLETIMEOUT},
    };
    std::vector<DWORD> savedTimeouts_;
};

} // namespace

TEST_F(AppletSettingsTest, ThePlatformNameMatchesOnlyAsATerminatedStringWithinItsBuffer) {
    const std::wstring lg = L"LG HPC Ver2.5";
    const struct {
        const char* what;
        std::wstring chars; // exactly as stored
        DWORD type;
        DWORD expected;
    } cases[] = {
        {"exact", lg + L'\0', REG_SZ, ProfileLgHpc},
        {"other case", std::wstring(L"lg hpc ver2.5") + L'\0', REG_SZ, ProfileGeneric},
        {"trailing blank", lg + L" " + L'\0', REG_SZ, ProfileGeneric},
        {"unterminated", lg, REG_SZ, ProfileGeneric},
        {"REG_EXPAND_SZ", lg + L'\0', REG_EXPAND_SZ, ProfileGeneric},
        {"REG_BINARY", lg + L'\0', REG_BINARY, ProfileGeneric},
        {"padded to 508 bytes", lg + std::wstring(254 - lg.size(), L'\0'), REG_SZ, ProfileLgHpc},
        {"padded to 510 bytes", lg + std::wstring(255 - lg.size(), L'\0'), REG_SZ, ProfileGeneric},
        {"2000 bytes", lg + std::wstring(999, L'x') + L'\0', REG_SZ, ProfileGeneric},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Detect([&] { PutChars(LM, L"Platform", L"Name", c.chars, c.type); }))
            << c.what;
}

TEST_F(AppletSettingsTest, TheFirstMatchingSignatureWinsAndNearMissesDoNotMatch) {
    const struct {
        const char* what;
        std::function<void()> put;
        DWORD expected;
    } cases[] = {
        {"nothing", [] {}, ProfileGeneric},
        {"LG name before all others",
         [] { PutText(LM, L"Platform", L"Name", L"LG HPC Ver2.5"), PutCasio(), PutKeybd2(); },
         ProfileLgHpc},
        {"Casio before Philips", [] { PutCasio(), PutPhilips(); }, ProfileCasio},
        {"Casio without Contrast", [] { PutCasio(L"Contrast"); }, ProfileGeneric},
        {"Casio without Contrast, Philips", [] { PutCasio(L"Contrast"), PutPhilips(); },
         ProfilePhilips},
        {"Casio without Contrast, Keybd2", [] { PutCasio(L"Contrast"), PutKeybd2(); },
         ProfileKeybd2},
        {"Casio value of 8 bytes",
         [] {
             ULONGLONG wide = 1;
             PutCasio(), WriteValue(LM, CasioKey, L"Contrast", REG_QWORD, &wide, sizeof wide);
         },
         ProfileGeneric},
        {"Philips without ACTimeout", [] { PutPhilips(L"ACTimeout"); }, ProfileGeneric},
        {"Keybd2 with a time zone of 256 bytes", [] { PutKeybd2(256); }, ProfileGeneric},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.expected, Detect(c.put)) << c.what;
    for (const wchar_t* missing : KeybdValues)
        EXPECT_EQ(ProfileGeneric, Detect([&] { PutKeybd2(172, missing); }))
            << "Keybd without " << Utf8(missing);

    Clean();
    AppletSettings.DeviceProfile = ProfileCasio;
    DetectDeviceProfile();
    EXPECT_EQ(ProfileCasio, AppletSettings.DeviceProfile) << "no match keeps the earlier profile";
}

TEST_F(AppletSettingsTest, ReferencePlatforms) {
    const std::wstring perp = L"Microsoft PeRP Version 1.0a";
    const std::wstring hrp = L"Microsoft Windows CE Hardware Referece Platform";
    const struct {
        const std::wstring& name;
        DWORD type, target;
        const wchar_t* romKey; // where "ROMVersion" is put
        const wchar_t* rom;
        bool expected;
    } cases[] = {
        {perp, 2, 1, nullptr, nullptr, true},
        {perp, 2, 0, nullptr, nullptr, false},
        {perp, 3, 1, nullptr, nullptr, false},
        {hrp, 2, 0, L"OEMVersion", L"V2.0-200", true},
        {hrp, 2, 0, L"OEMVersion", L"V2.0-201", false},
        {hrp, 2, 0, L"Platform", L"V2.0-200", false},
        {hrp, 1, 0, L"OEMVersion", L"V2.0-200", false},
    };
    for (const auto& c : cases) {
        Clean();
        PutPlatform(c.name, c.type, c.target);
        if (c.romKey)
            PutText(LM, c.romKey, L"ROMVersion", c.rom);
        EXPECT_EQ(c.expected, IsReferencePlatform())
            << Utf8(c.name) << ", type " << c.type << ", target " << c.target << ", ROM "
            << (c.rom ? Utf8(c.romKey) + "\\" + Utf8(c.rom) : "none");
    }
    Clean();
    EXPECT_FALSE(IsReferencePlatform()) << "without a platform key";
}

TEST_F(AppletSettingsTest, ProfileZeroUsesTheFirstKeyOfItsChainForLoadAndSave) {
    for (DWORD first = 0; first < 4; ++first) {
        Clean();
        for (DWORD j = first; j < 4; ++j)
            Chain[j].Put(100 * j + 1);
        AppletSettings = AppletSettingsRecord{};
        const std::string where = "first present " + Utf8(Chain[first].key);
        ASSERT_TRUE(LoadSettings()) << where;
        const DWORD base = 100 * first + 1;
        EXPECT_EQ((Group{base, base + 1, base + 2, base + 3}), BacklightFields()) << where;
        EXPECT_TRUE(AppletSettings.GenericBacklight) << where;
        EXPECT_TRUE(AppletSettings.GenericBacklightAuto) << where;

        SetBacklightFields(900);
        SaveSettings();
        for (DWORD j = first; j < 4; ++j)
            for (DWORD i = 0; i < 4; ++i)
                EXPECT_EQ(std::to_string(j == first ? 900 + i : 100 * j + 1 + i),
                          Read(Chain[j].root, Chain[j].key, Chain[j].names[i]))
                    << where << ": " << Utf8(Chain[j].key) << "\\" << Utf8(Chain[j].names[i]);
    }
    EXPECT_TRUE(boxes_.boxes().empty()) << "a message box appeared";
}

TEST_F(AppletSettingsTest, ProfileZeroWithAnAutoValueMissingWritesOnlyTheTimeouts) {
    for (const auto& layout : Chain) {
        for (int missing : {2, 3}) {
            Clean();
            layout.Put(11, missing);
            const int present = 5 - missing;
            const std::string where = Utf8(layout.key) + " without " + Utf8(layout.names[missing]);
            AppletSettings = AppletSettingsRecord{};
            SetBacklightFields(50); // left by an earlier opening
            ASSERT_TRUE(LoadSettings()) << where;
            EXPECT_TRUE(AppletSettings.GenericBacklight) << where;
            EXPECT_FALSE(AppletSettings.GenericBacklightAuto) << where;
            Group expected = {11, 12, 0, 0};
            expected[present] = 11 + present;
            expected[missing] = 50 + missing;
            EXPECT_EQ(expected, BacklightFields()) << where;

            SetBacklightFields(900);
            SaveSettings();
            EXPECT_EQ("900", Read(layout.root, layout.key, layout.names[0])) << where;
            EXPECT_EQ("901", Read(layout.root, layout.key, layout.names[1])) << where;
            EXPECT_EQ(std::to_string(11 + present),
                      Read(layout.root, layout.key, layout.names[present]))
                << where;
            EXPECT_EQ("absent", Read(layout.root, layout.key, layout.names[missing])) << where;
        }
    }
}

TEST_F(AppletSettingsTest, WithoutABacklightKeyOnlyAReferencePlatformOpens) {
    PutPlatform(L"Microsoft PeRP Version 1.0a", 2, 1);
    AppletSettings.GenericBacklight = AppletSettings.GenericBacklightAuto = TRUE;
    EXPECT_TRUE(LoadSettings());
    EXPECT_FALSE(AppletSettings.GenericBacklight);
    EXPECT_FALSE(AppletSettings.GenericBacklightAuto);
    EXPECT_TRUE(boxes_.boxes().empty()) << "a message box appeared on a reference platform";
    SaveSettings();
    EXPECT_EQ(0xFFFFFFFFu, ValueCount(CU, Chain[0].key)) << "a backlight key was created";

    Clean();
    EXPECT_FALSE(LoadSettings());
    ASSERT_EQ(1u, boxes_.boxes().size());
    const auto& box = boxes_.boxes()[0];
    EXPECT_EQ("Fehler beim Lesen", Utf8(box.caption));
    EXPECT_EQ("Registry Pfad HKCU\\ControlPanel\\Backlight\nWahrscheinlich ist Velmoraseig. noch "
              "nicht f\xc3\xbcr Ihr Ger\xc3\xa4t angepa\xc3\x9ft. Bitte kontakten Sie "
              "support@zilp.example!",
              Utf8(box.text));
    EXPECT_EQ(static_cast<UINT>(MB_OK | MB_ICONEXCLAMATION), box.flags);
    EXPECT_EQ(nullptr, box.owner);
}

TEST_F(AppletSettingsTest, ProfilesOneToFourUseTheirOwnLayoutOnly) {
    const Layout keybd2 = {CU, Keybd2Key, {nullptr, L"TimeOut", nullptr, L"Auto"}};
    const struct {
        DWORD profile;
        Layout layout;
    } cases[] = {
        {ProfileKeybd2, keybd2},
        {ProfileLgHpc, keybd2},
        {ProfileCasio, {LM, CasioKey, {L"TimeoutExPower", L"TimeoutBattery", nullptr, nullptr}}},
        {ProfilePhilips, {LM, PhilipsKey, {L"ACTimeout", L"BatteryTimeout", nullptr, nullptr}}},
    };
    for (const auto& c : cases) {
        const Layout& l = c.layout;
        const std::string where = "profile " + std::to_string(c.profile);
        Clean();
        Chain[0].Put(700); // the generic key stays out of it
        WriteDword(l.root, l.key, L"Other", 5);
        l.Put(11);
        const DWORD values = ValueCount(l.root, l.key);
        AppletSettings = AppletSettingsRecord{};
        AppletSettings.DeviceProfile = c.profile;
        AppletSettings.GenericBacklight = AppletSettings.GenericBacklightAuto = TRUE;
        SetBacklightFields(50);
        ASSERT_TRUE(LoadSettings()) << where;
        Group expected;
        for (size_t i = 0; i < 4; ++i)
            expected[i] = l.names[i] ? 11 + i : 50 + i;
        EXPECT_EQ(expected, BacklightFields()) << where;
        EXPECT_FALSE(AppletSettings.GenericBacklight) << where;
        EXPECT_FALSE(AppletSettings.GenericBacklightAuto) << where;

        SetBacklightFields(900);
        SaveSettings();
        Group written;
        for (size_t i = 0; i < 4; ++i) {
            DWORD value = 0;
            written[i] = l.names[i] && ReadDword(l.root, l.key, l.names[i], &value) ? value : 0;
            expected[i] = l.names[i] ? 900 + i : 0;
        }
        EXPECT_EQ(expected, written) << where;
        EXPECT_EQ(values, ValueCount(l.root, l.key)) << where << ": values added to the key";
        EXPECT_EQ("700", Read(CU, Chain[0].key, Chain[0].names[0])) << where;
    }
    // A profile whose key is gone loads nothing and saves nothing.
    Clean();
    AppletSettings.DeviceProfile = ProfileCasio;
    SetBacklightFields(50);
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ((Group{50, 51, 52, 53}), BacklightFields());
    SaveSettings();
    EXPECT_EQ(0xFFFFFFFFu, ValueCount(LM, CasioKey)) << "the Casio key was created";
}

TEST_F(AppletSettingsTest, IdleTimeoutsAndTheSettingsKeyGoThroughTheCopy) {
    Chain[0].Put(1);
    harness::SetIdleTimeout(SPI_SETBATTERYIDLETIMEOUT, 11);
    harness::SetIdleTimeout(SPI_SETEXTERNALIDLETIMEOUT, 22);
    harness::SetIdleTimeout(SPI_SETWAKEUPIDLETIMEOUT, 33);
    // No Settings key: the own values keep what an earlier opening left.
    AppletSettings.ShowLockIcon = 4, AppletSettings.Locked = 5;
    AppletSettings.ExternalOnly = 6, AppletSettings.IgnoreNotify = 7;
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ((std::array<DWORD, 7>{11, 22, 33, 4, 5, 6, 7}),
              (std::array<DWORD, 7>{
                  AppletSettings.BatteryIdleTimeout, AppletSettings.ExternalIdleTimeout,
                  AppletSettings.WakeupIdleTimeout, AppletSettings.ShowLockIcon,
                  AppletSettings.Locked, AppletSettings.ExternalOnly, AppletSettings.IgnoreNotify}))
        << "three idle timeouts, then ShowLockIcon, Locked, ExternalOnly, IgnoreNotify";

    AppletSettings.BatteryIdleTimeout = 0, AppletSettings.ExternalIdleTimeout = 120;
    AppletSettings.WakeupIdleTimeout = 4294967295u;
    SaveSettings();
    EXPECT_EQ(0u, IdleTimeout(SPI_GETBATTERYIDLETIMEOUT));
    EXPECT_EQ(120u, IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT));
    EXPECT_EQ(4294967295u, IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT));
    const wchar_t* key = L"Software\\Zilp\\Velmora";
    EXPECT_EQ("4", Read(CU, key, L"ShowLockIcon")) << "the save creates the key";
    EXPECT_EQ("0", Read(CU, key, L"Locked")) << "as the notifier left it (absent), not the copy";
    EXPECT_EQ("6", Read(CU, key, L"ExternalOnly"));
    EXPECT_EQ("7", Read(CU, key, L"IgnoreNotify"));

    // Another 4-byte type reads as a number; "Locked" goes back as the notifier left it.
    DWORD one = 1;
    WriteValue(CU, key, L"ShowLockIcon", REG_BINARY, &one, sizeof one);
    WriteDword(CU, key, L"Locked", 1);
    ASSERT_TRUE(LoadSettings());
    EXPECT_EQ(1u, AppletSettings.ShowLockIcon);
    WriteDword(CU, key, L"Locked", 0); // the notifier unlocks while the applet is open
    SaveSettings();
    EXPECT_EQ("0", Read(CU, key, L"Locked")) << "a lock released meanwhile is not recorded again";
}

// While locked the live battery and external timeouts are the lock's zeros; the user's own are
// in "AltBatterie" and "AltExtern", where the unlock takes them from.
TEST_F(AppletSettingsTest, WhileLockedTheUsersOwnTimeoutsAreLoadedAndSavedInTheSavedValues) {
    Chain[0].Put(1);
    const wchar_t* key = L"Software\\Zilp\\Velmora";
    using Three = std::array<DWORD, 3>; // battery, external, wake-up
    const struct {
        const char* what;
        DWORD lockedAtLoad, lockedAtSave;
        bool altBatterieReadable;
        Three liveAtLoad, loaded, liveAfterSave;
        const char *altBatterie, *altExtern;
    } cases[] = {
        {"locked", 1, 1, true, {0, 0, 33}, {50, 70, 33}, {0, 0, 44}, "15", "25"},
        {"locked, AltBatterie unreadable",
         1,
         1,
         false,
         {0, 0, 33},
         {0, 70, 33},
         {0, 0, 44},
         "15",
         "25"},
        {"unlocked", 0, 0, true, {11, 22, 33}, {11, 22, 33}, {15, 25, 44}, "50", "70"},
        {"unlocked while open", 1, 0, true, {0, 0, 33}, {50, 70, 33}, {15, 25, 44}, "50", "70"},
        {"locked while open", 0, 1, true, {11, 22, 33}, {11, 22, 33}, {0, 0, 44}, "15", "25"},
    };
    const UINT set[] = {SPI_SETBATTERYIDLETIMEOUT, SPI_SETEXTERNALIDLETIMEOUT,
                        SPI_SETWAKEUPIDLETIMEOUT};
    auto setLive = [&](const Three& t) {
        for (int i = 0; i < 3; ++i)
            harness::SetIdleTimeout(set[i], t[i]);
    };
    auto live = [] {
        return Three{IdleTimeout(SPI_GETBATTERYIDLETIMEOUT),
                     IdleTimeout(SPI_GETEXTERNALIDLETIMEOUT),
                     IdleTimeout(SPI_GETWAKEUPIDLETIMEOUT)};
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteKey(CU, key);
        WriteDword(CU, key, L"Locked", c.lockedAtLoad);
        if (c.altBatterieReadable)
            WriteDword(CU, key, L"AltBatterie", 50);
        else
            WriteValue(CU, key, L"AltBatterie", REG_BINARY, "12345678", 8);
        WriteDword(CU, key, L"AltExtern", 70);
        setLive(c.liveAtLoad);
        ASSERT_TRUE(LoadSettings());
        EXPECT_EQ(c.loaded,
                  (Three{AppletSettings.BatteryIdleTimeout, AppletSettings.ExternalIdleTimeout,
                         AppletSettings.WakeupIdleTimeout}));
        if (c.lockedAtSave != c.lockedAtLoad) {
            // The notifier toggles while the applet is open.
            if (c.lockedAtSave) {
                WriteDword(CU, key, L"AltBatterie", c.liveAtLoad[0]);
                WriteDword(CU, key, L"AltExtern", c.liveAtLoad[1]);
                setLive({0, 0, c.liveAtLoad[2]});
            } else {
                setLive({50, 70, c.liveAtLoad[2]});
            }
            WriteDword(CU, key, L"Locked", c.lockedAtSave);
        }
        AppletSettings.BatteryIdleTimeout = 15, AppletSettings.ExternalIdleTimeout = 25;
        AppletSettings.WakeupIdleTimeout = 44;
        SaveSettings();
        EXPECT_EQ(c.liveAfterSave, live());
        EXPECT_EQ(c.altBatterie, Read(CU, key, L"AltBatterie"));
        EXPECT_EQ(c.altExtern, Read(CU, key, L"AltExtern"));
        EXPECT_EQ(std::to_string(c.lockedAtSave), Read(CU, key, L"Locked"));
    }
}

HARNESS_CHILD_ROLE(WaitForSettingsEvent, L"wait-settings-event") {
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, L"BackLightChangeEvent");
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"VelmoraSettingsTestReady");
    if (!event || !ready)
        return 2;
    SetEvent(ready);
    return WaitForSingleObject(event, 15000) == WAIT_OBJECT_0 ? 0 : 1;
}

TEST_F(AppletSettingsTest, ASaveWakesAWaiterOnTheSettingsEventAndWipesTheNames) {
    // A reference platform without backlight key: nothing is written, the device is told.
    PutPlatform(L"Microsoft PeRP Version 1.0a", 2, 1);
    ASSERT_TRUE(LoadSettings());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"VelmoraSettingsTestReady");
    Process waiter = StartChild(L"wait-settings-event");
    ASSERT_TRUE(waiter.started());
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 20000)) << "the waiter never got ready";
    CloseHandle(ready);
    SaveSettings();
    DWORD code = 99;
    ASSERT_TRUE(waiter.WaitExit(30000, &code)) << "the waiter did not end";
    EXPECT_EQ(0u, code) << "expected 0 (woken); 1 is a timeout, 2 a failed set-up";

    const std::pair<const char*, std::wstring> buffers[] = {
        {"library", {LibraryNameBuffer.begin(), LibraryNameBuffer.end()}},
        {"create", {CreateEventNameBuffer.begin(), CreateEventNameBuffer.end()}},
        {"modify", {EventModifyNameBuffer.begin(), EventModifyNameBuffer.end()}},
        {"event", {SettingsEventNameBuffer.begin(), SettingsEventNameBuffer.end()}},
    };
    for (const auto& [name, buffer] : buffers)
        EXPECT_EQ(std::wstring(buffer.size(), L'\0'), buffer) << name << " buffer not wiped";
}

TEST(ScrambledNames, EveryStoredNameExpandsToItsPlainNameAndIsWipedAgain) {
    const struct {
        ScrambledName name;
        std::wstring plain; // with its terminator, as long as the buffer
    } cases[] = {
        {ScrambledName::Library, {L"coredll.dll", 12}},
        {ScrambledName::CreateEvent, {L"CreateEventW", 13}},
        {ScrambledName::EventModify, {L"EventModify", 12}},
        {ScrambledName::SettingsEvent, {L"BackLightChangeEvent", 21}},
        {ScrambledName::CleanReboot, {L"SetCleanRebootFlag", 19}},
    };
    for (const auto& c : cases) {
        const std::string what = Utf8(c.plain.c_str());
        StoredName stored = StoredNameOf(c.name);
        ASSERT_EQ(c.plain.size(), stored.Count) << what;
        std::wstring byRule;
        for (size_t i = 0; i < stored.Count; ++i)
            byRule += static_cast<wchar_t>((stored.Bytes[i] + i + 64) % 256);
        EXPECT_EQ(c.plain, byRule) << what << ": the stored bytes by the expansion rule";
        const wchar_t* buffer = ExpandName(c.name);
        EXPECT_EQ(c.plain, std::wstring(buffer, stored.Count)) << what << " in its buffer";
        WipeName(c.name);
        EXPECT_EQ(std::wstring(stored.Count, L'\0'), std::wstring(buffer, stored.Count))
            << what << " after the wipe";
    }
}

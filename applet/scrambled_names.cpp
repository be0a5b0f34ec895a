#include "scrambled_names.h"

namespace {

// Stored byte i is (character i - i - 64) mod 256. Run by the compiler only, so the plain names
// below never reach the library's image.
template <size_t N> constexpr std::array<BYTE, N> Scramble(const wchar_t (&plain)[N]) {
    std::array<BYTE, N> stored{};
    for (size_t i = 0; i < N; ++i)
        stored[i] = static_cast<BYTE>((plain[i] - i - 64) & 0xFF);
    return stored;
}

constexpr wchar_t Unscramble(BYTE stored, size_t i) {
    return static_cast<wchar_t>((stored + i + 64) & 0xFF);
}

// A name survives the round trip only if every character fits in a byte.
template <size_t N>
constexpr bool RoundTrips(const std::array<BYTE, N>& stored, const wchar_t (&plain)[N]) {
    for (size_t i = 0; i < N; ++i)
        if (Unscramble(stored[i], i) != plain[i])
            return false;
    return true;
}

#define STORED_NAME(ident, plain)                                                                  \
    constexpr auto ident = Scramble(plain);                                                        \
    static_assert(RoundTrips(ident, plain), "the name " #plain " cannot be stored")

STORED_NAME(StoredLibrary, L"coredll.dll");
STORED_NAME(StoredCreateEvent, L"CreateEventW");
STORED_NAME(StoredEventModify, L"EventModify");
STORED_NAME(StoredSettingsEvent, L"BackLightChangeEvent");
STORED_NAME(StoredCleanReboot, L"SetCleanRebootFlag");

#undef STORED_NAME

struct Slot {
    const BYTE* Stored;
    wchar_t* Buffer;
    size_t Count;
};

template <size_t N> Slot SlotOf(const std::array<BYTE, N>& stored, std::array<wchar_t, N>& buffer) {
    return {stored.data(), buffer.data(), N};
}

Slot SlotOf(ScrambledName name) {
    switch (name) {
    case ScrambledName::Library:
        return SlotOf(StoredLibrary, LibraryNameBuffer);
    case ScrambledName::CreateEvent:
        return SlotOf(StoredCreateEvent, CreateEventNameBuffer);
    case ScrambledName::EventModify:
        return SlotOf(StoredEventModify, EventModifyNameBuffer);
    case ScrambledName::SettingsEvent:
        return SlotOf(StoredSettingsEvent, SettingsEventNameBuffer);
    case ScrambledName::CleanReboot:
    default:
        return SlotOf(StoredCleanReboot, CleanRebootNameBuffer);
    }
}

} // namespace

std::array<wchar_t, 12> LibraryNameBuffer;
std::array<wchar_t, 13> CreateEventNameBuffer;
std::array<wchar_t, 12> EventModifyNameBuffer;
std::array<wchar_t, 21> SettingsEventNameBuffer;
std::array<wchar_t, 19> CleanRebootNameBuffer;

const wchar_t* ExpandName(ScrambledName name) {
    Slot slot = SlotOf(name);
    for (size_t i = 0; i < slot.Count; ++i)
        slot.Buffer[i] = Unscramble(slot.Stored[i], i);
    return slot.Buffer;
}

void WipeName(ScrambledName name) {
    Slot slot = SlotOf(name);
    for (size_t i = 0; i < slot.Count; ++i)
        slot.Buffer[i] = 0;
}

void WipeAllNames() {
    for (ScrambledName name :
         {ScrambledName::Library, ScrambledName::CreateEvent, ScrambledName::EventModify,
          ScrambledName::SettingsEvent, ScrambledName::CleanReboot})
        WipeName(name);
}

StoredName StoredNameOf(ScrambledName name) {
    Slot slot = SlotOf(name);
    return {slot.Stored, slot.Count};
}

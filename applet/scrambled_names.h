// Names of the device library, its procedures and the settings event. The applet holds them
// only scrambled and rebuilds each into a static buffer just before use; the caller wipes the
// buffers right after, so that no plain name stays in memory.
//
// Character i of a name is (stored byte i + i + 64) mod 256, as a 16-bit character. Every
// buffer is as long as its stored name, terminator included.
#pragma once
#include "wince.h"
#include <array>
#include <cstddef>

enum class ScrambledName {
    Library,       // the device's system library
    CreateEvent,   // its procedure that creates or opens a named event
    EventModify,   // its procedure that signals an event
    SettingsEvent, // the event told after every save
    CleanReboot,   // its procedure that prepares the simulated power failure
};

// The buffers, zero outside the short stretch of each use. The library buffer is shared by
// the change notification and the power-failure page.
extern std::array<wchar_t, 12> LibraryNameBuffer;
extern std::array<wchar_t, 13> CreateEventNameBuffer;
extern std::array<wchar_t, 12> EventModifyNameBuffer;
extern std::array<wchar_t, 21> SettingsEventNameBuffer;
extern std::array<wchar_t, 19> CleanRebootNameBuffer;

// Rebuilds a name into its buffer and returns the buffer.
const wchar_t* ExpandName(ScrambledName name);

// Overwrites a name's buffer with zero characters.
void WipeName(ScrambledName name);
// Overwrites every name's buffer.
void WipeAllNames();

// Through the generic function type, which converts to any other without a warning.
template <typename Proc> Proc ProcAs(FARPROC proc) {
    return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}

// Looks up procedures of the device's system library by their names and hands them to `use`
// (each none where the library lacks it) while the library is loaded; without the library
// `use` is not called. Every name is wiped before this returns, also those `use` expanded.
template <size_t N, typename Use>
void UseDeviceProcedures(const std::array<ScrambledName, N>& names, Use&& use) {
    if (HMODULE library = LoadLibraryW(ExpandName(ScrambledName::Library))) {
        std::array<FARPROC, N> found = {};
        for (size_t i = 0; i < N; ++i)
            found[i] = GetProcAddressW(library, ExpandName(names[i]));
        use(found);
        FreeLibrary(library);
    }
    WipeAllNames();
}

// The stored form of a name: its bytes and how many there are (the buffer's length).
struct StoredName {
    const BYTE* Bytes;
    size_t Count;
};
StoredName StoredNameOf(ScrambledName name);

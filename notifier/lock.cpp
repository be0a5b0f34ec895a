// The lock behind the tray icon, and the power watch that releases it off external power and
// lets the wake-up timeout follow the idle timeout in use.
#include "notifier.h"
#include "pause_point.h"
#include "settings_key.h"

namespace {

// Every toggle writes in this order so that, killed at any moment, "Locked" and the saved
// values together still tell how to get the user's timeouts back: while "Locked" is nonzero
// the saved values are the user's, and while it is 0 the live timeouts are.
// Locking: what the unlock will need first, then the lock itself, then its effect.
void SaveAndClearTimeouts(const RegistryKey& key) {
    const DWORD battery = GetIdleTimeout(IdleTimeout::Battery);
    const DWORD external = GetIdleTimeout(IdleTimeout::External);
    WriteNumber(key, settings_key::AltBatterie, battery);
    PausePoint("lock-saved-battery");
    WriteNumber(key, settings_key::AltExtern, external);
    PausePoint("lock-saved-external");
    WriteNumber(key, settings_key::Locked, 1);
    PausePoint("lock-recorded");
    SetIdleTimeout(IdleTimeout::Battery, 0);
    PausePoint("lock-cleared-battery");
    SetIdleTimeout(IdleTimeout::External, 0);
}

// A saved value that cannot be read has no meaning to restore: that timeout stays as it is.
void RestoreSavedTimeouts(const RegistryKey& key) {
    DWORD battery = 0, external = 0;
    const bool haveBattery = ReadNumber(key, settings_key::AltBatterie, &battery);
    const bool haveExternal = ReadNumber(key, settings_key::AltExtern, &external);
    if (haveBattery)
        SetIdleTimeout(IdleTimeout::Battery, battery);
    PausePoint("unlock-restored-battery");
    if (haveExternal)
        SetIdleTimeout(IdleTimeout::External, external);
}

// Unlocking: the user's timeouts back first, and only then the record of the lock cleared.
void ReleaseLock(const RegistryKey& key) {
    RestoreSavedTimeouts(key);
    PausePoint("unlock-restored-external");
    WriteNumber(key, settings_key::Locked, 0);
}

// "IgnoreNotify" in force: keep the user's own wake-up timeout once, then copy the timeout of
// the current power source into it.
void FollowCurrentTimeout(BYTE lineStatus) {
    if (settings_key::Read(settings_key::AltNotify, settings_key::NothingSaved) ==
        settings_key::NothingSaved)
        settings_key::Write(settings_key::AltNotify, GetIdleTimeout(IdleTimeout::Wakeup));
    const DWORD current =
        GetIdleTimeout(OnExternalPower(lineStatus) ? IdleTimeout::External : IdleTimeout::Battery);
    SetIdleTimeout(IdleTimeout::Wakeup, current);
}

} // namespace

void ToggleLock() {
    NotifierState.Locked = NotifierState.Locked ? 0 : 1;
    ShowTrayIcon(NotifierState.Locked ? NotifierState.LockedIcon : NotifierState.UnlockedIcon);
    PausePoint(NotifierState.Locked ? "lock-begun" : "unlock-begun");
    // Without the key (before the applet's first save) only the icon changes.
    if (RegistryKey key = settings_key::Open()) {
        if (NotifierState.Locked)
            SaveAndClearTimeouts(key);
        else
            ReleaseLock(key);
    }
    PausePoint(NotifierState.Locked ? "lock-done" : "unlock-done");
    // A check follows at once, so that "ExternalOnly" can release a lock made on battery.
    SetTimer(NotifierState.Window, CheckPowerTimer, 1, CheckPower);
}

void CALLBACK CheckPower(HWND window, UINT, UINT_PTR, DWORD) {
    const SYSTEM_POWER_STATUS_EX status = ReadPowerStatus();
    const DWORD externalOnly =
        settings_key::Read(settings_key::ExternalOnly, settings_key::DefaultExternalOnly);
    if (externalOnly && !OnExternalPower(status.ACLineStatus) && NotifierState.Locked)
        SendMessageW(window, TrayCallbackMessage, 0, TapEvent);
    const DWORD ignoreNotify =
        settings_key::Read(settings_key::IgnoreNotify, settings_key::DefaultIgnoreNotify);
    const LONG lineStatus = status.ACLineStatus;
    const LONG ignore = static_cast<LONG>(ignoreNotify);
    if (lineStatus != NotifierState.LastLineStatus || ignore != NotifierState.LastIgnoreNotify) {
        NotifierState.LastLineStatus = lineStatus;
        NotifierState.LastIgnoreNotify = ignore;
        if (ignoreNotify)
            FollowCurrentTimeout(status.ACLineStatus);
        else
            RestoreWakeupTimeout();
    }
    // Also overtakes the 1 ms re-arm of a toggle made above.
    SetTimer(window, CheckPowerTimer, CheckPowerPeriod, CheckPower);
}

void RestoreWakeupTimeout() {
    const DWORD saved = settings_key::Read(settings_key::AltNotify, settings_key::NothingSaved);
    if (saved == settings_key::NothingSaved)
        return;
    SetIdleTimeout(IdleTimeout::Wakeup, saved);
    settings_key::Write(settings_key::AltNotify, settings_key::NothingSaved);
}

void ReleaseOrphanedLock() {
    {
        RegistryKey key = settings_key::Open();
        DWORD locked = settings_key::DefaultLocked;
        if (!ReadNumber(key, settings_key::Locked, &locked) || !locked)
            return;
        ReleaseLock(key);
    }
    RestoreWakeupTimeout();
}

// After a save the idle timeouts may be new while the power source is not: forgetting the
// last one makes this check derive the wake-up timeout again.
void RecheckPower(HWND window) {
    NotifierState.LastLineStatus = -1;
    CheckPower(window, WM_TIMER, CheckPowerTimer, GetTickCount());
}

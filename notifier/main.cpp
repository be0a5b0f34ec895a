// Start-up of the notifier: the command line, the single-instance hand-over, and the life of
// the one notifier that runs.
#include <cwchar>
#include "notifier.h"
#include "settings_key.h"
#include "turn_taking.h"

NotifierStateRecord NotifierState;

namespace {

enum class Request { On, Off, Update, Default };

// Exact and case-sensitive; anything else, the empty command line included, is the default.
Request ParseRequest(const wchar_t* line) {
    if (std::wcscmp(line, L"OFF") == 0)
        return Request::Off;
    if (std::wcscmp(line, L"ON") == 0)
        return Request::On;
    if (std::wcscmp(line, L"UPDATE") == 0)
        return Request::Update;
    return Request::Default;
}

// Two notifiers started at the same moment must not both run: the second one's lock would
// save the zeroed timeouts of the first as the user's. The one notifier that runs holds this
// mutex until it ends.
constexpr wchar_t InstanceMutexName[] = L"Velmora.Ostrelle.Instance";

// Starts take turns, each from its look-up to the end of its hand-over, or until its own
// window can be found: two "OFF"s cannot both see the lock and both tap (the second tap would
// lock again), and an "ON" racing an "OFF" finds what the other left behind.
constexpr wchar_t StartMutexName[] = L"Velmora.Ostrelle.Start";
// A hand-over waits on a toggle or two of the running notifier, each announcing the new
// timeouts to every window; a start that waits longer gives up rather than act out of turn.
constexpr DWORD StartWaitLimit = 30000; // ms

// The running notifier's window, or none. Any window of the class counts, whoever owns it.
HWND FindRunningNotifier(NamedMutex& mutex) {
    return FindInTurn(mutex, NotifierClassName, nullptr);
}

// "OFF" releases the lock through the running notifier, puts the user's wake-up timeout back
// from here and closes the running notifier. A notifier busy with a toggle carries the tap
// and the close out after it, so "Locked" read here may be overtaken: once the notifier has
// ended, a lock it still left behind is released here, as for any orphaned lock.
void HandOverOff(HWND running, NamedMutex& instance) {
    if (settings_key::Read(settings_key::Locked, settings_key::DefaultLocked))
        SendMessageW(running, TrayCallbackMessage, 0, TapEvent);
    RestoreWakeupTimeout();
    SendMessageW(running, WM_CLOSE, 0, 0);
    // The notifier lets go of the instance mutex as it ends. A window of the class owned by
    // another program holds none and stays: that is no lock of ours to release.
    if (instance.Take(TurnWaitLimit) && !FindWindowW(NotifierClassName, nullptr))
        ReleaseOrphanedLock();
}

void HandOver(HWND running, Request request, NamedMutex& instance) {
    SetForegroundWindow(running);
    if (request == Request::Off)
        HandOverOff(running, instance);
    else if (request == Request::Update)
        SendMessageW(running, RegisterWindowMessageW(UpdateMessageName), 0, 0);
}

int RunNotifier(HINSTANCE instance, NamedMutex& start) {
    // Without its window a notifier could never be reached or closed, and would keep the
    // mutex from every later start.
    if (!CreateNotifierWindow(instance))
        return 0;
    // From now on the next start finds this notifier and hands over to it.
    start.Release();
    LoadNotifierIcons(instance);
    AddTrayIcon();
    // The first check always acts: no reading matches the start values of the last ones.
    SetTimer(NotifierState.Window, CheckPowerTimer, CheckPowerPeriod, CheckPower);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) == 1) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    RemoveTrayIcon();
    if (IsWindow(NotifierState.Window))
        DestroyWindow(NotifierState.Window);
    return 0;
}

} // namespace

// The command line is the arguments alone, as the platform passes them.
int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
    const Request request = ParseRequest(commandLine);
    NamedMutex start(StartMutexName);
    if (!start.Take(StartWaitLimit))
        return 0;
    NamedMutex mutex(InstanceMutexName);
    if (HWND running = FindRunningNotifier(mutex)) {
        // This process will not be the notifier.
        mutex.Release();
        HandOver(running, request, mutex);
        return 0;
    }
    // Without the mutex another start held it too long to tell whether a notifier runs.
    if (!mutex.Turn())
        return 0;
    if (request == Request::Off) {
        ReleaseOrphanedLock();
        return 0;
    }
    NotifierState.Locked = settings_key::Read(settings_key::Locked, settings_key::DefaultLocked);
    if (request != Request::On &&
        !settings_key::Read(settings_key::ShowLockIcon, settings_key::DefaultShowLockIcon))
        return 0;
    return RunNotifier(instance, start);
}

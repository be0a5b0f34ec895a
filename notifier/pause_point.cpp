// Test builds only (see pause_point.h): never linked into the shipped notifier.
#include "pause_point.h"
#include "wince.h"

void PausePoint(const char* name) {
    char wanted[64];
    const DWORD length = GetEnvironmentVariableA("VELMORA_PAUSE_AT", wanted, sizeof wanted);
    if (length == 0 || length >= sizeof wanted || lstrcmpA(wanted, name) != 0)
        return;
    if (HANDLE paused = OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Velmora.Ostrelle.Paused")) {
        SetEvent(paused);
        CloseHandle(paused);
    }
    Sleep(INFINITE);
}

// How the device tool reaches the shell's power manager: the window that darkens the screen
// takes these messages, and answers a status request with one record by WM_COPYDATA.
#pragma once
#include <windows.h>

namespace power {

// The screen layer: hidden while the screen is on, scan lines of black while the light is
// dimmed, all black while the device is off. A top-level window, so that the broadcasts of
// SystemParametersInfoW reach it.
constexpr wchar_t LayerClass[] = L"VelmoraScreenLayer";

// Sent to the layer; each returns 1 once done.
constexpr UINT WakeMessage = WM_APP + 1;       // an alarm switches the device on
constexpr UINT ReconsiderMessage = WM_APP + 2; // "NeverSleep" or the device's make changed
// wParam: the requester's window, which gets the StatusReply by WM_COPYDATA.
constexpr UINT StatusMessage = WM_APP + 3;

constexpr ULONG_PTR StatusReplyTag = 0x56505331; // "VPS1"

enum class Screen : DWORD { On, Dimmed, Off };

constexpr int LogLength = 16;
constexpr int CauseLength = 48;

struct LogEntry {
    DWORD number;  // counts the events since boot, from 1
    SYSTEMTIME at; // local time
    Screen screen; // what the event made of the screen
    WCHAR cause[CauseLength];
};

struct StatusReply {
    Screen screen;
    SYSTEMTIME since;      // when the device was last switched on or off (local time)
    SYSTEMTIME lightSince; // when the light last changed
    DWORD neverSleeps;
    DWORD count; // entries in log, the oldest first
    LogEntry log[LogLength];
};

} // namespace power

// The device tool's commands. Each takes its own arguments (after the command name) and
// returns the exit code; bad arguments print one line to stderr, exit 2 and change nothing.
#pragma once
#include <windows.h>
#include <vector>
#include "parse_number.h"

int TimeoutsCommand(int argc, wchar_t** argv);
int PowerCommand(int argc, wchar_t** argv);
int SpyCommand(int argc, wchar_t** argv);
int RegCommand(int argc, wchar_t** argv);
int CleanFlagCommand(int argc, wchar_t** argv);
int DesktopCommand(int argc, wchar_t** argv);
int ExecCommand(int argc, wchar_t** argv);
int ShotCommand(int argc, wchar_t** argv);
int PagesCommand(int argc, wchar_t** argv);
int WaitCommand(int argc, wchar_t** argv);
int TrayCommand(int argc, wchar_t** argv);
int TapCommand(int argc, wchar_t** argv);
int ExportsCommand(int argc, wchar_t** argv);
int ScreenCommand(int argc, wchar_t** argv);
int LogCommand(int argc, wchar_t** argv);
int TouchCommand(int argc, wchar_t** argv);
int WakeCommand(int argc, wchar_t** argv);
int SleepCommand(int argc, wchar_t** argv);
int ModelCommand(int argc, wchar_t** argv);

// The shell's power manager: its status, and the news of a changed power source.
namespace power {
struct StatusReply;
}
bool RequestPowerStatus(power::StatusReply* reply);
// Sends one of the power manager's messages; false when no shell answers or it answers 0.
bool TellPowerManager(UINT message, LRESULT* result = nullptr);
const wchar_t* LightOf(const power::StatusReply& reply);
void AnnouncePowerStatus();

// Sends the shell's window `to` a request (`message` with `lParam`, our reply window as wParam)
// and takes its answer, the WM_COPYDATA tagged `tag` that it sends back meanwhile, within 5 s;
// false when none came or the request was answered 0.
bool AskShell(HWND to, UINT message, LPARAM lParam, ULONG_PTR tag, std::vector<BYTE>* answer);

// A stylus tap at a point of the screen, through the device's input; false when it took none.
bool PressAt(POINT point);

// The whole screen as a PNG file, and its size; false when the file cannot be written.
bool WriteScreenshot(const wchar_t* path, int* width, int* height);

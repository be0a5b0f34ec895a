// The device tool's commands. Each takes its own arguments (after the command name) and
// returns the exit code; bad arguments print one line to stderr, exit 2 and change nothing.
#pragma once

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

// The whole screen as a PNG file, and its size; false when the file cannot be written.
bool WriteScreenshot(const wchar_t* path, int* width, int* height);

// Strict unsigned decimal, 0 to max.
bool ParseNumber(const wchar_t* text, unsigned long long max, unsigned long* out);

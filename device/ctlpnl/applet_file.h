// One control-panel applet file driven through its CPlApplet entry.
#pragma once
#include <windows.h>
#include <cpl.h>

struct AppletInfo {
    LONG_PTR data; // lData, handed back with every message for this applet
    HICON icon;
    wchar_t name[32];
    wchar_t info[64];
};

constexpr int MaxApplets = 16;

enum class LoadResult { Loaded, FileMissing, NoEntry, InitFailed };

struct AppletFile {
    HMODULE module;
    APPLET_PROC entry;
    int count; // applets reported by CPL_GETCOUNT, at most MaxApplets
    AppletInfo applets[MaxApplets];
};

// Loads FILE from \Windows, sends CPL_INIT, CPL_GETCOUNT and CPL_NEWINQUIRE for each applet.
LoadResult LoadAppletFile(const wchar_t* file, HWND host, AppletFile* out);

// CPL_STOP for every applet, CPL_EXIT, and the library goes.
void ReleaseAppletFile(AppletFile* file, HWND host);

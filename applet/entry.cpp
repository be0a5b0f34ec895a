#include <windows.h>
#include <cpl.h>

extern "C" LONG APIENTRY CPlApplet(HWND, UINT, LPARAM, LPARAM) { return 0; }
extern "C" int WINAPI ShowIcon(HINSTANCE) { return 0; }

// The smallest CE program: one call of coredll.dll. The installer's tests pack it as a package
// of their own, which the device must take.
#include <windows.h>
#include "wince.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    SYSTEM_POWER_STATUS_EX status;
    return GetSystemPowerStatusEx(&status, TRUE) ? 0 : 1;
}

// The smallest CE program: subsystem 9, version 3.00, one import from coredll.dll and no C
// runtime. The installation tests pack it as a package the device must take.
#include <windows.h>
#include "wince.h"

extern "C" int WINAPI ProbeEntry() {
    SYSTEM_POWER_STATUS_EX status;
    return GetSystemPowerStatusEx(&status, TRUE) ? 0 : 1;
}

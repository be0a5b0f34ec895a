// For the tests that link the applet's code instead of loading powerg.cpl: the host's set-up
// and the CPlApplet calls around a test suite.
#pragma once
#include <windows.h>
#include <cpl.h>
#include "applet.h"
#include "applet_support.h"

extern "C" LONG APIENTRY CPlApplet(HWND host, UINT message, LPARAM lParam1, LPARAM lParam2);

namespace applet_test {

// As the host starts the applet; with `init`, CPL_INIT makes the shared fonts and icons.
inline void StartLinkedApplet(bool init) {
    InitHostControls();
    PrepareRegistry();
    // The library entry point does not run in a program: its resources are this one's.
    AppletWindows.Instance = GetModuleHandleW(nullptr);
    if (init)
        CPlApplet(nullptr, CPL_INIT, 0, 0);
}

inline void StopLinkedApplet(bool init) {
    if (init)
        CPlApplet(nullptr, CPL_EXIT, 0, 0);
    RestoreRegistry();
}

} // namespace applet_test

// Opens the applet on its first page through the device's control-panel host, so it can be
// started like an ordinary program. Its own command line is ignored; it waits for nothing.
#include "wince.h"
#include "start_program.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
    // The applet file, the applet in it (0) and the page to open first (0, "Status").
    StartProgram(L"ctlpnl.exe", L"powerg.cpl,0,0");
    return 0; // also when the host cannot be started
}

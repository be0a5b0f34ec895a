// A library that is not a control-panel applet: it has no CPlApplet.
#include <windows.h>

extern "C" int WINAPI NotAnApplet() {
    return 0;
}

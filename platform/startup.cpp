// Where a program of the platform starts. The platform's loader calls the image's entry with
// WinMain's four arguments: the instance, no previous instance, the command line without the
// program's name, and how to show the window. Wine's loader, under which the device runs the
// same image, passes its process block instead. The first argument tells the two apart, since
// only the platform's loader passes the image's own base there.
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

namespace {

HINSTANCE Self() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

} // namespace

// The platform ends the process with the value its entry returns, and so does Wine.
extern "C" int WINAPI StartProgram(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine,
                                   int show) {
    if (instance != Self()) {
        // The same arguments, from the platform's calls.
        previous = nullptr;
        commandLine = GetCommandLineW();
        show = SW_SHOWNORMAL;
    }
    return wWinMain(Self(), previous, commandLine, show);
}

#ifdef __i386__
// On 32-bit x86 the entry takes its arguments off the stack, four from the platform's loader
// and one from Wine's: the entry passes the first on as they are, and calls with none for the
// second, so that each loader gets its stack back as it left it.
asm(".text\n"
    ".globl _WinMainCRTStartup@16\n"
    "_WinMainCRTStartup@16:\n"
    "    cmpl $___ImageBase, 4(%esp)\n"
    "    jne 1f\n"
    "    jmp _StartProgram@16\n"
    "1:  pushl $0\n"
    "    pushl $0\n"
    "    pushl $0\n"
    "    pushl $0\n"
    "    call _StartProgram@16\n"
    "    ret $4\n");
#else
// Elsewhere the arguments travel in registers, and the entry is the start itself.
extern "C" int WINAPI WinMainCRTStartup(HINSTANCE instance, HINSTANCE previous,
                                        LPWSTR commandLine, int show) {
    return StartProgram(instance, previous, commandLine, show);
}
#endif

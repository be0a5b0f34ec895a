// Where a program of the platform starts. The platform's loader calls the image's entry with
// WinMain's four arguments: the instance, no previous instance, the command line without the
// program's name, and how to show the window. Wine's loader, under which the device runs the
// same image, passes its process block instead. The first argument tells the two apart, since
// only the platform's loader passes the image's own base there.
#include <windows.h>

extern "C" IMAGE_DOS_HEADER __ImageBase;

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);

extern "C" int WINAPI WinMainCRTStartup(HINSTANCE instance, HINSTANCE previous,
                                        LPWSTR commandLine, int show) {
    const auto self = reinterpret_cast<HINSTANCE>(&__ImageBase);
    if (instance != self) {
        // The same arguments, from the platform's calls.
        previous = nullptr;
        commandLine = GetCommandLineW();
        show = SW_SHOWNORMAL;
    }
    // The platform ends the process with the value its entry returns, and so does Wine.
    return wWinMain(self, previous, commandLine, show);
}

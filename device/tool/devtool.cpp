// The device tool: what `velmora device` does inside the device.
#include <windows.h>
#include <cwchar>
#include "commands.h"
#include "output.h"

namespace {

struct Command {
    const wchar_t* name;
    int (*run)(int, wchar_t**);
};

constexpr Command Commands[] = {
    {L"timeouts", TimeoutsCommand}, {L"power", PowerCommand},         {L"spy", SpyCommand},
    {L"reg", RegCommand},           {L"cleanflag", CleanFlagCommand}, {L"desktop", DesktopCommand},
    {L"exec", ExecCommand},         {L"shot", ShotCommand},           {L"pages", PagesCommand},
    {L"wait", WaitCommand},         {L"tray", TrayCommand},           {L"tap", TapCommand},
    {L"exports", ExportsCommand},   {L"screen", ScreenCommand},       {L"log", LogCommand},
    {L"touch", TouchCommand},       {L"wake", WakeCommand},           {L"sleep", SleepCommand},
    {L"model", ModelCommand},
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        PrintError(L"usage: devtool COMMAND [ARGS]\n");
        return 2;
    }
    for (const auto& command : Commands) {
        if (wcscmp(argv[1], command.name) == 0)
            return command.run(argc - 2, argv + 2);
    }
    PrintError(L"devtool: unknown command '%ls'\n", argv[1]);
    return 2;
}

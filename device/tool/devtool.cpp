// The device tool: what `velmora device` does inside the device, and the list of the device's
// commands with their help. The commands of the device's life (boot, shut down, install) are
// done on the machine that runs the device; they are listed here so that the help is whole.
#include <windows.h>
#include <cwchar>
#include "commands.h"
#include "output.h"

namespace {

struct Command {
    const wchar_t* name;
    int (*run)(int, wchar_t**); // nullptr: done outside the device
    const wchar_t* help;        // nullptr: the host's own, not in the help
};

int HelpCommand(int argc, wchar_t** argv);

constexpr Command Commands[] = {
    {L"start", nullptr,
     L"start | stop | status              boot, shut down (registry saved), or report"},
    {L"stop", nullptr, nullptr},
    {L"status", nullptr, nullptr},
    {L"reset", nullptr,
     L"reset [--clean]                    restart; a cold boot (factory state) after\n"
     L"                                   SetCleanRebootFlag or with --clean"},
    {L"exec", ExecCommand,
     L"exec PROGRAM [ARGS]                start a program of the device's \\Windows"},
    {L"timeouts", TimeoutsCommand,
     L"timeouts [--battery S] [--external S] [--wakeup S]\n"
     L"                                   show or set the three idle timeouts (seconds, 0 never)"},
    {L"power", PowerCommand,
     L"power [--ac on|off|backup|unknown] [--battery-flag N] [--percent N|unknown]\n"
     L"      [--life S|unknown] [--full-life S|unknown] [--backup-flag N]\n"
     L"      [--backup-percent N|unknown] [--driver on|off]\n"
     L"                                   show or set what the battery driver reports"},
    {L"spy", SpyCommand, L"spy [CLASS]                        the window tree, one window a line"},
    {L"reg", RegCommand,
     L"reg KEY [NAME=NUMBER | NAME= ...]  a registry key with its values (HKCU\\..., HKLM\\...);\n"
     L"                                   with NAME=NUMBER write a 32-bit value, with NAME= delete "
     L"one"},
    {L"exports", ExportsCommand,
     L"exports [--leave-out NAME] [--restore NAME] [--restore-all]\n"
     L"                                   coredll.dll's procedures the device goes without\n"
     L"                                   (GetProcAddressW finds none of them), one a line"},
    {L"shot", ShotCommand,
     L"shot FILE.png                      the whole 240 x 320 screen as a PNG"},
    {L"tray", TrayCommand,
     L"tray [--at]                        the notification area's icons, one a line, left to "
     L"right\n"
     L"                                   (--at: with the middle of each on the screen)"},
    {L"tap", TapCommand,
     L"tap [N]                            a stylus tap on the N-th icon (default the first)"},
    {L"touch", TouchCommand,
     L"touch X,Y                          a stylus tap anywhere on the screen, through its input"},
    {L"wake", WakeCommand,
     L"wake --notification                switch a device that is off on, as an alarm does"},
    {L"log", LogCommand,
     L"log                                the shell's power events, each with its cause"},
    {L"sleep", SleepCommand,
     L"sleep [never | normal]             show or set whether the device keeps to its timeouts"},
    {L"install", nullptr,
     L"install [--reinstall] FILE.CAB     install a CE installation cabinet with the device's "
     L"wceload"},
    {L"packages", nullptr,
     L"packages                           the installed packages, one a line"},
    {L"remove", nullptr,
     L"remove NAME                        take an installed package off (\"Zilp Velmora\")"},
    {L"model", ModelCommand,
     L"model [NAME]                       show or set the make of device: generic, keybd2, lg, "
     L"casio,\n"
     L"                                   philips or none (no backlight settings), as from the "
     L"factory"},
    {L"help", HelpCommand, L"help                               this list"},
    // The host's own, for its boot, its tests and its pictures.
    {L"cleanflag", CleanFlagCommand, nullptr},
    {L"desktop", DesktopCommand, nullptr},
    {L"pages", PagesCommand, nullptr},
    {L"wait", WaitCommand, nullptr},
    {L"screen", ScreenCommand, nullptr},
};

int HelpCommand(int argc, wchar_t**) {
    if (argc != 0) {
        PrintError(L"help: no arguments\n");
        return 2;
    }
    Print(L"./velmora device COMMAND [ARGS], on the device $VELMORA_DEVICE (default\n"
          L"~/.local/share/velmora/device-ARCH):\n");
    for (const auto& command : Commands) {
        // Each line of a command's help indented alike.
        for (const wchar_t* line = command.help; line && *line;) {
            const wchar_t* end = wcschr(line, L'\n');
            const int length = end ? int(end - line) : int(wcslen(line));
            Print(L"  %.*ls\n", length, line);
            line = end ? end + 1 : line + length;
        }
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) {
        PrintError(L"usage: devtool COMMAND [ARGS] (devtool help lists them)\n");
        return 2;
    }
    for (const auto& command : Commands) {
        if (wcscmp(argv[1], command.name) != 0)
            continue;
        if (!command.run) {
            PrintError(L"%ls: done outside the device: ./velmora device %ls\n", argv[1], argv[1]);
            return 2;
        }
        return command.run(argc - 2, argv + 2);
    }
    PrintError(L"unknown device command '%ls' (./velmora device help lists them)\n", argv[1]);
    return 2;
}

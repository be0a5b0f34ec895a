// \Windows\StartUp as the CE shell treats it at boot: each .lnk file there is a shortcut in
// the CE text form ("23#\"\Windows\Ostrelle.exe\""), started once the notification area is up
// so that the programs it starts find the taskbar for their icons.
#include "startup.h"
#include <windows.h>
#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr DWORD MaxShortcutBytes = 4096;

std::wstring WindowsDir() {
    wchar_t dir[MAX_PATH];
    GetWindowsDirectoryW(dir, MAX_PATH);
    return dir;
}

// Shortcuts are ANSI text files on the device.
bool ReadShortcut(const std::wstring& path, std::wstring* text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    char bytes[MaxShortcutBytes];
    DWORD got = 0;
    const BOOL read = ReadFile(file, bytes, sizeof bytes, &got, nullptr);
    CloseHandle(file);
    if (!read || got == 0 || got == sizeof bytes)
        return false;
    wchar_t wide[MaxShortcutBytes];
    const int length =
        MultiByteToWideChar(CP_ACP, 0, bytes, static_cast<int>(got), wide, MaxShortcutBytes);
    if (length <= 0)
        return false;
    text->assign(wide, length);
    return true;
}

// The program gets only its arguments as its command line, as on Windows CE; a relative
// program name is found in \Windows, its current directory.
void Start(const std::wstring& program, std::wstring arguments) {
    const std::wstring dir = WindowsDir();
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (CreateProcessW(program.c_str(), arguments.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       dir.c_str(), &startup, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// A CE shortcut's text: the length of its target in characters, '#', then the target (a
// program path, quoted when it holds blanks, optionally followed by arguments).
bool ParseShortcut(const std::wstring& text, std::wstring* program, std::wstring* arguments) {
    size_t at = 0;
    size_t count = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && count <= MAX_PATH * 2)
        count = count * 10 + (text[at++] - L'0');
    if (at == 0 || at >= text.size() || text[at] != L'#' || count == 0 ||
        count > text.size() - at - 1)
        return false;
    // What follows the counted characters (a line end, say) is not part of the target.
    const std::wstring target = text.substr(at + 1, count);
    size_t end;
    if (target[0] == L'"') {
        end = target.find(L'"', 1);
        if (end == std::wstring::npos || end == 1)
            return false;
        *program = target.substr(1, end - 1);
        ++end;
    } else {
        end = std::min(target.find(L' '), target.size());
        *program = target.substr(0, end);
    }
    if (program->find_first_of(L"\r\n\t\"") != std::wstring::npos)
        return false;
    const size_t first = target.find_first_not_of(L' ', end);
    *arguments = first == std::wstring::npos ? L"" : target.substr(first);
    return arguments->find_first_of(L"\r\n") == std::wstring::npos;
}

} // namespace

void RunStartupFolder() {
    const std::wstring folder = WindowsDir() + L"\\StartUp\\";
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"*.lnk").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileW(search, &found));
    FindClose(search);
    std::sort(names.begin(), names.end());
    for (const std::wstring& name : names) {
        std::wstring text, program, arguments;
        if (ReadShortcut(folder + name, &text) && ParseShortcut(text, &program, &arguments))
            Start(program, arguments);
    }
}

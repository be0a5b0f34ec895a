#include "output.h"
#include <windows.h>
#include <cstdarg>
#include <cstdio>

namespace {

void Write(DWORD handleId, const wchar_t* format, va_list args) {
    wchar_t wide[4096];
    int n = _vsnwprintf(wide, 4095, format, args);
    if (n < 0)
        n = 4095;
    wide[n] = 0;
    char utf8[16384];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written;
    WriteFile(GetStdHandle(handleId), utf8, bytes, &written, nullptr);
}

} // namespace

void Print(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Write(STD_OUTPUT_HANDLE, format, args);
    va_end(args);
}

void PrintError(const wchar_t* format, ...) {
    va_list args;
    va_start(args, format);
    Write(STD_ERROR_HANDLE, format, args);
    va_end(args);
}

std::wstring Quoted(const std::wstring& text) {
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else if (c == L'"' || c == L'\\')
            out += {L'\\', c};
        else
            out += c;
    }
    return out + L"\"";
}

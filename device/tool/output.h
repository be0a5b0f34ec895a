// UTF-8 output of the device tool, whatever the console code page.
#pragma once
#include <string>

void Print(const wchar_t* format, ...);
void PrintError(const wchar_t* format, ...);
std::wstring Quoted(const std::wstring& text);

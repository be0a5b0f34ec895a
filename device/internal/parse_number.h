// Numbers typed on a device program's command line.
#pragma once
#include <windows.h>

// Strict unsigned decimal, 0 to max: no sign, no space, no empty text.
inline bool ParseNumber(const wchar_t* text, unsigned long long max, unsigned long* out) {
    if (!text || !*text)
        return false;
    unsigned long long value = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (*p < L'0' || *p > L'9')
            return false;
        value = value * 10 + (*p - L'0');
        if (value > max)
            return false;
    }
    *out = static_cast<unsigned long>(value);
    return true;
}

// Text into a buffer of fixed size: the platform's core library has no lstrcpyn.
#pragma once
#include <stddef.h>
#include "wince.h"

// At most capacity - 1 characters, always terminated.
inline void CopyText(wchar_t* to, const wchar_t* from, size_t capacity) {
    if (!capacity)
        return;
    wcsncpy(to, from, capacity - 1);
    to[capacity - 1] = L'\0';
}

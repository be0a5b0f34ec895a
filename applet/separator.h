// The heading line of the pages, window class "SEPARATOR": bold text at the left, then a bar
// to the right edge at half the text height.
#pragma once
#include "wince.h"

constexpr wchar_t SeparatorClassName[] = L"SEPARATOR";

// The class atom, 0 when the class could not be registered (for instance because it already
// exists from an earlier opening; it is then used as it is).
ATOM RegisterSeparatorClass(HINSTANCE instance);

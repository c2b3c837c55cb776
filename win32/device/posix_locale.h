// Included before the platform's text helpers on Windows: their upper-casing through a POSIX
// locale is Windows' own upper-casing here.
#pragma once

#include <windows.h>

#include <wctype.h>

typedef int locale_t;
#define LC_CTYPE_MASK 0

inline locale_t newlocale(int, const char*, locale_t) {
    return 1;
}

inline wint_t towupper_l(wint_t c, locale_t) {
    WCHAR unit = static_cast<WCHAR>(c);
    CharUpperBuffW(&unit, 1);
    return unit;
}

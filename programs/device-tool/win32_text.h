// The tool keeps its text in char16_t, the platform's WCHAR on Linux; on Windows WCHAR is wchar_t,
// the same 16-bit units. Win32Text hands the tool's strings to the Win32 calls on both.
#pragma once

#include <windows.h>

#include <string>

static_assert(sizeof(WCHAR) == sizeof(char16_t));

inline const WCHAR* Win32Text(const std::u16string& text) {
    return reinterpret_cast<const WCHAR*>(text.c_str());
}
inline const WCHAR* Win32Text(const char16_t* text) {
    return reinterpret_cast<const WCHAR*>(text);
}
inline WCHAR* Win32Text(char16_t* text) {
    return reinterpret_cast<WCHAR*>(text);
}

// Included before the device's programs on Windows: their text is UTF-16 in char16_t, as on the
// Linux platform, where Windows declares its wide calls with wchar_t, the same 16-bit units.
#pragma once

#include <windows.h>

#include <fcntl.h>
#include <io.h>

inline const wchar_t* AsWide(const char16_t* s) {
    return reinterpret_cast<const wchar_t*>(s);
}
inline wchar_t* AsWide(char16_t* s) {
    return reinterpret_cast<wchar_t*>(s);
}

inline LONG RegOpenKeyExW(HKEY key, const char16_t* subKey, DWORD options, REGSAM access,
                          PHKEY result) {
    return RegOpenKeyExW(key, AsWide(subKey), options, access, result);
}
inline LONG RegCreateKeyExW(HKEY key, const char16_t* subKey, DWORD reserved, char16_t* type,
                            DWORD options, REGSAM access, LPSECURITY_ATTRIBUTES security,
                            PHKEY result, LPDWORD disposition) {
    return RegCreateKeyExW(key, AsWide(subKey), reserved, AsWide(type), options, access, security,
                           result, disposition);
}
inline LONG RegEnumKeyExW(HKEY key, DWORD index, char16_t* name, LPDWORD nameLength,
                          LPDWORD reserved, char16_t* type, LPDWORD typeLength, PFILETIME time) {
    return RegEnumKeyExW(key, index, AsWide(name), nameLength, reserved, AsWide(type), typeLength,
                         time);
}
inline LONG RegEnumValueW(HKEY key, DWORD index, char16_t* name, LPDWORD nameLength,
                          LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size) {
    return RegEnumValueW(key, index, AsWide(name), nameLength, reserved, type, data, size);
}
inline LONG RegQueryValueExW(HKEY key, const char16_t* name, LPDWORD reserved, LPDWORD type,
                             LPBYTE data, LPDWORD size) {
    return RegQueryValueExW(key, AsWide(name), reserved, type, data, size);
}
inline LONG RegSetValueExW(HKEY key, const char16_t* name, DWORD reserved, DWORD type,
                           const BYTE* data, DWORD size) {
    return RegSetValueExW(key, AsWide(name), reserved, type, data, size);
}
inline LONG RegDeleteValueW(HKEY key, const char16_t* name) {
    return RegDeleteValueW(key, AsWide(name));
}
inline LONG RegDeleteTreeW(HKEY key, const char16_t* subKey) {
    return RegDeleteTreeW(key, AsWide(subKey));
}

// The player opens its log by its wide name, in binary so that its lines end as on the phone.
inline int open(const wchar_t* path, int flags, int mode) {
    return _wopen(path, flags | _O_BINARY, mode);
}

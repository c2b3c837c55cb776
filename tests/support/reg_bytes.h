// Registry data as the phone keeps text: UTF-16LE, with or without the terminating NUL.
#pragma once

#include <windows.h>

#include <string_view>
#include <vector>

inline std::vector<BYTE> Utf16Bytes(std::u16string_view text, bool withNul) {
    std::vector<BYTE> bytes;
    for (char16_t c : text) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    if (withNul)
        bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

// REG_SZ data: the text and its terminating NUL.
inline std::vector<BYTE> Sz(std::u16string_view text) {
    return Utf16Bytes(text, true);
}

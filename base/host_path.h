// Host paths from and to UTF-8, the text of command lines, messages and the log: byte for byte on
// Linux (a name that is not valid UTF-8 survives), through UTF-16 on Windows.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace text {

inline std::filesystem::path PathFromUtf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

inline std::string PathToUtf8(const std::filesystem::path& path) {
    const std::u8string utf8 = path.u8string();
    return std::string(utf8.begin(), utf8.end());
}

}  // namespace text

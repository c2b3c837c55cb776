// Where the platform's debug output goes, and a helper for the platform's own debug lines.
#pragma once

#include <filesystem>
#include <string_view>

namespace debug {

// Debug output goes to standard error until it is sent to a file (the terminal front end does,
// so that nothing lands on the phone screen).
void SendToFile(const std::filesystem::path& file);
void SendToStandardError();

// Writes UTF-8 text as one piece of debug output, exactly as given.
void Write(std::string_view utf8);

}  // namespace debug

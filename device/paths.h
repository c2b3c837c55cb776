// Mapping of the phone's device paths (\A\B) onto host paths under the file-system root.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace device {

// Maps a device path such as "\Windows\Rings\a.wav" (or "Windows/Rings/a.wav") to its host path
// under FileSystemRoot(). Existing components are matched without regard to case; missing ones
// keep the case given. ".." never leads above the root.
std::filesystem::path HostPath(std::u16string_view devicePath);

// Whether the phone's file system could hold a file of this host name: a backslash would split
// it into a path, and control characters (a tab, a line feed) would break every line that shows it.
bool PhoneCanHoldName(std::string_view hostName);
// A host name for a message, its control characters written as \xNN.
std::string EscapedName(std::string_view hostName);

}  // namespace device

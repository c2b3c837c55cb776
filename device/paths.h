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
// Text from outside (a host name, a registry value, a script line) for a message or a log line:
// its control characters (C0, DEL and C1) written as \xNN, byte by byte, so that it keeps to its
// line and a terminal shows it rather than obeying it.
std::string EscapedName(std::string_view text);

}  // namespace device

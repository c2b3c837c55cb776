// Mapping of the phone's device paths (\A\B) onto host paths under the file-system root.
#pragma once

#include <filesystem>
#include <string_view>

namespace device {

// Maps a device path such as "\Windows\Rings\a.wav" (or "Windows/Rings/a.wav") to its host path
// under FileSystemRoot(). Existing components are matched without regard to case; missing ones
// keep the case given. ".." never leads above the root.
std::filesystem::path HostPath(std::u16string_view devicePath);

}  // namespace device

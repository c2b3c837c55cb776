// The device folder's cache, kept by device_folder.cpp and forgotten by the test library.
#pragma once

#include <filesystem>
#include <optional>

namespace device::state {

// The folder found on first use; Folder() reads the environment again while it is empty.
extern std::optional<std::filesystem::path> cachedFolder;

}  // namespace device::state

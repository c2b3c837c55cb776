// The device folder: where the phone's file system, registry and log live on this machine.
#pragma once

#include <filesystem>

namespace device {

// $TAVONNE_DEVICE, else $XDG_DATA_HOME/tavonne/device, else ~/.local/share/tavonne/device.
// Read once per process (ResetForTesting reads it again).
const std::filesystem::path& Folder();

// The root of the phone's file system: the device path "\" lives here.
std::filesystem::path FileSystemRoot();
// The registry database.
std::filesystem::path RegistryFile();
// The phone's log: debug output in terminal mode, and what launched programs print.
std::filesystem::path LogFile();

}  // namespace device

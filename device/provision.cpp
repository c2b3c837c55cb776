// Creates the device folder: its file system with the phone's folders.
#include "device/provision.h"

#include <string>
#include <system_error>

#include "device/device_folder.h"
#include "platform/debug.h"

namespace device {

bool EnsureProvisioned() {
    const std::filesystem::path root = FileSystemRoot();
    std::error_code error;
    for (const char* folder : {"Windows", "IPSM/Application Data/Sounds"}) {
        std::filesystem::create_directories(root / folder, error);
        if (error) {
            debug::Write("device: cannot create " + (root / folder).string() + ": " +
                         error.message() + "\n");
            return false;
        }
    }
    return true;
}

}  // namespace device

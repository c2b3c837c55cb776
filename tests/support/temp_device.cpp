// Sets up and removes a test's temporary device folder, and points HOME and XDG_DATA_HOME away
// from the real ones.
#include "support/temp_device.h"

#include <stdlib.h>

#include <string>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "platform/testing/process.h"
#include "platform/user32/window_manager.h"

TempDevice::TempDevice() {
    std::string pattern = (std::filesystem::temp_directory_path() / "tavonne-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a temporary folder";
        return;
    }
    top_ = pattern;
    folder_ = top_ / "device";
    setenv("TAVONNE_DEVICE", folder_.c_str(), 1);
    setenv("HOME", (top_ / "home").c_str(), 1);
    setenv("XDG_DATA_HOME", (top_ / "data").c_str(), 1);
    device::CloseRegistryForTesting();
    device::ResetForTesting();
    wm::ResetForTesting();
}

TempDevice::~TempDevice() {
    platform::ResetProcessesForTesting();
    device::CloseRegistryForTesting();
    device::ResetForTesting();
    std::error_code ignored;
    if (!top_.empty())
        std::filesystem::remove_all(top_, ignored);
}

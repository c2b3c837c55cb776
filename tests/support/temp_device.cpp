// Sets up and removes a test's temporary device folder, and points HOME and XDG_DATA_HOME away
// from the real ones.
#include "support/temp_device.h"

#include <stdlib.h>

#include <string>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "platform/testing/testing.h"
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
    // Players started by a test never reach a real audio output (an unknown driver fails at
    // once; under Wine, ALSA has an empty configuration, so no device, and PulseAudio no server)
    // nor a file of the test's caller.
    setenv("SDL_AUDIODRIVER", "tavonne-test-none", 1);
    setenv("ALSA_CONFIG_PATH", "/dev/null", 1);
    setenv("PULSE_SERVER", "unix:/nonexistent", 1);
    unsetenv("TAVONNE_AUDIO_OUT");
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

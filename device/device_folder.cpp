// Finding the device folder from the environment.
#include "device/device_folder.h"
#include "device/device_folder_state.h"

#include <pwd.h>
#include <stdlib.h>
#include <unistd.h>

#include <optional>

namespace device {

std::optional<std::filesystem::path> state::cachedFolder;
using state::cachedFolder;

namespace {

std::filesystem::path HomeFolder() {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    const passwd* entry = getpwuid(getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

std::filesystem::path FindFolder() {
    const char* explicitFolder = getenv("TAVONNE_DEVICE");
    if (explicitFolder != nullptr && explicitFolder[0] != '\0') {
        return std::filesystem::absolute(explicitFolder);
    }
    const char* dataHome = getenv("XDG_DATA_HOME");
    // XDG says a relative XDG_DATA_HOME is invalid and must be ignored.
    if (dataHome != nullptr && dataHome[0] == '/') {
        return std::filesystem::path(dataHome) / "tavonne" / "device";
    }
    return HomeFolder() / ".local" / "share" / "tavonne" / "device";
}

}  // namespace

const std::filesystem::path& Folder() {
    if (!cachedFolder)
        cachedFolder = FindFolder();
    return *cachedFolder;
}

std::filesystem::path FileSystemRoot() {
    return Folder() / "fs";
}

std::filesystem::path RegistryFile() {
    return Folder() / "registry.db";
}

std::filesystem::path LogFile() {
    return Folder() / "device.log";
}

}  // namespace device

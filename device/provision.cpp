// Creates the device folder: its file system with the phone's folders and files, and its
// registry.
#include "device/provision.h"

#include <windows.h>

#include <dirent.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "device/tones.h"
#include "base/debug.h"
#include "base/text.h"

namespace device {

namespace {

namespace fs = std::filesystem;

const char* const kFolders[] = {"Windows", "IPSM/Application Data/Sounds"};

bool FoldersPresent() {
    std::error_code error;
    for (const char* folder : kFolders) {
        if (!fs::is_directory(FileSystemRoot() / folder, error))
            return false;
    }
    return true;
}

// Each ROM tone under its own name, from one reading of "\Windows\" (a name in other letter
// case is looked for by the installation).
bool RomTonesPresent() {
    const std::unique_ptr<DIR, int (*)(DIR*)> folder(
        opendir((FileSystemRoot() / "Windows").c_str()), closedir);
    if (!folder)
        return false;
    std::vector<std::u16string> names;
    while (const dirent* entry = readdir(folder.get()))
        names.push_back(text::FromUtf8(entry->d_name));
    for (const PhoneTone& tone : RomTones()) {
        const std::u16string_view name = tone.devicePath.substr(std::size("\\Windows\\") - 1);
        if (std::find(names.begin(), names.end(), name) == names.end())
            return false;
    }
    return true;
}

// The installed player is the one of this build (compared by size: two stats, no reading).
bool PlayerCurrent() {
    std::error_code error;
    const auto installed = fs::file_size(FileSystemRoot() / "Windows" / "qhandler.exe", error);
    if (error)
        return false;
    const auto built = fs::file_size(PlayerBinary(), error);
    return error || installed == built;
}

bool CreateFolders() {
    const fs::path root = FileSystemRoot();
    std::error_code error;
    for (const char* folder : kFolders) {
        fs::create_directories(root / folder, error);
        if (error) {
            debug::Write("device: cannot create " + (root / folder).string() + ": " +
                         error.message() + "\n");
            return false;
        }
    }
    return true;
}

}  // namespace

bool EnsureFileSystem() {
    // The usual start finds everything in place: a few stats, nothing written.
    if (FoldersPresent() && RomTonesPresent() && PlayerCurrent())
        return true;
    std::error_code error;
    const bool newPhone = !fs::exists(FileSystemRoot(), error);
    // Something is missing, perhaps because a start was killed while it wrote: what it left goes.
    for (const char* folder : kFolders)
        RemoveLeftovers(FileSystemRoot() / folder);
    const bool made = CreateFolders();
    // The tones and the player go in even when something else failed: a phone can still list
    // and play what it has.
    const bool tones = InstallPhoneTones(FileSystemRoot(), newPhone ? PhoneTones() : RomTones());
    const bool player = InstallPlayer(FileSystemRoot(), PlayerBinary());
    return made && tones && player;
}

bool EnsureProvisioned() {
    const bool files = EnsureFileSystem();
    return registry::Open() == ERROR_SUCCESS && files;
}

bool AddPhoneDefaults() {
    const LONG result = registry::AddPhoneValues();
    if (result != ERROR_SUCCESS)
        debug::Write("device: cannot write the phone's default sound settings to " +
                     RegistryFile().string() + " (error " + std::to_string(result) + ")\n");
    return result == ERROR_SUCCESS;
}

bool ProvisionOnce() {
    static std::mutex mutex;
    static std::filesystem::path provisioned;
    std::lock_guard lock(mutex);
    const std::filesystem::path& folder = Folder();
    if (folder == provisioned)
        return true;
    if (!EnsureFileSystem())
        return false;
    provisioned = folder;
    return true;
}

}  // namespace device

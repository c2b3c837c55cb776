// Creates the device folder: its file system with the phone's folders, and the phone's own
// registry keys with their default values.
#include "device/provision.h"

#include <windows.h>

#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "device/device_folder.h"
#include "device/registry_store.h"
#include "device/tones.h"
#include "base/debug.h"

namespace device {

namespace {

const char* const kFolders[] = {"Windows", "IPSM/Application Data/Sounds"};

// The phone's sound settings as a new phone has them, under HKEY_CURRENT_USER.
struct DefaultValue {
    std::vector<std::u16string> key;
    std::u16string name;
    std::u16string data;
};

const std::vector<DefaultValue>& Defaults() {
    static const std::vector<DefaultValue> defaults = {
        {{u"ControlPanel", u"Sounds", u"RingTone0"}, u"Sound", u"\\Windows\\Standard.wav"},
        {{u"ControlPanel", u"Sounds", u"RingTone0"}, u"Script", u"apw3r"},
        {{u"ControlPanel", u"Sounds", u"SMS"}, u"Sound", u"\\Windows\\Notify.mid"},
    };
    return defaults;
}

// REG_SZ as the phone stores it: UTF-16LE with the terminating NUL.
std::vector<BYTE> StringBytes(const std::u16string& s) {
    std::vector<BYTE> bytes;
    bytes.reserve((s.size() + 1) * 2);
    for (char16_t c : s) {
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    bytes.insert(bytes.end(), {0, 0});
    return bytes;
}

bool FoldersPresent() {
    std::error_code error;
    for (const char* folder : kFolders) {
        if (!std::filesystem::is_directory(FileSystemRoot() / folder, error))
            return false;
    }
    return true;
}

bool DefaultsPresent() {
    for (const DefaultValue& value : Defaults()) {
        registry::KeyId key = 0;
        registry::Value found;
        if (registry::FindKey(registry::kCurrentUser, value.key, key) != ERROR_SUCCESS ||
            registry::GetValue(key, value.name, found) != ERROR_SUCCESS)
            return false;
    }
    return true;
}

// The installed player is the one of this build (compared by size: two stats, no reading).
bool PlayerCurrent() {
    std::error_code error;
    const auto installed =
        std::filesystem::file_size(FileSystemRoot() / "Windows" / "qhandler.exe", error);
    if (error)
        return false;
    const auto built = std::filesystem::file_size(PlayerBinary(), error);
    return error || installed == built;
}

bool CreateFolders() {
    const std::filesystem::path root = FileSystemRoot();
    std::error_code error;
    for (const char* folder : kFolders) {
        std::filesystem::create_directories(root / folder, error);
        if (error) {
            debug::Write("device: cannot create " + (root / folder).string() + ": " +
                         error.message() + "\n");
            return false;
        }
    }
    return true;
}

// Adds each default that is missing; a value that exists, whatever it holds, is left alone.
bool AddDefaults() {
    for (const DefaultValue& value : Defaults()) {
        registry::KeyId key = 0;
        bool created = false;
        bool added = false;
        LONG result = registry::CreateKey(registry::kCurrentUser, value.key, key, created);
        if (result == ERROR_SUCCESS) {
            result = registry::AddValueIfMissing(key, value.name, REG_SZ, StringBytes(value.data),
                                                 added);
        }
        if (result != ERROR_SUCCESS) {
            debug::Write("device: cannot write the phone's default sound settings to " +
                         RegistryFile().string() + " (error " + std::to_string(result) + ")\n");
            return false;
        }
    }
    return true;
}

}  // namespace

bool EnsureProvisioned() {
    // The usual start finds everything in place: a few lookups, nothing written.
    if (FoldersPresent() && PlayerCurrent() && DefaultsPresent())
        return true;
    const bool made = CreateFolders() && AddDefaults();
    // The tones and the player go in even when something else failed: a phone without its
    // registry can still list and play its tones.
    const bool tones = InstallPhoneTones(FileSystemRoot());
    const bool player = InstallPlayer(FileSystemRoot(), PlayerBinary());
    return made && tones && player;
}

bool ProvisionOnce() {
    static std::mutex mutex;
    static std::filesystem::path provisioned;
    std::lock_guard lock(mutex);
    const std::filesystem::path& folder = Folder();
    if (folder == provisioned)
        return true;
    if (!EnsureProvisioned())
        return false;
    provisioned = folder;
    return true;
}

}  // namespace device

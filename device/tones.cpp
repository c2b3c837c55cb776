// Installing the phone's tones and its player into a device file system.
#include "device/tones.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "base/debug.h"
#include "base/text.h"
#include "device/beneath.h"
#include "device/device_folder.h"

namespace device {

namespace {

namespace fs = std::filesystem;

bool Fail(const std::string& what, const fs::path& path, const std::string& why) {
    debug::Write("device: cannot " + what + " " + path.string() + ": " + why + "\n");
    return false;
}

bool Fail(const std::string& what, const fs::path& path, const std::error_code& error) {
    return Fail(what, path, error.message());
}

// The entry of `folder` whose name equals `name` without regard to case, if any.
std::optional<fs::path> FindNoCase(const fs::path& folder, std::u16string_view name) {
    std::error_code error;
    const fs::path exact = folder / text::ToUtf8(name);
    if (fs::exists(fs::symlink_status(exact, error)))
        return exact;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (text::EqualNoCase(text::FromUtf8(it->path().filename().string()), name))
            return it->path();
    }
    return std::nullopt;
}

struct Place {
    fs::path file;  // the existing file, or where a new one goes
    bool exists;
};

// Finds the host file for a device path under `root`, matching every component without regard to
// case and creating the folders that are missing.
std::optional<Place> Locate(const fs::path& root, std::u16string_view devicePath) {
    std::vector<std::u16string_view> components;
    while (!devicePath.empty()) {
        const size_t separator = devicePath.find(u'\\');
        const std::u16string_view component = devicePath.substr(0, separator);
        if (!component.empty())
            components.push_back(component);
        devicePath.remove_prefix(separator == devicePath.npos ? devicePath.size() : separator + 1);
    }
    if (components.empty())
        return std::nullopt;
    fs::path folder = root;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        std::error_code error;
        if (auto found = FindNoCase(folder, components[i])) {
            folder = *found;
            if (!fs::is_directory(folder, error)) {
                Fail("use the folder", folder, "it is not a folder");
                return std::nullopt;
            }
            continue;
        }
        folder /= text::ToUtf8(components[i]);
        fs::create_directory(folder, error);
        if (error) {
            Fail("create", folder, error);
            return std::nullopt;
        }
    }
    if (auto found = FindNoCase(folder, components.back()))
        return Place{*found, true};
    return Place{folder / text::ToUtf8(components.back()), false};
}

bool WriteAll(int fd, std::span<const unsigned char> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
}

// Writes a whole file under a temporary name and then gives it its name, so that no reader ever
// sees half a file. Without `replace`, a file that appeared meanwhile is kept. There is no fsync:
// these files can always be made again, and syncing each one made a fresh device folder ten times
// slower to set up.
bool WriteWhole(const fs::path& target, std::span<const unsigned char> bytes, mode_t mode,
                bool replace) {
    // The writer's pid in the name lets a later start remove what a killed writer left.
    std::string name = target.filename().string();
    name.insert(0, 1, '.');
    name += TemporarySuffix() + "-XXXXXX";
    std::string temporary = (target.parent_path() / name).string();
    UniqueFd file(mkostemp(temporary.data(), O_CLOEXEC));
    if (file.Get() < 0)
        return Fail("create a file in", target.parent_path(), strerror(errno));
    const auto removeTemporary = [&] { unlink(temporary.c_str()); };
    if (!WriteAll(file.Get(), bytes) || fchmod(file.Get(), mode) != 0 ||
        close(file.Release()) != 0) {
        const std::string why = strerror(errno);
        removeTemporary();
        return Fail("write", target, why);
    }
    if (replace) {
        if (rename(temporary.c_str(), target.c_str()) != 0) {
            const std::string why = strerror(errno);
            removeTemporary();
            return Fail("write", target, why);
        }
        return true;
    }
    int result = renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
    // File systems without RENAME_NOREPLACE still refuse to link over an existing name.
    if (result != 0 && errno == EINVAL) {
        result = link(temporary.c_str(), target.c_str());
        if (result == 0 || errno == EEXIST)
            removeTemporary();
    }
    if (result != 0 && errno != EEXIST) {
        const std::string why = strerror(errno);
        removeTemporary();
        return Fail("write", target, why);
    }
    if (result != 0)
        removeTemporary();
    return true;
}

std::optional<std::vector<unsigned char>> ReadWhole(const fs::path& path, std::string& why) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) {
        why = error ? error.message() : "not a file";
        return std::nullopt;
    }
    const auto size = fs::file_size(path, error);
    std::vector<unsigned char> bytes(error ? 0 : size);
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (error || !in || in.peek() != std::ifstream::traits_type::eof()) {
        why = "read error";
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

bool InstallPhoneTones(const fs::path& fileSystemRoot, std::span<const PhoneTone> tones) {
    std::error_code error;
    fs::create_directories(fileSystemRoot, error);
    if (error)
        return Fail("create", fileSystemRoot, error);
    bool installed = true;
    for (const PhoneTone& tone : tones) {
        const std::optional<Place> place = Locate(fileSystemRoot, tone.devicePath);
        if (!place)
            installed = false;
        else if (!place->exists && !WriteWhole(place->file, tone.bytes, 0644, false))
            installed = false;
    }
    return installed;
}

fs::path PlayerBinary() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return (self.parent_path() / TAVONNE_PLAYER_FROM_PROGRAM).lexically_normal();
}

bool InstallPlayer(const fs::path& fileSystemRoot, const fs::path& playerBinary) {
    std::string why;
    const auto program = ReadWhole(playerBinary, why);
    if (!program)
        return Fail("read the player", playerBinary, why);
    std::error_code error;
    fs::create_directories(fileSystemRoot, error);
    if (error)
        return Fail("create", fileSystemRoot, error);
    const std::optional<Place> place = Locate(fileSystemRoot, kPlayerDevicePath);
    if (!place)
        return false;
    struct stat info;
    if (place->exists && stat(place->file.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_mode & S_IXUSR) != 0 && static_cast<size_t>(info.st_size) == program->size()) {
        const auto installed = ReadWhole(place->file, why);
        if (installed && *installed == *program)
            return true;
    }
    return WriteWhole(place->file, *program, 0755, true);
}

}  // namespace device

// Finding the device folder from the environment, and writing its log.
#include "device/device_folder.h"
#include "device/device_folder_state.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <string_view>

#include "device/beneath.h"

namespace device {

std::optional<std::filesystem::path> state::cachedFolder;
using state::cachedFolder;

namespace {

// $HOME, else the user's entry in /etc/passwd, read as a file: the program is linked
// statically, where the name service's modules (getpwuid) cannot be loaded.
std::filesystem::path HomeFolder() {
    const char* home = getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return home;
    std::filesystem::path folder = "/";
    if (FILE* users = fopen("/etc/passwd", "re")) {
        while (const passwd* entry = fgetpwent(users)) {
            if (entry->pw_uid == getuid() && entry->pw_dir != nullptr) {
                folder = entry->pw_dir;
                break;
            }
        }
        fclose(users);
    }
    return folder;
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

constexpr std::string_view kTemporaryMark = ".new-";

// The process that wrote a leftover, or 0 when the name is not one of our temporaries.
pid_t WriterOf(std::string_view name) {
    const size_t mark = name.find(kTemporaryMark);
    if (mark == std::string_view::npos)
        return 0;
    const std::string_view stem = name.substr(0, mark);
    if (stem != "registry.db" && (stem.size() < 2 || stem[0] != '.'))
        return 0;
    std::string_view rest = name.substr(mark + kTemporaryMark.size());
    pid_t pid = 0;
    size_t digits = 0;
    for (; digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9'; ++digits) {
        if (digits == 9)
            return 0;
        pid = pid * 10 + (rest[digits] - '0');
    }
    if (digits == 0 || (digits < rest.size() && rest[digits] != '-'))
        return 0;
    return pid;
}

bool Running(pid_t pid) {
    return kill(pid, 0) == 0 || errno == EPERM;
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

std::string TemporarySuffix() {
    return std::string(kTemporaryMark) + std::to_string(getpid());
}

void RemoveLeftovers(const std::filesystem::path& folder) {
    const UniqueFd fd(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (fd.Get() >= 0)
        RemoveLeftovers(fd.Get());
}

void RemoveLeftovers(int folder) {
    UniqueFd readable(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::unique_ptr<DIR, DirCloser> dir(readable.Get() >= 0 ? fdopendir(readable.Get()) : nullptr);
    if (!dir)
        return;
    readable.Release();
    const int fd = dirfd(dir.get());
    while (const dirent* entry = readdir(dir.get())) {
        const pid_t writer = WriterOf(entry->d_name);
        if (writer > 0 && !Running(writer))
            unlinkat(fd, entry->d_name, 0);
    }
}

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

bool AppendToLog(std::string_view line) {
    const int log =
        open(LogFile().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (log < 0)
        return false;
    const bool whole = write(log, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    close(log);
    return whole;
}

std::filesystem::path StatusFile() {
    return Folder() / "run" / "status";
}

bool WriteStatus(std::string_view line) {
    const UniqueFd run = OpenFolderBeneath(Folder(), "run", true);
    FileBeside status(run.Get(), "status");
    const std::string text = std::string(line) + '\n';
    return run.Get() >= 0 && status.Write(text.data(), text.size()) && status.Commit();
}

}  // namespace device

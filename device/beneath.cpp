// Opening files beneath a folder one component at a time, following only the links that stay
// beneath it, and writing files beside their final name.
#include "device/beneath.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <deque>
#include <optional>
#include <random>
#include <vector>

#include "device/device_folder.h"

namespace device {

namespace {

namespace fs = std::filesystem;

// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

std::deque<std::string> Components(const std::string& path) {
    std::deque<std::string> components;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        std::string component = path.substr(start, end - start);
        if (!component.empty() && component != ".")
            components.push_back(std::move(component));
        start = end + 1;
    }
    return components;
}

bool Fail(int error) {
    errno = error;
    return false;
}

std::optional<std::string> ReadLink(int folder, const std::string& name) {
    std::string target(256, '\0');
    while (true) {
        const ssize_t length = readlinkat(folder, name.c_str(), target.data(), target.size());
        if (length < 0)
            return std::nullopt;
        if (static_cast<size_t>(length) < target.size()) {
            target.resize(static_cast<size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// The components of an absolute link's target below `root`, or nothing when it is not below it.
std::optional<std::deque<std::string>> Below(const fs::path& root, const std::string& target) {
    std::error_code error;
    const fs::path real = fs::canonical(root, error);
    if (error)
        return std::nullopt;
    std::deque<std::string> inside = Components(target);
    for (const std::string& component : Components(real.string())) {
        if (inside.empty() || inside.front() != component)
            return std::nullopt;
        inside.pop_front();
    }
    return inside;
}

}  // namespace

void UniqueFd::Reset(int fd) {
    if (fd_ >= 0)
        close(fd_);
    fd_ = fd;
}

// Each folder on the way is held open, so ".." goes back to the folder it came from and a
// folder renamed meanwhile cannot lead the walk elsewhere; each step opens one name with
// O_NOFOLLOW, and a link is read and its target walked in its place.
bool ResolveBeneath(const fs::path& root, const fs::path& path, bool make, Resolved& place) {
    std::vector<UniqueFd> folders;
    folders.emplace_back(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (folders.back().Get() < 0 && errno == ENOENT && make) {
        // The root itself is trusted, whatever its path goes through.
        std::error_code error;
        fs::create_directories(root, error);
        folders.back().Reset(open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    if (folders.back().Get() < 0)
        return false;
    std::deque<std::string> left = Components(path.string());
    int links = 0;
    while (!left.empty()) {
        const std::string name = std::move(left.front());
        left.pop_front();
        if (name == "..") {
            if (folders.size() == 1)
                return Fail(EXDEV);
            folders.pop_back();
            continue;
        }
        const int folder = folders.back().Get();
        struct stat info;
        if (fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return false;
            if (left.empty()) {
                place = Resolved{std::move(folders.back()), name};
                return true;
            }
            if (!make)
                return false;
            // Made by someone else meanwhile: then it is looked at again.
            if (mkdirat(folder, name.c_str(), 0755) != 0 && errno != EEXIST)
                return false;
            left.push_front(name);
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            if (++links > kMaxLinks)
                return Fail(ELOOP);
            const std::optional<std::string> target = ReadLink(folder, name);
            if (!target)
                return false;
            std::deque<std::string> next = Components(*target);
            if (target->starts_with('/')) {
                std::optional<std::deque<std::string>> inside = Below(root, *target);
                if (!inside)
                    return Fail(EXDEV);
                next = std::move(*inside);
                folders.resize(1);
            }
            left.insert(left.begin(), next.begin(), next.end());
            continue;
        }
        if (left.empty()) {
            place = Resolved{std::move(folders.back()), name};
            return true;
        }
        UniqueFd inner(openat(folder, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (inner.Get() < 0)
            return false;
        folders.push_back(std::move(inner));
    }
    place = Resolved{std::move(folders.back()), ""};
    return true;
}

UniqueFd OpenBeneath(const fs::path& root, const fs::path& path, int flags, mode_t mode) {
    const bool create = (flags & O_CREAT) != 0;
    if ((flags & O_NOFOLLOW) != 0) {
        const UniqueFd folder = OpenFolderBeneath(root, path.parent_path(), create);
        if (folder.Get() < 0)
            return UniqueFd();
        return UniqueFd(openat(folder.Get(), path.filename().c_str(), flags | O_CLOEXEC, mode));
    }
    Resolved place;
    if (!ResolveBeneath(root, path, create, place))
        return UniqueFd();
    if (place.name.empty()) {
        errno = EISDIR;
        return UniqueFd();
    }
    return UniqueFd(
        openat(place.folder.Get(), place.name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode));
}

UniqueFd OpenFolderBeneath(const fs::path& root, const fs::path& path, bool make) {
    Resolved place;
    if (!ResolveBeneath(root, path, make, place))
        return UniqueFd();
    if (place.name.empty())
        return UniqueFd(openat(place.folder.Get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (make && mkdirat(place.folder.Get(), place.name.c_str(), 0755) != 0 && errno != EEXIST)
        return UniqueFd();
    return UniqueFd(openat(place.folder.Get(), place.name.c_str(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
}

std::string DescribeOpenError(int error) {
    if (error == EXDEV)
        return "a link that leads outside the phone";
    return strerror(error);
}

FileBeside::FileBeside(int folder, std::string name, mode_t mode)
    : folder_(folder), name_(std::move(name)) {
    std::random_device random;
    const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100 && fd_.Get() < 0; ++attempt) {
        std::string tail;
        for (int i = 0; i < 6; ++i)
            tail += letters[random() % (sizeof letters - 1)];
        // The writer's pid in the name lets a later use remove what a killed writer left; the
        // name is cut so that the whole stays within the host's 255 bytes.
        temporary_ = "." + name_.substr(0, 200) + TemporarySuffix() + "-" + tail;
        fd_.Reset(openat(folder_, temporary_.c_str(),
                         O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
        if (fd_.Get() < 0 && errno != EEXIST)
            break;
    }
    if (fd_.Get() < 0)
        temporary_.clear();
}

FileBeside::~FileBeside() {
    if (!temporary_.empty()) {
        const int saved = errno;
        unlinkat(folder_, temporary_.c_str(), 0);
        errno = saved;
    }
}

bool FileBeside::Write(const void* bytes, size_t size) {
    const char* next = static_cast<const char*>(bytes);
    while (size > 0) {
        const ssize_t written = write(fd_.Get(), next, size);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return written == 0 ? Fail(ENOSPC) : false;
        next += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

bool FileBeside::Commit() {
    // Some file systems report a full disk only when the data reaches it.
    if (fd_.Get() < 0 || fsync(fd_.Get()) != 0 || close(fd_.Release()) != 0)
        return false;
    if (renameat(folder_, temporary_.c_str(), folder_, name_.c_str()) != 0)
        return false;
    temporary_.clear();
    return true;
}

}  // namespace device

// Files beneath a folder on Linux (the device folder, the phone's file system), opened without
// ever following a link out of it, and files written beside their final name and renamed into
// place, so that a reader, a kill or a full disk never leaves half a file under that name.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <utility>

namespace device {

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other)
            Reset(std::exchange(other.fd_, -1));
        return *this;
    }
    ~UniqueFd() { Reset(); }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }
    void Reset(int fd = -1);

  private:
    int fd_;
};

// Opens the file at `path` (relative, host components) beneath `root`. Links are followed only
// while they stay beneath `root` (absolute ones too, when they name a place under it); with
// O_NOFOLLOW in `flags` the file itself may not be a link. With O_CREAT the missing folders on
// the way (and the root) are made too. On failure the descriptor is -1 and errno says why: EXDEV
// for a link that leads outside `root`, ELOOP for a link where O_NOFOLLOW wants none.
UniqueFd OpenBeneath(const std::filesystem::path& root, const std::filesystem::path& path,
                     int flags, mode_t mode = 0644);
// The folder at `path` beneath `root`, as OpenBeneath; `make` makes what is missing.
UniqueFd OpenFolderBeneath(const std::filesystem::path& root, const std::filesystem::path& path,
                           bool make);
// Where `path` beneath `root` leads once its links are followed: the folder that holds it and
// its name there (empty when `path` is a folder itself). `make` makes the missing folders.
struct Resolved {
    UniqueFd folder;
    std::string name;
};
bool ResolveBeneath(const std::filesystem::path& root, const std::filesystem::path& path, bool make,
                    Resolved& place);

// RemoveLeftovers (device_folder.h) for a folder that is open.
void RemoveLeftovers(int folder);

// errno of a failed open beneath a root, in a few words for a message: "a link that leads
// outside the phone" for EXDEV, else the system's text.
std::string DescribeOpenError(int error);

// A file written beside `name` in the folder `folder`, under a hidden temporary name with this
// process's id (see RemoveLeftovers), and given `name` by Commit. Removed when never committed.
class FileBeside {
  public:
    FileBeside(int folder, std::string name, mode_t mode = 0644);
    ~FileBeside();
    FileBeside(const FileBeside&) = delete;
    FileBeside& operator=(const FileBeside&) = delete;

    // -1 when the temporary could not be made (errno says why).
    int Fd() const { return fd_.Get(); }
    // Writes all of `size` bytes; false (errno set) when it cannot, a full disk among others.
    bool Write(const void* bytes, size_t size);
    // Flushes the file to the disk and renames it to its name, replacing what had that name;
    // false (errno set) when any of it fails, and then the file under `name` is as it was.
    bool Commit();

  private:
    int folder_;
    std::string name_;
    std::string temporary_;
    UniqueFd fd_;
};

}  // namespace device

// The phone's files on Linux: tones read and host files copied in through the device folder's
// own folders, never through a link out of the phone; copies written whole.
#include "device/phone_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/host_path.h"
#include "device/beneath.h"
#include "device/device_folder.h"
#include "device/paths.h"

namespace device {

ToneFile ReadToneFile(std::u16string_view devicePath) {
    const std::filesystem::path root = FileSystemRoot();
    const std::filesystem::path file = HostPath(devicePath);
    ToneFile loaded;
    // Without O_NONBLOCK, opening a FIFO would wait for a writer.
    const UniqueFd fd =
        OpenBeneath(root, file.lexically_relative(root), O_RDONLY | O_NONBLOCK | O_NOCTTY);
    loaded.exists = fd.Get() >= 0 || errno == EISDIR;
    struct stat info {};
    if (fd.Get() < 0 || fstat(fd.Get(), &info) != 0)
        loaded.problem = errno == ENOENT   ? "no such file (" + text::PathToUtf8(file) + ")"
                         : errno == EISDIR ? "cannot read (a folder)"
                                           : "cannot read (" + DescribeOpenError(errno) + ")";
    else if (S_ISDIR(info.st_mode))
        loaded.problem = "cannot read (a folder)";
    else if (!S_ISREG(info.st_mode))
        loaded.problem = "cannot read (not a file)";
    else if (static_cast<uint64_t>(info.st_size) > kLargestToneBytes)
        loaded.problem = "cannot read (larger than any tone)";
    if (!loaded.problem.empty())
        return loaded;
    loaded.bytes.resize(static_cast<size_t>(info.st_size));
    size_t done = 0;
    while (done < loaded.bytes.size()) {
        const ssize_t got = read(fd.Get(), loaded.bytes.data() + done, loaded.bytes.size() - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            loaded.problem = "cannot read (" + text::PathToUtf8(file) + ")";
            break;
        }
        done += static_cast<size_t>(got);
    }
    return loaded;
}

std::string CopyToPhone(const std::filesystem::path& source, std::u16string_view deviceFolder,
                        std::u16string_view name, const std::function<bool()>& stopped) {
    // Without O_NONBLOCK, a FIFO put in the file's place meanwhile would hold the open.
    const UniqueFd in(open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    struct stat info;
    if (in.Get() < 0 || fstat(in.Get(), &info) != 0)
        return std::string("cannot be read: ") + strerror(errno);
    if (!S_ISREG(info.st_mode))
        return "is not a file";

    const std::filesystem::path root = FileSystemRoot();
    const std::filesystem::path target =
        HostPath(std::u16string(deviceFolder) + u"\\" + std::u16string(name));
    Resolved place;
    if (!ResolveBeneath(root, target.lexically_relative(root), true, place))
        return DescribeOpenError(errno);
    RemoveLeftovers(place.folder.Get());
    struct stat existing;
    if (place.name.empty() ||
        (fstatat(place.folder.Get(), place.name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 &&
         !S_ISREG(existing.st_mode)))
        return "the phone has something other than a file under that name";
    struct statvfs space;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    if (fstatvfs(place.folder.Get(), &space) == 0 &&
        static_cast<uint64_t>(space.f_bavail) * space.f_frsize < size)
        return "not enough space on the phone: " + std::to_string(size) + " bytes needed, " +
               std::to_string(static_cast<uint64_t>(space.f_bavail) * space.f_frsize) + " free";

    FileBeside out(place.folder.Get(), place.name, info.st_mode & 0777);
    if (out.Fd() < 0)
        return strerror(errno);
    std::vector<char> buffer(1 << 20);
    while (true) {
        if (stopped())
            return "interrupted";
        const ssize_t got = read(in.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::string("cannot be read: ") + strerror(errno);
        if (got == 0)
            break;
        if (!out.Write(buffer.data(), static_cast<size_t>(got)))
            return strerror(errno);
    }
    if (!out.Commit())
        return strerror(errno);
    return "";
}

}  // namespace device

// Device paths: the phone's \A\B paths mapped onto host paths under the file-system root.
#include "device/paths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "base/text.h"

namespace device {

namespace {

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool EntryExists(const std::filesystem::path& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// The host name in `folder` that names `component` on the phone. The exact-case name wins when it
// exists; otherwise, of the host names equal to it without regard to case, the byte-wise smallest
// (a host folder may hold names that differ only by case; the phone sees one of them).
std::optional<std::string> FindComponent(const std::filesystem::path& folder,
                                         std::u16string_view component) {
    std::string exact = text::ToUtf8(component);
    if (EntryExists(folder / exact))
        return exact;
    std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
    if (!dir)
        return std::nullopt;
    std::optional<std::string> best;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        if (best && name >= *best)
            continue;
        if (text::EqualNoCase(text::FromUtf8(name), component))
            best = std::string(name);
    }
    return best;
}

struct Component {
    std::string hostName;
    // Found on the host; a component below a missing one is never found.
    bool found;
};

}  // namespace

std::filesystem::path HostPath(std::u16string_view devicePath) {
    // Win32 strings end at their first NUL.
    devicePath = devicePath.substr(0, devicePath.find(u'\0'));
    const std::filesystem::path root = FileSystemRoot();
    std::vector<Component> components;
    std::filesystem::path current = root;
    size_t start = 0;
    while (start <= devicePath.size()) {
        size_t end = start;
        while (end < devicePath.size() && !IsSeparator(devicePath[end]))
            ++end;
        std::u16string_view component = devicePath.substr(start, end - start);
        const bool last = end == devicePath.size();
        start = end + 1;
        if (component.empty() || component == u".")
            continue;
        // Win32's rules: a folder's name loses one final dot, the last name all its final dots
        // and blanks ("\Sons.\a.wav. " is "\Sons\a.wav").
        if (component != u"..") {
            if (!last && component.back() == u'.')
                component.remove_suffix(1);
            while (last && !component.empty() &&
                   (component.back() == u'.' || component.back() == u' '))
                component.remove_suffix(1);
            if (component.empty())
                continue;
        }
        if (component == u"..") {
            if (!components.empty()) {
                components.pop_back();
                current = current.parent_path();
            }
            continue;
        }
        const bool folderFound = components.empty() || components.back().found;
        std::optional<std::string> hostName;
        if (folderFound)
            hostName = FindComponent(current, component);
        components.push_back(
            Component{hostName ? *hostName : text::ToUtf8(component), hostName.has_value()});
        current /= components.back().hostName;
    }
    return current;
}

}  // namespace device

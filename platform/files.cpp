// File search: FindFirstFileW, FindNextFileW and FindClose over the device's file system.
#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "device/provision.h"
#include "platform/debug.h"
#include "platform/text.h"

namespace files {

// cFileName holds MAX_PATH units with its NUL; a longer name is never cut to fit, since the cut
// name would stand for another file.
bool NameFitsFindData(std::u16string_view name) {
    return name.size() <= MAX_PATH - 1;
}

}  // namespace files

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool HasWildcard(std::u16string_view s) {
    return s.find_first_of(u"*?") != std::u16string_view::npos;
}

// Glob match of an already folded name against an already folded pattern: `*` takes any run of
// units (also none), `?` exactly one.
bool GlobMatch(std::u16string_view pattern, std::u16string_view name) {
    size_t p = 0, n = 0;
    size_t starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// Win32 rule: a pattern ending in ".*" also takes names without that extension, so "*.*"
// matches every name and "a.*" matches "a".
bool PatternMatches(std::u16string_view foldedPattern, std::u16string_view foldedName) {
    if (GlobMatch(foldedPattern, foldedName))
        return true;
    return foldedPattern.ends_with(u".*") &&
           GlobMatch(foldedPattern.substr(0, foldedPattern.size() - 2), foldedName);
}

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    ~UniqueFd() {
        if (fd_ >= 0)
            close(fd_);
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// One name found by a search. Its texts live in the search's arenas.
struct Found {
    uint32_t nameOffset;  // the name in UTF-16, followed by its folded form of the same length
    uint32_t nameLength;
    uint32_t rawOffset;  // the host name's bytes, NUL-terminated
};

// A search: the names that matched, sorted, and the open folder they were read from.
class Search {
  public:
    explicit Search(UniqueFd folder) : folder_(std::move(folder)) {}
    int FolderFd() const { return folder_.get(); }

    // Adds the host name `raw` when it matches; returns whether it did.
    bool Add(std::string_view raw, std::u16string_view foldedPattern);
    void Add(std::string_view raw);
    void Sort();
    // Fills `data` with the next name that still exists; false when there is none left.
    bool Next(WIN32_FIND_DATAW& data);
    bool Empty() const { return found_.empty(); }

  private:
    std::u16string_view Name(const Found& f) const {
        return std::u16string_view(units_).substr(f.nameOffset, f.nameLength);
    }
    std::u16string_view Key(const Found& f) const {
        return std::u16string_view(units_).substr(f.nameOffset + f.nameLength, f.nameLength);
    }

    UniqueFd folder_;
    std::u16string units_;
    std::string bytes_;
    std::vector<Found> found_;
    size_t next_ = 0;
};

bool Search::Add(std::string_view raw, std::u16string_view foldedPattern) {
    const size_t offset = units_.size();
    bool ascii = true;
    for (const char c : raw) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            ascii = false;
            break;
        }
    }
    size_t length;
    if (ascii) {
        length = raw.size();
        units_.resize(offset + 2 * length);
        for (size_t i = 0; i < length; ++i) {
            const char16_t c = static_cast<unsigned char>(raw[i]);
            units_[offset + i] = c;
            units_[offset + length + i] = (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
        }
    } else {
        // Bytes that are not UTF-8 become lone surrogates, which map back to the same bytes.
        const std::u16string name = text::FromUtf8(raw);
        length = name.size();
        units_ += name;
        units_ += text::Fold(name);
    }
    const std::u16string_view key = std::u16string_view(units_).substr(offset + length, length);
    if (!PatternMatches(foldedPattern, key)) {
        units_.resize(offset);
        return false;
    }
    if (!files::NameFitsFindData(key)) {
        debug::Write("FindFirstFile: skipped a name too long for cFileName: " + std::string(raw) +
                     "\n");
        units_.resize(offset);
        return false;
    }
    found_.push_back(Found{static_cast<uint32_t>(offset), static_cast<uint32_t>(length),
                           static_cast<uint32_t>(bytes_.size())});
    bytes_ += raw;
    bytes_ += '\0';
    return true;
}

void Search::Add(std::string_view raw) {
    const std::u16string name = text::FromUtf8(raw);
    if (!files::NameFitsFindData(name)) {
        debug::Write("FindFirstFile: skipped a name too long for cFileName: " + std::string(raw) +
                     "\n");
        return;
    }
    found_.push_back(Found{static_cast<uint32_t>(units_.size()), static_cast<uint32_t>(name.size()),
                           static_cast<uint32_t>(bytes_.size())});
    units_ += name;
    units_ += text::Fold(name);
    bytes_ += raw;
    bytes_ += '\0';
}

void Search::Sort() {
    std::sort(found_.begin(), found_.end(), [this](const Found& a, const Found& b) {
        const int byKey = Key(a).compare(Key(b));
        return byKey != 0 ? byKey < 0 : Name(a) < Name(b);
    });
}

FILETIME ToFileTime(const statx_timestamp& t) {
    // FILETIME counts 100 ns intervals since 1601-01-01; Unix time starts 11644473600 s later.
    const int64_t ticks = (t.tv_sec + INT64_C(11644473600)) * 10000000 + t.tv_nsec / 100;
    const uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(value >> 32)};
}

bool Search::Next(WIN32_FIND_DATAW& data) {
    while (next_ < found_.size()) {
        const Found& f = found_[next_++];
        const char* raw = bytes_.c_str() + f.rawOffset;
        struct statx info;
        constexpr unsigned kMask =
            STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
        // A link is described by its target; a dangling link by the link itself.
        if (statx(folder_.get(), raw, AT_STATX_SYNC_AS_STAT, kMask, &info) != 0 &&
            statx(folder_.get(), raw, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kMask, &info) !=
                0) {
            continue;  // gone since the folder was read
        }
        const std::u16string_view name = Name(f);
        data = WIN32_FIND_DATAW{};
        const bool folder = S_ISDIR(info.stx_mode);
        DWORD attributes = 0;
        if (folder)
            attributes |= FILE_ATTRIBUTE_DIRECTORY;
        if ((info.stx_mode & S_IWUSR) == 0)
            attributes |= FILE_ATTRIBUTE_READONLY;
        if (!name.empty() && name[0] == u'.')
            attributes |= FILE_ATTRIBUTE_HIDDEN;
        // Win32 rule: FILE_ATTRIBUTE_NORMAL is only ever given alone.
        data.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
        const uint64_t size = folder ? 0 : info.stx_size;
        data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
        data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
        data.ftLastWriteTime = ToFileTime(info.stx_mtime);
        data.ftLastAccessTime = ToFileTime(info.stx_atime);
        // Without a birth time the last write is the latest the file can have been created.
        data.ftCreationTime =
            ToFileTime((info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime);
        std::copy(name.begin(), name.end(), data.cFileName);
        data.cFileName[name.size()] = u'\0';
        return true;
    }
    return false;
}

// Search handles are ids into this table, never pointers, and an id is never used twice, so a
// stale or made-up handle is only ever "not found".
class SearchTable {
  public:
    HANDLE Insert(std::shared_ptr<Search> search) {
        std::lock_guard lock(mutex_);
        nextId_ += 4;
        searches_.emplace(nextId_, std::move(search));
        return reinterpret_cast<HANDLE>(nextId_);
    }
    std::shared_ptr<Search> Find(HANDLE handle) {
        std::lock_guard lock(mutex_);
        const auto it = searches_.find(reinterpret_cast<uintptr_t>(handle));
        return it != searches_.end() ? it->second : nullptr;
    }
    bool Erase(HANDLE handle) {
        std::shared_ptr<Search> search;  // released after the lock
        std::lock_guard lock(mutex_);
        const auto it = searches_.find(reinterpret_cast<uintptr_t>(handle));
        if (it == searches_.end())
            return false;
        search = std::move(it->second);
        searches_.erase(it);
        return true;
    }

  private:
    std::mutex mutex_;
    uintptr_t nextId_ = 0x5EA0000;
    std::unordered_map<uintptr_t, std::shared_ptr<Search>> searches_;
};

SearchTable& Searches() {
    static SearchTable table;
    return table;
}

// The phone's folders exist before the first search of each device folder.
void ProvisionOnce() {
    static std::mutex mutex;
    static std::filesystem::path provisioned;
    std::lock_guard lock(mutex);
    const std::filesystem::path& folder = device::Folder();
    if (folder == provisioned)
        return;
    device::EnsureProvisioned();
    provisioned = folder;
}

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    ProvisionOnce();

    const std::u16string_view pattern(lpFileName, text::Length(lpFileName));
    size_t split = pattern.size();
    while (split > 0 && !IsSeparator(pattern[split - 1]))
        --split;
    const std::u16string_view folderPath = pattern.substr(0, split);
    const std::u16string_view namePattern = pattern.substr(split);
    if (HasWildcard(folderPath))
        return Fail(ERROR_INVALID_NAME);

    const std::filesystem::path hostFolder = device::HostPath(folderPath);
    UniqueFd folder(open(hostFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return Fail(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    // "." and ".." are not entries of the phone's file system.
    if (namePattern.empty() || namePattern == u"." || namePattern == u"..")
        return Fail(ERROR_FILE_NOT_FOUND);

    auto search = std::make_shared<Search>(std::move(folder));
    if (HasWildcard(namePattern)) {
        std::unique_ptr<DIR, DirCloser> dir(fdopendir(dup(search->FolderFd())));
        if (!dir)
            return Fail(ERROR_PATH_NOT_FOUND);
        const std::u16string foldedPattern = text::Fold(namePattern);
        while (const dirent* entry = readdir(dir.get())) {
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            search->Add(name, foldedPattern);
        }
        search->Sort();
    } else {
        // The one entry the name stands for, found as any device path is.
        const std::filesystem::path host = device::HostPath(pattern);
        struct stat info;
        if (lstat(host.c_str(), &info) == 0)
            search->Add(host.filename().native());
    }

    if (!search->Next(*lpFindFileData))
        return Fail(ERROR_FILE_NOT_FOUND);
    return Searches().Insert(std::move(search));
}

extern "C" BOOL WINAPI FindNextFileW(HANDLE hFindFile, LPWIN32_FIND_DATAW lpFindFileData) {
    if (lpFindFileData == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::shared_ptr<Search> search = Searches().Find(hFindFile);
    if (search == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!search->Next(*lpFindFileData)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return FALSE;
    }
    return TRUE;
}

extern "C" BOOL WINAPI FindClose(HANDLE hFindFile) {
    if (!Searches().Erase(hFindFile)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

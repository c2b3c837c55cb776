// File search: FindFirstFileW, FindNextFileW and FindClose over the device's file system.
#include <windows.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
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
#include <utility>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "device/provision.h"
#include "base/debug.h"
#include "base/name_pattern.h"
#include "base/text.h"

namespace files {

// cFileName holds MAX_PATH units with its NUL; a longer name is never cut to fit, since the cut
// name would stand for another file.
bool NameFitsFindData(size_t units) {
    return units <= MAX_PATH - 1;
}

}  // namespace files

namespace {

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

bool HasWildcard(std::u16string_view s) {
    return s.find_first_of(u"*?") != std::u16string_view::npos;
}

// Looks at eight bytes at a time: every name of a folder is looked at, once per search.
bool IsAscii(std::string_view s) {
    uint64_t seen = 0;
    size_t i = 0;
    for (; i + 8 <= s.size(); i += 8) {
        uint64_t eight;
        memcpy(&eight, s.data() + i, 8);
        seen |= eight;
    }
    for (; i < s.size(); ++i)
        seen |= static_cast<unsigned char>(s[i]);
    return (seen & UINT64_C(0x8080808080808080)) == 0;
}

char16_t FoldAscii(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return static_cast<char16_t>(static_cast<unsigned>(byte - 'a') < 26 ? byte - 0x20 : byte);
}

// The folded units of an ASCII host name, read straight from its bytes.
struct AsciiFolded {
    std::string_view raw;
    size_t size() const { return raw.size(); }
    char16_t operator[](size_t i) const { return FoldAscii(raw[i]); }
};

// The sort key of a folded name: units below 0x80 as one byte, the others as three bytes that
// start at 0x80 or above, so that comparing keys byte-wise orders them as their units.
void AppendKeyUnit(std::string& key, char16_t unit) {
    if (unit < 0x80) {
        key.push_back(static_cast<char>(unit));
        return;
    }
    key.push_back(static_cast<char>(0x80 | (unit >> 14)));
    key.push_back(static_cast<char>((unit >> 7) & 0x7F));
    key.push_back(static_cast<char>(unit & 0x7F));
}

int CompareBytes(std::string_view a, std::string_view b) {
    const int byBytes = memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
    if (byBytes != 0)
        return byBytes;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

struct DirCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};

// Memory of finished searches, handed to the next one: a big folder is searched again and again,
// and fresh memory costs a page fault per page.
template <typename T>
class Spare {
  public:
    static T Take() {
        std::lock_guard lock(mutex_);
        if (spares_.empty())
            return T{};
        T taken = std::move(spares_.back());
        spares_.pop_back();
        return taken;
    }
    static void Give(T&& spare) {
        std::lock_guard lock(mutex_);
        if (spares_.size() < kKept)
            spares_.push_back(std::move(spare));
    }

  private:
    static constexpr size_t kKept = 2;
    static inline std::mutex mutex_;
    static inline std::vector<T> spares_;
};

// The names of the last folder a wildcard search read, so that the next search of the same
// folder (the catalogue searches each folder once per tone extension) does not read it again: a
// pass over a folder costs the kernel about 0.4 us a name. Used only while the folder is as it
// was, which its modification time shows once that time is older than the clock's tick (a
// change within the tick of the reading might leave it the same); kept for folders of a few
// thousand names only, so that it costs little memory.
class LastListing {
  public:
    // The names, each followed by a NUL, when `folder` is the folder read last and unchanged.
    static std::optional<std::string> Names(const struct stat& folder) {
        std::lock_guard lock(mutex_);
        if (!kept_ || !Same(folder, kept_->folder))
            return std::nullopt;
        return kept_->names;
    }

    static void Keep(const struct stat& folder, std::string names) {
        std::lock_guard lock(mutex_);
        kept_.reset();
        timespec now;
        clock_gettime(CLOCK_REALTIME, &now);
        const int64_t age = (now.tv_sec - folder.st_mtim.tv_sec) * 1000000000LL +
                            (now.tv_nsec - folder.st_mtim.tv_nsec);
        // A time in whole seconds may come from a file system that keeps nothing finer (FAT
        // keeps two).
        const int64_t tick = folder.st_mtim.tv_nsec == 0 ? kCoarseTick : kTick;
        if (Fits(names.size()) && age > tick)
            kept_ = Kept{folder, std::move(names)};
    }

    static bool Fits(size_t size) { return size <= kLargest; }

  private:
    static constexpr size_t kLargest = 64 * 1024;
    static constexpr int64_t kTick = 50 * 1000000LL;
    static constexpr int64_t kCoarseTick = 2100 * 1000000LL;

    struct Kept {
        struct stat folder;
        std::string names;
    };

    static bool Same(const struct stat& a, const struct stat& b) {
        return a.st_dev == b.st_dev && a.st_ino == b.st_ino &&
               a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
               a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
    }

    static inline std::mutex mutex_;
    static inline std::optional<Kept> kept_;
};

using Block = std::unique_ptr<char[]>;
using Blocks = std::vector<Block>;

// Holds the texts of one search in big blocks; what it stores never moves.
class Arena {
  public:
    Arena() : spare_(Spare<Blocks>::Take()) {}
    ~Arena() {
        for (Block& block : used_)
            spare_.push_back(std::move(block));
        Spare<Blocks>::Give(std::move(spare_));
    }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Copies `a` with a NUL and leaves room for `room` more bytes and their NUL right after it;
    // returns where `a` starts.
    char* Store(std::string_view a, size_t room) {
        const size_t size = a.size() + room + 2;
        if (size > left_)
            NewBlock(size);
        char* stored = next_;
        memcpy(stored, a.data(), a.size());
        stored[a.size()] = '\0';
        stored[size - 1] = '\0';
        next_ += size;
        left_ -= size;
        return stored;
    }

  private:
    static constexpr size_t kBlockSize = 256 * 1024;

    void NewBlock(size_t size) {
        if (size <= kBlockSize && !spare_.empty()) {
            used_.push_back(std::move(spare_.back()));
            spare_.pop_back();
            left_ = kBlockSize;
        } else {
            left_ = std::max(kBlockSize, size);
            used_.push_back(std::make_unique_for_overwrite<char[]>(left_));
        }
        next_ = used_.back().get();
    }

    Blocks spare_;
    Blocks used_;
    char* next_ = nullptr;
    size_t left_ = 0;
};

// What a search tells about one entry, apart from its name.
struct Metadata {
    uint32_t mode;
    uint64_t size;
    FILETIME creation;
    FILETIME access;
    FILETIME write;
};

FILETIME ToFileTime(const statx_timestamp& t) {
    // FILETIME counts 100 ns steps since 1601-01-01; Unix time starts 11644473600 s later.
    const int64_t ticks = (t.tv_sec + INT64_C(11644473600)) * 10000000 + t.tv_nsec / 100;
    const uint64_t value = ticks < 0 ? 0 : static_cast<uint64_t>(ticks);
    return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFF), static_cast<DWORD>(value >> 32)};
}

// Reads an entry's metadata; false when the entry no longer exists.
bool ReadMetadata(int folderFd, const char* name, Metadata& metadata) {
    struct statx info;
    constexpr unsigned kMask =
        STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
    // A link is described by its target; a dangling link by the link itself.
    if (statx(folderFd, name, AT_STATX_SYNC_AS_STAT, kMask, &info) != 0 &&
        statx(folderFd, name, AT_SYMLINK_NOFOLLOW | AT_STATX_SYNC_AS_STAT, kMask, &info) != 0) {
        return false;
    }
    metadata.mode = info.stx_mode;
    metadata.size = info.stx_size;
    metadata.access = ToFileTime(info.stx_atime);
    metadata.write = ToFileTime(info.stx_mtime);
    // Without a birth time the last write is the latest the file can have been created.
    metadata.creation = ToFileTime((info.stx_mask & STATX_BTIME) ? info.stx_btime : info.stx_mtime);
    return true;
}

// How far ahead passes over sorted entries fetch what they will read: after sorting, each entry's
// text lies somewhere else in memory.
constexpr ptrdiff_t kAhead = 8;

// One found entry. Its host name and, after it, its sort key live in the search's arena.
struct Entry {
    uint64_t chunk;  // eight bytes of the key, big-endian, while sorting
    const char* raw;
    uint16_t rawLength;
    uint16_t keyLength;
    bool ascii;  // then the name's units are its bytes

    std::string_view Raw() const { return std::string_view(raw, rawLength); }
    std::string_view Key() const { return std::string_view(raw + rawLength + 1, keyLength); }
};

bool EntryLess(const Entry& a, const Entry& b) {
    const int byKey = CompareBytes(a.Key(), b.Key());
    return byKey != 0 ? byKey < 0 : CompareBytes(a.Raw(), b.Raw()) < 0;
}

uint64_t KeyChunk(const Entry& entry, size_t depth) {
    const std::string_view key = entry.Key();
    if (depth + 8 <= key.size()) {
        uint64_t chunk;
        memcpy(&chunk, key.data() + depth, 8);
        return __builtin_bswap64(chunk);
    }
    uint64_t chunk = 0;
    for (size_t i = 0; i < 8; ++i) {
        const size_t at = depth + i;
        chunk = (chunk << 8) | (at < key.size() ? static_cast<unsigned char>(key[at]) : 0);
    }
    return chunk;
}

// Sorts by key, then raw name, comparing keys eight bytes at a time as numbers: names that share
// a long start ("Tone 0001", "Tone 0002" ...) cost one pass per eight shared bytes, not one full
// comparison of text per step of the sort.
void SortEntries(Entry* first, Entry* last, size_t depth) {
    for (Entry* e = first; e != last; ++e) {
        if (last - e > kAhead)
            __builtin_prefetch(e[kAhead].Key().data() +
                               std::min<size_t>(depth, e[kAhead].keyLength));
        e->chunk = KeyChunk(*e, depth);
    }
    std::sort(first, last, [](const Entry& a, const Entry& b) { return a.chunk < b.chunk; });
    for (Entry* group = first; group != last;) {
        Entry* end = group + 1;
        bool longer = group->keyLength > depth + 8;
        for (; end != last && end->chunk == group->chunk; ++end)
            longer = longer || end->keyLength > depth + 8;
        if (end - group > 1) {
            if (longer)
                SortEntries(group, end, depth + 8);
            else
                std::sort(group, end, EntryLess);
        }
        group = end;
    }
}

// One search: the entries that matched, sorted, with their metadata as they were when the search
// started (as Win32 searches report what the folder held when it was read).
class Search {
  public:
    Search()
        : entries_(Spare<std::vector<Entry>>::Take()),
          metadata_(Spare<std::vector<Metadata>>::Take()) {}
    ~Search() {
        entries_.clear();
        metadata_.clear();
        Spare<std::vector<Entry>>::Give(std::move(entries_));
        Spare<std::vector<Metadata>>::Give(std::move(metadata_));
    }
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // Keeps the host entry when its name matches the folded pattern.
    void AddIfMatches(std::string_view raw, const text::FoldedPattern& pattern);
    void Add(std::string_view raw);
    // Sorts the entries and reads their metadata from the folder, dropping those that are gone.
    void Finish(int folderFd);
    // Fills `data` with the next entry; false when none is left.
    bool Next(WIN32_FIND_DATAW& data);

  private:
    void Keep(std::string_view raw, std::u16string_view foldedName);

    Arena arena_;
    std::string key_;
    std::vector<Entry> entries_;
    std::vector<Metadata> metadata_;
    size_t next_ = 0;
};

void Search::AddIfMatches(std::string_view raw, const text::FoldedPattern& pattern) {
    if (IsAscii(raw)) {
        if (pattern.Matches(AsciiFolded{raw}))
            Keep(raw, {});
        return;
    }
    // Bytes that are not UTF-8 become lone surrogates, which map back to the same bytes.
    const std::u16string folded = text::Fold(text::FromUtf8(raw));
    if (pattern.Matches(folded))
        Keep(raw, folded);
}

void Search::Add(std::string_view raw) {
    Keep(raw, text::Fold(text::FromUtf8(raw)));
}

// `foldedName` is empty for ASCII names, whose folded form is read from `raw`.
void Search::Keep(std::string_view raw, std::u16string_view foldedName) {
    if (!device::PhoneCanHoldName(raw)) {
        debug::Write(
            "FindFirstFile: skipped a name no phone can hold: " + device::EscapedName(raw) + "\n");
        return;
    }
    const size_t units = foldedName.empty() ? raw.size() : foldedName.size();
    if (!files::NameFitsFindData(units)) {
        debug::Write("FindFirstFile: skipped a name too long for cFileName: " + std::string(raw) +
                     "\n");
        return;
    }
    // Host names are at most NAME_MAX (255) bytes; their keys at most three times that.
    char* stored = nullptr;
    size_t keyLength = raw.size();
    if (foldedName.empty()) {
        stored = arena_.Store(raw, keyLength);
        char* key = stored + raw.size() + 1;
        for (size_t i = 0; i < raw.size(); ++i)
            key[i] = static_cast<char>(FoldAscii(raw[i]));
    } else {
        key_.clear();
        for (const char16_t unit : foldedName)
            AppendKeyUnit(key_, unit);
        keyLength = key_.size();
        stored = arena_.Store(raw, keyLength);
        memcpy(stored + raw.size() + 1, key_.data(), keyLength);
    }
    entries_.push_back(Entry{0, stored, static_cast<uint16_t>(raw.size()),
                             static_cast<uint16_t>(keyLength), foldedName.empty()});
}

void Search::Finish(int folderFd) {
    SortEntries(entries_.data(), entries_.data() + entries_.size(), 0);
    metadata_.resize(entries_.size());
    size_t kept = 0;
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (!ReadMetadata(folderFd, entries_[i].raw, metadata_[kept]))
            continue;  // gone since the folder was read
        entries_[kept++] = entries_[i];
    }
    entries_.resize(kept);
    metadata_.resize(kept);
}

bool Search::Next(WIN32_FIND_DATAW& data) {
    if (next_ >= entries_.size())
        return false;
    const Entry& entry = entries_[next_];
    const Metadata& metadata = metadata_[next_];
    ++next_;
    if (next_ + kAhead < entries_.size())
        __builtin_prefetch(entries_[next_ + kAhead].raw);

    const bool folder = S_ISDIR(metadata.mode);
    DWORD attributes = 0;
    if (folder)
        attributes |= FILE_ATTRIBUTE_DIRECTORY;
    if ((metadata.mode & S_IWUSR) == 0)
        attributes |= FILE_ATTRIBUTE_READONLY;
    if (entry.raw[0] == '.')
        attributes |= FILE_ATTRIBUTE_HIDDEN;
    // Win32 rule: FILE_ATTRIBUTE_NORMAL is only ever given alone.
    data.dwFileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    data.ftCreationTime = metadata.creation;
    data.ftLastAccessTime = metadata.access;
    data.ftLastWriteTime = metadata.write;
    const uint64_t size = folder ? 0 : metadata.size;
    data.nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data.nFileSizeLow = static_cast<DWORD>(size & 0xFFFFFFFF);
    data.dwReserved0 = 0;
    data.dwReserved1 = 0;
    const std::string_view raw = entry.Raw();
    size_t length = 0;
    if (entry.ascii) {
        for (const char c : raw)
            data.cFileName[length++] = static_cast<char16_t>(c);
    } else {
        const std::u16string name = text::FromUtf8(raw);
        length = std::min(name.size(), size_t{MAX_PATH - 1});  // checked when kept
        std::copy_n(name.begin(), length, data.cFileName);
    }
    data.cFileName[length] = u'\0';
    data.cAlternateFileName[0] = u'\0';
    return true;
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

HANDLE Fail(DWORD error) {
    SetLastError(error);
    return INVALID_HANDLE_VALUE;
}

}  // namespace

extern "C" HANDLE WINAPI FindFirstFileW(LPCWSTR lpFileName, LPWIN32_FIND_DATAW lpFindFileData) {
    if (lpFileName == nullptr || lpFindFileData == nullptr)
        return Fail(ERROR_INVALID_PARAMETER);
    device::ProvisionOnce();

    const std::u16string_view pattern(lpFileName, text::Length(lpFileName));
    // Two separators first name a network share ("\\server\share\"): the phone has none.
    if (pattern.size() >= 2 && IsSeparator(pattern[0]) && IsSeparator(pattern[1]))
        return Fail(ERROR_PATH_NOT_FOUND);
    size_t split = pattern.size();
    while (split > 0 && !IsSeparator(pattern[split - 1]))
        --split;
    const std::u16string_view folderPath = pattern.substr(0, split);
    const std::u16string_view namePattern = pattern.substr(split);
    if (HasWildcard(folderPath))
        return Fail(ERROR_INVALID_NAME);

    const std::filesystem::path hostFolder = device::HostPath(folderPath);
    const std::unique_ptr<DIR, DirCloser> dir(opendir(hostFolder.c_str()));
    if (!dir)
        return Fail(errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_PATH_NOT_FOUND);
    // "." and ".." are not entries of the phone's file system.
    if (namePattern.empty() || namePattern == u"." || namePattern == u"..")
        return Fail(ERROR_FILE_NOT_FOUND);

    auto search = std::make_shared<Search>();
    if (HasWildcard(namePattern)) {
        const std::u16string folded = text::Fold(namePattern);
        const text::FoldedPattern foldedPattern(folded);
        struct stat folder;
        const bool known = fstat(dirfd(dir.get()), &folder) == 0;
        if (const std::optional<std::string> names =
                known ? LastListing::Names(folder) : std::nullopt) {
            for (size_t at = 0; at < names->size();) {
                const std::string_view name(names->data() + at);
                search->AddIfMatches(name, foldedPattern);
                at += name.size() + 1;
            }
        } else {
            std::string read;
            bool whole = known;
            while (const dirent* entry = readdir(dir.get())) {
                const char* name = entry->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                    continue;
                search->AddIfMatches(name, foldedPattern);
                whole = whole && LastListing::Fits(read.size() + strlen(name) + 1);
                if (whole)
                    read.append(name, strlen(name) + 1);
            }
            if (whole)
                LastListing::Keep(folder, std::move(read));
        }
    } else {
        // The one entry the name stands for, found as any device path is.
        const std::filesystem::path host = device::HostPath(pattern);
        struct stat info;
        if (lstat(host.c_str(), &info) == 0)
            search->Add(host.filename().native());
    }
    search->Finish(dirfd(dir.get()));

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

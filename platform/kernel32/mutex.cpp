// Named mutexes (CreateMutexW) as locks on files of the device folder, and CloseHandle.
#include <windows.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <unordered_map>

#include "device/device_folder.h"
#include "platform/testing/process.h"
#include "base/text.h"

namespace {

// Longest object name Windows takes.
constexpr size_t kMaxNameUnits = MAX_PATH;
// Encoded names are cut into folder levels of this many bytes, below the host's name limit.
constexpr size_t kChunkBytes = 200;

bool IsPlain(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') ||
           c == u'_' || c == u'-';
}

// The lock file of a name, relative to the device's run/ folder. Letters, digits, '_' and '-'
// stay; every other unit becomes '%' and four hex digits, so the result holds no '/' and no '.',
// and two names never share a file. Object names are case-sensitive, as on Windows.
std::filesystem::path LockFileOf(std::u16string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char16_t c : name) {
        if (IsPlain(c)) {
            encoded += static_cast<char>(c);
            continue;
        }
        encoded += '%';
        for (int shift = 12; shift >= 0; shift -= 4)
            encoded += kHex[(c >> shift) & 0xF];
    }
    std::filesystem::path file = "mutex";
    while (encoded.size() > kChunkBytes) {
        file /= encoded.substr(0, kChunkBytes);
        encoded.erase(0, kChunkBytes);
    }
    return file / (encoded + ".lock");
}

class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1) {
        if (fd_ >= 0)
            close(fd_);
        fd_ = fd;
    }

  private:
    int fd_;
};

// One mutex object of this process, shared by all of its handles. A named one holds a read lock
// on its file for as long as it lives: the file's name exists while some process has a handle.
struct MutexObject {
    std::string lockFile;  // empty for an unnamed mutex
    UniqueFd fd;
};

// Handles are ids into this table, never pointers, and an id is never used twice, so a stale or
// made-up handle is only ever "not found".
class MutexTable {
  public:
    std::mutex mutex;
    uintptr_t nextId = 0x3C10000;
    std::unordered_map<uintptr_t, std::shared_ptr<MutexObject>> handles;
    std::unordered_map<std::string, std::weak_ptr<MutexObject>> names;

    HANDLE Insert(std::shared_ptr<MutexObject> object) {
        nextId += 4;
        handles.emplace(nextId, std::move(object));
        return reinterpret_cast<HANDLE>(nextId);
    }
};

MutexTable& Table() {
    static MutexTable table;
    return table;
}

// A forked child starts without the parent's mutexes: it closes its copies of the lock files,
// which leaves the parent's locks in place (an OFD lock lives until its last descriptor closes).
void LockBeforeFork() {
    Table().mutex.lock();
}
void UnlockInParent() {
    Table().mutex.unlock();
}
void ForgetInChild() {
    MutexTable& table = Table();
    table.handles.clear();
    table.names.clear();
    table.mutex.unlock();
}

MutexTable& TableForUse() {
    static const bool registered =
        pthread_atfork(LockBeforeFork, UnlockInParent, ForgetInChild) == 0;
    (void)registered;
    return Table();
}

DWORD ErrorOf(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return ERROR_ACCESS_DENIED;
        case ENAMETOOLONG:
            return ERROR_FILENAME_EXCED_RANGE;
        case ENOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        default:
            return ERROR_PATH_NOT_FOUND;
    }
}

bool SetLock(int fd, short type, bool wait) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file
    while (fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Opens the name's lock file and takes a read lock on it. `created` tells whether no other
// process had it: the write lock that proves it is held only for an instant and turned into the
// read lock in place (an atomic conversion), so among processes racing for a free name exactly
// one sees it free.
DWORD OpenNamed(const std::filesystem::path& lockFile, MutexObject& object, bool& created) {
    std::error_code error;
    std::filesystem::create_directories(lockFile.parent_path(), error);
    if (error)
        return ErrorOf(error.value());
    object.fd.Reset(
        open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY, 0600));
    if (object.fd.Get() < 0)
        return ErrorOf(errno);
    if (SetLock(object.fd.Get(), F_WRLCK, false)) {
        created = true;
    } else if (errno == EAGAIN || errno == EACCES) {
        created = false;
    } else {
        return ErrorOf(errno);
    }
    // Someone else's write lock lasts only until its conversion, so this wait is short.
    if (!SetLock(object.fd.Get(), F_RDLCK, !created))
        return ErrorOf(errno);
    return ERROR_SUCCESS;
}

}  // namespace

extern "C" HANDLE WINAPI CreateMutexW(LPSECURITY_ATTRIBUTES lpMutexAttributes, BOOL bInitialOwner,
                                      LPCWSTR lpName) {
    // Ownership is not tracked: the mutex marks a running copy and is never waited on.
    MutexTable& table = TableForUse();
    const std::u16string_view name(lpName, text::Length(lpName));
    if (name.empty()) {
        std::lock_guard lock(table.mutex);
        SetLastError(ERROR_SUCCESS);
        return table.Insert(std::make_shared<MutexObject>());
    }
    if (name.size() > kMaxNameUnits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }

    const std::filesystem::path lockFile = device::Folder() / "run" / LockFileOf(name);
    std::lock_guard lock(table.mutex);
    const auto known = table.names.find(lockFile.native());
    if (known != table.names.end()) {
        if (std::shared_ptr<MutexObject> object = known->second.lock()) {
            SetLastError(ERROR_ALREADY_EXISTS);
            return table.Insert(std::move(object));
        }
        table.names.erase(known);
    }

    auto object = std::make_shared<MutexObject>();
    object->lockFile = lockFile.native();
    bool created = false;
    const DWORD error = OpenNamed(lockFile, *object, created);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return nullptr;
    }
    table.names[object->lockFile] = object;
    SetLastError(created ? ERROR_SUCCESS : ERROR_ALREADY_EXISTS);
    return table.Insert(std::move(object));
}

extern "C" BOOL WINAPI CloseHandle(HANDLE hObject) {
    std::shared_ptr<MutexObject> object;  // released after the table's lock
    MutexTable& table = TableForUse();
    std::lock_guard lock(table.mutex);
    const auto it = table.handles.find(reinterpret_cast<uintptr_t>(hObject));
    if (it == table.handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object = std::move(it->second);
    table.handles.erase(it);
    return TRUE;
}

namespace platform {

void CloseAllMutexesForTesting() {
    MutexTable& table = TableForUse();
    std::unordered_map<uintptr_t, std::shared_ptr<MutexObject>> closed;
    std::lock_guard lock(table.mutex);
    closed.swap(table.handles);
    table.names.clear();
}

}  // namespace platform

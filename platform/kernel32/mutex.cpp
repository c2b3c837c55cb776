// Named mutexes (CreateMutexW) as locks on files of the device folder, and CloseHandle.
#include <windows.h>

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "device/beneath.h"
#include "device/device_folder.h"
#include "platform/kernel32/mutex.h"
#include "platform/kernel32/mutex_table.h"
#include "base/text.h"

using namespace mutexes;

namespace {

// Longest object name Windows takes.
constexpr size_t kMaxNameUnits = MAX_PATH;
// Encoded names are cut into folder levels of this many bytes, below the host's name limit.
constexpr size_t kChunkBytes = 200;
// How long a lock of another process may stop this one's before it counts as a stranger's.
constexpr std::chrono::milliseconds kStrangerPatience{3000};

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

}  // namespace

namespace mutexes {

MutexTable& TableForUse() {
    static const bool registered =
        pthread_atfork(LockBeforeFork, UnlockInParent, ForgetInChild) == 0;
    (void)registered;
    return Table();
}

}  // namespace mutexes

namespace {

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

bool SetLock(int fd, short type) {
    struct flock lock = {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file
    while (fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR)
            return false;
    }
    return true;
}

// Takes the lock unless another process holds one that stops it for longer than `patience`.
bool SetLockWithin(int fd, short type, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    std::chrono::milliseconds pause{1};
    while (!SetLock(fd, type)) {
        if ((errno != EAGAIN && errno != EACCES) || std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(50));
    }
    return true;
}

// Why the last named mutex could not be made, for the person who started the program.
std::string lastProblem;

DWORD Refuse(DWORD error, const std::string& problem) {
    lastProblem = problem;
    return error;
}

// Opens the name's lock file and takes a read lock on it. `created` tells whether no other
// process had it: the write lock that proves it is held only for an instant and turned into the
// read lock in place (an atomic conversion), so among processes racing for a free name exactly
// one sees it free. A lock file that is a link, a folder or anything but a file, or one that
// another program keeps locked, is refused with the reason in lastProblem.
DWORD OpenNamed(const std::filesystem::path& lockFile, MutexObject& object, bool& created) {
    const std::filesystem::path relative = lockFile.lexically_relative(device::Folder());
    const std::string shown = relative.string();
    object.fd = device::OpenBeneath(device::Folder(), relative,
                                    O_RDWR | O_CREAT | O_NOFOLLOW | O_NOCTTY, 0600);
    struct stat info {};
    if (object.fd.Get() < 0) {
        const int error = errno;
        if (error == ELOOP)
            return Refuse(ERROR_INVALID_HANDLE, shown + " is a link, not a lock file");
        if (error == EISDIR)
            return Refuse(ERROR_INVALID_HANDLE, shown + " is a folder, not a lock file");
        return Refuse(ErrorOf(error), shown + ": " + device::DescribeOpenError(error));
    }
    if (fstat(object.fd.Get(), &info) != 0 || !S_ISREG(info.st_mode))
        return Refuse(ERROR_INVALID_HANDLE, shown + " is not a lock file");
    if (SetLock(object.fd.Get(), F_WRLCK)) {
        created = true;
    } else if (errno == EAGAIN || errno == EACCES) {
        created = false;
    } else {
        return Refuse(ErrorOf(errno), shown + ": " + strerror(errno));
    }
    // Another copy's write lock lasts only until its conversion; one held longer is a stranger's.
    if (!SetLockWithin(object.fd.Get(), F_RDLCK,
                       created ? std::chrono::milliseconds{} : kStrangerPatience)) {
        if (errno != EAGAIN && errno != EACCES)
            return Refuse(ErrorOf(errno), shown + ": " + strerror(errno));
        struct flock holder = {};
        holder.l_type = F_RDLCK;
        holder.l_whence = SEEK_SET;
        const bool known = fcntl(object.fd.Get(), F_GETLK, &holder) == 0 && holder.l_pid > 0;
        return Refuse(ERROR_ACCESS_DENIED,
                      shown + " is locked by another program" +
                          (known ? " (process " + std::to_string(holder.l_pid) + ")" : ""));
    }
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
    lastProblem.clear();
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

std::string NamedMutexProblem() {
    std::lock_guard lock(TableForUse().mutex);
    return lastProblem;
}

bool NamedMutexSharedWithAnotherProcess() {
    MutexTable& table = TableForUse();
    std::lock_guard lock(table.mutex);
    for (const auto& [name, known] : table.names) {
        const std::shared_ptr<MutexObject> object = known.lock();
        if (!object || object->fd.Get() < 0)
            continue;
        // Asks which lock would stop a write lock: only other processes' locks count.
        struct flock probe = {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        if (fcntl(object->fd.Get(), F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK)
            return true;
    }
    return false;
}

}  // namespace platform

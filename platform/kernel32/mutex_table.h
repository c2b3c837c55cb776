// The table of this process's mutex objects, kept by mutex.cpp and emptied by the test library.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include <windows.h>

#include "device/beneath.h"

namespace mutexes {

// One mutex object of this process, shared by all of its handles. A named one holds a read lock
// on its file for as long as it lives: the file's name exists while some process has a handle.
struct MutexObject {
    std::string lockFile;  // empty for an unnamed mutex
    device::UniqueFd fd;
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

// The table, with the fork handlers that keep a forked child from holding its parent's names.
MutexTable& TableForUse();

}  // namespace mutexes

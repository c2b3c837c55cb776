// The registry store's process-wide state, kept by registry_store.cpp and reset by the test
// library.
#pragma once

#include <windows.h>

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace device::registry::state {

// The ids of one key's sub-keys or values in order, read at the first index asked for and kept
// while the registry stays as it was, so that enumerating a key reads its list once.
struct Listing {
    int64_t key = 0;
    // SQLite's count of changes to the file, by this connection or any other, as of the last
    // statement; an empty listing (key 0) is never valid.
    unsigned dataVersion = 0;
    std::vector<int64_t> ids;
};

// The open database and its statements, prepared when it opens (one per kind of operation).
struct Database {
    sqlite3* db = nullptr;
    std::vector<sqlite3_stmt*> statements;
    Listing subKeys;
    Listing values;

    Database() = default;
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    ~Database() {
        for (sqlite3_stmt* statement : statements)
            sqlite3_finalize(statement);
        sqlite3_close(db);
    }
};

// Guards everything below.
extern std::mutex storeMutex;
extern std::unique_ptr<Database> database;
// A failure to open (or damage found later) is remembered: the calls keep failing with it, and
// its debug line is written once.
extern LONG failure;
// Grows each time the database is closed, so that handles opened before become invalid.
extern std::atomic<uint64_t> generation;
// When set, runs inside every write transaction just before its COMMIT.
extern std::function<void()> beforeCommitHook;

}  // namespace device::registry::state

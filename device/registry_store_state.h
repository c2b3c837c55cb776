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

// The open database and its statements, prepared when it opens (one per kind of operation).
struct Database {
    sqlite3* db = nullptr;
    std::vector<sqlite3_stmt*> statements;

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

// The registry database: its SQLite schema, opening with checks, and each operation as one
// statement or one transaction.
#include "device/registry_store.h"
#include "device/registry_store_state.h"

#include <windows.h>

#include <fcntl.h>
#include <sqlite3.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "device/device_folder.h"
#include "device/phone_values.h"
#include "base/debug.h"
#include "base/text.h"

namespace device {
namespace registry {

namespace state {

std::mutex storeMutex;
std::unique_ptr<Database> database;
LONG failure = ERROR_SUCCESS;
std::atomic<uint64_t> generation{1};
std::function<void()> beforeCommitHook;

}  // namespace state

using namespace state;

namespace {

// Written into the SQLite header (offsets 68 and 60), so that a foreign database is recognised
// before SQLite is let near it.
constexpr uint32_t kApplicationId = 0x54617652;  // "TavR"
constexpr uint32_t kSchemaVersion = 1;

// See ShareReads().
bool shareReads = false;

// The waits for another program's write, one limit for all the calls of one run (until
// EndReads): when the first wait began, and whether a call is waiting now (the observer knows).
std::optional<std::chrono::steady_clock::time_point> firstWait;
bool waiting = false;
std::function<void(bool)> waitObserver;

// SQLite's busy handler: another program holds the lock. Waits a moment and says to try again,
// until the run's limit has gone by; after that every call of the run fails at once.
int OnBusy(void*, int) {
    const auto now = std::chrono::steady_clock::now();
    if (!firstWait)
        firstWait = now;
    if (now - *firstWait >= std::chrono::seconds(kBusyTimeoutSeconds))
        return 0;
    if (!waiting) {
        waiting = true;
        if (waitObserver)
            waitObserver(true);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 1;
}

// A call that waited tells the observer that the wait is over, however it ended.
void EndWait() {
    if (std::exchange(waiting, false) && waitObserver)
        waitObserver(false);
}

// Names are stored as UTF-16LE blobs (a lone surrogate survives) beside their folded form, which
// alone is compared. Ids grow only (AUTOINCREMENT), so a handle to a deleted key can never find a
// newer key in its place. The roots have negative parents so that they are nobody's sub-key.
constexpr const char* kSchema = R"sql(
BEGIN;
CREATE TABLE keys(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER NOT NULL,
    name BLOB NOT NULL,
    folded BLOB NOT NULL,
    written INTEGER NOT NULL,
    UNIQUE(parent, folded));
CREATE TABLE vals(
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    key INTEGER NOT NULL,
    name BLOB NOT NULL,
    folded BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, folded));
INSERT INTO keys(id, parent, name, folded, written) VALUES (1, -1, X'', X'', 0);
INSERT INTO keys(id, parent, name, folded, written) VALUES (2, -2, X'', X'', 0);
PRAGMA application_id = 1415673426;
PRAGMA user_version = 1;
COMMIT;
)sql";

enum Sql {
    kBegin,
    kCommit,
    kRollback,
    kKeyExists,
    kFindChild,
    kInsertKey,
    kTouchKey,
    kChildIds,
    kChildById,
    kHasChild,
    kGetValue,
    kValueIds,
    kValueById,
    kSetValue,
    kAddValue,
    kDeleteValue,
    kDeleteTreeValues,
    kDeleteTreeKeys,
    kSqlCount
};

// Each statement is prepared on its first use (a start uses a few); the tables were checked when
// the database opened, so each prepares.
constexpr std::array<const char*, kSqlCount> kSql = {
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
    "SELECT 1 FROM keys WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 AND folded = ?2",
    "INSERT INTO keys(parent, name, folded, written) VALUES (?1, ?2, ?3, ?4)",
    "UPDATE keys SET written = ?2 WHERE id = ?1",
    "SELECT id FROM keys WHERE parent = ?1 ORDER BY id",
    "SELECT name, written FROM keys WHERE id = ?1",
    "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1",
    "SELECT name, type, data FROM vals WHERE key = ?1 AND folded = ?2",
    "SELECT id FROM vals WHERE key = ?1 ORDER BY id",
    "SELECT name, type, data FROM vals WHERE id = ?1",
    "INSERT INTO vals(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO UPDATE SET type = excluded.type, data = excluded.data",
    "INSERT INTO vals(key, name, folded, type, data) VALUES (?1, ?2, ?3, ?4, ?5) "
    "ON CONFLICT(key, folded) DO NOTHING",
    "DELETE FROM vals WHERE key = ?1 AND folded = ?2",
    "WITH RECURSIVE tree(id) AS (VALUES (?1) UNION ALL "
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
    "DELETE FROM vals WHERE key IN tree",
    "WITH RECURSIVE tree(id) AS (VALUES (?1) UNION ALL "
    "SELECT keys.id FROM keys JOIN tree ON keys.parent = tree.id) "
    "DELETE FROM keys WHERE id IN tree AND (?2 OR id <> ?1)",
};

std::string FileName() {
    return RegistryFile().string();
}

void Report(const std::string& problem) {
    debug::Write("registry: " + FileName() + ": " + problem + "\n");
}

std::string ToBytes(std::u16string_view s) {
    std::string bytes;
    bytes.reserve(s.size() * 2);
    for (char16_t c : s) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

std::u16string FromBytes(const void* data, int size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::u16string s;
    s.reserve(size / 2);
    for (int i = 0; i + 1 < size; i += 2)
        s.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    return s;
}

// FILETIME counts 100 ns steps since 1601-01-01.
int64_t Now() {
    const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(sinceEpoch).count() / 100 +
           116444736000000000LL;
}

// Maps an SQLite result to a Win32 code; anything but success gets its debug line, and damage
// closes the registry for the rest of the process.
LONG Check(int rc) {
    if (rc == SQLITE_OK || rc == SQLITE_ROW || rc == SQLITE_DONE)
        return ERROR_SUCCESS;
    const std::string message =
        database ? sqlite3_errmsg(database->db) : std::string(sqlite3_errstr(rc));
    switch (rc & 0xFF) {
        case SQLITE_CORRUPT:
        case SQLITE_NOTADB:
            Report("damaged (" + message + "); left as it is");
            failure = ERROR_REGISTRY_CORRUPT;
            return failure;
        case SQLITE_NOMEM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SQLITE_BUSY:
            // Not a fault of the registry: the caller says it waited in vain.
            return ERROR_BUSY;
        case SQLITE_READONLY:
        case SQLITE_PERM:
        case SQLITE_FULL:
            Report("cannot be written (" + message + ")");
            return ERROR_CANTWRITE;
        case SQLITE_CANTOPEN:
            Report("cannot be opened (" + message + ")");
            return ERROR_CANTOPEN;
        default:
            Report("failed (" + message + ")");
            return ERROR_REGISTRY_IO_FAILED;
    }
}

// One use of a prepared statement; it is reset for the next use when this ends.
class Query {
  public:
    explicit Query(Sql which) : statement_(database->statements[which]) {
        if (statement_ == nullptr) {
            sqlite3_prepare_v3(database->db, kSql[which], -1, SQLITE_PREPARE_PERSISTENT,
                               &statement_, nullptr);
            database->statements[which] = statement_;
        }
    }
    explicit Query(sqlite3_stmt* statement) : statement_(statement) {}
    ~Query() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, int64_t value) {
        sqlite3_bind_int64(statement_, index, value);
        return *this;
    }
    // A non-null pointer keeps an empty blob from becoming NULL.
    Query& Bind(int index, std::span<const BYTE> bytes) {
        sqlite3_bind_blob(statement_, index,
                          bytes.empty() ? "" : static_cast<const void*>(bytes.data()),
                          static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Query& Bind(int index, const std::string& bytes) {
        sqlite3_bind_blob(statement_, index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Query& BindName(int index, std::u16string_view name) { return Bind(index, ToBytes(name)); }
    Query& BindFolded(int index, std::u16string_view name) {
        return Bind(index, ToBytes(text::Fold(name)));
    }

    int Step() { return sqlite3_step(statement_); }
    // Runs a statement that returns no rows.
    LONG Run() { return Check(Step()); }

    int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
    std::u16string Name(int column) {
        const void* blob = sqlite3_column_blob(statement_, column);
        return FromBytes(blob, sqlite3_column_bytes(statement_, column));
    }
    std::vector<BYTE> Data(int column) {
        const auto* blob = static_cast<const BYTE*>(sqlite3_column_blob(statement_, column));
        const int size = sqlite3_column_bytes(statement_, column);
        return blob == nullptr ? std::vector<BYTE>() : std::vector<BYTE>(blob, blob + size);
    }

  private:
    sqlite3_stmt* statement_;
};

// Ends the read transaction that reads share, if one is open; it changed nothing.
void EndSharedRead() {
    if (database && !sqlite3_get_autocommit(database->db))
        sqlite3_exec(database->db, "COMMIT", nullptr, nullptr, nullptr);
}

// A write transaction; rolled back unless committed.
class Transaction {
  public:
    Transaction() = default;
    ~Transaction() {
        if (open_)
            Query(kRollback).Step();
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    LONG Begin() {
        EndSharedRead();
        const LONG result = Query(kBegin).Run();
        open_ = result == ERROR_SUCCESS;
        return result;
    }
    LONG Commit() {
        if (beforeCommitHook)
            beforeCommitHook();
        const LONG result = Query(kCommit).Run();
        if (result == ERROR_SUCCESS)
            open_ = false;
        return result;
    }

  private:
    bool open_ = false;
};

std::string FileKind(mode_t mode) {
    if (S_ISLNK(mode))
        return "a link";
    if (S_ISDIR(mode))
        return "a folder";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "a device";
    return "not a file";
}

uint32_t BigEndian32(const unsigned char* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// Looks at the 100-byte SQLite header with a plain read, so that nothing (no journal, no
// write-ahead log, no header update) happens to a file that is not our registry.
LONG CheckHeader() {
    const std::string file = FileName();
    // Without O_NONBLOCK, opening a FIFO would wait for a writer that never comes. A link is
    // never followed: the registry is a file of the device folder itself.
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    struct stat info {};
    if (fd < 0 ? lstat(file.c_str(), &info) == 0 : fstat(fd, &info) == 0) {
        if (!S_ISREG(info.st_mode)) {
            if (fd >= 0)
                close(fd);
            Report("not a regular file (" + FileKind(info.st_mode) + "); left as it is");
            return ERROR_REGISTRY_CORRUPT;
        }
    }
    if (fd < 0) {
        Report(std::string("cannot be opened (") + strerror(errno) + "); left as it is");
        return ERROR_CANTOPEN;
    }
    std::array<unsigned char, 100> header{};
    size_t got = 0;
    int readError = 0;
    while (got < header.size()) {
        const ssize_t n = read(fd, header.data() + got, header.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            readError = n < 0 ? errno : 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    if (readError != 0) {
        Report(std::string("cannot be read (") + strerror(readError) + "); left as it is");
        return ERROR_CANTREAD;
    }
    if (got < header.size() || memcmp(header.data(), "SQLite format 3", 16) != 0) {
        Report("not an SQLite database (" + std::to_string(info.st_size) +
               " bytes that do not start with its header); left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    const uint32_t applicationId = BigEndian32(&header[68]);
    if (applicationId != kApplicationId) {
        Report("an SQLite database of some other program, not a registry; left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    const uint32_t version = BigEndian32(&header[60]);
    if (version != kSchemaVersion) {
        Report("registry format " + std::to_string(version) + " is not one this program knows; " +
               "left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    // Bytes 18 and 19 are 2 in write-ahead-log mode, which this registry never uses.
    if (header[18] != 1 || header[19] != 1) {
        Report("not in the rollback-journal mode the registry is made in; left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

// The names of a key path such as "ControlPanel\\Sounds\\SMS".
std::vector<std::u16string> KeyNames(std::u16string_view path) {
    std::vector<std::u16string> names;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find(u'\\', start), path.size());
        names.emplace_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

// A REG_SZ as the phone stores it: UTF-16LE with its terminating NUL.
std::string StringData(std::u16string_view text) {
    return ToBytes(text) + std::string(2, '\0');
}

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

Statement Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* statement = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
    return Statement(statement);
}

// The sub-key `name` of `parent` in a new registry, added when missing.
int ChildKey(sqlite3* db, const Statement& find, const Statement& add, int64_t parent,
             std::u16string_view name, int64_t& child) {
    {
        Query query(find.get());
        const int rc = query.Bind(1, parent).BindFolded(2, name).Step();
        if (rc == SQLITE_ROW) {
            child = query.Integer(0);
            return SQLITE_OK;
        }
        if (rc != SQLITE_DONE)
            return rc;
    }
    const int rc = Query(add.get())
                       .Bind(1, parent)
                       .BindName(2, name)
                       .BindFolded(3, name)
                       .Bind(4, Now())
                       .Step();
    child = sqlite3_last_insert_rowid(db);
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Writes the phone's values into a new registry that no other process can see yet.
int WritePhoneValues(sqlite3* db) {
    const Statement findKey = Prepare(db, kSql[kFindChild]);
    const Statement addKey = Prepare(db, kSql[kInsertKey]);
    const Statement addValue = Prepare(db, kSql[kSetValue]);
    if (!findKey || !addKey || !addValue)
        return sqlite3_errcode(db);
    int rc = sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (const PhoneValue& value : kPhoneValues) {
        int64_t key = kCurrentUser;
        for (const std::u16string& name : KeyNames(value.key)) {
            if (rc == SQLITE_OK)
                rc = ChildKey(db, findKey, addKey, key, name, key);
        }
        if (rc != SQLITE_OK)
            return rc;
        rc = Query(addValue.get())
                 .Bind(1, key)
                 .BindName(2, value.name)
                 .BindFolded(3, value.name)
                 .Bind(4, int64_t{REG_SZ})
                 .Bind(5, StringData(value.data))
                 .Step();
        if (rc != SQLITE_DONE)
            return rc;
        rc = SQLITE_OK;
    }
    return sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
}

// Makes a new registry, with the phone's own values, under a temporary name and links it into
// place once complete, so that the registry file, whenever it exists, is a whole database: a
// phone's registry gets its defaults once, when it is made.
LONG CreateDatabase() {
    const std::filesystem::path file = RegistryFile();
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    if (error) {
        Report("cannot create its folder (" + error.message() + ")");
        return ERROR_CANTWRITE;
    }
    std::filesystem::path temporary = file;
    temporary += TemporarySuffix();
    std::filesystem::remove(temporary, error);

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(temporary.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                             nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = WritePhoneValues(db);
    const std::string message = db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    if (rc != SQLITE_OK) {
        std::filesystem::remove(temporary, error);
        Report("cannot be created (" + message + ")");
        return ERROR_CANTWRITE;
    }
    // link() never replaces: when another process made the registry first, its file stays.
    const int linked = link(temporary.c_str(), file.c_str());
    const int linkError = errno;
    std::filesystem::remove(temporary, error);
    if (linked != 0 && linkError != EEXIST) {
        Report(std::string("cannot be created (") + strerror(linkError) + ")");
        return ERROR_CANTWRITE;
    }
    const int folder = open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return ERROR_SUCCESS;
}

std::filesystem::path JournalFile() {
    std::filesystem::path journal = RegistryFile();
    journal += "-journal";
    return journal;
}

// A writer killed before its journal had a header leaves a journal that is not hot: SQLite
// ignores it and would remove it only at the next write. Whoever holds the write lock knows that
// no writer is using it, so it goes now; when another process is writing, it is left to it.
// Called outside any transaction.
void RemoveDeadJournal(sqlite3* db) {
    const std::filesystem::path journal = JournalFile();
    std::error_code error;
    sqlite3_busy_handler(db, nullptr, nullptr);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {
        std::filesystem::remove(journal, error);
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    }
    sqlite3_busy_handler(db, OnBusy, nullptr);
}

// Makes the registry file when there is none, then looks at its header before SQLite may touch it.
LONG PrepareFile() {
    RemoveLeftovers(RegistryFile().parent_path());
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(RegistryFile(), error))) {
        const LONG created = CreateDatabase();
        if (created != ERROR_SUCCESS)
            return created;
    }
    return CheckHeader();
}

LONG Connect(Database& opened) {
    // The store's own lock keeps the connection to one thread at a time: SQLite's need not.
    const int rc = sqlite3_open_v2(
        FileName().c_str(), &opened.db,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        Report(std::string("cannot be opened (") + sqlite3_errstr(rc) + ")");
        return ERROR_CANTOPEN;
    }
    sqlite3_busy_handler(opened.db, OnBusy, nullptr);
    return ERROR_SUCCESS;
}

// The first finding in a row of PRAGMA quick_check, or nothing: its rows may span lines and start
// with a "*** in database ***" heading.
std::string FirstFinding(const std::string& lines) {
    if (lines == "ok")
        return {};
    size_t start = 0;
    while (start < lines.size()) {
        const size_t end = std::min(lines.find('\n', start), lines.size());
        const std::string line = lines.substr(start, end - start);
        if (!line.empty() && line.rfind("***", 0) != 0)
            return line;
        start = end + 1;
    }
    return {};
}

// Checks every page; this first read also rolls back what a process that died inside a write had
// left. Damage gets its debug line, with the first finding: one is enough.
LONG CheckPages(sqlite3* db) {
    std::string damage;
    sqlite3_stmt* check = nullptr;
    int rc = sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr);
    if (rc == SQLITE_OK) {
        while ((rc = sqlite3_step(check)) == SQLITE_ROW) {
            const auto* row = reinterpret_cast<const char*>(sqlite3_column_text(check, 0));
            if (damage.empty())
                damage = FirstFinding(row != nullptr ? row : "");
        }
    }
    const std::string checkMessage = sqlite3_errmsg(db);
    sqlite3_finalize(check);
    if ((rc & 0xFF) == SQLITE_BUSY)
        return Check(rc);
    if (rc != SQLITE_DONE || !damage.empty()) {
        Report("damaged (" + (damage.empty() ? checkMessage : damage) + "); left as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

// The registry's two tables, exactly as it made them: sqlite_schema keeps each CREATE statement
// as it was written.
std::vector<std::string> RegistryTables() {
    std::vector<std::string> tables;
    const std::string_view schema(kSchema);
    for (size_t start = schema.find("CREATE TABLE"); start != std::string_view::npos;
         start = schema.find("CREATE TABLE", start + 1))
        tables.emplace_back(schema.substr(start, schema.find(");", start) + 1 - start));
    return tables;
}

LONG CheckTables(Database& opened) {
    opened.statements.resize(kSqlCount, nullptr);
    sqlite3_stmt* tables = nullptr;
    std::vector<std::string> found;
    if (sqlite3_prepare_v2(opened.db,
                           "SELECT sql FROM sqlite_schema WHERE type = 'table' AND "
                           "name IN ('keys', 'vals') ORDER BY name",
                           -1, &tables, nullptr) == SQLITE_OK) {
        while (sqlite3_step(tables) == SQLITE_ROW) {
            const auto* sql = reinterpret_cast<const char*>(sqlite3_column_text(tables, 0));
            found.emplace_back(sql != nullptr ? sql : "");
        }
    }
    sqlite3_finalize(tables);
    if (found != RegistryTables()) {
        Report(
            "its tables are not the registry's (keys and vals are not as it makes them); left "
            "as it is");
        return ERROR_REGISTRY_CORRUPT;
    }
    return ERROR_SUCCESS;
}

// Opens the database with the store locked, each step in turn; a failure is remembered (see
// `failure`), except a busy registry, which the next call tries again.
LONG OpenLocked() {
    if (failure != ERROR_SUCCESS) {
        database.reset();
        return failure;
    }
    if (database)
        return ERROR_SUCCESS;

    // The registry is a few pages: no page-cache memory is set aside for it up front, where each
    // fresh page would cost a fault; and no statistics of SQLite's memory, which nothing reads and
    // which would take a lock for each allocation. Before SQLite's first use only, so it may
    // refuse later.
    [[maybe_unused]] static const int pageCache =
        sqlite3_config(SQLITE_CONFIG_PAGECACHE, nullptr, 0, 0);
    [[maybe_unused]] static const int memoryStatus = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);

    auto opened = std::make_unique<Database>();
    failure = PrepareFile();
    if (failure == ERROR_SUCCESS)
        failure = Connect(*opened);
    if (failure != ERROR_SUCCESS)
        return failure;
    // Rollback journal (the header check keeps it so) with synchronous=FULL: the journal is on
    // disk before the database is touched, so a crash or power loss at any point leaves the old
    // value or the new one, and at rest the registry is this one file. Set outside any
    // transaction, as SQLite asks; setting it reads the schema.
    sqlite3_exec(opened->db, "PRAGMA synchronous = FULL", nullptr, nullptr, nullptr);
    // The checks read in one transaction, which a run of shared reads goes on with: the file is
    // locked and looked at once for both, and for the reads that follow.
    sqlite3_exec(opened->db, "BEGIN", nullptr, nullptr, nullptr);
    const LONG checked = CheckPages(opened->db);
    if (checked == ERROR_BUSY)
        return checked;
    failure = checked;
    if (failure == ERROR_SUCCESS)
        failure = CheckTables(*opened);
    if (failure != ERROR_SUCCESS)
        return failure;
    std::error_code error;
    const bool journalLeft = std::filesystem::exists(JournalFile(), error);
    if (!shareReads || journalLeft)
        sqlite3_exec(opened->db, "COMMIT", nullptr, nullptr, nullptr);
    if (journalLeft)
        RemoveDeadJournal(opened->db);
    database = std::move(opened);
    return ERROR_SUCCESS;
}

LONG KeyExists(KeyId key) {
    Query query(kKeyExists);
    const int rc = query.Bind(1, key).Step();
    if (rc == SQLITE_ROW)
        return ERROR_SUCCESS;
    return rc == SQLITE_DONE ? ERROR_KEY_DELETED : Check(rc);
}

// ERROR_FILE_NOT_FOUND when the key has no sub-key of that name.
LONG FindChild(KeyId parent, std::u16string_view name, KeyId& child) {
    Query query(kFindChild);
    const int rc = query.Bind(1, parent).BindFolded(2, name).Step();
    if (rc == SQLITE_ROW) {
        child = query.Integer(0);
        return ERROR_SUCCESS;
    }
    return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Check(rc);
}

LONG Touch(KeyId key) {
    return Query(kTouchKey).Bind(1, key).Bind(2, Now()).Run();
}

LONG ReadValue(Query& query, int rc, Value& value) {
    if (rc != SQLITE_ROW)
        return rc == SQLITE_DONE ? ERROR_FILE_NOT_FOUND : Check(rc);
    value.name = query.Name(0);
    value.type = static_cast<DWORD>(query.Integer(1));
    value.data = query.Data(2);
    return ERROR_SUCCESS;
}

LONG WriteValue(Sql which, KeyId key, std::u16string_view name, DWORD type,
                std::span<const BYTE> data, bool& changed) {
    // SQLite keeps no blob longer than its length limit (a billion bytes by default).
    if (data.size() > static_cast<size_t>(sqlite3_limit(database->db, SQLITE_LIMIT_LENGTH, -1)))
        return LONG{ERROR_INVALID_PARAMETER};
    Transaction transaction;
    LONG result = transaction.Begin();
    if (result == ERROR_SUCCESS)
        result = KeyExists(key);
    if (result != ERROR_SUCCESS)
        return result;
    {
        Query query(which);
        query.Bind(1, key)
            .BindName(2, name)
            .BindFolded(3, name)
            .Bind(4, int64_t{type})
            .Bind(5, data);
        result = query.Run();
    }
    if (result != ERROR_SUCCESS)
        return result;
    changed = sqlite3_changes(database->db) > 0;
    if (changed)
        result = Touch(key);
    return result == ERROR_SUCCESS ? transaction.Commit() : result;
}

LONG DeleteTree(KeyId key, bool includingKey) {
    Transaction transaction;
    LONG result = transaction.Begin();
    if (result == ERROR_SUCCESS)
        result = KeyExists(key);
    if (result == ERROR_SUCCESS)
        result = Query(kDeleteTreeValues).Bind(1, key).Run();
    if (result == ERROR_SUCCESS)
        result = Query(kDeleteTreeKeys).Bind(1, key).Bind(2, int64_t{includingKey ? 1 : 0}).Run();
    if (result == ERROR_SUCCESS && !includingKey)
        result = Touch(key);
    return result == ERROR_SUCCESS ? transaction.Commit() : result;
}

// The id of the item at `index` in a key's listing, read again when the registry has changed
// since. Called right after a statement, which has brought SQLite's data version up to date.
LONG ListedId(Listing& listing, Sql listQuery, KeyId key, DWORD index, int64_t& id) {
    unsigned dataVersion = 0;
    sqlite3_file_control(database->db, "main", SQLITE_FCNTL_DATA_VERSION, &dataVersion);
    if (listing.key != key || listing.dataVersion != dataVersion) {
        listing = Listing{key, dataVersion, {}};
        Query query(listQuery);
        query.Bind(1, key);
        int rc;
        while ((rc = query.Step()) == SQLITE_ROW)
            listing.ids.push_back(query.Integer(0));
        if (rc != SQLITE_DONE) {
            listing = Listing{};
            return Check(rc);
        }
    }
    if (index >= listing.ids.size())
        return LONG{ERROR_NO_MORE_ITEMS};
    id = listing.ids[index];
    return LONG{ERROR_SUCCESS};
}

// Reads the item at `index` of a key's listing with `read`, which gives ERROR_FILE_NOT_FOUND when
// another process has deleted the item since the listing was read: then it is read again, once.
template <typename Read>
LONG ReadListed(Listing& listing, Sql listQuery, KeyId key, DWORD index, Read read) {
    LONG result = KeyExists(key);
    for (int attempt = 0; result == ERROR_SUCCESS && attempt < 2; ++attempt) {
        int64_t id = 0;
        result = ListedId(listing, listQuery, key, index, id);
        if (result == ERROR_SUCCESS)
            result = read(id);
        if (result == ERROR_FILE_NOT_FOUND) {
            listing = Listing{};
            result = attempt == 0 ? LONG{ERROR_SUCCESS} : LONG{ERROR_NO_MORE_ITEMS};
        } else {
            break;
        }
    }
    return result;
}

// Runs an operation with the database open and the store locked.
template <typename Operation>
LONG WithDatabase(Operation operation) {
    std::lock_guard lock(storeMutex);
    LONG result = OpenLocked();
    if (result == ERROR_SUCCESS)
        result = operation();
    EndWait();
    return result;
}

// The same for an operation that only reads: while reads are shared, it joins the open read
// transaction or opens one, so a run of reads locks and checks the file once.
template <typename Operation>
LONG Reading(Operation operation) {
    return WithDatabase([&] {
        if (shareReads && sqlite3_get_autocommit(database->db))
            sqlite3_exec(database->db, "BEGIN", nullptr, nullptr, nullptr);
        return operation();
    });
}

}  // namespace

LONG Open() {
    return WithDatabase([] { return LONG{ERROR_SUCCESS}; });
}

bool IsOpen() {
    std::lock_guard lock(storeMutex);
    return database != nullptr && failure == ERROR_SUCCESS;
}

uint64_t Generation() {
    return generation.load();
}

LONG FindKey(KeyId from, const std::vector<std::u16string>& path, KeyId& found) {
    return Reading([&] {
        LONG result = KeyExists(from);
        KeyId current = from;
        for (size_t i = 0; result == ERROR_SUCCESS && i < path.size(); ++i)
            result = FindChild(current, path[i], current);
        if (result == ERROR_SUCCESS)
            found = current;
        return result;
    });
}

LONG CreateKey(KeyId from, const std::vector<std::u16string>& path, KeyId& key, bool& created) {
    // A key that is there already needs only a read.
    if (FindKey(from, path, key) == ERROR_SUCCESS) {
        created = false;
        return LONG{ERROR_SUCCESS};
    }
    return WithDatabase([&] {
        Transaction transaction;
        LONG result = transaction.Begin();
        if (result == ERROR_SUCCESS)
            result = KeyExists(from);
        KeyId current = from;
        bool madeLast = false;
        for (size_t i = 0; result == ERROR_SUCCESS && i < path.size(); ++i) {
            KeyId child = 0;
            result = FindChild(current, path[i], child);
            madeLast = result == ERROR_FILE_NOT_FOUND;
            if (madeLast) {
                const int64_t now = Now();
                result = Query(kInsertKey)
                             .Bind(1, current)
                             .BindName(2, path[i])
                             .BindFolded(3, path[i])
                             .Bind(4, now)
                             .Run();
                child = sqlite3_last_insert_rowid(database->db);
                if (result == ERROR_SUCCESS)
                    result = Touch(current);
            }
            current = child;
        }
        if (result == ERROR_SUCCESS)
            result = transaction.Commit();
        if (result == ERROR_SUCCESS) {
            key = current;
            created = madeLast;
        }
        return result;
    });
}

LONG DeleteKey(KeyId key, bool withSubKeys) {
    return WithDatabase([&] {
        if (key == kCurrentUser || key == kLocalMachine)
            return LONG{ERROR_ACCESS_DENIED};
        if (!withSubKeys) {
            // Win32 (NT) refuses to delete a key that still has sub-keys.
            Query query(kHasChild);
            const int rc = query.Bind(1, key).Step();
            if (rc == SQLITE_ROW)
                return LONG{ERROR_ACCESS_DENIED};
            if (rc != SQLITE_DONE)
                return Check(rc);
        }
        return DeleteTree(key, true);
    });
}

LONG ClearKey(KeyId key) {
    return WithDatabase([&] { return DeleteTree(key, false); });
}

LONG SubKeyAt(KeyId key, DWORD index, std::u16string& name, FILETIME& lastWrite) {
    return Reading([&] {
        return ReadListed(database->subKeys, kChildIds, key, index, [&](int64_t id) {
            Query query(kChildById);
            const int rc = query.Bind(1, id).Step();
            if (rc != SQLITE_ROW)
                return rc == SQLITE_DONE ? LONG{ERROR_FILE_NOT_FOUND} : Check(rc);
            name = query.Name(0);
            const auto written = static_cast<uint64_t>(query.Integer(1));
            lastWrite.dwLowDateTime = static_cast<DWORD>(written & 0xFFFFFFFF);
            lastWrite.dwHighDateTime = static_cast<DWORD>(written >> 32);
            return LONG{ERROR_SUCCESS};
        });
    });
}

LONG ValueAt(KeyId key, DWORD index, Value& value) {
    return Reading([&] {
        return ReadListed(database->values, kValueIds, key, index, [&](int64_t id) {
            Query query(kValueById);
            return ReadValue(query, query.Bind(1, id).Step(), value);
        });
    });
}

LONG GetValue(KeyId key, std::u16string_view name, Value& value) {
    return Reading([&] {
        LONG result = KeyExists(key);
        if (result != ERROR_SUCCESS)
            return result;
        Query query(kGetValue);
        return ReadValue(query, query.Bind(1, key).BindFolded(2, name).Step(), value);
    });
}

LONG SetValue(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data) {
    return WithDatabase([&] {
        bool changed = false;
        return WriteValue(kSetValue, key, name, type, data, changed);
    });
}

LONG AddValueIfMissing(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data,
                       bool& added) {
    return WithDatabase([&] {
        added = false;
        return WriteValue(kAddValue, key, name, type, data, added);
    });
}

LONG AddPhoneValues() {
    for (const PhoneValue& value : kPhoneValues) {
        KeyId key = 0;
        bool created = false;
        bool added = false;
        LONG result = CreateKey(kCurrentUser, KeyNames(value.key), key, created);
        if (result == ERROR_SUCCESS) {
            const std::string bytes = StringData(value.data);
            result = AddValueIfMissing(key, value.name, REG_SZ,
                                       {reinterpret_cast<const BYTE*>(bytes.data()), bytes.size()},
                                       added);
        }
        if (result != ERROR_SUCCESS)
            return result;
    }
    return ERROR_SUCCESS;
}

LONG DeleteValue(KeyId key, std::u16string_view name) {
    return WithDatabase([&] {
        Transaction transaction;
        LONG result = transaction.Begin();
        if (result == ERROR_SUCCESS)
            result = KeyExists(key);
        if (result == ERROR_SUCCESS)
            result = Query(kDeleteValue).Bind(1, key).BindFolded(2, name).Run();
        if (result != ERROR_SUCCESS)
            return result;
        if (sqlite3_changes(database->db) == 0)
            return LONG{ERROR_FILE_NOT_FOUND};
        result = Touch(key);
        return result == ERROR_SUCCESS ? transaction.Commit() : result;
    });
}

void ShareReads(bool on) {
    std::lock_guard lock(storeMutex);
    shareReads = on;
    if (!on)
        EndSharedRead();
}

void EndReads() {
    std::lock_guard lock(storeMutex);
    EndSharedRead();
    firstWait.reset();
}

void SetWaitObserver(std::function<void(bool waiting)> observer) {
    std::lock_guard lock(storeMutex);
    waitObserver = std::move(observer);
}

}  // namespace registry

}  // namespace device

// The phone's registry database: keys and typed values in one SQLite file, names case-blind.
#pragma once

#include <windef.h>
#include <winerror.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace device {

namespace registry {

using KeyId = int64_t;

// How long the calls of one run (a command, or what the program does between two keys) wait in
// all for other processes' writes to end; once it has gone by, each call of the run fails at once
// with ERROR_BUSY. A write takes milliseconds: only a program that keeps the registry locked ever
// meets this.
inline constexpr int kBusyTimeoutSeconds = 10;

// Win32's limits on the length of one key name and of a value name, in characters.
inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;

// The root keys; every other key descends from one of them and none of them can be deleted.
inline constexpr KeyId kCurrentUser = 1;
inline constexpr KeyId kLocalMachine = 2;

struct Value {
    std::u16string name;  // as it was first written
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Every function returns a Win32 error code, ERROR_SUCCESS when it worked. All of them open the
// database on first use (creating a new phone's registry, with the phone's own keys and their
// defaults, when the file is missing) and keep it open.
// A damaged, foreign or unreadable file gives ERROR_REGISTRY_CORRUPT, ERROR_CANTOPEN or
// ERROR_CANTREAD after one line on the debug output, and is never written to.
LONG Open();
bool IsOpen();
// Changes each time the database is closed for tests, so that older handles can be told apart.
uint64_t Generation();

// Follows a path of sub-key names down from a key; ERROR_FILE_NOT_FOUND when one is missing.
LONG FindKey(KeyId from, const std::vector<std::u16string>& path, KeyId& found);
// Follows the path, creating what is missing, in one transaction; `created` tells whether the
// last key of the path was made by this call.
LONG CreateKey(KeyId from, const std::vector<std::u16string>& path, KeyId& key, bool& created);
// Deletes a key and its values; ERROR_ACCESS_DENIED for a root, or when it has sub-keys unless
// `withSubKeys`, which deletes the whole tree below it too.
LONG DeleteKey(KeyId key, bool withSubKeys);
// Deletes every sub-key (with its tree) and every value of a key, keeping the key itself.
LONG ClearKey(KeyId key);

// Sub-keys and values are numbered in the order they were created; ERROR_NO_MORE_ITEMS past
// the last one. Overwriting a value keeps its place. Asking for the items of a key one index
// after the other costs one lookup each.
LONG SubKeyAt(KeyId key, DWORD index, std::u16string& name, FILETIME& lastWrite);
LONG ValueAt(KeyId key, DWORD index, Value& value);

// The empty name is the key's default value. ERROR_FILE_NOT_FOUND when the value is missing.
LONG GetValue(KeyId key, std::u16string_view name, Value& value);
// Stores exactly the bytes and type given, in one transaction.
LONG SetValue(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data);
// Stores the value only when the key has none of that name; `added` tells whether it did.
LONG AddValueIfMissing(KeyId key, std::u16string_view name, DWORD type, std::span<const BYTE> data,
                       bool& added);
LONG DeleteValue(KeyId key, std::u16string_view name);
// Adds each of the phone's own values that a new registry holds and this one lacks, leaving the
// others as they are: what `init --reset` gives back after erasing the phone's settings.
LONG AddPhoneValues();

// While reads are shared, a read opens a read transaction that later reads join, until the next
// write or EndReads(): a run of reads then locks and checks the file once, and sees one state of
// the registry. Off by default; a program that turns it on ends the reads before it waits, so that
// no other process waits on it for long.
void ShareReads(bool on);
// Ends the run: its shared read, and its waits (the next call may wait the whole limit again).
void EndReads();

// What an error of these calls says of the registry file, to follow its name in a message (also
// for the Windows build's programs, whose registry is the system's).
inline std::string Describe(LONG error) {
    switch (error) {
        case ERROR_REGISTRY_CORRUPT:
            return "is damaged or is not a registry; it was left as it is";
        case ERROR_CANTOPEN:
        case ERROR_CANTREAD:
            return "cannot be read";
        case ERROR_CANTWRITE:
            return "cannot be written";
        case ERROR_BUSY:
            return "is held by another program for more than " +
                   std::to_string(kBusyTimeoutSeconds) + " seconds; try again when it is done";
        default:
            return "cannot be used (error " + std::to_string(error) + ")";
    }
}

// Told with true when a call starts to wait for another process's write, and with false when
// the wait is over (so the person at the phone can be told why nothing happens meanwhile).
void SetWaitObserver(std::function<void(bool waiting)> observer);

}  // namespace registry
}  // namespace device

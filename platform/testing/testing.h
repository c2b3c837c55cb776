// For tests only: the resets and hooks that put the device and the platform back as a new
// process finds them, and helpers that press keys and add resource modules. Built into
// tavonne_platform_testing, never into the program.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>
#include <vector>

#include "platform/user32/keys.h"

namespace device {

// Forgets the cached device folder so that the next call reads the environment again.
void ResetForTesting();

// Closes the registry database and forgets a failure to open it, so that the next call opens
// device::RegistryFile() again; registry handles opened before it become invalid.
void CloseRegistryForTesting();

namespace registry {

// Runs inside every write transaction just before its COMMIT (empty to remove).
void SetBeforeCommitHookForTesting(std::function<void()> hook);
// From inside that hook: writes the transaction's pages to the database file now, as a commit
// would, so that a process dying right after has left half-written pages behind.
void FlushForTesting();

}  // namespace registry
}  // namespace device

namespace wm {

// Destroys every window without messages and empties the queue, the quit flag and the hooks
// (the input source too); handle values are never reused, so handles from before stay invalid.
void ResetForTesting();

}  // namespace wm

namespace keys {

// Removes the input source and the exhausted handler.
void ResetForTesting();

// Post, then handles every queued message: for a test outside a message loop.
bool Press(const Key& key);
// A source that gives these keys in order, then nothing.
InputSource FromList(std::vector<Key> keys);

}  // namespace keys

namespace resources {

// Makes a module of a test's own compiled resources; the bytes are kept for the life of the
// process.
HINSTANCE AddModule(std::string_view name, std::vector<unsigned char> bytes);

}  // namespace resources

namespace platform {

// Closes this process's mutex handles (releasing their names), stops listening on the peer
// channel and removes the launch observer. For tests, between device folders.
void ResetProcessesForTesting();

// The parts of ResetProcessesForTesting, one per module.
void CloseAllMutexesForTesting();
void ForgetLaunchesForTesting();

}  // namespace platform

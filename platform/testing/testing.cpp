// The test-only resets, hooks and helpers, over the state that the device and platform modules
// keep.
#include "platform/testing/testing.h"

#include <deque>
#include <memory>
#include <optional>

#include "device/device_folder_state.h"
#include "device/registry_store_state.h"
#include "platform/kernel32/module_table.h"
#include "platform/kernel32/mutex_table.h"
#include "platform/phone/peer.h"
#include "platform/shell32/launch.h"
#include "platform/user32/keys.h"
#include "platform/user32/window_state.h"

namespace device {

void ResetForTesting() {
    state::cachedFolder.reset();
}

void CloseRegistryForTesting() {
    using namespace registry::state;
    std::lock_guard lock(storeMutex);
    database.reset();
    failure = ERROR_SUCCESS;
    ++generation;
}

namespace registry {

void SetBeforeCommitHookForTesting(std::function<void()> hook) {
    std::lock_guard lock(state::storeMutex);
    state::beforeCommitHook = std::move(hook);
}

// Called from inside the hook, where the store is already locked.
void FlushForTesting() {
    if (state::database)
        sqlite3_db_cacheflush(state::database->db);
}

}  // namespace registry
}  // namespace device

namespace wm {

void ResetForTesting() {
    System& sys = Sys();
    sys.windows.Clear();
    sys.topLevels.clear();
    sys.foreground = nullptr;
    sys.focus = nullptr;
    sys.keyCapture = nullptr;
    sys.queue.clear();
    sys.quitPosted = false;
    sys.quitCode = 0;
    std::erase_if(sys.classes, [](const WindowClass& c) { return !c.system; });
    sys.remote = {};
    keys::ResetForTesting();
}

}  // namespace wm

namespace keys {

void ResetForTesting() {
    SetInputSource(nullptr);
    SetInputExhaustedHandler(nullptr);
}

bool Press(const Key& key) {
    bool taken = Post(key);
    wm::ProcessPendingMessages();
    return taken;
}

InputSource FromList(std::vector<Key> keys) {
    auto pending = std::make_shared<std::deque<Key>>(keys.begin(), keys.end());
    return [pending]() -> std::optional<Key> {
        if (pending->empty())
            return std::nullopt;
        Key next = pending->front();
        pending->pop_front();
        return next;
    };
}

}  // namespace keys

namespace resources {

HINSTANCE AddModule(std::string_view name, std::vector<unsigned char> bytes) {
    // Modules live as long as the process: so do their bytes.
    static std::deque<std::vector<unsigned char>> kept;
    std::vector<unsigned char>& data = kept.emplace_back(std::move(bytes));
    Module module;
    module.name = name;
    module.data = data.data();
    module.size = data.size();
    return Add(std::move(module));
}

}  // namespace resources

namespace platform {

void CloseAllMutexesForTesting() {
    mutexes::MutexTable& table = mutexes::TableForUse();
    std::unordered_map<uintptr_t, std::shared_ptr<mutexes::MutexObject>> closed;
    std::lock_guard lock(table.mutex);
    closed.swap(table.handles);
    table.names.clear();
}

void ForgetLaunchesForTesting() {
    SetLaunchObserver(nullptr);
}

void ResetProcessesForTesting() {
    CloseAllMutexesForTesting();
    ForgetLaunchesForTesting();
    peer::StopListening();
}

}  // namespace platform

// Processes, inside the platform: the launch observer and the reset of process-wide state.
#pragma once

#include <functional>
#include <string_view>

namespace platform {

// Called by ShellExecuteExW once per call whose SHELLEXECUTEINFOW is well formed (right cbSize,
// lpFile given), before anything is started and whatever the outcome, with lpFile and
// lpParameters exactly as given (an absent lpParameters is empty). An empty function removes it.
using LaunchObserver =
    std::function<void(std::u16string_view file, std::u16string_view parameters)>;
void SetLaunchObserver(LaunchObserver observer);

// Whether another process has a handle on a named mutex that this process has open: while it
// does, a copy that found the mutex taken knows the running copy may still be starting up.
bool NamedMutexSharedWithAnotherProcess();

// Closes this process's mutex handles (releasing their names), stops listening on the peer
// channel and removes the launch observer. For tests, between device folders.
void ResetProcessesForTesting();

// The parts of ResetProcessesForTesting, one per module.
void CloseAllMutexesForTesting();
void ForgetLaunchesForTesting();

}  // namespace platform

// The reset of process-wide state (mutexes, the peer channel, the launch observer), for tests.
#pragma once

namespace platform {

// Closes this process's mutex handles (releasing their names), stops listening on the peer
// channel and removes the launch observer. For tests, between device folders.
void ResetProcessesForTesting();

// The parts of ResetProcessesForTesting, one per module.
void CloseAllMutexesForTesting();
void ForgetLaunchesForTesting();

}  // namespace platform

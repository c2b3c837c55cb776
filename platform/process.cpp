// Process-wide state of the process services, reset between tests.
#include "platform/process.h"

#include "platform/peer.h"

namespace platform {

void ResetProcessesForTesting() {
    CloseAllMutexesForTesting();
    ForgetLaunchesForTesting();
    peer::StopListening();
}

}  // namespace platform

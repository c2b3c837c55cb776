// Process-wide state of the process services, reset between tests.
#include "platform/testing/process.h"

#include "platform/phone/peer.h"

namespace platform {

void ResetProcessesForTesting() {
    CloseAllMutexesForTesting();
    ForgetLaunchesForTesting();
    peer::StopListening();
}

}  // namespace platform

// Named mutexes as seen from inside the platform.
#pragma once

namespace platform {

// Whether another process has a handle on a named mutex that this process has open: while it
// does, a copy that found the mutex taken knows the running copy may still be starting up.
bool NamedMutexSharedWithAnotherProcess();

}  // namespace platform

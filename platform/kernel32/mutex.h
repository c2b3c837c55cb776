// Named mutexes as seen from inside the platform.
#pragma once

#include <string>

namespace platform {

// Why the last named mutex this process asked for could not be made: its lock file is a link, a
// folder or held by another program, or the device folder refused it. Empty when it was made.
std::string NamedMutexProblem();

// Whether another process has a handle on a named mutex that this process has open: while it
// does, a copy that found the mutex taken knows the running copy may still be starting up.
bool NamedMutexSharedWithAnotherProcess();

}  // namespace platform

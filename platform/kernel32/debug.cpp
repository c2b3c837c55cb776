// Debug output (OutputDebugStringW), the debugger checks, and the thread's last error.
#include <windows.h>

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "base/debug.h"
#include "base/text.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

}  // namespace

extern "C" DWORD WINAPI GetLastError(void) {
    return lastError;
}

extern "C" void WINAPI SetLastError(DWORD dwErrCode) {
    lastError = dwErrCode;
}

extern "C" void WINAPI OutputDebugStringW(LPCWSTR lpOutputString) {
    if (lpOutputString == nullptr)
        return;
    debug::Write(text::ToUtf8(lpOutputString));
}

extern "C" BOOL WINAPI IsDebuggerPresent(void) {
    // A debugger on Linux shows itself as the tracer of the process.
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) == 0) {
            return std::stol(line.substr(10)) != 0 ? TRUE : FALSE;
        }
    }
    return FALSE;
}

extern "C" void WINAPI DebugBreak(void) {
    raise(SIGTRAP);
}

// Debug output (OutputDebugStringW), the debugger checks, and the thread's last error.
#include <windows.h>

#include <signal.h>
#include <stdio.h>
#include <unistd.h>

#include <fstream>
#include <mutex>
#include <string>

#include "platform/debug.h"
#include "platform/text.h"

namespace debug {

namespace {

std::mutex sinkMutex;
std::ofstream logFile;

}  // namespace

void SendToFile(const std::filesystem::path& file) {
    std::lock_guard lock(sinkMutex);
    logFile.close();
    logFile.open(file, std::ios::app | std::ios::binary);
}

void SendToStandardError() {
    std::lock_guard lock(sinkMutex);
    logFile.close();
}

void Write(std::string_view utf8) {
    std::lock_guard lock(sinkMutex);
    if (logFile.is_open()) {
        logFile.write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
        logFile.flush();
        return;
    }
    fwrite(utf8.data(), 1, utf8.size(), stderr);
    fflush(stderr);
}

}  // namespace debug

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

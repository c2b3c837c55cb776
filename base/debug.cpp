// Where debug output goes: standard error, or a file once the terminal front end sends it there.
#include "base/debug.h"

#include <stdio.h>

#include <mutex>

namespace debug {

namespace {

std::mutex sinkMutex;
FILE* logFile = nullptr;  // nullptr: standard error

}  // namespace

void SendToFile(const std::filesystem::path& file) {
    std::lock_guard lock(sinkMutex);
    if (logFile != nullptr)
        fclose(logFile);
    logFile = fopen(file.c_str(), "ab");
}

void SendToStandardError() {
    std::lock_guard lock(sinkMutex);
    if (logFile != nullptr)
        fclose(logFile);
    logFile = nullptr;
}

void Write(std::string_view utf8) {
    std::lock_guard lock(sinkMutex);
    FILE* sink = logFile != nullptr ? logFile : stderr;
    fwrite(utf8.data(), 1, utf8.size(), sink);
    fflush(sink);
}

}  // namespace debug

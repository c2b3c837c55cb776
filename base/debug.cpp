// Where debug output goes: standard error, or a file once the terminal front end sends it there.
#include "base/debug.h"

#include <stdio.h>

#include <fstream>
#include <memory>
#include <mutex>

namespace debug {

namespace {

std::mutex sinkMutex;
// Made when output is first sent to a file: a start that keeps to standard error makes no stream.
std::unique_ptr<std::ofstream> logFile;

}  // namespace

void SendToFile(const std::filesystem::path& file) {
    std::lock_guard lock(sinkMutex);
    logFile = std::make_unique<std::ofstream>(file, std::ios::app | std::ios::binary);
}

void SendToStandardError() {
    std::lock_guard lock(sinkMutex);
    logFile.reset();
}

void Write(std::string_view utf8) {
    std::lock_guard lock(sinkMutex);
    if (logFile != nullptr && logFile->is_open()) {
        logFile->write(utf8.data(), static_cast<std::streamsize>(utf8.size()));
        logFile->flush();
        return;
    }
    fwrite(utf8.data(), 1, utf8.size(), stderr);
    fflush(stderr);
}

}  // namespace debug

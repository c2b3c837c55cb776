// The program's entry on Linux: prepares the phone, chooses the front end, and runs WinMain.
#include <windows.h>

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "device/device_folder.h"
#include "device/paths.h"
#include "device/provision.h"
#include "device/registry_store.h"
#include "platform/kernel32/mutex.h"
#include "platform/phone/frontend.h"
#include "platform/phone/peer.h"

namespace {

// What keeps the device folder from being used, or nothing: its files must be prepared, and its
// run/ folder (where the program's mutex lives) must exist and take new files.
std::string DeviceProblem() {
    if (!device::ProvisionOnce())
        return "it cannot be prepared";
    const std::filesystem::path run = device::Folder() / "run";
    std::error_code error;
    std::filesystem::create_directories(run, error);
    if (!error && access(run.c_str(), W_OK | X_OK) != 0)
        error.assign(errno, std::generic_category());
    if (error)
        return run.string() + ": " + error.message();
    return "";
}

// Says why the device folder cannot be used; the program's exit code.
int DeviceUnusable(const std::string& problem) {
    std::fprintf(stderr, "tavonne: the device folder %s cannot be used: %s\n",
                 device::EscapedName(device::Folder().string()).c_str(),
                 device::EscapedName(problem).c_str());
    return frontend::kDeviceUnusableExitCode;
}

}  // namespace

int main(int argc, char** argv) {
    frontend::Kind kind = frontend::Choose();
    // What the program reads between two keys (its start: provisioning, settings, both tones)
    // comes from one read of the registry.
    device::registry::ShareReads(true);
    if (const std::string problem = DeviceProblem(); !problem.empty())
        return DeviceUnusable(problem);
    frontend::SetUpDebugOutput(kind);
    if (!frontend::Start(kind))
        return frontend::kTerminalUnusableExitCode;
    // The registry opens with the phone on screen, so that a wait for another program's write
    // is seen; one that cannot be used ends the start, before anything is shown or saved.
    if (const LONG opened = device::registry::Open(); opened != ERROR_SUCCESS) {
        frontend::Stop();
        return DeviceUnusable("its registry " + device::RegistryFile().string() + " " +
                              device::registry::Describe(opened));
    }
    std::u16string commandLine = frontend::CommandLine(argc, argv);
    int result = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine.data(), SW_SHOW);
    frontend::Stop();
    if (const std::string problem = platform::NamedMutexProblem(); !problem.empty())
        return DeviceUnusable(problem);
    switch (frontend::AnotherCopy()) {
        case frontend::Copy::None:
            break;
        case frontend::Copy::BroughtForward:
            std::fputs("tavonne: Tavonne already runs on this phone; it was brought to the front\n",
                       stderr);
            break;
        case frontend::Copy::Silent:
            std::fprintf(stderr,
                         "tavonne: Tavonne already runs on this phone but did not answer within "
                         "%d seconds (it may be stopped); nothing was brought to the front\n",
                         static_cast<int>(peer::kAnswerTimeout.count()));
            return frontend::kAnotherCopySilentExitCode;
    }
    return result;
}

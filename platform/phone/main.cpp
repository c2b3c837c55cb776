// The program's entry on Linux: prepares the phone, chooses the front end, and runs WinMain.
#include <windows.h>

#include <cstdio>
#include <string>

#include "device/provision.h"
#include "platform/phone/frontend.h"

int main(int argc, char** argv) {
    frontend::Kind kind = frontend::Choose();
    if (!device::ProvisionOnce()) {
        std::fputs("tavonne: the device folder cannot be prepared\n", stderr);
        return 1;
    }
    frontend::SetUpDebugOutput(kind);
    if (!frontend::Start(kind))
        return 1;
    std::u16string commandLine = frontend::CommandLine(argc, argv);
    int result = WinMain(GetModuleHandleW(nullptr), nullptr, commandLine.data(), SW_SHOW);
    frontend::Stop();
    return result;
}

// tavonne-device ring and sms on Windows, whose build has no sound libraries yet: both say that
// this build cannot ring.
#include "programs/device-tool/ring.h"

#include <iostream>

namespace ring {

namespace {

int NoSound(const char* command) {
    std::cerr << "ERROR: tavonne-device " << command
              << " plays a tone, and this Windows build plays no sound yet.\n";
    return 1;
}

}  // namespace

int Ring(const std::vector<std::string>&) {
    return NoSound("ring");
}

int Sms(const std::vector<std::string>&) {
    return NoSound("sms");
}

}  // namespace ring

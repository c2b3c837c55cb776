// Which host file names a phone can hold, and how a name is shown in a message.
#include "device/paths.h"

namespace device {

bool PhoneCanHoldName(std::string_view hostName) {
    for (const char c : hostName) {
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

std::string EscapedName(std::string_view hostName) {
    std::string shown;
    for (const char c : hostName) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20) {
            const char digits[] = "0123456789abcdef";
            shown += "\\x";
            shown += digits[byte >> 4];
            shown += digits[byte & 15];
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace device

// Which host file names a phone can hold, and how text from outside is shown in a message.
#include "device/paths.h"

namespace device {

bool PhoneCanHoldName(std::string_view hostName) {
    for (const char c : hostName) {
        if (c == '\\' || static_cast<unsigned char>(c) < 0x20)
            return false;
    }
    return true;
}

std::string EscapedName(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string shown;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // A C1 control (U+0080 to U+009F) is 0xC2 then a byte from 0x80 to 0x9F in UTF-8.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
        if (byte >= 0x20 && byte != 0x7F && !c1) {
            shown += text[i];
            continue;
        }
        for (const char c : text.substr(i, c1 ? 2 : 1)) {
            shown += "\\x";
            shown += digits[static_cast<unsigned char>(c) >> 4];
            shown += digits[static_cast<unsigned char>(c) & 15];
        }
        i += c1 ? 1 : 0;
    }
    return shown;
}

}  // namespace device

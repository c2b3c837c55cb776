// tavonne-device ring and sms: the phone's call and SMS tones heard as the phone plays them.
#pragma once

#include <string>
#include <vector>

namespace ring {

// ring [--seconds N]: the call tone, repeated with the silence its Script asks for, until a key
// or N seconds.
int Ring(const std::vector<std::string>& args);
// sms: the SMS tone, once.
int Sms(const std::vector<std::string>& args);

}  // namespace ring

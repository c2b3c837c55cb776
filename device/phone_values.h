// The phone's own sound settings under HKEY_CURRENT_USER: their keys, and the values a new phone
// has there.
#pragma once

namespace device {

inline constexpr const char16_t* kRingToneKey = u"ControlPanel\\Sounds\\RingTone0";
inline constexpr const char16_t* kSmsKey = u"ControlPanel\\Sounds\\SMS";

struct PhoneValue {
    const char16_t* key;  // below HKEY_CURRENT_USER, its names separated by backslashes
    const char16_t* name;
    const char16_t* data;  // REG_SZ
};

inline constexpr PhoneValue kPhoneValues[] = {
    {kRingToneKey, u"Sound", u"\\Windows\\Standard.wav"},
    {kRingToneKey, u"Script", u"apw3r"},
    {kSmsKey, u"Sound", u"\\Windows\\Notify.mid"},
};

}  // namespace device

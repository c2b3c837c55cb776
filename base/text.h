// UTF-16 text where the platform meets Linux: UTF-8 conversion and case-blind comparison.
#pragma once

#include <string>
#include <string_view>

namespace text {

// Bytes that are not valid UTF-8 become the lone surrogates U+DC80..U+DCFF (one per byte), so a
// host file name of any bytes survives the round trip through UTF-16 and back.
std::u16string FromUtf8(std::string_view utf8);
// The inverse of FromUtf8; any other lone surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view utf16);
// Appends one code point (at most U+10FFFF) as UTF-8.
void AppendUtf8(std::string& out, char32_t c);

// The upper-case form used to compare names without regard to case, accented letters included.
char16_t FoldCase(char16_t c);
std::u16string Fold(std::u16string_view s);
bool EqualNoCase(std::u16string_view a, std::u16string_view b);

// Length of a NUL-terminated wide string; 0 for a null pointer.
size_t Length(const char16_t* s);

}  // namespace text

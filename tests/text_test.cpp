#include <gtest/gtest.h>

#include "base/text.h"

TEST(Text, Utf8RoundTripKeepsAccentsAndAstralCharacters) {
    const std::string utf8 = "Mouvement perpétuel 🎵";
    const std::u16string utf16 = text::FromUtf8(utf8);
    EXPECT_EQ(utf16, u"Mouvement perpétuel 🎵");
    EXPECT_EQ(text::ToUtf8(utf16), utf8);
}

TEST(Text, InvalidUtf8BytesBecomeLoneSurrogatesAndComeBackUnchanged) {
    const std::string bytes =
        "a\xff"
        "b\xc3(\xe9";
    const std::u16string utf16 = text::FromUtf8(bytes);
    EXPECT_EQ(utf16, (std::u16string{u'a', 0xDCFF, u'b', 0xDCC3, u'(', 0xDCE9}));
    EXPECT_EQ(text::ToUtf8(utf16), bytes);
}

TEST(Text, OverlongAndSurrogateEncodingsAreNotDecoded) {
    EXPECT_EQ(text::FromUtf8("\xc0\xaf"), (std::u16string{0xDCC0, 0xDCAF}));
    EXPECT_EQ(text::FromUtf8("\xed\xa0\x80"), (std::u16string{0xDCED, 0xDCA0, 0xDC80}));
}

TEST(Text, OtherLoneSurrogatesBecomeReplacementCharacter) {
    EXPECT_EQ(text::ToUtf8(std::u16string{0xD800, u'x'}), "\xef\xbf\xbdx");
}

TEST(Text, CaseBlindComparisonCoversAccentedLetters) {
    EXPECT_TRUE(text::EqualNoCase(u"Software\\Tavonne", u"SOFTWARE\\tavonne"));
    EXPECT_TRUE(text::EqualNoCase(u"Paramètres", u"PARAMÈTRES"));
    EXPECT_TRUE(text::EqualNoCase(u"début", u"DÉBUT"));
    EXPECT_FALSE(text::EqualNoCase(u"debut", u"début"));
    EXPECT_FALSE(text::EqualNoCase(u"abc", u"abcd"));
}

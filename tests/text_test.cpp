#include <gtest/gtest.h>

#include <locale.h>
#include <wctype.h>

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

// The fold is built into the program, and a registry written when it came from the C library's
// C.UTF-8 locale stays readable: wherever that locale maps a unit to another in the BMP, so does
// the fold.
TEST(Text, FoldAgreesWithTheCUtf8UpperCaseMapping) {
    const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (unicode == static_cast<locale_t>(0))
        GTEST_SKIP() << "this host has no C.UTF-8 locale to compare with";
    int differences = 0;
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        const wint_t upper = towupper_l(static_cast<wint_t>(c), unicode);
        if ((c < 0xD800 || c > 0xDFFF) && upper != c && upper < 0x10000 &&
            text::FoldCase(static_cast<char16_t>(c)) != upper)
            ++differences;
    }
    freelocale(unicode);
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(text::FoldCase(u'\u00ff'), u'\u0178');  // ÿ and Ÿ lie in different blocks
    EXPECT_EQ(text::FoldCase(u'\u00c9'), u'\u00c9');
}

#include "dbengine/platform/codepage.h"

#include <gtest/gtest.h>

namespace hdb::platform {
namespace {

TEST(Codepage, Windows1252RoundTrips) {
  // 0x80 is the euro sign, 0xE4 a-umlaut, 0x9F Y-diaeresis: the bytes where 1252 and
  // Latin-1 differ and agree.
  const std::string bytes = "Stra\xDF" "e \x80 \xE4\x9F";
  EXPECT_EQ(Win1252ToUtf8(bytes), "Straße € äŸ");
  EXPECT_EQ(Utf8ToWin1252("Straße € äŸ"), bytes);
  EXPECT_EQ(Win1252ToUtf16("\xE4"), u"ä");
  EXPECT_EQ(Utf16ToWin1252(u"ä"), "\xE4");
  EXPECT_EQ(Utf8ToWin1252(""), "");
}

TEST(Codepage, Utf16AndUtf8RoundTripOutsideTheBasicPlane) {
  const std::u16string wide = u"G\u00FC \U0001D11E \u20AC";  // a clef needs a surrogate pair
  const std::string utf8 = "G\xC3\xBC \xF0\x9D\x84\x9E \xE2\x82\xAC";
  EXPECT_EQ(Utf16ToUtf8(wide), utf8);
  EXPECT_EQ(Utf8ToUtf16(utf8), wide);
  EXPECT_EQ(Utf8ToUtf16("a\xFFz"), u"a\uFFFDz");
  EXPECT_EQ(Utf16ToUtf8(u""), "");
}

TEST(Codepage, UnmappableCharactersBecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToWin1252("a\xE2\x86\x92z"), "a?z");  // U+2192 has no 1252 byte
  EXPECT_EQ(Utf8ToWin1252("日本"), "??");
}

}  // namespace
}  // namespace hdb::platform

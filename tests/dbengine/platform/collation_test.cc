#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/collation.h"
#include "dbengine/platform/guid.h"

namespace hdb::platform {
namespace {

int Ansi(const char* a, const char* b, bool ci = false) {
  return CollateAnsi(a, std::strlen(a), b, std::strlen(b), ci);
}

TEST(AnsiCharset, CaseTablesFollowWindows1252) {
  EXPECT_EQ(AnsiUpperCase("abc\xE4\xF6\xFC\xFF"), "ABC\xC4\xD6\xDC\x9F");
  EXPECT_EQ(AnsiLowerCase("ABC\xC4\x8A"), "abc\xE4\x9A");
  EXPECT_EQ(AnsiUpperChar(0xDF), 0xDF) << "sharp s has no single upper-case letter";
  EXPECT_EQ(AnsiUpperChar(0xB5), 0xB5) << "the micro sign's capital is not in the code page";
  EXPECT_TRUE(AnsiSameText("dsTable", "DSTABLE"));
  EXPECT_FALSE(AnsiSameText("dsTable", "dsTabl"));
  EXPECT_EQ(AnsiToUnicode(0x80), u'\u20AC');
  EXPECT_EQ(AnsiToUnicode(0x81), u'\u0081') << "undefined bytes stay distinct";
  EXPECT_EQ(UnicodeToAnsi(u'\u20AC'), 0x80);
  EXPECT_EQ(UnicodeToAnsi(u'\u00E9'), 0xE9);
  EXPECT_EQ(UnicodeToAnsi(u'\u4E2D'), '?');
}

TEST(Collation, RootOrderForThePosixLocale) {
  if (CollationLocaleName() != "root") GTEST_SKIP() << "collating for " << CollationLocaleName();
  EXPECT_EQ(Ansi("a", "B"), -1);
  EXPECT_EQ(Ansi("a", "A"), -1) << "lower case first at the tertiary level";
  EXPECT_EQ(Ansi("a", "A", true), 0);
  EXPECT_EQ(Ansi("\xE4", "b"), -1) << "a-umlaut sorts with a";
  EXPECT_EQ(Ansi("\xE4", "a", true), 1) << "accents still count without case";
  EXPECT_EQ(Ansi("co-op", "coop"), -1) << "the hyphen is an ordinary symbol";
  EXPECT_EQ(Ansi("it's", "its"), -1) << "so is the apostrophe";
  EXPECT_EQ(Ansi("ABC", "ABC "), -1);
  EXPECT_EQ(Ansi("", "A"), -1);
  EXPECT_EQ(Ansi("10", "9"), -1);
}

TEST(Collation, ExplicitLengthsIncludeZeroBytesAndLongTexts) {
  EXPECT_EQ(CollateAnsi("AB\0C", 4, "AB\0D", 4, false), -1);
  EXPECT_EQ(CollateAnsi("ABX", 2, "ABY", 2, false), 0);
  std::string a(1000, 'x'), b = a;
  b.back() = 'y';
  EXPECT_EQ(CollateAnsi(a.data(), a.size(), b.data(), b.size(), false), -1);
  std::u16string wa = u"\u00e9t\u00e9", wb = u"ETE";
  EXPECT_EQ(CollateWide(wa.data(), wa.size(), wb.data(), wb.size(), true), 1);
  EXPECT_EQ(CollateWide(wa.data(), 0, wb.data(), 0, false), 0);
}

TEST(Collation, ThreadsCompareWithTheirOwnCollators) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {"abc", "ABD"}, {"Zebra", "\xC4rger"}, {"x", "x "}, {"same", "same"}, {"M\xFCller", "Mueller"}};
  std::vector<int> expected;
  for (auto& p : pairs) expected.push_back(Ansi(p.first.c_str(), p.second.c_str(), true));
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 5000; ++i) {
        std::size_t k = static_cast<std::size_t>(i) % pairs.size();
        if (Ansi(pairs[k].first.c_str(), pairs[k].second.c_str(), true) != expected[k]) ++mismatches;
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// Texts of digits and capital letters take a byte comparison; it must give what the
// collator gives (CollateWide always asks the collator) at every strength.
TEST(Collation, PlainTextsCompareAsTheCollatorDoes) {
  std::vector<std::string> texts = {"",     "0",    "9",    "A",    "Z",    "A0",   "AA",   "AB",
                                    "B",    "CH",   "CI",   "CZ",   "HA",   "DZS",  "DZT",  "YA",
                                    "IZ",   "JA",   "WBA00000000000012", "WBA00000000000102", "WBA0000000000012"};
  unsigned seed = 7;
  for (int i = 0; i < 200; ++i) {
    std::string t;
    for (int n = static_cast<int>(seed % 6); n > 0; --n) {
      seed = seed * 1103515245u + 12345u;
      t += "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[(seed >> 16) % 36];
    }
    seed = seed * 1103515245u + 12345u;
    texts.push_back(t);
  }
  for (CollationLevel level : {CollationLevel::Tertiary, CollationLevel::Secondary, CollationLevel::Primary})
    for (const std::string& a : texts)
      for (const std::string& b : texts) {
        const std::u16string wa(a.begin(), a.end()), wb(b.begin(), b.end());
        ASSERT_EQ(CollateAnsi(a.data(), a.size(), b.data(), b.size(), level),
                  CollateWide(wa.data(), wa.size(), wb.data(), wb.size(), level))
            << "'" << a << "' against '" << b << "' at level " << static_cast<int>(level);
      }
}

// Locales whose tailorings move capital letters (lt: Y after I) or join them into
// contractions (cs: CH, da: AA, hu: CS, DZ, DZS) keep every comparison in the collator.
TEST(Collation, ByteOrderOfPlainTextsIsRefusedWhereTheLocaleReordersThem) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"root", true}, {"en_US", true}, {"de_DE", true}, {"fr", true},
      {"cs", false},  {"da", false},   {"hu", false},   {"lt", false}};
  for (const auto& [locale, byteOrder] : cases) EXPECT_EQ(PlainTextsInByteOrder(locale), byteOrder) << locale;
  EXPECT_EQ(PlainTextsInByteOrder(), PlainTextsInByteOrder(CollationLocaleName()));
}

TEST(Guid, BracedTextForm) {
  std::string a = NewGuidText(), b = NewGuidText();
  ASSERT_EQ(a.size(), 38u);
  EXPECT_EQ(a.front(), '{');
  EXPECT_EQ(a.back(), '}');
  EXPECT_EQ(a[9], '-');
  EXPECT_EQ(a[15], '4') << "version 4";
  EXPECT_NE(a, b);
}

}  // namespace
}  // namespace hdb::platform

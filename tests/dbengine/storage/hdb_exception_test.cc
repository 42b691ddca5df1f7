#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/engine_crc.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {
namespace {

TEST(EHDBException, WhatCarriesFiveDigitNativeError) {
  EHDBException e(1234, "Some text");
  EXPECT_EQ(e.NativeError(), 1234);
  EXPECT_EQ(e.Message(), "Some text");
  EXPECT_STREQ(e.what(), "Some text - Native error: 01234");
  EXPECT_STREQ(EHDBException(30401, "x").what(), "x - Native error: 30401");
}

TEST(EHDBException, RaiseFormatsCatalogPattern) {
  try {
    RaiseHDB(Errors::InvalidPageNo, -1);
    FAIL() << "no exception";
  } catch (const EHDBException& e) {
    EXPECT_EQ(e.NativeError(), 10471);
    EXPECT_STREQ(e.what(), "Invalid PageNo = -1 - Native error: 10471");
  }
}

struct FormatCase {
  const char* pattern;
  std::vector<FormatArg> args;
  const char* expected;
};

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, Formats) {
  const auto& c = GetParam();
  EXPECT_EQ(FormatMessage(c.pattern, c.args), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, FormatTest,
    ::testing::Values(
        FormatCase{"Invalid PageNo = %d", {std::int64_t{-1}}, "Invalid PageNo = -1"},
        FormatCase{"file %s is in use.", {std::string("a.hdb")}, "file a.hdb is in use."},
        FormatCase{"%d%% of %s", {std::int64_t{5}, std::string("x")}, "5% of x"},
        FormatCase{"[%5d|%-3s]", {std::int64_t{42}, std::string("a")}, "[   42|a  ]"},
        FormatCase{"%.3d", {std::int64_t{7}}, "007"},
        FormatCase{"%x", {std::int64_t{255}}, "ff"},
        FormatCase{"big %d", {std::int64_t{1} << 40}, "big 1099511627776"},
        // Extra arguments are ignored.
        FormatCase{"plain", {std::int64_t{1}}, "plain"},
        // Arguments that do not fit give the pattern and the notice.
        FormatCase{"Invalid PageNo = %d", {std::string("x")}, "Invalid PageNo = %d Arguments are invalid!"},
        FormatCase{"%s and %s", {std::string("x")}, "%s and %s Arguments are invalid!"},
        FormatCase{"%s", {std::int64_t{3}}, "%s Arguments are invalid!"},
        FormatCase{"bad %q", {std::int64_t{3}}, "bad %q Arguments are invalid!"},
        FormatCase{"trailing %", {}, "trailing % Arguments are invalid!"}));

// The byte-wise definition: crc = table[(crc xor b) and 0xFF] xor (crc shr 8), from any
// starting value, on buffers of every length up to a few hundred bytes (past the 64 and
// 16 byte steps of the folding, with every remainder) and at every alignment.
TEST(EngineCRC, MatchesTheByteWiseDefinition) {
  std::uint32_t table[256];
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  std::vector<unsigned char> bytes(4200);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>((i * 131 + 7) ^ (i >> 8) * 29);
  auto byteWise = [&](std::size_t offset, std::size_t length, std::uint32_t crc) {
    for (std::size_t i = 0; i < length; ++i) crc = table[(crc ^ bytes[offset + i]) & 0xFF] ^ (crc >> 8);
    return crc;
  };
  for (std::uint32_t start : {0u, 0xFFFFFFFFu, 0x12345678u}) {
    for (std::size_t offset = 0; offset < 8; ++offset) {
      for (std::size_t length = 0; length + offset <= 300; ++length)
        ASSERT_EQ(EngineCRC(bytes.data() + offset, length, start), byteWise(offset, length, start)) << offset << "+" << length;
      // A journal image: a page and its image header.
      for (std::size_t length : {4096u, 4096u + 12u, 4191u})
        ASSERT_EQ(EngineCRC(bytes.data() + offset, length, start), byteWise(offset, length, start)) << offset << "+" << length;
    }
  }
}

TEST(EngineCRC, KnownValues) {
  EXPECT_EQ(EngineCRC("abc", 3), 0xCA6598D0u);
  EXPECT_EQ(EngineCRC("", 0), 0u);
  // Feeding in pieces gives the same result as one run.
  EXPECT_EQ(EngineCRC("c", 1, EngineCRC("ab", 2)), 0xCA6598D0u);
}

TEST(ByteLayout, LittleEndianFields) {
  unsigned char buf[16] = {};
  using I16 = le::Field<std::int16_t, 1>;
  using U32 = le::Field<std::uint32_t, 3>;
  using F64 = le::Field<double, 7>;
  I16::Set(buf, -2);
  U32::Set(buf, 0x01020304u);
  F64::Set(buf, 7.92);
  EXPECT_EQ(buf[1], 0xFE);
  EXPECT_EQ(buf[2], 0xFF);
  EXPECT_EQ(buf[3], 0x04);
  EXPECT_EQ(buf[6], 0x01);
  EXPECT_EQ(I16::Get(buf), -2);
  EXPECT_EQ(U32::Get(buf), 0x01020304u);
  EXPECT_EQ(F64::Get(buf), 7.92);
  static_assert(F64::end == 15);
}

}  // namespace
}  // namespace hdb

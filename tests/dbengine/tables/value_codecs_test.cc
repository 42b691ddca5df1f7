#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/value_conversion.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;

TEST(DateCodec, DayNumbers) {
  EXPECT_EQ(EncodeDayNumber(1, 1, 1), 1);
  EXPECT_EQ(EncodeDayNumber(2000, 1, 1), 730120);
  EXPECT_EQ(EncodeDayNumber(1899, 12, 30), DateDelta);
  EXPECT_EQ(EncodeDayNumber(2000, 3, 1) - EncodeDayNumber(2000, 2, 28), 2) << "2000 is a leap year";
  EXPECT_EQ(EncodeDayNumber(1900, 3, 1) - EncodeDayNumber(1900, 2, 28), 1) << "1900 is not";
  std::int32_t n = 5;
  EXPECT_FALSE(TryEncodeDayNumber(2023, 2, 29, n));
  EXPECT_FALSE(TryEncodeDayNumber(0, 1, 1, n));
  EXPECT_EQ(n, 5);
  // Every day from 0001-01-01 to 9999-12-31 decodes back to the date it encodes.
  int y = 1, m = 1, d = 1;
  for (std::int32_t day = 1; day <= EncodeDayNumber(9999, 12, 31); ++day) {
    int yy, mm, dd;
    DecodeDayNumber(day, yy, mm, dd);
    ASSERT_TRUE(yy == y && mm == m && dd == d) << day;
    if (!IsValidDate(y, m, ++d)) {
      d = 1;
      if (++m > 12) {
        m = 1;
        ++y;
      }
    }
  }
}

TEST(DateCodec, DateTimeValues) {
  struct Case {
    double dateTime;
    std::int32_t date, time;
  };
  const Case cases[] = {
      {0.5, 693594, 43200000},           // 1899-12-30 12:00
      {36526.0, 730120, 0},              // 2000-01-01
      {36526.75, 730120, 64800000},
      {-1.25, 693593, 21600000},         // 1899-12-29 06:00: the fraction runs forward
      {1.0 - 1e-12, 693595, 0},          // rounds to the next midnight
  };
  for (const Case& c : cases) {
    THDBTimeStamp s = DateTimeToTimeStamp(c.dateTime);
    EXPECT_EQ(s.Date, c.date) << c.dateTime;
    EXPECT_EQ(s.Time, c.time) << c.dateTime;
  }
  EXPECT_DOUBLE_EQ(TimeStampToDateTime({693593, 21600000}), -1.25);
  EXPECT_DOUBLE_EQ(TimeStampToDateTime({730120, 64800000}), 36526.75);
}

TEST(DateCodec, TextForms) {
  char buf[DateTimeTextRoom];
  EXPECT_EQ(std::string(buf, FormatDateText(730120, buf)), "01.01.2000");
  EXPECT_EQ(std::string(buf, FormatDateText(1, buf)), "01.01.0001");
  EXPECT_EQ(std::string(buf, FormatTimeText(EncodeTimeMs(7, 5, 9, 999), buf)), "07:05:09");
  EXPECT_EQ(std::string(buf, FormatDateTimeText({730120, 0}, buf)), "01.01.2000");
  EXPECT_EQ(std::string(buf, FormatDateTimeText({730120, 3600000}, buf)), "01.01.2000 01:00:00");

  std::int32_t day = 0, ms = 0;
  EXPECT_TRUE(ParseDateText("31.12.2023", day));
  EXPECT_EQ(day, EncodeDayNumber(2023, 12, 31));
  EXPECT_TRUE(ParseDateText(" 1.2.2024", day));
  EXPECT_EQ(day, EncodeDayNumber(2024, 2, 1));
  for (const char* bad : {"", "31.12.23", "32.01.2000", "2000-01-01", "01.01.2000x", "1..2000", "01.01.2000 10:00"})
    EXPECT_FALSE(ParseDateText(bad, day)) << bad;
  EXPECT_TRUE(ParseTimeText("23:59:59.5", ms));
  EXPECT_EQ(ms, EncodeTimeMs(23, 59, 59, 500));
  EXPECT_TRUE(ParseTimeText("7:30", ms));
  EXPECT_EQ(ms, EncodeTimeMs(7, 30, 0, 0));
  for (const char* bad : {"24:00", "12:60", "12:5", "12"}) EXPECT_FALSE(ParseTimeText(bad, ms)) << bad;
  THDBTimeStamp s;
  EXPECT_TRUE(ParseDateTimeText("01.01.2000  13:14:15", s));
  EXPECT_EQ(s.Date, 730120);
  EXPECT_EQ(s.Time, EncodeTimeMs(13, 14, 15, 0));
  EXPECT_TRUE(ParseDateTimeText("13:14", s));
  EXPECT_EQ(s.Date, DateDelta);
  EXPECT_FALSE(ParseDateTimeText("01.01.2000T13:14", s));
}

TEST(ExtendedFloat, DoublesConvertExactlyAndBack) {
  const double values[] = {0.0, -0.0, 1.0, -2.5, 1.0 / 3.0, 1e308, -1e-308, 4.9e-324, 123456789.125,
                           std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  for (double v : values) {
    std::uint8_t x[ExtendedSize];
    DoubleToExtended(v, x);
    double back = ExtendedToDouble(x);
    EXPECT_EQ(back, v);
    EXPECT_EQ(std::signbit(back), std::signbit(v));
    if constexpr (std::numeric_limits<long double>::digits == 64) {
      // Where long double is the x87 format the bytes must be its own.
      long double native = v;
      EXPECT_EQ(std::memcmp(x, &native, ExtendedSize), 0) << v;
    }
  }
  std::uint8_t x[ExtendedSize];
  DoubleToExtended(std::numeric_limits<double>::quiet_NaN(), x);
  EXPECT_TRUE(std::isnan(ExtendedToDouble(x)));
  EXPECT_EQ(le::Load<std::uint16_t>(x, 8), 0x7FFF);
}

TEST(ExtendedFloat, LongDoublesKeepTheir64BitSignificand) {
  if constexpr (std::numeric_limits<long double>::digits != 64) GTEST_SKIP() << "long double is not 80-bit here";
  std::mt19937_64 random(42);
  for (int i = 0; i < 10000; ++i) {
    std::uint64_t significand = random() | (std::uint64_t{1} << 63);
    int exponent = static_cast<int>(random() % 32000) - 16000;
    long double v = std::ldexp(static_cast<long double>(significand), exponent - 63);
    if (random() & 1) v = -v;
    std::uint8_t x[ExtendedSize];
    LongDoubleToExtended(v, x);
    ASSERT_EQ(std::memcmp(x, &v, ExtendedSize), 0) << i;
    ASSERT_EQ(ExtendedToLongDouble(x), v);
  }
  long double tiny = std::numeric_limits<long double>::denorm_min() * 3;
  std::uint8_t x[ExtendedSize];
  LongDoubleToExtended(tiny, x);
  EXPECT_EQ(std::memcmp(x, &tiny, ExtendedSize), 0) << "denormals";
  EXPECT_EQ(ExtendedToLongDouble(x), tiny);
}

// Converts a value and gives back its bytes.
std::vector<std::uint8_t> Converted(const void* value, std::uint8_t from, std::uint8_t to) {
  THDBValueBuffer out;
  ConvertValue(value, from, to, out);
  return std::vector<std::uint8_t>(out.Data(), out.Data() + out.Size());
}
std::string ConvertedText(const void* value, std::uint8_t from) {
  auto bytes = Converted(value, from, btString);
  return std::string(reinterpret_cast<const char*>(bytes.data()));
}

TEST(ValueConversion, NumbersAndTexts) {
  std::int8_t s8 = -7;
  EXPECT_EQ(ConvertedText(&s8, btShortInt), "-7");
  std::uint32_t u32 = 4000000000u;
  EXPECT_EQ(ConvertedText(&u32, btCardinal), "4000000000");
  double d = 0.1;
  EXPECT_EQ(ConvertedText(&d, btDouble), "0.1");
  float f = 0.1f;
  EXPECT_EQ(ConvertedText(&f, btSingle), "0.100000001490116");
  std::int16_t yes = -1;
  EXPECT_EQ(ConvertedText(&yes, btLogical), "True");
  std::int32_t day = 730120;
  EXPECT_EQ(ConvertedText(&day, btDate), "01.01.2000");

  auto wide = Converted("\x80 1", btString, btWideString);
  ASSERT_EQ(wide.size(), 8u);
  EXPECT_EQ(le::Load<std::uint16_t>(wide.data(), 0), 0x20AC) << "the euro sign of Windows-1252";
  EXPECT_EQ(le::Load<std::uint16_t>(wide.data(), 6), 0);
  EXPECT_EQ(ConvertedText(wide.data(), btWideString), "\x80 1");

  auto n = Converted(" +42 ", btString, btLargeInt);
  EXPECT_EQ(le::Load<std::int64_t>(n.data(), 0), 42);
  n = Converted("2.5", btString, btInteger);
  EXPECT_EQ(le::Load<std::int32_t>(n.data(), 0), 2) << "ties round to even";
  n = Converted("false", btString, btLogical);
  EXPECT_EQ(le::Load<std::int16_t>(n.data(), 0), 0);
  EXPECT_EQ(Raised([] { Converted("12a", btString, btInteger); }).what, "'12a' is not a valid number - Native error: 30608");

  std::int64_t big = -1;
  n = Converted(&big, btLargeInt, btWord);
  EXPECT_EQ(le::Load<std::uint16_t>(n.data(), 0), 0xFFFF) << "integers narrow as two's complement";
  n = Converted(&big, btLargeInt, btExtended);
  EXPECT_EQ(ExtendedToDouble(n.data()), -1.0);

  std::string longText(500, 'x');
  auto longWide = Converted(longText.c_str(), btMemo, btWideMemo);
  EXPECT_EQ(longWide.size(), 1002u) << "long texts use the heap part of the buffer";

  std::uint8_t blob[10] = {};
  EXPECT_EQ(Raised([&] { Converted(blob, btBlob, btString); }).what,
            "Cannot convert a value of type 'BLOB' to type 'STRING' - Native error: 30607");
}

}  // namespace
}  // namespace hdb

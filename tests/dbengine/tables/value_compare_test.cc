#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/leaf_values.h"
#include "dbengine/tables/value_compare.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;

// One operand of a comparison: its base type and its bytes in record form.
struct Value {
  std::uint8_t type;
  std::vector<std::uint8_t> bytes;
  bool isNull = false;
};

Value Text(const char* s, std::uint8_t type = btString) {
  Value v{type, {}};
  v.bytes.assign(s, s + std::strlen(s) + 1);
  return v;
}
Value Wide(std::u16string s, std::uint8_t type = btWideString) {
  Value v{type, std::vector<std::uint8_t>((s.size() + 1) * 2)};
  for (std::size_t i = 0; i < s.size(); ++i) le::Store<std::uint16_t>(v.bytes.data(), 2 * i, s[i]);
  return v;
}
template <class T>
Value Num(std::uint8_t type, T n) {
  Value v{type, std::vector<std::uint8_t>(sizeof(T))};
  le::Store<T>(v.bytes.data(), 0, n);
  return v;
}
Value Ext(double d) {
  Value v{btExtended, std::vector<std::uint8_t>(ExtendedSize)};
  DoubleToExtended(d, v.bytes.data());
  return v;
}
Value Day(int y, int m, int d) { return Num<std::int32_t>(btDate, EncodeDayNumber(y, m, d)); }
Value Stamp(std::int32_t date, std::int32_t time) {
  Value v{btDateTime, std::vector<std::uint8_t>(8)};
  le::Store<std::int32_t>(v.bytes.data(), 0, date);
  le::Store<std::int32_t>(v.bytes.data(), 4, time);
  return v;
}
Value Null(std::uint8_t type) { return Value{type, std::vector<std::uint8_t>(8), true}; }

struct CompareCase {
  const char* what;
  Value a, b;
  int expected;
  std::int32_t length = -1;
  bool caseInsensitive = false;
};

int Compare(const CompareCase& c) {
  return CompareValues(c.a.bytes.data(), c.b.bytes.data(), c.a.type, c.b.type, c.a.isNull, c.b.isNull, c.length,
                       c.caseInsensitive);
}

TEST(CompareValues, OrderAcrossTypes) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const CompareCase cases[] = {
      {"NULL equals NULL", Null(btDate), Null(btDate), 0},
      {"NULL before a date", Null(btDate), Day(1, 1, 1), -1},
      {"a date after NULL", Day(1, 1, 1), Null(btDate), 1},
      {"NULL before a text of another type", Null(btInteger), Text(""), -1},
      {"letter case counts", Text("abc"), Text("ABC"), -1},
      {"letter case ignored", Text("abc"), Text("ABC"), 0, -1, true},
      {"case-insensitive order", Text("abc"), Text("ABD"), -1, -1, true},
      {"a trailing blank counts", Text("ABC"), Text("ABC "), -1},
      {"a trailing blank counts without case", Text("abc"), Text("ABC "), -1, -1, true},
      {"locale order, not code order", Text("a"), Text("B"), -1},
      {"hyphen is a symbol", Text("co-op"), Text("coop"), -1},
      {"Windows-1252 letters", Text("\xC4rger"), Text("Zebra"), -1},
      {"fixed char and string", Text("ABC", btFixedChar), Text("ABC"), 0},
      {"length limits both", Text("abcX"), Text("abcY"), 0, 3},
      {"a shorter text sorts first", Text("ab"), Text("abc"), -1, 3},
      {"wide texts", Wide(u"\u00e9t\u00e9"), Wide(u"ete"), 1},
      {"wide texts without case", Wide(u"\u00c9T\u00c9"), Wide(u"\u00e9t\u00e9"), 0, -1, true},
      {"narrow meets wide", Text("\xE9t\xE9"), Wide(u"\u00e9t\u00e9"), 0},
      {"largeint -1 below 0", Num<std::int64_t>(btLargeInt, -1), Num<std::int64_t>(btLargeInt, 0), -1},
      {"word 65535 above 1", Num<std::uint16_t>(btWord, 65535), Num<std::uint16_t>(btWord, 1), 1},
      {"cardinal unsigned", Num<std::uint32_t>(btCardinal, 0xFFFFFFFF), Num<std::uint32_t>(btCardinal, 1), 1},
      {"byte unsigned", Num<std::uint8_t>(btByte, 200), Num<std::uint8_t>(btByte, 100), 1},
      {"shortint signed", Num<std::int8_t>(btShortInt, -100), Num<std::int8_t>(btShortInt, 100), -1},
      {"date-time: date first", Stamp(700000, 86399999), Stamp(700001, 0), -1},
      {"date-time: then time", Stamp(700000, 5), Stamp(700000, 4), 1},
      {"time", Num<std::int32_t>(btTime, 1000), Num<std::int32_t>(btTime, 999), 1},
      {"double", Num<double>(btDouble, -0.5), Num<double>(btDouble, 0.25), -1},
      {"unordered doubles are equal", Num<double>(btDouble, nan), Num<double>(btDouble, 1), 0},
      {"single", Num<float>(btSingle, 2.5f), Num<float>(btSingle, 2.5f), 0},
      {"extended keeps 64 bits", Ext(1.0), Ext(std::nextafter(1.0, 2.0)), -1},
      {"currency", Num<double>(btCurrency, 12.5), Num<double>(btCurrency, 12.25), 1},
      {"logical false below true", Num<std::int16_t>(btLogical, 0), Num<std::int16_t>(btLogical, -1), -1},
      {"logical: any non-zero is true", Num<std::int16_t>(btLogical, 5), Num<std::int16_t>(btLogical, 1), 0},
      // Mixed types go through the common type.
      {"integer widths", Num<std::int16_t>(btSmallInt, -3), Num<std::int64_t>(btLargeInt, -3), 0},
      {"signed meets a wider unsigned type", Num<std::int8_t>(btShortInt, -1), Num<std::uint16_t>(btWord, 5), -1},
      {"unsigned meets signed", Num<std::uint32_t>(btCardinal, 4000000000u), Num<std::int32_t>(btInteger, -1), 1},
      {"integer meets double", Num<std::int32_t>(btInteger, 5), Num<double>(btDouble, 5.0), 0},
      {"integer meets extended", Num<std::int64_t>(btLargeInt, 3), Ext(2.5), 1},
      {"currency meets single", Num<double>(btCurrency, 1.5), Num<float>(btSingle, 1.75f), -1},
      {"logical meets integer", Num<std::int16_t>(btLogical, 1), Num<std::int32_t>(btInteger, 1), 0},
      {"numbers meet texts as texts", Num<std::int32_t>(btInteger, 10), Text("9"), -1},
      {"double as text", Num<double>(btDouble, 2.5), Text("2.5"), 0},
      {"text meets date", Text("01.01.2000"), Day(2000, 1, 1), 0},
      {"date meets later text", Day(2000, 1, 1), Text(" 2.1.2000 "), -1},
      {"text meets date-time", Text("30.12.1899 12:00:00"), Stamp(DateDelta, 43200000), 0},
      {"text meets time", Text("12:00"), Num<std::int32_t>(btTime, 43200000), 0},
      {"date meets date-time", Day(2000, 1, 1), Stamp(EncodeDayNumber(2000, 1, 1), 1), -1},
      {"time meets date", Num<std::int32_t>(btTime, 0), Day(1899, 12, 30), 0},
      {"number meets date", Num<std::int32_t>(btInteger, 36526), Day(2000, 1, 1), 0},
      {"negative numbers are days before 1899", Num<double>(btDouble, -1.25), Stamp(DateDelta - 1, 21600000), 0},
      {"the earliest day number", Num<double>(btDouble, -2148177242.0),
       Num<std::int32_t>(btDate, std::numeric_limits<std::int32_t>::min()), 0},
      {"memo meets string", Text("abc", btMemo), Text("abd"), -1},
      {"two memos", Text("abc", btMemo), Text("ABC", btMemo), 0, -1, true},
      {"bytes collate as text", Text("abc", btBytes), Text("abd", btBytes), -1},
  };
  for (const CompareCase& c : cases) EXPECT_EQ(Compare(c), c.expected) << c.what;
}

TEST(CompareValues, Errors) {
  struct ErrorCase {
    Value a, b;
    int code;
    const char* what;
  };
  const ErrorCase cases[] = {
      {Text("a"), Null(btBlob), 0, nullptr},  // NULL orders before any check of types
      {Text("a"), Num<std::int32_t>(btInteger, 1), 0, nullptr},
      {Text("a"), Value{btBlob, std::vector<std::uint8_t>(10)}, 30044,
       "Cannot compare Incompatible DataTypes: 'STRING' and 'BLOB' - Native error: 30044"},
      {Day(2000, 1, 1), Num<std::int16_t>(btLogical, 1), 30044,
       "Cannot compare Incompatible DataTypes: 'DATE' and 'LOGICAL' - Native error: 30044"},
      {Num<std::int16_t>(btLogical, 1), Num<double>(btCurrency, 1), 30044,
       "Cannot compare Incompatible DataTypes: 'LOGICAL' and 'CURRENCY' - Native error: 30044"},
      {Value{btVarBytes, {1, 0}}, Value{btVarBytes, {1, 0}}, 30047, "Unknown DataType: 'VARBYTES' - Native error: 30047"},
      {Value{btBlob, std::vector<std::uint8_t>(10)}, Value{btBlob, std::vector<std::uint8_t>(10)}, 30047, nullptr},
      {Text("31.02.2000"), Day(2000, 1, 1), 30604, "'31.02.2000' is not a valid date - Native error: 30604"},
      // Numbers that are no day count of a stored date.
      {Num<double>(btDouble, std::numeric_limits<double>::quiet_NaN()), Day(2000, 1, 1), 30607,
       "Cannot convert a value of type 'FLOAT' to type 'DATE' - Native error: 30607"},
      {Num<double>(btDouble, -std::numeric_limits<double>::infinity()), Num<std::int32_t>(btTime, 0), 30607, nullptr},
      {Num<double>(btDouble, 1e300), Stamp(DateDelta, 0), 30607, nullptr},
      {Ext(3e9), Day(2000, 1, 1), 30607, nullptr},
      {Num<double>(btDouble, -2148177243.0), Day(1, 1, 1), 30607, nullptr},  // day number below INT32_MIN
  };
  for (const ErrorCase& c : cases) {
    auto e = Raised([&] {
      CompareValues(c.a.bytes.data(), c.b.bytes.data(), c.a.type, c.b.type, c.a.isNull, c.b.isNull, -1, false);
    });
    EXPECT_EQ(e.code, c.code) << e.what;
    if (c.what) {
      EXPECT_EQ(e.what, c.what);
    }
  }
  std::int32_t one = 1;
  EXPECT_EQ(Raised([&] { CompareValues(&one, nullptr, btInteger, btInteger, false, false, -1, false); }).what,
            "Value is Null - Native error: 30140");
}

TEST(CommonType, AsymmetricCellsAndTheArithmeticForm) {
  struct Cell {
    std::uint8_t a, b, comparing, arithmetic;
  };
  const Cell cells[] = {
      {5, 10, 10, 10},  {10, 5, 7, 7},    {22, 13, 13, 13}, {13, 22, 22, 22}, {6, 11, 11, 11}, {11, 6, 8, 8},
      {5, 9, 6, 6},     {9, 5, 6, 6},     {1, 15, 15, 1},   {15, 3, 15, 3},   {4, 17, 17, 4},  {16, 2, 16, 2},
      {15, 16, 17, 17}, {3, 20, 4, 4},    {20, 3, 4, 4},    {19, 19, 1, 1},   {21, 7, 7, 7},   {7, 21, 7, 7},
      {21, 22, 0, 0},   {22, 21, 0, 0},   {18, 18, 0, 0},   {23, 23, 0, 0},   {15, 21, 0, 0},  {0, 1, 0, 0},
      {1, 25, 0, 0},
  };
  for (const Cell& c : cells) {
    EXPECT_EQ(CommonType(c.a, c.b, true), c.comparing) << int(c.a) << " with " << int(c.b);
    EXPECT_EQ(CommonType(c.a, c.b, false), c.arithmetic) << int(c.a) << " with " << int(c.b) << " (arithmetic)";
  }
  // Every type compares with itself except the BLOB and byte-array types.
  for (int t = 1; t <= BaseTypeCount; ++t) {
    std::uint8_t self = CommonType(static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(t));
    if (t == 18 || t == 23 || t == 24)
      EXPECT_EQ(self, 0) << t;
    else if (t == 19 || t == 20)
      EXPECT_EQ(self, t - 18) << t;
    else
      EXPECT_EQ(self, t) << t;
  }
}

TEST(CompareRecordIDs, PageSignedThenSlotUnsigned) {
  EXPECT_EQ(CompareRecordIDs(RecordID{-1, 0}, RecordID{0, 0}), -1);
  EXPECT_EQ(CompareRecordIDs(RecordID{5, 65535}, RecordID{5, 1}), 1);
  EXPECT_EQ(CompareRecordIDs(RecordID{5, 3}, RecordID{5, 3}), 0);
  EXPECT_EQ(CompareRecordIDs(RecordID{6, 0}, RecordID{5, 65535}), 1);
  std::uint8_t a[6], b[6];
  StoreRecordID(a, {2, 0x8000});
  StoreRecordID(b, {2, 0x7FFF});
  EXPECT_EQ(a[4], 0x00);
  EXPECT_EQ(a[5], 0x80);
  EXPECT_EQ(CompareLeafValues(a, b, 6), 1);
  EXPECT_EQ(LoadRecordID(a), (RecordID{2, 0x8000}));
  // Two-byte page-index values compare bytewise.
  std::uint8_t c[2] = {0x01, 0x00}, d[2] = {0x00, 0x01};
  EXPECT_EQ(CompareLeafValues(c, d, 2), 1);
}

}  // namespace
}  // namespace hdb

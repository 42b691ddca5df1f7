#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/value_compare.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;
using Record = std::vector<std::uint8_t>;

enum ServiceField { FG, DAT, MLG, THND, NHND, SSTAT };

class ServiceRecord : public ::testing::Test {
 protected:
  void SetUp() override {
    THDBFieldDefs defs;
    test::AddServiceRecordFields(defs);
    fm.SetFieldDefs(defs);
    rec.assign(static_cast<std::size_t>(fm.MemoryRecordSize()), 0xAA);
    fm.InitRecord(rec.data(), false);
  }
  void SetString(int field, const char* text) { fm.SetFieldValue(field, text, rec.data()); }
  template <class T>
  void Set(int field, T value) {
    fm.SetFieldValue(field, &value, rec.data());
  }
  template <class T>
  T Load(int offset) const {
    return le::Load<T>(rec.data(), static_cast<std::size_t>(offset));
  }

  THDBBaseFieldManager fm;
  Record rec;
};

TEST_F(ServiceRecord, LayoutOfTheServiceRecordTable) {
  const std::int32_t offsets[] = {1, 19, 23, 31, 33, 41};
  const std::int32_t sizes[] = {18, 4, 8, 2, 8, 2};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(fm.Field(i).MemoryOffset, offsets[i]) << fm.Field(i).Name;
    EXPECT_EQ(fm.Field(i).DiskOffset, offsets[i]);
    EXPECT_EQ(fm.Field(i).MemoryDataSize, sizes[i]);
  }
  EXPECT_EQ(fm.NullBitmapSize(), 1);
  EXPECT_EQ(fm.MemoryRecordSize(), 43);
  EXPECT_EQ(fm.DiskRecordSize(), 43);

  Record fresh(43, 0);
  fresh[0] = 0xFF;
  EXPECT_EQ(rec, fresh) << "a fresh record is 0xFF, then 42 zero bytes";
}

TEST_F(ServiceRecord, StoredEncodings) {
  Set(DAT, EncodeDayNumber(2000, 1, 1));
  EXPECT_EQ(Load<std::int32_t>(19), 730120);
  EXPECT_EQ(std::vector<std::uint8_t>(rec.begin() + 19, rec.begin() + 23), test::Bytes({0x08, 0x24, 0x0B, 0x00}));
  Set(DAT, EncodeDayNumber(1, 1, 1));
  EXPECT_EQ(Load<std::int32_t>(19), 1);

  Set(MLG, std::int64_t{-2});
  Set(THND, std::uint16_t{1});
  Set(SSTAT, std::uint16_t{65535});
  SetString(FG, "WBA12345678901234");
  SetString(NHND, "1234567");
  EXPECT_EQ(rec[0], 0xC0) << "bits 0..5 cleared, the two unused bits stay set";
  EXPECT_EQ(Load<std::int64_t>(23), -2);
  EXPECT_EQ(Load<std::uint16_t>(41), 65535);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 1)), "WBA12345678901234");

  std::uint16_t word = 0;
  EXPECT_TRUE(fm.GetFieldValue(SSTAT, rec.data(), &word));
  EXPECT_EQ(word, 65535);
  char text[18];
  EXPECT_TRUE(fm.GetFieldValue(FG, rec.data(), text));
  EXPECT_STREQ(text, "WBA12345678901234");
}

TEST_F(ServiceRecord, EmptyTextsAndMissingSourcesStoreNull) {
  SetString(NHND, "ABC");
  ASSERT_FALSE(fm.IsFieldNull(NHND, rec.data()));
  SetString(NHND, "");
  EXPECT_TRUE(fm.IsFieldNull(NHND, rec.data()));
  char dest[8] = "unused";
  EXPECT_FALSE(fm.GetFieldValue(NHND, rec.data(), dest));
  EXPECT_STREQ(dest, "unused") << "a NULL field leaves the destination untouched";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 33)), "ABC") << "the data stays as it was";

  Set(MLG, std::int64_t{5});
  fm.SetFieldValue(MLG, nullptr, rec.data());
  EXPECT_TRUE(fm.IsFieldNull(MLG, rec.data()));
}

TEST_F(ServiceRecord, TextsNeverRunPastTheirField) {
  // A source without a terminator inside the field's size keeps 7 characters and the
  // terminator, so the text never runs into the next field.
  const char longer[] = "ABCDEFGHIJ";
  Set(SSTAT, std::uint16_t{0x4141});
  SetString(NHND, longer);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(rec.data() + 33)), "ABCDEFG");
  EXPECT_EQ(Load<std::uint16_t>(41), 0x4141);
}

TEST_F(ServiceRecord, FieldNumbersOutOfRange) {
  char buf[32];
  auto e = Raised([&] { fm.GetFieldValue(6, rec.data(), buf); });
  EXPECT_EQ(e.what, "Invalid field number - FieldNo = 6, FieldCount = 6 - Native error: 10000");
  EXPECT_EQ(Raised([&] { fm.SetFieldValue(-1, buf, rec.data()); }).code, 10004);
  EXPECT_EQ(Raised([&] { fm.SetFieldValue(6, buf, rec.data()); }).code, 10004);
}

TEST_F(ServiceRecord, RecordsEqualComparesValuesNotStaleBytes) {
  SetString(FG, "WBA12345678901234");
  Set(MLG, std::int64_t{256});
  SetString(NHND, "AB");
  Record other = rec;
  // Bytes after a text's terminator are not part of its value.
  other[33 + 3] = 'X';
  rec[33 + 5] = 'Y';
  EXPECT_TRUE(fm.RecordsEqual(rec.data(), other.data()));
  EXPECT_TRUE(fm.RecordsEqual(other.data(), rec.data()));

  // Numbers are compared whole: 256 and 512 share their first byte (0).
  Record changed = rec;
  le::Store<std::int64_t>(changed.data(), 23, 512);
  EXPECT_FALSE(fm.RecordsEqual(rec.data(), changed.data()));

  // A NULL field equals a NULL field whatever its old bytes; NULL differs from a value.
  Record nulled = rec;
  fm.SetFieldValue(MLG, nullptr, nulled.data());
  EXPECT_FALSE(fm.RecordsEqual(rec.data(), nulled.data()));
  Record nulled2 = nulled;
  le::Store<std::int64_t>(nulled2.data(), 23, 99);
  EXPECT_TRUE(fm.RecordsEqual(nulled.data(), nulled2.data()));

  // The unused bitmap bits do not count.
  Record spare = rec;
  spare[0] ^= 0x80;
  EXPECT_TRUE(fm.RecordsEqual(rec.data(), spare.data()));

  Record text = rec;
  text[1 + 16] = 'X';
  EXPECT_FALSE(fm.RecordsEqual(rec.data(), text.data()));
}

TEST_F(ServiceRecord, DefaultsApplyAndStayInsideTheirFields) {
  THDBFieldDefs defs;
  test::AddServiceRecordFields(defs);
  defs[NHND].DefaultValue = THDBVariant::FromString("ABCDEFGHIJ");             // longer than the field
  defs[FG].DefaultValue = THDBVariant::FromString("");                         // empty text
  defs[MLG].DefaultValue = THDBVariant::FromScalar<std::int32_t>(btInteger, -1);  // another type
  defs[SSTAT].DefaultValue = THDBVariant::FromString("16385");                 // text of a number
  fm.SetFieldDefs(defs);
  Record r(43, 0x55);
  fm.InitRecord(r.data(), true);
  EXPECT_EQ(r[0], 0xFF & ~((1 << FG) | (1 << MLG) | (1 << NHND) | (1 << SSTAT)));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 33)), "ABCDEFG");
  EXPECT_EQ(r[1], 0) << "an empty default writes nothing but makes the field non-NULL";
  EXPECT_EQ(le::Load<std::int64_t>(r.data(), 23), -1);
  EXPECT_EQ(le::Load<std::uint16_t>(r.data(), 41), 16385);
  EXPECT_EQ(le::Load<std::uint16_t>(r.data(), 31), 0);
}

TEST_F(ServiceRecord, DefaultsConvertFromTheirStoredBytesOnly) {
  // Stored values short of their type's form (a text without its terminator, a number
  // of fewer bytes) convert as if zero-padded, never reading beyond the value.
  THDBFieldDefs defs;
  test::AddServiceRecordFields(defs);
  defs[THND].DefaultValue = THDBVariant::FromBytes(btString, "42", 2);
  defs[MLG].DefaultValue = THDBVariant::FromBytes(btInteger, test::Bytes({7, 0}).data(), 2);
  const std::uint8_t wideAB[] = {'A', 0, 'B', 0};
  defs[NHND].DefaultValue = THDBVariant::FromBytes(btWideString, wideAB, sizeof wideAB);
  fm.SetFieldDefs(defs);
  Record r(43);
  fm.InitRecord(r.data(), true);
  EXPECT_EQ(le::Load<std::uint16_t>(r.data(), 31), 42);
  EXPECT_EQ(le::Load<std::int64_t>(r.data(), 23), 7);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 33)), "AB");
}

TEST(FieldManagerDefaults, DefaultsStoredWithoutBytesCopyNothing) {
  // A stored default of size 0 holds no data block at all. Applying it copies nothing
  // and, like an empty text, still makes the field non-NULL.
  auto storedWithoutBytes = [](std::uint8_t type) {
    THDBStream in(test::Bytes({type, 0, 0, 0, 0, 0}));  // type, a value follows, size 0
    THDBVariant v;
    v.LoadFromStream(in);
    return v;
  };
  THDBFieldDefs defs;
  defs.AddField("N", dtLargeInt).DefaultValue = storedWithoutBytes(btLargeInt);
  defs.AddField("B", dtBytes, 3).DefaultValue = storedWithoutBytes(btBytes);
  defs.AddField("R", dtWord).DefaultValue = storedWithoutBytes(0);  // untyped
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  Record r(static_cast<std::size_t>(fm.MemoryRecordSize()), 0x55);
  fm.InitRecord(r.data(), true);
  EXPECT_EQ(r[0] & 0x07, 0);
  EXPECT_EQ(Record(r.begin() + 1, r.end()), Record(r.size() - 1, 0));
}

// A default expression as the expression layer would provide it: the text "NEXT"
// yields 1, 2, 3, ... each time it is applied.
struct CountingExpression : THDBDefaultExpression {
  int calls = 0;
  void Evaluate(THDBVariant& result) override {
    result = THDBVariant::FromScalar<std::int32_t>(btInteger, ++calls);
  }
};
std::unique_ptr<THDBDefaultExpression> BuildCounting(const THDBFieldDef& field) {
  if (field.DefaultValue.AsString() != "NEXT") return nullptr;
  return std::make_unique<CountingExpression>();
}

TEST_F(ServiceRecord, DefaultExpressionsAreComputedEachTime) {
  SetDefaultExpressionBuilder(BuildCounting);
  THDBFieldDefs defs;
  test::AddServiceRecordFields(defs);
  defs[THND].DefaultValue = THDBVariant::FromString("NEXT");
  defs[NHND].DefaultValue = THDBVariant::FromString("NEXT?");  // a constant text
  fm.SetFieldDefs(defs);
  SetDefaultExpressionBuilder(nullptr);
  ASSERT_NE(fm.Field(THND).DefaultExpression, nullptr);
  EXPECT_EQ(fm.Field(NHND).DefaultExpression, nullptr);
  Record r(43);
  fm.InitRecord(r.data(), true);
  EXPECT_EQ(le::Load<std::uint16_t>(r.data(), 31), 1);
  fm.InitRecord(r.data(), true);
  EXPECT_EQ(le::Load<std::uint16_t>(r.data(), 31), 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data() + 33)), "NEXT?");
}

TEST(FieldManagerConversions, ValuesInTheFormsTheDatasetUses) {
  THDBFieldDefs defs;
  defs.AddField("S8", dtShortInt);
  defs.AddField("U32", dtCardinal);
  defs.AddField("F32", dtSingle);
  defs.AddField("F80", dtExtended);
  defs.AddField("STAMP", dtDateTime);
  defs.AddField("W", dtWideString, 4);
  defs.AddField("M", dtMemo);
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  Record r(static_cast<std::size_t>(fm.MemoryRecordSize()));
  fm.InitRecord(r.data(), false);
  const std::uint8_t* at = r.data();

  std::int16_t s8 = -5;
  fm.SetFieldValue(0, &s8, r.data());
  EXPECT_EQ(at[fm.Field(0).MemoryOffset], 0xFB);
  std::int16_t s8Out = 0;
  fm.GetFieldValue(0, r.data(), &s8Out);
  EXPECT_EQ(s8Out, -5);

  std::uint64_t u32 = 4294967296ull;
  fm.SetFieldValue(1, &u32, r.data());
  EXPECT_EQ(le::Load<std::uint32_t>(at, fm.Field(1).MemoryOffset), 0u);
  std::uint64_t u32Out = 77;
  EXPECT_TRUE(fm.GetFieldValue(1, r.data(), &u32Out));
  EXPECT_EQ(u32Out, 0u);
  u32 = 0xFFFFFFFFull;
  fm.SetFieldValue(1, &u32, r.data());
  fm.GetFieldValue(1, r.data(), &u32Out);
  EXPECT_EQ(u32Out, 0xFFFFFFFFull) << "the high half of the 64-bit value is 0";

  double single = 1.1;
  fm.SetFieldValue(2, &single, r.data());
  EXPECT_EQ(le::Load<float>(at, fm.Field(2).MemoryOffset), 1.1f);
  double singleOut = 0;
  fm.GetFieldValue(2, r.data(), &singleOut);
  EXPECT_EQ(singleOut, static_cast<double>(1.1f));

  double third = 1.0 / 3.0;
  fm.SetFieldValue(3, &third, r.data());
  EXPECT_EQ(le::Load<std::uint16_t>(at, fm.Field(3).MemoryOffset + 8), 0x3FFD) << "sign and exponent of 1/3";
  double thirdOut = 0;
  fm.GetFieldValue(3, r.data(), &thirdOut);
  EXPECT_EQ(thirdOut, third);

  THDBTimeStamp noon = DateTimeToTimeStamp(0.5);  // 1899-12-30 12:00
  std::uint8_t stamp[8];
  le::Store<std::int32_t>(stamp, 0, noon.Date);
  le::Store<std::int32_t>(stamp, 4, noon.Time);
  fm.SetFieldValue(4, stamp, r.data());
  EXPECT_EQ(le::Load<std::int32_t>(at, fm.Field(4).MemoryOffset), 693594);
  EXPECT_EQ(le::Load<std::int32_t>(at, fm.Field(4).MemoryOffset + 4), 43200000);

  std::u16string empty(5, u'\0');
  fm.SetFieldValue(5, empty.data(), r.data());
  EXPECT_TRUE(fm.IsFieldNull(5, r.data()));
  std::u16string wide = u"Ab\u20AC";
  wide.resize(5);
  fm.SetFieldValue(5, wide.data(), r.data());
  std::u16string wideOut(5, u'x');
  EXPECT_TRUE(fm.GetFieldValue(5, r.data(), wideOut.data()));
  EXPECT_EQ(wideOut, wide);

  std::uint8_t blobSlot[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  fm.SetFieldValue(6, blobSlot, r.data());
  std::uint8_t untouched[10] = {};
  EXPECT_TRUE(fm.GetFieldValue(6, r.data(), untouched)) << "BLOB-like fields are read as streams";
  EXPECT_EQ(untouched[0], 0);
}

TEST(FieldManagerConversions, ByteArraysEndInsideTheirSlot) {
  // Byte arrays collate like texts, up to their first zero byte. The slot's byte after
  // the declared bytes stays zero, so the order of two values never depends on the
  // fields that follow them in the record (or on bytes beyond the record).
  THDBFieldDefs defs;
  defs.AddField("B", dtBytes, 4).DefaultValue = THDBVariant::FromBytes(btBytes, "WXYZ!", 5);
  defs.AddField("W", dtWord);
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  const std::int32_t at = fm.Field(0).MemoryOffset;
  Record a(static_cast<std::size_t>(fm.MemoryRecordSize())), b(a.size());
  fm.InitRecord(a.data(), true);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.data() + at)), "WXYZ") << "a default keeps the end too";

  const char source[] = "ABCDE";  // the declared 4 bytes and one more
  std::uint16_t aa = 0x4141, bb = 0x4242;
  fm.SetFieldValue(0, source, a.data());
  fm.SetFieldValue(1, &aa, a.data());
  fm.InitRecord(b.data(), false);
  fm.SetFieldValue(0, source, b.data());
  fm.SetFieldValue(1, &bb, b.data());
  EXPECT_EQ(a[static_cast<std::size_t>(at) + 4], 0);
  EXPECT_EQ(CompareValues(a.data() + at, b.data() + at, btBytes, btBytes, false, false, -1, false), 0);
  char out[5] = {};
  EXPECT_TRUE(fm.GetFieldValue(0, a.data(), out));
  EXPECT_EQ(std::string(out, 4), "ABCD");
}

TEST(FieldManagerConversions, WideTextsCompareByUnitInRecordsEqual) {
  THDBFieldDefs defs;
  defs.AddField("W", dtWideString, 4);
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  Record a(static_cast<std::size_t>(fm.MemoryRecordSize())), b(a.size());
  fm.InitRecord(a.data(), false);
  fm.InitRecord(b.data(), false);
  std::u16string ab = u"AB\0\0\0", ac = u"AC\0\0\0";
  fm.SetFieldValue(0, ab.data(), a.data());
  fm.SetFieldValue(0, ac.data(), b.data());
  EXPECT_FALSE(fm.RecordsEqual(a.data(), b.data())) << "the zero high byte of 'A' does not end the text";
  fm.SetFieldValue(0, ab.data(), b.data());
  EXPECT_TRUE(fm.RecordsEqual(a.data(), b.data()));
}

TEST(FieldManagerForms, BlobSlotsLoseTheirHandleOnDisk) {
  THDBFieldDefs defs;
  defs.AddField("ID", dtInteger);
  defs.AddField("NOTES", dtMemo);
  defs.AddField("TAIL", dtWord);
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  ASSERT_EQ(fm.MemoryRecordSize(), 1 + 4 + 10 + 2);
  ASSERT_EQ(fm.DiskRecordSize(), 1 + 4 + 6 + 2);
  EXPECT_EQ(fm.Field(2).MemoryOffset, 15);
  EXPECT_EQ(fm.Field(2).DiskOffset, 11);
  Record memory(17);
  for (std::size_t i = 0; i < memory.size(); ++i) memory[i] = static_cast<std::uint8_t>(i + 1);
  Record disk(13, 0xEE);
  fm.MemoryToDisk(memory.data(), disk.data());
  EXPECT_EQ(disk, test::Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17}));
  Record back(17, 0xEE);
  fm.DiskToMemory(disk.data(), back.data());
  EXPECT_EQ(back, test::Bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0, 0, 0, 0, 16, 17}));
}

TEST(FieldManagerBlobs, BlockSizeMustBePositive) {
  THDBFieldDefs defs;
  defs.AddField("ID", dtInteger);
  THDBBaseFieldManager fm;
  fm.SetFieldDefs(defs);
  EXPECT_FALSE(fm.HasBlobFields());
  defs.AddField("PIC", dtGraphic).BlobBlockSize = 0;
  fm.SetFieldDefs(defs);
  EXPECT_EQ(Raised([&] { fm.HasBlobFields(); }).what, "BLOB block size should be > 0 for field PIC - Native error: 10421");
  fm.FieldDefs()[1].BlobBlockSize = 512;
  EXPECT_TRUE(fm.HasBlobFields());
}

// ---- Automatic values --------------------------------------------------------------

class Autoinc : public ::testing::Test {
 protected:
  void SetUp() override {
    THDBFieldDefs defs;
    THDBFieldDef& id = defs.AddField("ID", dtAutoinc);
    id.ObjectID = 10;
    defs.AddField("NAME", dtString, 5).ObjectID = 11;
    THDBFieldDef& small = defs.AddField("SMALL", dtAutoincSmallInt);
    small.ObjectID = 12;
    small.AutoincInitialValue = 100;
    fm.SetFieldDefs(defs);
  }
  Record NewRecord() {
    Record r(static_cast<std::size_t>(fm.MemoryRecordSize()));
    fm.InitRecord(r.data(), false);
    return r;
  }
  THDBBaseFieldManager fm;
};

TEST_F(Autoinc, CountersStepAndCycle) {
  EXPECT_EQ(fm.AutoincCounters(), (std::vector<std::int64_t>{0, 0, 100}));
  fm.FieldDefs()[0].AutoincIncrement = 0;
  EXPECT_EQ(fm.NextAutoinc(0), 1);
  EXPECT_EQ(fm.NextAutoinc(0), 2) << "an increment of 0 still advances by 1";

  THDBFieldDef& id = fm.FieldDefs()[0];
  id.AutoincIncrement = 3;
  id.AutoincMaxValue = 10;
  id.AutoincMinValue = 5;
  id.AutoincCycle = true;
  EXPECT_EQ(fm.NextAutoinc(0), 5);
  EXPECT_EQ(fm.NextAutoinc(0), 8);
  id.AutoincIncrement = 2;
  EXPECT_EQ(fm.NextAutoinc(0), 10);
  EXPECT_EQ(fm.NextAutoinc(0), 5) << "the value after 10 is the minimum";

  id.AutoincCycle = false;
  id.AutoincIncrement = 6;
  auto e = Raised([&] { fm.NextAutoinc(0); });
  EXPECT_EQ(e.what, "Autoinc max value exceeded for field 'ID' - Native error: 20160");
  EXPECT_EQ(fm.AutoincCounters()[0], 5) << "a refused value leaves the counter";

  id.AutoincMaxValue = 0;  // no maximum
  EXPECT_EQ(fm.NextAutoinc(0), 11);

  id.AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
  THDBStream s;
  s.WriteValue<std::int32_t>(3);
  for (std::int64_t v : {std::numeric_limits<std::int64_t>::max() - 1, std::int64_t{0}, std::int64_t{0}})
    s.WriteValue<std::int64_t>(v);
  s.SetPosition(0);
  fm.LoadCounters(s);
  EXPECT_EQ(Raised([&] { fm.NextAutoinc(0); }).code, 20160) << "running off the 64-bit range is exceeding the maximum";

  EXPECT_EQ(Raised([&] { fm.NextAutoinc(3); }).what, "Field #3 not found - Native error: 30402");
  THDBStream shortCounters;
  shortCounters.WriteValue<std::int32_t>(1);
  shortCounters.WriteValue<std::int64_t>(0);
  shortCounters.SetPosition(0);
  fm.LoadCounters(shortCounters);
  EXPECT_EQ(Raised([&] { fm.NextAutoinc(2); }).code, 30403);
}

TEST_F(Autoinc, InsertAssignsValuesAndRemembersThemPerSession) {
  Record r = NewRecord();
  fm.AssignAutoincValues(0, r.data());
  EXPECT_FALSE(fm.IsFieldNull(0, r.data()));
  EXPECT_EQ(le::Load<std::int32_t>(r.data(), fm.Field(0).MemoryOffset), 1);
  EXPECT_EQ(le::Load<std::int16_t>(r.data(), fm.Field(2).MemoryOffset), 101);
  EXPECT_TRUE(fm.IsFieldNull(1, r.data())) << "other fields stay as they are";

  // A given value above the counter moves it; the session remembers it.
  Record given = NewRecord();
  std::int32_t fifty = 50;
  fm.SetFieldValue(0, &fifty, given.data());
  fm.AssignAutoincValues(7, given.data());
  EXPECT_EQ(fm.AutoincCounters()[0], 50);
  EXPECT_EQ(fm.LastAutoinc(7, 0), 50);
  EXPECT_EQ(fm.LastAutoinc(7, 2), 102);
  EXPECT_EQ(fm.LastAutoinc(0, 0), 1);
  // A negative given value of a signed field is below the counter.
  Record negative = NewRecord();
  std::int32_t minusOne = -1;
  fm.SetFieldValue(0, &minusOne, negative.data());
  fm.AssignAutoincValues(7, negative.data());
  EXPECT_EQ(fm.AutoincCounters()[0], 50);
  EXPECT_EQ(fm.NextAutoinc(0), 51);

  // Without a value of its own a session gets the counter, or an error when it demands one.
  EXPECT_EQ(fm.LastAutoinc(3, 0), 51);
  EXPECT_EQ(fm.LastAutoinc(3, 1), 0) << "not an autoincrement field";
  auto e = Raised([&] { fm.LastAutoinc(3, 0, true); });
  EXPECT_EQ(e.what, "No SequenceLastValue in session for sequence 'ID'. Call GetNextVal first - Native error: 30012");
  fm.ForgetSession(7);
  EXPECT_EQ(fm.LastAutoinc(7, 0), 51);
}

TEST_F(Autoinc, CountersRoundTripThroughTheirStreamForm) {
  fm.NextAutoinc(0);
  fm.NextAutoinc(0);
  THDBStream out;
  fm.SaveCounters(out);
  EXPECT_EQ(out.Bytes().size(), 4u + 3 * 8);
  EXPECT_EQ(le::Load<std::int32_t>(out.Bytes().data(), 0), 3);
  EXPECT_EQ(le::Load<std::int64_t>(out.Bytes().data(), 4), 2);
  EXPECT_EQ(le::Load<std::int64_t>(out.Bytes().data(), 20), 100);

  THDBBaseFieldManager other;
  THDBFieldDefs defs;
  defs.Assign(fm.FieldDefs());
  other.SetFieldDefs(defs);
  THDBStream in(out.Bytes());
  other.LoadCounters(in);
  EXPECT_EQ(other.AutoincCounters(), fm.AutoincCounters());
  EXPECT_EQ(other.NextAutoinc(0), 3);

  THDBStream truncated(out.Bytes().data(), 10);
  EXPECT_EQ(Raised([&] { other.LoadCounters(truncated); }).code, 30601);
}

}  // namespace
}  // namespace hdb

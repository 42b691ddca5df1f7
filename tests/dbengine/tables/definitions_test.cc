#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <new>
#include <regex>
#include <string>
#include <type_traits>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/table_metadata.h"
#include "forked_child.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Append;
using test::Bytes;
using test::Raised;

template <class T>
std::vector<std::uint8_t> Saved(const T& object) {
  THDBStream s;
  object.SaveToStream(s);
  return s.Bytes();
}

// ---- Type table --------------------------------------------------------------------

TEST(TypeTable, DatasetTypesMapToTheirFirstRow) {
  struct Case {
    int dataset;
    std::uint8_t declared, base;
    const char* word;
  };
  const Case cases[] = {
      {ftString, dtString, btString, "STRING"},       {ftDate, dtDate, btDate, "DATE"},
      {ftLargeint, dtLargeInt, btLargeInt, "LARGEINT"}, {ftWord, dtWord, btWord, "WORD"},
      {ftFixedChar, dtChar, btFixedChar, "CHAR"},     {ftAutoInc, dtAutoinc, btInteger, "AUTOINC"},
      {ftFloat, dtDouble, btDouble, "FLOAT"},         {ftBlob, dtBlob, btBlob, "BLOB"},
      {ftGuid, dtGuid, btFixedChar, "GUID"},
  };
  for (const Case& c : cases) {
    std::uint8_t declared = DatasetToDeclaredType(c.dataset);
    EXPECT_EQ(declared, c.declared) << c.word;
    EXPECT_EQ(DeclaredToBaseType(declared), c.base) << c.word;
    EXPECT_STREQ(DeclaredTypeWord(declared), c.word);
  }
  EXPECT_EQ(DeclaredToDatasetType(dtMemo), ftMemo);
  EXPECT_EQ(DeclaredToDatasetType(dtWideMemo), ftBlob);
  EXPECT_EQ(DeclaredToBaseType(0), 0);
  EXPECT_EQ(DeclaredToBaseType(37), 0);
  EXPECT_EQ(TypeWordToDeclaredType("varchar2"), dtString);
  EXPECT_EQ(TypeWordToDeclaredType("NOSUCHTYPE"), 0);

  auto e = Raised([] { DatasetToDeclaredType(99); });
  EXPECT_EQ(e.code, 30289);
  EXPECT_EQ(e.what, "Unknown DataType: '99' - Native error: 30289");
}

TEST(TypeTable, BaseTypeWordsAreThoseOfTheFirstRowWithTheCode) {
  EXPECT_STREQ(BaseTypeWord(btFixedChar), "CHAR");
  EXPECT_STREQ(BaseTypeWord(btInteger), "INTEGER");
  EXPECT_STREQ(BaseTypeWord(btDouble), "FLOAT");
  EXPECT_STREQ(BaseTypeWord(btDateTime), "DATETIME");
  EXPECT_STREQ(BaseTypeWord(btBlob), "BLOB");
  EXPECT_STREQ(BaseTypeWord(0), "Unknown");
  EXPECT_STREQ(BaseTypeWord(25), "Unknown");
  EXPECT_EQ(BaseToDeclaredType(btInteger), dtInteger);
  EXPECT_EQ(BaseToDeclaredType(btDateTime), dtDateTime);
}

TEST(TypeTable, SizesOfEveryBaseType) {
  // n = 5 for the sized types.
  const std::int32_t memory[BaseTypeCount] = {6, 12, 6, 12, 1, 2, 4, 8, 1, 2, 4, 4, 8, 10, 4, 4, 8, 10, 10, 10, 2, 8, 6, 6};
  for (int t = 1; t <= BaseTypeCount; ++t) {
    EXPECT_EQ(MemoryDataSizeOf(static_cast<std::uint8_t>(t), 5), memory[t - 1]) << t;
    EXPECT_EQ(DiskDataSizeOf(static_cast<std::uint8_t>(t), 5), IsBlobBaseType(t) ? 6 : memory[t - 1]) << t;
  }
  EXPECT_EQ(Raised([] { MemoryDataSizeOf(0, 0); }).code, 30050);
}

TEST(FieldDef, SetTypeRejectsUnsupportedDeclaredTypes) {
  THDBFieldDef f;
  f.SetType(dtAutoincWord, 0);
  EXPECT_EQ(f.BaseType, btWord);
  EXPECT_EQ(f.MemoryDataSize, 2);
  auto e = Raised([&] { f.SetType(40, 0); });
  EXPECT_EQ(e.code, 30007);
  EXPECT_EQ(e.what, "Unsupported data type 'Unknown' - Native error: 30007");
  EXPECT_EQ(f.DeclaredType, dtAutoincWord) << "a refused type leaves the definition as it was";
}

// ---- Stored form of definitions ----------------------------------------------------

TEST(FieldDefStream, StringFieldOfSize17IsStoredExactly) {
  THDBFieldDefs defs;
  THDBFieldDef& fg = defs.AddField("FG", dtString, 17);
  fg.ObjectID = 5;
  std::vector<std::uint8_t> expected = Bytes({1, 0, 0, 0,             // count
                                              2, 'F', 'G', 5, 0, 0, 0,  // prefix
                                              3, 2, 17, 0, 0, 0,      // BaseType, DeclaredType, DeclaredSize
                                              1, 0, 0, 0, 0, 0, 0, 0,   // AutoincIncrement
                                              0, 0, 0, 0, 0, 0, 0, 0,   // AutoincInitialValue
                                              0, 0, 0, 0, 0, 0, 0, 0,   // AutoincMinValue
                                              0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F,
                                              0,         // AutoincCycle
                                              0, 0xFF});  // null default: type, null state
  EXPECT_EQ(Saved(defs), expected);
}

TEST(FieldDefStream, FieldListRoundTripsByteIdentical) {
  THDBFieldDefs defs;
  test::AddServiceRecordFields(defs);
  THDBFieldDef& blob = defs.AddField("NOTES", dtMemo);
  blob.BlobCompression = 2;
  blob.BlobCompressionLevel = 6;
  blob.BlobBlockSize = 4096;
  THDBFieldDef& id = defs.AddField("ID", dtAutoincLargeInt);
  id.AutoincIncrement = 5;
  id.AutoincInitialValue = -3;
  id.AutoincMinValue = -10;
  id.AutoincMaxValue = 1000;
  id.AutoincCycle = true;
  defs[4].DefaultValue = THDBVariant::FromString("X1");
  defs.RecalcOffsets();
  std::vector<std::uint8_t> bytes = Saved(defs);

  THDBFieldDefs loaded;
  loaded.AddField("OLD", dtInteger);  // reading clears the list first
  THDBStream in(bytes);
  loaded.LoadFromStream(in);
  EXPECT_EQ(in.Position(), bytes.size());
  ASSERT_EQ(loaded.Count(), 8);
  EXPECT_EQ(Saved(loaded), bytes);
  // Sizes and offsets are computed, not read.
  EXPECT_EQ(loaded[6].MemoryOffset, defs[6].MemoryOffset);
  EXPECT_EQ(loaded[6].MemoryDataSize, 10);
  EXPECT_EQ(loaded[6].DiskDataSize, 6);
  EXPECT_EQ(loaded.MemoryRecordSize(), defs.MemoryRecordSize());
  EXPECT_EQ(loaded.DiskRecordSize(), defs.MemoryRecordSize() - 4);
  EXPECT_EQ(loaded[6].BlobBlockSize, 4096);
  EXPECT_TRUE(loaded[7].AutoincCycle);
  EXPECT_EQ(loaded[7].AutoincInitialValue, -3);
  EXPECT_EQ(loaded[4].DefaultValue, THDBVariant::FromString("X1"));
}

TEST(IndexDefStream, TemporaryIndexesAreNeverStored) {
  THDBIndexDefs defs;
  THDBIndexDef& fgdat = defs.AddNew();
  fgdat.Name = "FGDAT";
  fgdat.ObjectID = 7;
  fgdat.RootPageNo = 12;
  fgdat.SetColumns({"FG", "DAT"}, {"", "DESC"}, {"NO_CASE", ""});
  defs.AddTemporaryIndex({"MLG"}, {""}, {""}, 0);
  THDBIndexDef& second = defs.AddNew();
  second.Name = "BYMLG";
  second.IsUnique = true;
  second.Columns.push_back({"MLG", false, false, 8});

  std::vector<std::uint8_t> expected = Bytes({2, 0, 0, 0});
  Append(expected, Bytes({5, 'F', 'G', 'D', 'A', 'T', 7, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 12, 0, 0, 0}));
  Append(expected, Bytes({2, 'F', 'G', 0, 0xFF, 20, 0, 0, 0, 3, 'D', 'A', 'T', 0xFF, 0, 20, 0, 0, 0}));
  Append(expected, Bytes({5, 'B', 'Y', 'M', 'L', 'G', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0xFF, 0, 1, 0, 0, 0,
                          0xFF, 0xFF, 0xFF, 0xFF, 3, 'M', 'L', 'G', 0, 0, 8, 0, 0, 0}));
  std::vector<std::uint8_t> bytes = Saved(defs);
  EXPECT_EQ(bytes, expected);

  THDBIndexDefs loaded;
  THDBStream in(bytes);
  loaded.LoadFromStream(in);
  ASSERT_EQ(loaded.Count(), 2);
  EXPECT_EQ(loaded[0].Columns, fgdat.Columns);
  EXPECT_FALSE(loaded[0].IsTemporary);
  EXPECT_EQ(Saved(loaded), bytes);
}

std::unique_ptr<THDBConstraintDefs> SampleConstraints() {
  auto defs = std::make_unique<THDBConstraintDefs>();
  auto nn = std::make_unique<THDBConstraintDefNotNull>();
  nn->Name = "NN_FG";
  nn->ObjectID = 20;
  nn->FirstRef = {"", -1};
  nn->TableRef = {"dsTable", 3};
  nn->FieldRef = {"FG", 100};
  defs->Add(std::move(nn));
  auto check = std::make_unique<THDBConstraintDefCheck>();
  check->Name = "CK_SSTAT";
  check->TableRef = {"dsTable", 3};
  check->FieldRef = {"SSTAT", 105};
  check->MinValue = THDBVariant::FromScalar<std::uint16_t>(btWord, 16384);
  defs->Add(std::move(check));
  auto unique = std::make_unique<THDBConstraintDefUnique>();
  unique->Name = "U_MLG";
  unique->IndexRef = {"BYMLG", 8};
  unique->Columns = {{"MLG", 102}};
  defs->Add(std::move(unique));
  auto primary = std::make_unique<THDBConstraintDefPrimary>();
  primary->Name = "C_PK$FG$DAT";
  primary->FirstRef = {"SCHEMA", 1};
  primary->IndexRef = {"FGDAT", 7};
  primary->Columns = {{"FG", 100}, {"DAT", 101}};
  defs->Add(std::move(primary));
  return defs;
}

TEST(ConstraintDefStream, ListOfEveryKindRoundTripsByteIdentical) {
  auto defs = SampleConstraints();
  std::vector<std::uint8_t> bytes = Saved(*defs);

  // The not null record: kind, prefix, three ids, then names as B (uint8) = length + 1
  // followed by the length byte and the characters.
  std::vector<std::uint8_t> notNull = Bytes({4, 0, 0, 0, 3, 5, 'N', 'N', '_', 'F', 'G', 20, 0, 0, 0,
                                             0xFF, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 100, 0, 0, 0, 1, 0,
                                             8, 7, 'd', 's', 'T', 'a', 'b', 'l', 'e', 3, 2, 'F', 'G'});
  ASSERT_GE(bytes.size(), notNull.size());
  EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + notNull.size()), notNull);

  THDBConstraintDefs loaded;
  THDBStream in(bytes);
  loaded.LoadFromStream(in);
  ASSERT_EQ(loaded.Count(), 4);
  EXPECT_EQ(loaded[0].ConstraintKind, ckNotNull);
  EXPECT_EQ(loaded[1].ConstraintKind, ckCheck);
  EXPECT_EQ(loaded[2].ConstraintKind, ckUnique);
  EXPECT_EQ(loaded[3].ConstraintKind, ckPrimaryKey);
  auto& check = static_cast<THDBConstraintDefCheck&>(loaded[1]);
  EXPECT_EQ(check.MinValue, THDBVariant::FromScalar<std::uint16_t>(btWord, 16384));
  EXPECT_TRUE(check.MaxValue.IsNull());
  auto& primary = static_cast<THDBConstraintDefPrimary&>(loaded[3]);
  EXPECT_EQ(primary.FirstRef, (THDBObjectRef{"SCHEMA", 1}));
  ASSERT_EQ(primary.Columns.size(), 2u);
  EXPECT_EQ(primary.Columns[1], (THDBObjectRef{"DAT", 101}));
  EXPECT_EQ(Saved(loaded), bytes);
}

TEST(ConstraintDefStream, ReferenceNamesOfTheLongestShortStringStayReadable) {
  // B = length + 1 must fit its one byte: a 255-character name keeps 254 characters
  // instead of writing a B of 0 that would misread the rest of the record.
  THDBConstraintDefs defs;
  auto nn = std::make_unique<THDBConstraintDefNotNull>();
  nn->Name = "NN";
  nn->FieldRef.Name = std::string(255, 'F');
  defs.Add(std::move(nn));
  THDBStream in(Saved(defs));
  THDBConstraintDefs loaded;
  loaded.LoadFromStream(in);
  EXPECT_EQ(static_cast<THDBConstraintDefNotNull&>(loaded[0]).FieldRef.Name, std::string(254, 'F'));
  EXPECT_EQ(in.Position(), in.Size());
}

TEST(ConstraintDefStream, UnknownKindsFailToLoadWithTheirNumber) {
  for (int kind : {1, 5, 200}) {
    THDBStream in(Bytes({1, 0, 0, 0, kind, 0, 0xFF, 0xFF, 0xFF, 0xFF}));
    THDBConstraintDefs loaded;
    auto e = Raised([&] { loaded.LoadFromStream(in); });
    EXPECT_EQ(e.code, 30316);
    EXPECT_EQ(e.what, "Unknown Constraint Type: '" + std::to_string(kind) + "' - Native error: 30316");
  }
}

TEST(ConstraintDefs, KindsOtherThanTheFourAreNotImplemented) {
  THDBConstraintDefs defs;
  defs.Add(std::make_unique<THDBConstraintDef>(ckForeignKey));
  THDBConstraintDefs target;
  EXPECT_EQ(Raised([&] { target.Assign(defs); }).code, 30035);
  THDBFieldDefs fields;
  THDBIndexDefs indexes;
  EXPECT_EQ(Raised([&] { defs.ResolveReferences(fields, indexes); }).code, 30037);
  EXPECT_EQ(Raised([&] { defs.GenerateMissingNames("T"); }).code, 30038);
  auto e = Raised([&] { defs.AddNew(); });
  EXPECT_EQ(e.what, "The method 'InternalAddCreated' is not overrided in class 'THDBConstraintDefs' - Native error: 30603");
}

TEST(TableMetadataStream, WholeDefinitionRoundTripsAndTruncationFails) {
  THDBFieldDefs fields;
  test::AddServiceRecordFields(fields);
  THDBIndexDefs indexes;
  THDBIndexDef& fgdat = indexes.AddNew();
  fgdat.Name = "FGDAT";
  fgdat.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  auto constraints = SampleConstraints();
  TableMetadata meta{&fields, &indexes, constraints.get(), 4, -1};
  std::vector<std::uint8_t> bytes = Saved(meta);
  ASSERT_EQ(std::vector<std::uint8_t>(bytes.end() - 8, bytes.end()), Bytes({4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

  THDBFieldDefs f2;
  THDBIndexDefs i2;
  THDBConstraintDefs c2;
  TableMetadata back{&f2, &i2, &c2};
  THDBStream in(bytes);
  back.LoadFromStream(in);
  EXPECT_EQ(back.RecordPageIndexRoot, 4);
  EXPECT_EQ(back.BlobPageIndexRoot, -1);
  EXPECT_EQ(f2.MemoryRecordSize(), 43);
  EXPECT_EQ(Saved(back), bytes);

  std::int32_t counter = 500;
  meta.AssignNewObjectIDs([&] { return counter++; });
  EXPECT_EQ(fields[0].ObjectID, 500);
  EXPECT_EQ(fields[5].ObjectID, 505);
  EXPECT_EQ(indexes[0].ObjectID, 506);
  EXPECT_EQ((*constraints)[3].ObjectID, 510);

  // Every cut stops the load with the stream message, the two trailing roots included.
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    THDBStream truncated(bytes.data(), cut);
    TableMetadata partial{&f2, &i2, &c2};
    auto e = Raised([&] { partial.LoadFromStream(truncated); });
    ASSERT_EQ(e.code, 30601) << "cut at " << cut << ": " << e.what;
  }
  // A stream that ends two bytes into the BLOB page index root.
  const std::size_t n = bytes.size();
  THDBStream truncated(bytes.data(), n - 2);
  auto e = Raised([&] { back.LoadFromStream(truncated); });
  EXPECT_EQ(e.what, "Cannot read from stream. Position = " + std::to_string(n - 4) + ", Stream size = " +
                        std::to_string(n - 2) + ", Block size = 4, Bytes Read = 2 - Native error: 30601");
}

// ---- Bounds of stored sizes and damaged definitions --------------------------------

// Stored sizes are bounded where no table can go: a record no page of the largest
// page size holds, a field no such record holds. Everything the engine creates within
// those bounds loads again, and one step past them is damage.
TEST(DefinitionStreams, DefinitionsAtTheLimitsLoadAndOneStepPastIsDamage) {
  auto load = [](const auto& defs) {
    THDBStream in(Saved(defs));
    std::remove_cvref_t<decltype(defs)> loaded;
    return Raised([&] { loaded.LoadFromStream(in); }).code;
  };
  for (int i = 0; i < TypeRowCount; ++i) {
    THDBFieldDefs defs;
    defs.AddField("F", TypeRow(i).Declared, 5);
    EXPECT_EQ(load(defs), 0) << TypeRow(i).Word;
  }

  struct Field {
    std::uint8_t declaredType;
    std::int32_t size;
  };
  struct Case {
    std::vector<Field> fields;
    int code;
  };
  // One field: the record is its slot after a one-byte NullBitmap.
  const std::int32_t widest = (MaxDiskRecordSize - 1) / 2 - 1;
  const Case cases[] = {
      {{{dtString, MaxDiskRecordSize - 2}}, 0},
      {{{dtString, MaxDiskRecordSize - 1}}, 30601},
      {{{dtBytes, MaxDiskRecordSize - 2}}, 0},
      {{{dtVarBytes, MaxDiskRecordSize - 1}}, 30601},
      {{{dtWideString, widest}}, 0},
      {{{dtWideChar, widest + 1}}, 30601},
      {{{dtString, MaxDiskRecordSize - 4}, {dtWord, 0}}, 0},
      {{{dtString, MaxDiskRecordSize - 3}, {dtWord, 0}}, 30601},  // each field fits, the record does not
      {{{dtString, 0}}, 0},
      {{{dtBytes, -3}}, 30601},
      {{{dtInteger, -1}}, 0},  // a type without a declared size ignores the value
  };
  for (const Case& c : cases) {
    THDBFieldDefs defs;
    for (const Field& f : c.fields) defs.AddField("F" + std::to_string(defs.Count()), f.declaredType, f.size);
    EXPECT_EQ(load(defs), c.code) << DeclaredTypeWord(c.fields[0].declaredType) << " of size " << c.fields[0].size;
  }

  for (std::int32_t length : {0, DefaultIndexedLength, MaxFieldDataSize, MaxFieldDataSize + 1}) {
    THDBIndexDefs indexes;
    indexes.AddNew().Columns.push_back({"F", false, false, length});
    EXPECT_EQ(load(indexes), length <= MaxFieldDataSize ? 0 : 30601) << "IndexedLength " << length;
  }
}

// The definition of a small table as the engine writes it: FG string(17) and DAT date,
// the primary index over both, a not null and a check constraint and the primary key,
// RecordPageIndex root 4 and no BLOB page index; and where the stored items the damage
// cases below change begin.
struct WrittenDefinition {
  std::vector<std::uint8_t> bytes;
  std::size_t fgTypes = 0, fgSize = 0, datTypes = 0;  // BaseType, DeclaredType; DeclaredSize
  std::size_t indexCount = 0, columnCount = 0, indexedLength = 0;
  std::size_t constraintCount = 0;
  std::size_t notNullFirstRef = 0;  // its B (uint8)
  std::size_t checkMinSize = 0;     // the size of the check's minimum
  std::size_t primaryTableRef = 0, primaryIndexRef = 0, primaryColumnCount = 0, primaryColumnName = 0;  // B (int32)
};

std::size_t PrefixSize(const THDBMetaObjectDef& def) { return 1 + def.Name.size() + 4; }

WrittenDefinition WriteDefinition() {
  THDBFieldDefs fields;
  fields.AddField("FG", dtString, 17).ObjectID = 1;
  fields.AddField("DAT", dtDate).ObjectID = 2;
  THDBIndexDefs indexes;
  THDBIndexDef& fgdat = indexes.AddNew();
  fgdat.Name = "FGDAT";
  fgdat.ObjectID = 3;
  fgdat.IsPrimary = true;
  fgdat.RootPageNo = 5;
  fgdat.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  THDBConstraintDefs constraints;
  auto nn = std::make_unique<THDBConstraintDefNotNull>();
  nn->Name = "NN_FG";
  nn->TableRef = {"T", 9};
  nn->FieldRef = {"FG", 1};
  constraints.Add(std::move(nn));
  auto check = std::make_unique<THDBConstraintDefCheck>();
  check->Name = "CK_DAT";
  check->TableRef = {"T", 9};
  check->FieldRef = {"DAT", 2};
  check->MinValue = THDBVariant::FromScalar<std::int32_t>(btDate, 730120);
  constraints.Add(std::move(check));
  constraints.Add(THDBConstraintDefUnique::FromIndex(fgdat, "T"));
  TableMetadata meta{&fields, &indexes, &constraints, 4, -1};

  WrittenDefinition d;
  d.bytes = Saved(meta);
  const std::size_t fg = 4, dat = fg + Saved(fields[0]).size();
  d.fgTypes = fg + PrefixSize(fields[0]);
  d.fgSize = d.fgTypes + 2;
  d.datTypes = dat + PrefixSize(fields[1]);
  d.indexCount = Saved(fields).size();
  d.columnCount = d.indexCount + 4 + PrefixSize(fgdat) + 3;
  d.indexedLength = d.columnCount + 8 + (1 + 2) + 2;  // count, root, FG's name and flags
  d.constraintCount = d.indexCount + Saved(indexes).size();
  const std::size_t notNull = d.constraintCount + 4 + 1;  // each record follows its kind byte
  const std::size_t checkAt = notNull + Saved(constraints[0]).size() + 1;
  const std::size_t primary = checkAt + Saved(constraints[1]).size() + 1;
  d.notNullFirstRef = notNull + PrefixSize(constraints[0]) + 12;
  d.checkMinSize = checkAt + PrefixSize(constraints[1]) + 12 + (2 + 3 + 5) + 2;  // names "", "T", "DAT"
  d.primaryTableRef = primary + PrefixSize(constraints[2]) + 12 + (4 + 1);     // after the empty first name
  d.primaryIndexRef = d.primaryTableRef + 4 + 2;
  d.primaryColumnCount = d.primaryIndexRef + 4 + 6;
  d.primaryColumnName = d.primaryColumnCount + 4 + 4;
  return d;
}

// Loads a stream into a fresh definition in a child process limited to 1 GB of address
// space, so that a damaged size the loader would allocate shows as a failure instead of
// a machine out of memory. (AddressSanitizer reserves far more address space for its
// shadow memory; its builds run the child without the limit.) Returns the native error
// the load raised, 0 when it raised none, or a description of how the child ended.
std::string LoadInLimitedChild(const std::vector<std::uint8_t>& bytes) {
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
#ifndef __SANITIZE_ADDRESS__
    const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 3;
#endif
    try {
      THDBFieldDefs fields;
      THDBIndexDefs indexes;
      THDBConstraintDefs constraints;
      TableMetadata meta{&fields, &indexes, &constraints};
      THDBStream in(bytes);
      meta.LoadFromStream(in);
    } catch (const EHDBException& e) {
      for (char digit : std::to_string(e.NativeError())) self.Send(digit);
      return 0;
    } catch (const std::bad_alloc&) {
      return 2;
    }
    self.Send('0');
    return 0;
  });
  std::string result;
  for (char c = child.Receive(); c != 0; c = child.Receive()) result += c;
  switch (child.Wait()) {
    case 0:
      return result;
    case 2:
      return "out of memory";
    case 3:
      return "no address-space limit";
    default:
      return "a crash or a foreign exception";
  }
}

TEST(DamagedDefinitions, EachDamageStopsTheLoadWithTheStreamError) {
  const WrittenDefinition d = WriteDefinition();
  // The map of the written stream is right.
  ASSERT_EQ(std::vector<std::uint8_t>(d.bytes.begin() + d.fgTypes, d.bytes.begin() + d.fgTypes + 3),
            Bytes({btString, dtString, 17}));
  ASSERT_EQ(d.bytes[d.datTypes + 1], dtDate);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.indexCount), 1);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.columnCount), 2);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.indexedLength), DefaultIndexedLength);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.constraintCount), 3);
  ASSERT_EQ(d.bytes[d.notNullFirstRef], 1);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.checkMinSize), 4);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.primaryTableRef), 2);
  ASSERT_EQ(d.bytes[d.primaryTableRef + 5], 'T');
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.primaryIndexRef), 6);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.primaryColumnCount), 2);
  ASSERT_EQ(le::Load<std::int32_t>(d.bytes.data(), d.primaryColumnName), 3);
  ASSERT_EQ(LoadInLimitedChild(d.bytes), "0") << "the undamaged stream loads";

  using Damage = std::function<void(std::vector<std::uint8_t>&)>;
  auto u8 = [](std::size_t at, int value) -> Damage {
    return [=](std::vector<std::uint8_t>& b) { b[at] = static_cast<std::uint8_t>(value); };
  };
  auto i32 = [](std::size_t at, std::int32_t value) -> Damage {
    return [=](std::vector<std::uint8_t>& b) { le::Store<std::int32_t>(b.data(), at, value); };
  };
  auto cut = [](std::size_t bytes) -> Damage {
    return [=](std::vector<std::uint8_t>& b) { b.resize(b.size() - bytes); };
  };
  struct Case {
    const char* what;
    Damage damage;
  };
  const Case cases[] = {
      // A type pair the type table does not have: values would be moved by the declared
      // type through a slot sized by the base type.
      {"FG declared a date over its string base", u8(d.fgTypes + 1, dtDate)},
      {"DAT declared an extended over its date base", u8(d.datTypes + 1, dtExtended)},
      {"DAT stored as a shortint, declared a date", u8(d.datTypes, btShortInt)},
      {"FG of base type 0", u8(d.fgTypes, 0)},
      {"DAT of base type 25, which does not exist", u8(d.datTypes, 25)},
      {"FG of declared type 0", u8(d.fgTypes + 1, 0)},
      {"FG of declared type 37, which does not exist", u8(d.fgTypes + 1, 37)},
      // Cut inside the two trailing roots.
      {"cut 1 byte short", cut(1)},
      {"cut without the BLOB page index root", cut(4)},
      {"cut inside the RecordPageIndex root", cut(5)},
      {"cut without both roots", cut(8)},
      // Sizes no table can have.
      {"FG of 2 000 000 000 characters", i32(d.fgSize, 2000000000)},
      {"FG of 0x7FFFFFFF characters", i32(d.fgSize, 0x7FFFFFFF)},
      {"FG of -1 characters", i32(d.fgSize, -1)},
      {"a record one byte past the largest", i32(d.fgSize, MaxDiskRecordSize - 5)},
      {"IndexedLength 0x7FFFFFFF", i32(d.indexedLength, 0x7FFFFFFF)},
      {"IndexedLength -1", i32(d.indexedLength, -1)},
      {"a check bound of 0x7FFFFFFF bytes", i32(d.checkMinSize, 0x7FFFFFFF)},
      {"a check bound of -1 bytes", i32(d.checkMinSize, -1)},
      // Counts no stream holds.
      {"a field count of -5", i32(0, -5)},
      {"a field count of 0x7FFFFFFF", i32(0, 0x7FFFFFFF)},
      {"an index count of -1", i32(d.indexCount, -1)},
      {"an index column count of -5", i32(d.columnCount, -5)},
      {"an index column count of 0x7FFFFFFF", i32(d.columnCount, 0x7FFFFFFF)},
      {"a constraint count of -1", i32(d.constraintCount, -1)},
      {"a constraint count of 0x7FFFFFFF", i32(d.constraintCount, 0x7FFFFFFF)},
      {"a key column count of -5", i32(d.primaryColumnCount, -5)},
      // Reference names out of step: B counts the length byte, which says B - 1.
      {"a not null reference B of 0", u8(d.notNullFirstRef, 0)},
      {"a primary table reference B of 0", i32(d.primaryTableRef, 0)},
      {"a primary table reference B of -1", i32(d.primaryTableRef, -1)},
      {"a primary index reference B of 300", i32(d.primaryIndexRef, 300)},
      {"a primary index reference B of 0x7FFFFFFF", i32(d.primaryIndexRef, 0x7FFFFFFF)},
      {"a key column name B of 0", i32(d.primaryColumnName, 0)},
      {"a length byte that disagrees with its B", u8(d.primaryTableRef + 4, 5)},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = d.bytes;
    c.damage(bytes);
    EXPECT_EQ(LoadInLimitedChild(bytes), "30601") << c.what;
  }
}

TEST(StreamWrite, CapacityLimitReportsAShortWrite) {
  THDBStream s;
  s.SetCapacityLimit(6);
  s.WriteValue<std::int32_t>(1);
  auto e = Raised([&] { s.WriteValue<std::int32_t>(2); });
  EXPECT_EQ(e.what, "Cannot write to stream. Position = 4, Stream size = 6, Block size = 4, Bytes Write = 2 - Native "
                    "error: 30602");
}

// ---- Lists ------------------------------------------------------------------------

TEST(DefinitionLists, NameLookupIgnoresCase) {
  THDBFieldDefs defs;
  test::AddServiceRecordFields(defs);
  EXPECT_EQ(defs.FindByName("fg"), 0);
  EXPECT_EQ(defs.FindByName("sStat"), 5);
  EXPECT_EQ(defs.FindByName("NOPE"), -1);
  EXPECT_EQ(defs.FindByName("F"), -1);
  EXPECT_EQ(defs.FindByObjectID(103), 3);
  EXPECT_EQ(defs.FindByObjectID(1), -1);
  defs.AddField("\xC4rger", dtInteger);
  EXPECT_EQ(defs.FindByName("\xE4rger"), 6) << "case of Windows-1252 letters";
}

TEST(DefinitionLists, AssignCopiesInOrderAndRejectsDuplicateNames) {
  THDBFieldDefs source;
  test::AddServiceRecordFields(source);
  source[2].DefaultValue = THDBVariant::FromScalar<std::int64_t>(btLargeInt, 7);
  THDBFieldDefs copy;
  copy.Assign(source);
  ASSERT_EQ(copy.Count(), 6);
  EXPECT_EQ(copy[2].Name, "MLG");
  EXPECT_EQ(copy[2].DefaultValue, source[2].DefaultValue);
  EXPECT_EQ(copy.MemoryRecordSize(), 43);
  source[2].Name = "mlg";
  copy.Move(2, 0);
  EXPECT_EQ(copy[0].Name, "MLG");
  copy.Delete(0);
  EXPECT_EQ(copy.Count(), 5);

  source.AddField("Fg", dtString, 3);
  auto e = Raised([&] { copy.Assign(source); });
  EXPECT_EQ(e.what, "Duplicate field name Fg - Native error: 10424");
}

TEST(IndexDefs, FindIndexForFieldsMatchesLeadingColumns) {
  THDBFieldDefs fields;
  test::AddServiceRecordFields(fields);
  auto make = [](THDBIndexDefs& defs, const char* name, std::int32_t id, THDBStringList columns) {
    THDBIndexDef& d = defs.AddNew();
    d.Name = name;
    d.ObjectID = id;
    d.SetColumns(columns, THDBStringList(columns.size()), THDBStringList(columns.size()));
    return &d;
  };
  THDBIndexDefs longFirst;
  make(longFirst, "FGDATMLG", 1, {"FG", "DAT", "MLG"});
  make(longFirst, "FGDAT", 2, {"FG", "DAT"});
  THDBIndexDefs shortFirst;
  make(shortFirst, "FGDAT", 2, {"FG", "DAT"});
  make(shortFirst, "FGDATMLG", 1, {"FG", "DAT", "MLG"});

  EXPECT_EQ(longFirst.FindIndexForFields({"FG", "DAT"}, {"", ""}, {"", ""}, fields, 0), 1);
  EXPECT_EQ(shortFirst.FindIndexForFields({"fg", "dat"}, {"", ""}, {"", ""}, fields, 0), 2);
  EXPECT_EQ(shortFirst.FindIndexForFields({"DAT"}, {""}, {""}, fields, 0), -1);
  EXPECT_EQ(shortFirst.FindIndexForFields({"FG", "DAT", "MLG", "THND"}, {"", "", "", ""}, {"", "", "", ""}, fields, 0),
            -1);

  // Option words: DESC needs a descending column, NO_CASE a case-insensitive one, and
  // the case words concern string fields only.
  THDBIndexDefs options;
  THDBIndexDef* desc = make(options, "DESC", 3, {"FG"});
  desc->Columns[0].Descending = true;
  THDBIndexDef* nocase = make(options, "NOCASE", 4, {"FG", "DAT"});
  nocase->Columns[0].CaseInsensitive = true;
  EXPECT_EQ(options.FindIndexForFields({"FG"}, {"DESC"}, {""}, fields, 0), 3);
  EXPECT_EQ(options.FindIndexForFields({"FG"}, {"ASC"}, {""}, fields, 0), 4);
  EXPECT_EQ(options.FindIndexForFields({"FG"}, {"ASC"}, {"CASE"}, fields, 0), -1);
  EXPECT_EQ(options.FindIndexForFields({"FG", "DAT"}, {"", ""}, {"NO_CASE", "NO_CASE"}, fields, 0), 4);

  // A temporary index serves only its own session.
  THDBIndexDefs temporary;
  THDBIndexDef& t = temporary.AddTemporaryIndex({"MLG"}, {""}, {""}, 7);
  t.ObjectID = 9;
  EXPECT_EQ(temporary.FindIndexForFields({"MLG"}, {""}, {""}, fields, 7), 9);
  EXPECT_EQ(temporary.FindIndexForFields({"MLG"}, {""}, {""}, fields, 0), -1);

  auto e = Raised([&] { shortFirst.FindIndexForFields({"FG", "DAT"}, {""}, {"", ""}, fields, 0); });
  EXPECT_EQ(e.what, "Error - different list lengths. L1 = 2, L2 = 1 - Native error: 10276");
  EXPECT_EQ(Raised([&] { shortFirst.FindIndexForFields({"FG"}, {""}, {}, fields, 0); }).code, 10277);
}

TEST(IndexDefs, SetColumnsAndTemporaryIndexes) {
  THDBIndexDef d;
  d.SetColumns({"A", "B", "C"}, {"DESC", "ASC", "desc"}, {"", "NO_CASE", "CASE"});
  ASSERT_EQ(d.ColumnCount(), 3);
  EXPECT_EQ(d.Columns[0], (THDBIndexColumn{"A", true, false, 20}));
  EXPECT_EQ(d.Columns[1], (THDBIndexColumn{"B", false, true, 20}));
  EXPECT_EQ(d.Columns[2], (THDBIndexColumn{"C", true, false, 20}));
  EXPECT_EQ(Raised([&] { d.SetColumns({"A"}, {}, {""}); }).code, 10278);
  EXPECT_EQ(Raised([&] { d.SetColumns({"A"}, {""}, {"", ""}); }).what,
            "Error - different list lengths. L1 = 1, L2 = 2 - Native error: 10279");

  THDBIndexDefs defs;
  THDBIndexDef& a = defs.AddTemporaryIndex({"X"}, {"DESC"}, {""}, 3);
  THDBIndexDef& b = defs.AddTemporaryIndex({"X"}, {""}, {""}, 3);
  const std::regex name("TEMPORARY_INDEX_\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  EXPECT_TRUE(std::regex_match(a.Name, name)) << a.Name;
  EXPECT_NE(a.Name, b.Name);
  EXPECT_TRUE(a.IsTemporary);
  EXPECT_EQ(a.SessionID, 3);
  EXPECT_FALSE(a.IsUnique || a.IsPrimary);
  EXPECT_TRUE(a.Columns[0].Descending);
}

// ---- Constraints derived, named and resolved ---------------------------------------

TEST(ConstraintDefs, IndexesYieldNamedConstraints) {
  THDBIndexDef index;
  index.Name = "FGDAT";
  index.ObjectID = 7;
  index.IsPrimary = true;
  index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  auto primary = THDBConstraintDefUnique::FromIndex(index, "dsTable");
  EXPECT_EQ(primary->ConstraintKind, ckPrimaryKey);
  EXPECT_EQ(primary->Name, "C_PK$FG$DAT");
  EXPECT_EQ(primary->IndexRef, (THDBObjectRef{"FGDAT", 7}));
  EXPECT_EQ(primary->TableRef.Name, "dsTable");
  index.IsPrimary = false;
  index.IsUnique = true;
  auto unique = THDBConstraintDefUnique::FromIndex(index, "dsTable");
  EXPECT_EQ(unique->ConstraintKind, ckUnique);
  EXPECT_EQ(unique->Name, "C_Unique$FG$DAT");
}

TEST(ConstraintDefs, MissingNamesAreGeneratedAndKeptDistinct) {
  THDBConstraintDefs defs;
  for (int i = 0; i < 3; ++i) {
    auto nn = std::make_unique<THDBConstraintDefNotNull>();
    nn->FieldRef.Name = "FG";
    defs.Add(std::move(nn));
  }
  auto check = std::make_unique<THDBConstraintDefCheck>();
  check->FieldRef.Name = "SSTAT";
  defs.Add(std::move(check));
  defs.GenerateMissingNames("dsTable");
  EXPECT_EQ(defs[0].Name, "$C_NotNull$dsTable$FG");
  EXPECT_TRUE(std::regex_match(defs[1].Name, std::regex("\\$C_NotNull\\$dsTable\\$FG[0-9]{1,5}"))) << defs[1].Name;
  EXPECT_NE(defs[1].Name, defs[2].Name);
  EXPECT_EQ(defs[3].Name, "$C_Check$dsTable$SSTAT");
}

TEST(ConstraintDefs, ReferencesResolveToObjectIDs) {
  THDBFieldDefs fields;
  test::AddServiceRecordFields(fields);
  THDBIndexDefs indexes;
  THDBIndexDef& fgdat = indexes.AddNew();
  fgdat.Name = "FGDAT";
  fgdat.ObjectID = 77;
  auto defs = SampleConstraints();
  static_cast<THDBConstraintDefNotNull&>((*defs)[0]).FieldRef.ObjectID = -1;
  auto& primary = static_cast<THDBConstraintDefPrimary&>((*defs)[3]);
  primary.Columns[1].ObjectID = -1;
  defs->Delete(2);  // the unique constraint's index is not in this table
  defs->ResolveReferences(fields, indexes);
  EXPECT_EQ(static_cast<THDBConstraintDefNotNull&>((*defs)[0]).FieldRef.ObjectID, 100);
  EXPECT_EQ(primary.IndexRef.ObjectID, 77);
  EXPECT_EQ(primary.Columns[1].ObjectID, 101);

  struct Case {
    std::function<void(THDBConstraintDefs&)> damage;
    int code;
    const char* what;
  };
  const Case cases[] = {
      {[](THDBConstraintDefs& d) { static_cast<THDBConstraintDefPrimary&>(d[3]).IndexRef.Name = "X"; }, 30325,
       "Index 'X' not found - Native error: 30325"},
      {[](THDBConstraintDefs& d) { static_cast<THDBConstraintDefPrimary&>(d[3]).Columns[0].Name = "Y"; }, 30331,
       "Field 'Y' not found - Native error: 30331"},
      {[](THDBConstraintDefs& d) { static_cast<THDBConstraintDefUnique&>(d[2]).IndexRef.Name = "Z"; }, 30326,
       "Index 'Z' not found - Native error: 30326"},
      {[](THDBConstraintDefs& d) {
         auto& u = static_cast<THDBConstraintDefUnique&>(d[2]);
         u.IndexRef.Name = "FGDAT";
         u.Columns[0].Name = "W";
       },
       30332, "Field 'W' not found - Native error: 30332"},
      {[](THDBConstraintDefs& d) { static_cast<THDBConstraintDefCheck&>(d[1]).FieldRef.Name = "V"; }, 30027,
       "Field 'V' not found - Native error: 30027"},
  };
  for (const Case& c : cases) {
    auto broken = SampleConstraints();
    static_cast<THDBConstraintDefUnique&>((*broken)[2]).IndexRef.Name = "FGDAT";
    c.damage(*broken);
    auto e = Raised([&] { broken->ResolveReferences(fields, indexes); });
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.what, c.what);
  }
}

}  // namespace
}  // namespace hdb

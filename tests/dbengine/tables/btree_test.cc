// B-tree indexes: the stored forms of pages and keys, the order of entries, condition
// searches at the ends, navigation steps, the index-level checks and the errors of a
// damaged or root-less tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <cstring>
#include <string>
#include <vector>

#include "btree_test_table.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/btree_page.h"
#include "dbengine/tables/data_types.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::BTreeTestTable;
using test::Raised;
using test::Record;
using test::SetIndexDef;

constexpr SessionID S0 = 0;

// FG string(17), DAT date: the service record index.
void ServiceFields(THDBFieldDefs& defs) {
  defs.AddField("FG", dtString, 17);
  defs.AddField("DAT", dtDate);
}

// The bytes of a page's data area as the session sees it.
std::vector<std::uint8_t> PageData(THDBPageManager& pages, std::int32_t pageNo, std::size_t count) {
  THDBPinnedPage page(pages, pages.GetPage(S0, pageNo));
  const std::uint8_t* data = page->Buffer() + PageHeaderLayout::Size;
  return {data, data + count};
}

struct KeyedTable {
  BTreeTestTable table{4096, ServiceFields};
  THDBIndexDef def;
  std::unique_ptr<THDBBTreeRecordIndex> index;
  KeyedTable() {
    SetIndexDef(def, {{"FG"}, {"DAT"}});
    index = table.MakeIndex(def);
  }
  RecordID Add(RecordID id, const std::string& fg, const std::int32_t* dat) {
    Record r = table.NewRecord();
    table.SetText(r, 0, fg);
    table.Set(r, 1, dat);
    table.records[id] = r;
    index->AddRecordKey({S0, id, table.records[id].data()});
    return id;
  }
  std::vector<RecordID> Scan(bool forward = true) {
    std::vector<RecordID> out;
    auto state = index->NewScanState();
    RecordID id;
    for (bool first = true; index->ScanNext(S0, first, *state, id, nullptr, nullptr, nullptr, forward); first = false)
      out.push_back(id);
    return out;
  }
};

TEST(BTreeForm, EmptyRootIsTheClearedHeaderOfALeafRoot) {
  KeyedTable t;
  EXPECT_EQ(t.index->KeyRef().IndexKeySize, 24);
  EXPECT_EQ(PageData(t.table.Pages(), t.def.RootPageNo, 18),
            test::Bytes({0x01, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x18, 0x00, 0x00,
                         0x00, 0x00, 0x00}));
}

TEST(BTreeForm, KeySlotsFollowTheFieldsAndTheirIndexedLength) {
  struct Case {
    const char* name;
    std::uint8_t type;
    std::int32_t size;
    std::int32_t indexedLength;
    std::int32_t keySize;
    std::int32_t tail;
  } cases[] = {
      {"string(17) fits its 20 characters", dtString, 17, 20, 19, 0},
      {"string(30) keeps 20 characters and two zeros", dtString, 30, 20, 23, 2},
      {"largeint keeps all 8 bytes", dtLargeInt, 0, 20, 9, 0},
      {"date", dtDate, 0, 20, 5, 0},
      {"a number is never cut", dtLargeInt, 0, 4, 9, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    BTreeTestTable table(4096, [&](THDBFieldDefs& defs) { defs.AddField("F", c.type, c.size); });
    THDBIndexDef def;
    SetIndexDef(def, {{"F", false, false, c.indexedLength}});
    THDBBTreeRecordIndex index(table, def);
    EXPECT_EQ(index.KeyRef().IndexKeySize, c.keySize);
    EXPECT_EQ(index.KeyRef().Columns[0].TruncationTail, c.tail);
  }
}

TEST(BTreeForm, KeysCarryTheNullMarkerAndTheCutValue) {
  KeyedTable t;
  std::vector<std::uint8_t> key = t.index->KeyRef().NewIndexKey();
  Record r = t.table.NewRecord();
  t.table.SetText(r, 0, "WBA12345678901234");
  t.index->KeyRef().BuildIndexKey(r.data(), key.data());
  EXPECT_EQ(key[0], 0x00);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(key.data() + 1)), "WBA12345678901234");
  EXPECT_EQ(key[19], 0x01) << "a NULL DAT";
  EXPECT_EQ(std::vector<std::uint8_t>(key.begin() + 20, key.end()), std::vector<std::uint8_t>(4, 0));

  BTreeTestTable wide(4096, [](THDBFieldDefs& defs) { defs.AddField("S", dtString, 30); });
  THDBIndexDef def;
  SetIndexDef(def, {{"S"}});
  THDBBTreeRecordIndex index(wide, def);
  std::vector<std::uint8_t> cut(23, 0xEE);
  Record w = wide.NewRecord();
  wide.SetText(w, 0, std::string(30, 'x'));
  index.KeyRef().BuildIndexKey(w.data(), cut.data());
  EXPECT_EQ(cut[0], 0x00);
  EXPECT_EQ(std::string(cut.begin() + 1, cut.begin() + 21), std::string(20, 'x'));
  EXPECT_EQ(cut[21], 0x00);
  EXPECT_EQ(cut[22], 0x00);
}

TEST(BTreeForm, FullLeafRootSplitsIntoTwoLeavesUnderTheSameRootPage) {
  KeyedTable t;
  const std::int32_t root = t.def.RootPageNo;
  EXPECT_EQ(t.index->CapacityEstimate().Entries, 144);
  EXPECT_EQ(t.index->CapacityEstimate().Remainder, 4056 % 28);
  for (std::int32_t d = 0; d < 134; ++d) t.Add({10, static_cast<std::uint16_t>(d)}, "WBA", &d);
  EXPECT_EQ(PageData(t.table.Pages(), root, 2)[1], 1) << "134 entries fill a leaf of 30-byte entries";
  std::int32_t d = 134;
  t.Add({10, 134}, "WBA", &d);
  EXPECT_EQ(t.def.RootPageNo, root);
  auto header = PageData(t.table.Pages(), root, 18 + 2 * 28);
  EXPECT_EQ(header[0], 1);
  EXPECT_EQ(header[1], 0) << "the root is a node now";
  EXPECT_EQ(le::Load<std::uint16_t>(header.data(), 14), 2);
  EXPECT_EQ(std::vector<std::uint8_t>(header.begin() + 18, header.begin() + 18 + 24), std::vector<std::uint8_t>(24, 0))
      << "the first separator is the all-zero key";
  t.index->CheckIntegrity(S0);
  EXPECT_EQ(t.Scan().size(), 135u);
}

// The leaf level from left to right: (page, entries) of each leaf.
std::vector<std::pair<std::int32_t, int>> Leaves(THDBBTreeRecordIndex& index) {
  THDBKeyPath path;
  index.Tree().SetSession(S0);
  std::vector<std::pair<std::int32_t, int>> out;
  if (!index.Tree().First(path)) return out;
  for (std::int32_t pageNo = path.Leaf().PageNo; pageNo != -1;) {
    THDBBTreePage page(index.Tree(), pageNo);
    out.emplace_back(pageNo, page.EntryCount());
    pageNo = page.NextPageNo();
  }
  return out;
}

TEST(BTreeShape, UnderfullLeavesMergeLeftElseRightAndTheRootCollapses) {
  BTreeTestTable table(512, [](THDBFieldDefs& defs) { defs.AddField("N", dtInteger); });
  THDBIndexDef def;
  SetIndexDef(def, {{"N"}});
  auto index = table.MakeIndex(def);
  const std::int32_t root = def.RootPageNo;
  auto add = [&](std::int32_t n) {
    Record r = table.NewRecord();
    table.SetInt(r, 0, n);
    table.records[{1, static_cast<std::uint16_t>(n)}] = r;
    index->AddRecordKey({S0, {1, static_cast<std::uint16_t>(n)}, table.records[{1, static_cast<std::uint16_t>(n)}].data()});
  };
  auto remove = [&](std::int32_t n) {
    const RecordID id{1, static_cast<std::uint16_t>(n)};
    index->RemoveRecordKey({S0, id, table.records[id].data()});
    table.records.erase(id);
  };
  for (std::int32_t n = 0; n < 100; ++n) add(n);
  auto before = Leaves(*index);
  ASSERT_GE(before.size(), 3u);
  // Empty the second leaf from its end until it goes: its left neighbour takes the rest.
  std::int32_t last = before[0].second + before[1].second - 1;
  while (Leaves(*index).size() == before.size()) remove(last--);
  auto afterLeft = Leaves(*index);
  EXPECT_EQ(afterLeft[0].first, before[0].first);
  EXPECT_EQ(afterLeft[1].first, before[2].first);
  EXPECT_EQ(afterLeft[0].second, before[0].second + (last + 1 - before[0].second));
  index->CheckIntegrity(S0);
  // The first leaf has no left neighbour: emptied from its start, it goes into the right one.
  std::int32_t first = 0;
  while (Leaves(*index).size() == afterLeft.size()) remove(first++);
  auto afterRight = Leaves(*index);
  EXPECT_EQ(afterRight[0].first, afterLeft[1].first);
  index->CheckIntegrity(S0);
  for (const auto& [id, record] : std::map<RecordID, Record, test::RecordIDLess>(table.records))
    remove(le::Load<std::int32_t>(record.data(), static_cast<std::size_t>(table.Fields().Field(0).MemoryOffset)));
  EXPECT_EQ(def.RootPageNo, root);
  EXPECT_EQ(Leaves(*index), (std::vector<std::pair<std::int32_t, int>>{}));
  EXPECT_EQ(PageData(table.Pages(), root, 2), test::Bytes({1, 1})) << "the root is an empty leaf again";
}

TEST(BTreeOrder, EqualKeysFollowTheirRecordIDs) {
  KeyedTable t;
  const std::int32_t day = 1000;
  for (RecordID id : {RecordID{5, 1}, RecordID{3, 7}, RecordID{-1, 9}, RecordID{3, 2}, RecordID{5, 0}})
    t.Add(id, "WBA", &day);
  EXPECT_EQ(t.Scan(), (std::vector<RecordID>{{-1, 9}, {3, 2}, {3, 7}, {5, 0}, {5, 1}}));
}

TEST(BTreeOrder, OneVehicleComesOutWithNullDatesFirstThenByDate) {
  KeyedTable t;
  const std::int32_t d1 = 700, d2 = -3, d3 = 50;
  t.Add({1, 0}, "WBB", &d1);
  t.Add({1, 1}, "WBA", &d1);
  t.Add({1, 2}, "WBA", nullptr);
  t.Add({1, 3}, "WBA", &d2);
  t.Add({1, 4}, "WBA", &d3);
  t.Add({1, 5}, "WBA", nullptr);
  EXPECT_EQ(t.Scan(), (std::vector<RecordID>{{1, 2}, {1, 5}, {1, 3}, {1, 4}, {1, 1}, {1, 0}}));
  EXPECT_EQ(t.Scan(false), (std::vector<RecordID>{{1, 0}, {1, 1}, {1, 4}, {1, 3}, {1, 5}, {1, 2}}));
}

TEST(BTreeOrder, ConditionSearchesAtBothEndsOfTheKeys) {
  KeyedTable t;
  for (std::int32_t d = 0; d < 400; ++d) t.Add({2 + d / 90, static_cast<std::uint16_t>(d % 90)}, "M", &d);
  struct Case {
    const char* fg;
    std::uint8_t condition;
    bool forward;
    bool found;
  } cases[] = {
      {"Z", ctGreaterOrEqual, true, false},  {"Z", ctGreater, true, false},
      {"Z", ctLess, false, true},            {"A", ctLess, false, false},
      {"A", ctLessOrEqual, false, false},    {"A", ctGreaterOrEqual, true, true},
      {"A", ctLess, true, false},            {"Z", ctGreater, false, false},
      {"M", ctEqual, true, true},            {"M", ctEqual, false, true},
      {"N", ctEqual, true, false},           {"L", ctEqual, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.fg) + " condition " + std::to_string(c.condition) + (c.forward ? " forward" : " backward"));
    Record key = t.table.NewRecord();
    t.table.SetText(key, 0, c.fg);
    THDBKeyCondition condition{c.condition, key.data(), 1, false};
    auto state = t.index->NewScanState();
    RecordID id;
    const bool found = t.index->ScanNext(S0, true, *state, id, nullptr, c.forward ? &condition : nullptr,
                                         c.forward ? nullptr : &condition, c.forward);
    EXPECT_EQ(found, c.found);
    if (found && c.condition == ctEqual) {
      EXPECT_EQ(id, c.forward ? (RecordID{2, 0}) : (RecordID{6, 39}));
    }
  }
}

TEST(BTreeOrder, ACaseOnlyChangeLeavesACaseInsensitiveEntryAsItIs) {
  BTreeTestTable table(512, [](THDBFieldDefs& defs) { defs.AddField("NAME", dtString, 10); });
  THDBIndexDef def;
  SetIndexDef(def, {{"NAME", false, true}});
  auto index = table.MakeIndex(def);
  Record before = table.NewRecord(), after = table.NewRecord();
  table.SetText(before, 0, "abc");
  table.SetText(after, 0, "ABC");
  const RecordID id{4, 4};
  table.records[id] = before;
  index->AddRecordKey({S0, id, before.data()});
  const auto stored = PageData(table.Pages(), def.RootPageNo, 18 + 12);
  index->ChangeRecordKey({S0, id, after.data(), before.data()}, true);
  table.records[id] = after;
  index->ChangeRecordKey({S0, id, after.data(), before.data()}, false);
  EXPECT_EQ(PageData(table.Pages(), def.RootPageNo, 18 + 12), stored);
  EXPECT_EQ(index->EntryCount(S0), 1);
  EXPECT_EQ(index->RankOf(S0, id, after.data()), 1);
}

TEST(BTreeOrder, TruncatedColumnsCompareWholeValuesOnlyWhenTheyMayFetch) {
  BTreeTestTable table(4096, [](THDBFieldDefs& defs) {
    defs.AddField("S", dtString, 30);
    defs.AddField("N", dtInteger);
  });
  THDBIndexDef def;
  SetIndexDef(def, {{"S"}, {"N"}});
  THDBBTreeRecordIndex index(table, def);
  THDBRecordKeyRef& keys = index.KeyRef();
  const std::string prefix(20, 'p');
  Record a = table.NewRecord(), b = table.NewRecord();
  table.SetText(a, 0, prefix + "b");
  table.SetInt(a, 1, 1);
  table.SetText(b, 0, prefix + "a");
  table.SetInt(b, 1, 2);
  const RecordID idB{7, 0};
  table.records[idB] = b;
  auto keyA = keys.NewIndexKey(), keyB = keys.NewIndexKey();
  keys.BuildIndexKey(b.data(), keyB.data());
  keys.BuildIndexKey(a.data(), keyA.data());
  EXPECT_EQ(keys.CompareKeys(keyA.data(), keyB.data(), &idB, nullptr, S0, false), 0)
      << "equal stored characters end the comparison";
  EXPECT_EQ(keys.CompareKeys(keyA.data(), keyB.data(), &idB, nullptr, S0, true), 1);
  // Both shorter than the stored length: nothing to fetch, the next column decides.
  table.SetText(a, 0, "short");
  table.SetText(b, 0, "short");
  table.records[idB] = b;
  keys.BuildIndexKey(b.data(), keyB.data());
  keys.BuildIndexKey(a.data(), keyA.data());
  table.reads = 0;
  EXPECT_EQ(keys.CompareKeys(keyA.data(), keyB.data(), &idB, nullptr, S0, true), -1);
  EXPECT_EQ(table.reads, 0);
}

TEST(BTreeIndex, StepsThroughTheIndexAndOnFromAVanishedRecord) {
  KeyedTable t;
  for (std::int32_t d = 0; d < 300; ++d) t.Add({3, static_cast<std::uint16_t>(299 - d)}, "WBA", &d);
  Record buffer = t.table.NewRecord();
  THDBIndexPositionCache cache;
  THDBNavigationRequest request;
  request.Record = buffer.data();
  request.Mode = gmNext;
  request.BeforeFirst = true;
  std::vector<RecordID> seen;
  for (;;) {
    t.index->IndexStep(S0, request, 1, cache);
    if (request.Result != grOK) break;
    seen.push_back(request.ID);
  }
  EXPECT_EQ(request.Result, grEOF);
  EXPECT_TRUE(request.AfterLast);
  EXPECT_EQ(seen, t.Scan());

  // From after the last record, prior gives the last one; a step whose cache is stale
  // (another change stamp) finds its record again.
  request.Mode = gmPrior;
  t.index->IndexStep(S0, request, 2, cache);
  EXPECT_EQ(request.Result, grOK);
  EXPECT_EQ(request.ID, (RecordID{3, 0}));
  t.index->IndexStep(S0, request, 3, cache);
  EXPECT_EQ(request.ID, (RecordID{3, 1}));

  // The record the cursor stands on goes away: the step cannot find it, the near step
  // goes on from where its key stood.
  const RecordID gone = request.ID;
  t.index->RemoveRecordKey({S0, gone, t.table.records[gone].data()});
  t.table.records.erase(gone);
  t.index->IndexStep(S0, request, 4, cache);
  EXPECT_EQ(request.Result, grError);
  request.Result = grOK;
  t.index->IndexStepNear(S0, request, 4, cache);
  EXPECT_EQ(request.Result, grOK);
  EXPECT_EQ(request.ID, (RecordID{3, 2}));

  request.Mode = gmCurrent;
  EXPECT_EQ(Raised([&] { t.index->IndexStep(S0, request, 4, cache); }).code, 20053);
}

TEST(BTreeIndex, RanksCountsAndDuplicates) {
  KeyedTable t;
  EXPECT_EQ(Raised([&] { t.index->RecordAtRank(S0, 1); }).code, 20074);
  for (std::int32_t i = 0; i < 500; ++i) {
    const std::int32_t d = i / 3;  // three records per date
    t.Add({1 + i / 100, static_cast<std::uint16_t>(i % 100)}, "WBA", &d);
  }
  const std::vector<RecordID> order = t.Scan();
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{250}, order.size() - 1}) {
    EXPECT_EQ(t.index->RecordAtRank(S0, static_cast<std::int64_t>(n + 1)), order[n]);
    EXPECT_EQ(t.index->RankOf(S0, order[n], t.table.records[order[n]].data()), static_cast<std::int64_t>(n + 1));
  }
  EXPECT_EQ(Raised([&] { t.index->RecordAtRank(S0, 501); }).code, 20075);
  Record absent = t.table.NewRecord();
  t.table.SetText(absent, 0, "XYZ");
  EXPECT_EQ(t.index->RankOf(S0, {1, 0}, absent.data()), -1);

  struct AllBits : THDBPositionBits {
    std::vector<bool> bits = std::vector<bool>(500, true);
    bool TestBit(std::int64_t p) const override { return bits[static_cast<std::size_t>(p)]; }
    void ClearBit(std::int64_t p) override { bits[static_cast<std::size_t>(p)] = false; }
  } bits;
  t.index->MarkDuplicates(S0, bits, 2);
  EXPECT_EQ(std::count(bits.bits.begin(), bits.bits.end(), true), 167);
  EXPECT_TRUE(bits.bits[0] && !bits.bits[1] && !bits.bits[2] && bits.bits[3]);

  Record low = t.table.NewRecord(), high = t.table.NewRecord();
  const std::int32_t from = 40, to = 120;
  t.table.SetText(low, 0, "WBA");
  t.table.Set(low, 1, &from);
  t.table.SetText(high, 0, "WBA");
  t.table.Set(high, 1, &to);
  const std::int64_t estimate = t.index->EstimateCount(S0, {ctLess, high.data(), 2, false},
                                                        {ctGreaterOrEqual, low.data(), 2, false}, 500);
  EXPECT_NEAR(static_cast<double>(estimate), 240, 40);
}

TEST(BTreeIndex, UniqueKeysAndMissingEntries) {
  BTreeTestTable table(4096, ServiceFields);
  THDBIndexDef def;
  SetIndexDef(def, {{"FG"}}, true);
  auto index = table.MakeIndex(def);
  Record a = table.NewRecord(), b = table.NewRecord();
  table.SetText(a, 0, "WBA");
  table.SetText(b, 0, "WBB");
  EXPECT_TRUE(index->KeyIsFree(S0, a.data())) << "the first key of an empty index";
  table.records[{1, 0}] = a;
  index->AddRecordKey({S0, {1, 0}, a.data()});
  EXPECT_FALSE(index->KeyIsFree(S0, a.data()));
  EXPECT_TRUE(index->KeyIsFree(S0, b.data()));
  EXPECT_TRUE(index->KeyChangeIsFree(S0, a.data(), a.data()));
  EXPECT_FALSE(index->KeyChangeIsFree(S0, b.data(), a.data()));

  EXPECT_EQ(Raised([&] { index->RemoveRecordKey({S0, {1, 1}, a.data()}); }).code, 20027);
  EXPECT_EQ(Raised([&] { index->ChangeRecordKey({S0, {2, 0}, a.data(), b.data()}, true); }).code, 20250);

  index->Drop(S0);
  EXPECT_EQ(def.RootPageNo, -1);
  THDBIndexPositionCache cache;
  THDBNavigationRequest request;
  request.Mode = gmNext;
  EXPECT_EQ(Raised([&] { index->IndexStep(S0, request, 0, cache); }).code, 20123);
  EXPECT_EQ(Raised([&] { index->AddRecordKey({S0, {1, 0}, a.data()}); }).code, 20121);
}

TEST(BTreeIndex, BuildFillsFromTheTableAndClearKeepsTheRoot) {
  BTreeTestTable table(512, ServiceFields);
  for (std::uint16_t i = 0; i < 200; ++i) {
    Record r = table.NewRecord();
    table.SetText(r, 0, "V" + std::to_string(i % 17));
    table.records[{1 + i / 50, i}] = r;
  }
  THDBIndexDef def;
  SetIndexDef(def, {{"FG"}, {"DAT"}});
  THDBBTreeRecordIndex index(table, def);
  index.Build(S0, true);
  index.CheckIntegrity(S0);
  EXPECT_EQ(index.EntryCount(S0), 200);
  const std::int32_t root = def.RootPageNo;
  table.Pages().CommitPages(S0);
  index.Clear(S0);
  EXPECT_EQ(def.RootPageNo, root);
  EXPECT_EQ(index.EntryCount(S0), 0);
  index.Rebuild(S0);
  EXPECT_EQ(index.EntryCount(S0), 200);
  index.CheckIntegrity(S0);
}

// Damage written straight into the pages of a small committed tree.
TEST(BTreeIndex, DamagedTreesAreReportedNotFollowed) {
  struct Case {
    const char* name;
    int code;
    std::function<void(THDBPageManager&, std::int32_t root)> damage;
  };
  auto dataOf = [](THDBPageManager& pages, std::int32_t pageNo, const std::function<void(std::uint8_t*)>& edit) {
    THDBPinnedPage page(pages, pages.GetPage(S0, pageNo));
    edit(page->Buffer() + PageHeaderLayout::Size);
    page.SetDirty();
  };
  auto childOf = [](THDBPageManager& pages, std::int32_t root, int entry) {
    THDBPinnedPage page(pages, pages.GetPage(S0, root));
    return le::Load<std::int32_t>(page->Buffer() + PageHeaderLayout::Size + 18 + entry * 28 + 24, 0);
  };
  const Case cases[] = {
      {"leaf entries out of order", 20028,
       [&](THDBPageManager& pages, std::int32_t root) {
         dataOf(pages, childOf(pages, root, 0), [](std::uint8_t* d) { d[18 + 1] = 'Z'; });
       }},
      {"a child linked to the wrong neighbour", 20034,
       [&](THDBPageManager& pages, std::int32_t root) {
         dataOf(pages, childOf(pages, root, 0), [](std::uint8_t* d) { le::Store<std::int32_t>(d, 6, 1); });
       }},
      {"a node that leads back to itself", 20032,
       [&](THDBPageManager& pages, std::int32_t root) {
         dataOf(pages, root, [&](std::uint8_t* d) { le::Store<std::int32_t>(d, 18 + 28 + 24, root); });
       }},
      {"an entry count beyond the page", 20028,
       [&](THDBPageManager& pages, std::int32_t root) {
         dataOf(pages, childOf(pages, root, 1), [](std::uint8_t* d) { le::Store<std::uint16_t>(d, 14, 4000); });
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KeyedTable t;
    for (std::int32_t d = 0; d < 300; ++d) t.Add({2, static_cast<std::uint16_t>(d)}, "K" + std::to_string(d % 7), &d);
    t.table.Pages().CommitPages(S0);
    t.index->CheckIntegrity(S0);
    c.damage(t.table.Pages(), t.def.RootPageNo);
    EXPECT_EQ(Raised([&] { t.index->CheckIntegrity(S0); }).code, c.code);
  }
}

}  // namespace
}  // namespace hdb

// The record store and the table data object on a real database file: where records
// go, the counts in the state file, where a delete leaves the cursor, constraints,
// reopening, a random workload checked against a model, and two processes writing one
// table.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/page_header.h"
#include "dbengine/tables/record_manager.h"
#include "forked_child.h"
#include "table_data_test_support.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;
using test::ServiceDatabase;
using test::ServiceRecord;

std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

// The counts the state file holds now, as a fresh reader sees them.
std::pair<std::int32_t, std::int64_t> StoredCounts(ServiceDatabase& db) {
  const std::int32_t changes = db.table().ChangeCount();
  const std::int64_t records = db.table().RecordCount();
  db.table().ReadState(db.cursor.Session);
  EXPECT_EQ(db.table().ChangeCount(), changes);
  EXPECT_EQ(db.table().RecordCount(), records);
  return {db.table().ChangeCount(), db.table().RecordCount()};
}

// A fresh file with the service table in a folder of the test's own.
struct Fresh {
  hdbtest::TempDir dir;
  ServiceDatabase db{dir.File("Data.hdb"), true};
};

TEST(RecordStore, RecordsFillPagesInSlotOrderAndEmptiedPagesGo) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  THDBDiskRecordManager& records = db.table().Records();
  EXPECT_EQ(records.DiskRecordSize(), 43);
  ASSERT_EQ(records.RecordsPerPage(), 94);
  EXPECT_EQ(THDBDiskRecordManager::RecordsPerPageFor(4056, 43), 94);

  const RecordID first = db.Insert({Vin(0), 1});
  EXPECT_EQ(first.SlotNo, 0);
  auto& index = records.PageIndex();
  ASSERT_TRUE(index.First(0));
  EXPECT_EQ(index.ReadPageNo(0), first.PageNo);
  EXPECT_EQ(index.ReadCount(0), 1);
  EXPECT_FALSE(index.Next(0));

  std::vector<RecordID> ids{first};
  for (int i = 1; i < 94; ++i) ids.push_back(db.Insert({Vin(i), i}));
  EXPECT_EQ(ids[93], (RecordID{first.PageNo, 93}));
  ASSERT_TRUE(db.Delete(ids[3]));
  EXPECT_EQ(db.Insert({Vin(200), 200}), ids[3]) << "a freed slot is taken again";
  ids.push_back(db.Insert({Vin(94), 94}));
  EXPECT_NE(ids[94].PageNo, first.PageNo) << "the 95th record takes a second page";
  EXPECT_EQ(ids[94].SlotNo, 0);

  const std::int32_t second = ids[94].PageNo;
  ASSERT_TRUE(db.Delete(ids[94]));
  EXPECT_FALSE(index.FindPage(0, second)) << "the emptied page left the page index";
  EXPECT_TRUE(hdb::CheckFreeSpaceMaps(db.pages()).empty());
  EXPECT_TRUE(db.table().CheckTable(0).empty());

  EXPECT_EQ(db.table().RecordIDToOrdinal({2, 5}), 193);
  EXPECT_EQ(db.table().OrdinalToRecordID(193), (RecordID{2, 5}));
  EXPECT_EQ(Raised([&] { records.GetRecordByNumber(0, records.RecordCount + 1); }).code, 20113);
}

// A damaged record page index whose last entry leads back to the first page: a walk in
// natural order must end with the index integrity error instead of going round.
TEST(RecordStore, AWalkInNaturalOrderEndsWhereThePageIndexLeadsBack) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  THDBDiskRecordManager& records = db.table().Records();
  for (int i = 0; i < 2 * records.RecordsPerPage() + 5; ++i) db.Insert({Vin(i), i});
  auto& index = records.PageIndex();
  std::vector<std::int32_t> pageNos;
  for (bool more = index.First(0); more; more = index.Next(0)) pageNos.push_back(index.ReadPageNo(0));
  ASSERT_EQ(pageNos.size(), 3u);
  {
    THDBPinnedPage root(db.pages(), db.pages().GetPage(0, index.RootPageNo()));
    std::uint8_t* tree = root->Buffer() + PageHeaderLayout::Size;
    ASSERT_EQ(tree[1], 1) << "the page index is one leaf";
    ASSERT_EQ(tree[11], 0) << "its entries are a page number and a count";
    ASSERT_EQ(le::Load<std::int32_t>(tree, 18 + 2 * 6), pageNos[2]);
    le::Store<std::int32_t>(tree, 18 + 2 * 6, pageNos[0]);
    root.SetDirty();
  }
  db.pages().CommitPages(0);

  // More steps than the table has records: a walk that takes them goes round.
  const int allowed = 4 * records.RecordsPerPage();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(db.table().Fields().MemoryRecordSize()));
  for (bool forward : {true, false}) {
    SCOPED_TRACE(forward ? "forward" : "backward");
    test::TestCursor walker;
    walker.Session = db.cursor.Session;
    walker.session = &db.session();
    walker.CurrentRecord = buffer.data();
    walker.AtBOF = forward;
    walker.AtEOF = !forward;
    int steps = 0;
    const auto raised = Raised([&] {
      while (steps < allowed && db.table().GetRecord(walker, forward ? 1 : 2) == 0) ++steps;
    });
    EXPECT_LT(steps, allowed) << "the walk went round";
    // Forward the walk meets the page it passed; backward it starts on that page and
    // the search for it finds the first entry, so the walk ends there.
    if (forward) EXPECT_EQ(raised.code, 20194);
  }
}

TEST(RecordStore, TheStateFileFollowsEveryChange) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  auto [changes0, count0] = StoredCounts(db);
  EXPECT_EQ(count0, 0);
  const RecordID id = db.Insert({Vin(1), 10});
  EXPECT_EQ(StoredCounts(db), std::make_pair(changes0 + 1, count0 + 1));
  ASSERT_TRUE(db.Update(id, {Vin(1), 11}));
  EXPECT_EQ(StoredCounts(db), std::make_pair(changes0 + 2, count0 + 1));
  ASSERT_TRUE(db.Delete(id));
  EXPECT_EQ(StoredCounts(db), std::make_pair(changes0 + 3, count0));
}

TEST(TableData, DeleteLeavesTheCursorOnTheNextElseThePreviousElseBeforeTheFirst) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  const RecordID a = db.Insert({Vin(1), 1});
  const RecordID b = db.Insert({Vin(1), 2});
  const RecordID c = db.Insert({Vin(1), 3});
  db.cursor.IndexID = db.IndexID("FGDAT");
  ASSERT_TRUE(db.Delete(b));
  EXPECT_EQ(db.cursor.Position, c);
  EXPECT_FALSE(db.cursor.AtBOF || db.cursor.AtEOF);
  ASSERT_TRUE(db.Delete(c));
  EXPECT_EQ(db.cursor.Position, a) << "the last in order leaves the cursor on the one before";
  ASSERT_TRUE(db.Delete(a));
  EXPECT_TRUE(db.cursor.AtBOF);
  EXPECT_FALSE(db.cursor.AtEOF);
  EXPECT_FALSE(db.Delete(a)) << "a vacant slot";
}

TEST(TableData, ConstraintsRefuseNullsAndDuplicates) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  auto empty = db.Record({""});
  db.cursor.CurrentRecord = empty.data();
  const auto error = Raised([&] { db.table().CheckConstraints(0, empty.data(), true, true, {}, true, nullptr); });
  EXPECT_EQ(error.code, 30026);
  EXPECT_NE(error.what.find("Value in field 'FG' cannot be null"), std::string::npos) << error.what;

  // A unique index over FG;DAT, added with its records: its constraint comes with it.
  THDBIndexDef unique;
  unique.Name = "UNIQUEFGDAT";
  unique.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  unique.IsUnique = true;
  auto first = db.Record({Vin(7), 70});
  EXPECT_TRUE(db.table().CheckConstraints(0, first.data(), true, true, {}, true, nullptr))
      << "the first record of an empty table is never a duplicate";
  db.table().AddIndex(unique, db.cursor);
  db.Insert({Vin(7), 70});
  auto again = db.Record({Vin(7), 70});
  const auto duplicate = Raised([&] { db.table().CheckConstraints(0, again.data(), true, true, {}, true, nullptr); });
  EXPECT_EQ(duplicate.code, 30320);
  EXPECT_NE(duplicate.what.find("Duplicate found."), std::string::npos);
  auto other = db.Record({Vin(7), 71});
  EXPECT_TRUE(db.table().CheckConstraints(0, other.data(), true, true, {}, true, nullptr));
  EXPECT_TRUE(db.table().CheckTable(0).empty());
}

TEST(TableData, AReopenedTableHoldsWhatWasCommittedAndNothingRolledBack) {
  hdbtest::TempDir dir;
  const std::string path = dir.File("Data.hdb");
  std::set<std::string> committed;
  {
    ServiceDatabase db(path, true);
    for (int i = 0; i < 30; ++i) {
      db.Insert({Vin(i), i});
      committed.insert(Vin(i));
    }
    db.session().inTransaction = true;
    for (int i = 100; i < 140; ++i) db.Insert({Vin(i), i});
    db.database().Rollback(db.cursor.Session);
    db.table().ReadState(db.cursor.Session);
    db.session().inTransaction = false;
  }
  ServiceDatabase reopened(path, false);
  std::set<std::string> seen;
  std::vector<std::uint8_t> record(static_cast<std::size_t>(reopened.table().Fields().MemoryRecordSize()));
  reopened.table().ForEachRecord(0, [&](RecordID, const std::uint8_t* r) {
    std::memcpy(record.data(), r, record.size());
    seen.insert(reopened.FG(record));
  });
  EXPECT_EQ(seen, committed);
  EXPECT_EQ(reopened.table().RecordCount(), 30);
  EXPECT_TRUE(reopened.table().CheckTable(0).empty());
}

TEST(TableData, ARandomWorkloadLeavesEveryIndexListingTheRecordsInKeyOrder) {
  Fresh fresh;
  ServiceDatabase& db = fresh.db;
  THDBIndexDef byMileage;
  byMileage.Name = "MLGDESC";
  byMileage.SetColumns({"MLG", "NHND"}, {"DESC", ""}, {"", "NO_CASE"});
  db.table().AddIndex(byMileage, db.cursor);
  std::mt19937 random(99);
  auto next = [&](int bound) { return static_cast<int>(random() % static_cast<unsigned>(bound)); };
  std::map<RecordID, ServiceRecord, test::RecordIDLess> model, committedModel;
  auto randomRecord = [&] {
    ServiceRecord r{Vin(next(60)), next(400), next(5) * 1000, static_cast<std::uint16_t>(next(2))};
    r.nhnd = std::string(1, "aAbB"[next(4)]) + std::to_string(next(50));
    return r;
  };
  for (int batch = 0; batch < 30; ++batch) {
    const bool rollback = batch % 6 == 5;
    db.session().inTransaction = rollback;
    for (int op = 0; op < 120; ++op) {
      const int dice = next(10);
      if (model.empty() || dice < 5) {
        const ServiceRecord r = randomRecord();
        model[db.Insert(r)] = r;
      } else if (dice < 8) {
        auto it = model.begin();
        std::advance(it, next(static_cast<int>(model.size())));
        ASSERT_TRUE(db.Delete(it->first));
        model.erase(it);
      } else {
        auto it = model.begin();
        std::advance(it, next(static_cast<int>(model.size())));
        it->second = randomRecord();
        ASSERT_TRUE(db.Update(it->first, it->second));
      }
    }
    if (rollback) {
      db.database().Rollback(db.cursor.Session);
      db.table().ReadState(db.cursor.Session);
      model = committedModel;
    } else {
      committedModel = model;
    }
    db.session().inTransaction = false;
    const auto problems = db.table().CheckTable(0);
    ASSERT_TRUE(problems.empty()) << problems.front();
    ASSERT_TRUE(CheckFreeSpaceMaps(db.pages()).empty());
    ASSERT_EQ(db.table().RecordCount(), static_cast<std::int64_t>(model.size()));
  }
  // Natural order, FGDAT order and the descending mileage order against the model.
  std::vector<RecordID> natural;
  for (const auto& [id, r] : model) natural.push_back(id);
  EXPECT_EQ(db.Walk(), natural);
  auto byKey = [&](auto key) {
    std::vector<RecordID> ids = natural;
    std::stable_sort(ids.begin(), ids.end(), [&](RecordID a, RecordID b) { return key(model[a]) < key(model[b]); });
    return ids;
  };
  EXPECT_EQ(db.Walk(db.IndexID("FGDAT")), byKey([](const ServiceRecord& r) { return std::make_tuple(r.fg, r.dat); }));
  std::vector<RecordID> backward = db.Walk(db.IndexID("FGDAT"), false);
  std::reverse(backward.begin(), backward.end());
  EXPECT_EQ(backward, db.Walk(db.IndexID("FGDAT")));
  const auto mileage = db.Walk(db.IndexID("MLGDESC"));
  ASSERT_EQ(mileage.size(), model.size());
  for (std::size_t i = 1; i < mileage.size(); ++i) EXPECT_GE(model[mileage[i - 1]].mlg, model[mileage[i]].mlg);
}

TEST(TableData, TwoProcessesInsertingIntoOneTableInMultiUserMode) {
  hdbtest::TempDir dir;
  const std::string path = dir.File("Data.hdb");
  { ServiceDatabase maker(path, true, true); }
  constexpr int PerProcess = 150;
  auto writer = [&](int base) {
    return [&, base](hdbtest::ForkedChild& child) {
      try {
        ServiceDatabase db(path, false, true);
        child.Send();
        child.Receive();
        for (int i = 0; i < PerProcess; ++i) db.Insert({Vin(base + i), base + i});
      } catch (const EHDBException& e) {
        std::fprintf(stderr, "writer %d: %s\n", base, e.what());
        return 1;
      }
      return 0;
    };
  };
  hdbtest::ForkedChild first(writer(0)), second(writer(1000));
  first.Receive();
  second.Receive();
  first.Send();
  second.Send();
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  ServiceDatabase db(path, false, true);
  EXPECT_EQ(db.table().GetRecordCount(db.cursor), 2 * PerProcess);
  std::set<std::string> vins;
  std::vector<std::uint8_t> record(static_cast<std::size_t>(db.table().Fields().MemoryRecordSize()));
  db.table().ForEachRecord(db.cursor.Session, [&](RecordID, const std::uint8_t* r) {
    std::memcpy(record.data(), r, record.size());
    vins.insert(db.FG(record));
  });
  EXPECT_EQ(vins.size(), 2u * PerProcess);
  const auto problems = db.table().CheckTable(db.cursor.Session);
  EXPECT_TRUE(problems.empty()) << problems.front();
}

}  // namespace
}  // namespace hdb

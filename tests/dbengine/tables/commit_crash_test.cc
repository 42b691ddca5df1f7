// Commits of the service record table in processes that die: killed at every write
// point of one commit of record, index and state pages, and killed at random moments
// while inserting one record per commit. The file must always reopen without
// NeedsRepair, hold exactly the last committed records, and pass the table's and the
// free-space maps' checks.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <random>
#include <thread>

#include "dbengine/platform/posix_file.h"
#include "dbengine/storage/free_space_check.h"
#include "file_fault_plan.h"
#include "forked_child.h"
#include "table_data_test_support.h"

namespace hdb::test {
namespace {

using hdbtest::FaultPlan;

// MLG (the record's number here) -> DAT of every record, read along the FGDAT index.
using Contents = std::map<std::int64_t, std::int32_t>;

ServiceRecord Numbered(std::int64_t n, std::int32_t dat = 40000) {
  ServiceRecord r;
  r.fg = "WBA" + std::to_string(1000000 + n % 7) + "0000000";
  r.fg.resize(17, '0');
  r.dat = dat + static_cast<std::int32_t>(n % 1000);
  r.mlg = n;
  return r;
}

// Opens the file as the program would after a crash and checks it; returns what it holds.
Contents CheckedContents(const std::string& path) {
  ServiceDatabase db(path, false);
  EXPECT_FALSE(db.session().needsRepair);
  Contents contents;
  const THDBBaseFieldManager& f = db.table().Fields();
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(f.MemoryRecordSize()));
  for (RecordID id : db.Walk(db.IndexID("FGDAT"))) {
    db.table().ReadIndexedRecord(db.cursor.Session, id, buffer.data());
    std::int64_t mlg = 0;
    std::int32_t dat = 0;
    std::memcpy(&mlg, buffer.data() + f.Field(2).MemoryOffset, 8);
    std::memcpy(&dat, buffer.data() + f.Field(1).MemoryOffset, 4);
    EXPECT_TRUE(contents.emplace(mlg, dat).second) << "record " << mlg << " twice";
  }
  EXPECT_EQ(static_cast<std::int64_t>(contents.size()), db.table().RecordCount());
  const auto problems = db.table().CheckTable(db.cursor.Session);
  EXPECT_TRUE(problems.empty()) << problems.front();
  const auto mapProblems = CheckFreeSpaceMaps(db.pages());
  EXPECT_TRUE(mapProblems.empty()) << mapProblems.front();
  return contents;
}

class CommitCrashTest : public ::testing::Test {
 protected:
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

// One commit (a transaction) inserts 25 records, deletes 10 and moves 3 to another
// date, so it writes record pages, index pages and the state file.
TEST_F(CommitCrashTest, KilledAtEveryWritePointOfOneCommit) {
  Contents before;
  {
    ServiceDatabase db(path_, true);
    db.session().inTransaction = true;
    for (std::int64_t n = 0; n < 40; ++n) {
      db.Insert(Numbered(n));
      before[n] = Numbered(n).dat;
    }
    db.database().Commit(db.cursor.Session, false);
  }
  Contents after = before;
  const std::string base = hdbtest::ReadFileBytes(path_);

  auto commitInChild = [&](int at, FaultPlan::Fault fault) {
    hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
      ServiceDatabase db(path_, false);
      db.session().inTransaction = true;
      std::map<std::int64_t, RecordID> ids;
      for (RecordID id : db.Walk()) {
        std::vector<std::uint8_t> buffer(static_cast<std::size_t>(db.table().Fields().MemoryRecordSize()));
        db.table().ReadIndexedRecord(db.cursor.Session, id, buffer.data());
        std::int64_t mlg = 0;
        std::memcpy(&mlg, buffer.data() + db.table().Fields().Field(2).MemoryOffset, 8);
        ids[mlg] = id;
      }
      for (std::int64_t n = 100; n < 125; ++n) db.Insert(Numbered(n));
      for (std::int64_t n = 0; n < 10; ++n) db.Delete(ids[n]);
      for (std::int64_t n = 20; n < 23; ++n) db.Update(ids[n], Numbered(n, 50000));
      int seen = 0;
      {
        FaultPlan plan(at, fault);
        db.database().Commit(db.cursor.Session, false);
        seen = plan.Seen();
      }
      hdbtest::SendInt(self, seen);
      ::_exit(0);
      return 0;
    });
    const int seen = hdbtest::ReceiveInt(child);
    child.Wait();
    return seen;
  };
  for (std::int64_t n = 100; n < 125; ++n) after[n] = Numbered(n).dat;
  for (std::int64_t n = 0; n < 10; ++n) after.erase(n);
  for (std::int64_t n = 20; n < 23; ++n) after[n] = Numbered(n, 50000).dat;

  const int points = commitInChild(-1, {});
  ASSERT_GT(points, 8);
  EXPECT_EQ(CheckedContents(path_), after);
  int olds = 0, news = 0;
  for (int k = 0; k < points; ++k) {
    for (FaultPlan::Fault fault : {FaultPlan::KillBefore(), FaultPlan::KillHalfWay()}) {
      SCOPED_TRACE("point " + std::to_string(k) + " of " + std::to_string(points) + ", bytes " +
                   std::to_string(static_cast<long long>(fault.Bytes)));
      hdbtest::WriteFileBytes(path_, base);
      platform::RemoveFile(path_ + "-journal");
      commitInChild(k, fault);
      const Contents found = CheckedContents(path_);
      EXPECT_TRUE(found == before || found == after) << found.size() << " records";
      (found == after ? news : olds)++;
    }
  }
  EXPECT_GT(olds, 0);
  EXPECT_GT(news, 0);
}

// A multi-user process that goes on working on the table after another one died inside
// a commit rolls that commit back before it reads, and its own commit builds on the
// last committed state.
TEST_F(CommitCrashTest, MultiUserProcessRollsBackADeadWritersCommit) {
  Contents expected;
  {
    ServiceDatabase db(path_, true, true);
    for (std::int64_t n = 0; n < 20; ++n) {
      db.Insert(Numbered(n));
      expected[n] = Numbered(n).dat;
    }
  }
  ServiceDatabase other(path_, false, true);
  ASSERT_TRUE(other.pages().MultiUser());
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild&) {
    ServiceDatabase db(path_, false, true);
    // Killed half way through the commit's first page write: after the journal's
    // flush, the header's state 1, then part of a page.
    bool flushed = false;
    int writes = 0;
    platform::SetFileFaultHook([&](platform::FileOp op, std::size_t) {
      if (op == platform::FileOp::Flush) flushed = true;
      if (op == platform::FileOp::Write && flushed && ++writes == 2) return FaultPlan::KillHalfWay();
      return platform::FileFault{};
    });
    db.Insert(Numbered(100));
    return 0;
  });
  ASSERT_EQ(child.Wait(), -1);
  EXPECT_EQ(hdbtest::ReadFileBytes(path_)[FileHeaderLayout::DatabaseState::offset], DatabaseStateCommitting);
  other.Insert(Numbered(101));
  expected[101] = Numbered(101).dat;
  EXPECT_EQ(hdbtest::ReadFileBytes(path_)[FileHeaderLayout::DatabaseState::offset], DatabaseStateConsistent);
  EXPECT_EQ(other.Walk().size(), expected.size());
  EXPECT_TRUE(other.table().CheckTable(other.cursor.Session).empty());
}

// A child inserts one record per commit and reports each commit that returned; it is
// killed at a random moment, hundreds of times. HALVARIN_CRASH_ROUNDS sets the number of
// rounds for a longer run.
TEST_F(CommitCrashTest, KilledAtRandomMomentsKeepsEveryReturnedCommit) {
  { ServiceDatabase db(path_, true); }
  int rounds = 150;
  if (const char* env = std::getenv("HALVARIN_CRASH_ROUNDS")) rounds = std::max(1, std::atoi(env));
  std::mt19937 random(20240611);
  std::uniform_int_distribution<int> delayMicros(0, 25000);
  std::int64_t committed = 0;
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
      ServiceDatabase db(path_, false);
      self.Send('o');  // opened
      for (std::int64_t n = db.table().RecordCount();; ++n) {
        db.Insert(Numbered(n));
        self.Send('c');
      }
      return 0;
    });
    // The kill lands anywhere: in the open (and its recovery), in a commit, between two.
    if (round % 2 == 0) {
      if (child.Receive() != 'o') ADD_FAILURE() << "the child did not open the file";
    }
    std::this_thread::sleep_for(std::chrono::microseconds(delayMicros(random)));
    child.Kill();
    std::int64_t acknowledged = 0;
    for (char c = child.Receive(); c != 0; c = child.Receive())
      if (c == 'c') ++acknowledged;
    child.Wait();
    const Contents found = CheckedContents(path_);
    const std::int64_t count = static_cast<std::int64_t>(found.size());
    // Every returned commit is there; the one under way may be there too.
    EXPECT_GE(count, committed + acknowledged);
    EXPECT_LE(count, committed + acknowledged + 1);
    std::int64_t expected = 0;
    for (const auto& [mlg, dat] : found) {
      EXPECT_EQ(mlg, expected++);
      EXPECT_EQ(dat, Numbered(mlg).dat);
    }
    committed = count;
    if (HasFailure()) break;
  }
}

}  // namespace
}  // namespace hdb::test

// The rollback journal under a commit of pages: a process killed at every write point
// of the commit, journals cut or damaged, writes and flushes that fail, and a
// multi-user reader that finds another process's commit half written.
#include "dbengine/storage/rollback_journal.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "dbengine/platform/posix_file.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_header.h"
#include "file_fault_plan.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

namespace pf = platform;
using hdbtest::ReadFileBytes;
using hdbtest::WriteFileBytes;

constexpr TSessionID S0 = 0;

using hdbtest::FaultPlan;
constexpr auto KillBefore = FaultPlan::KillBefore;
constexpr auto KillAfter = FaultPlan::KillAfter;
constexpr auto KillHalfWay = FaultPlan::KillHalfWay;
constexpr auto Fail = FaultPlan::Fail;

class RollbackJournalTest : public ::testing::Test {
 protected:
  // Five pages holding "old", and (withFrees) twenty more at the end that the commit
  // frees, so that it also cuts the file's free tail.
  void SetUp() override {
    THDBDiskPageManager pm;
    pm.Create(path_, {}, 8, 4096);
    for (int i = 0; i < 5; ++i) kept_.push_back(AddPage(pm, "old"));
    for (int i = 0; i < 20; ++i) freed_.push_back(AddPage(pm, "tail"));
    pm.CommitPages(S0);
    pm.Close();
    base_ = ReadFileBytes(path_);
  }

  // The file's bytes without the page the commit adds: a rollback leaves whatever the
  // commit wrote there, the page holding nothing committed.
  std::string Bytes() const {
    std::string bytes = ReadFileBytes(path_);
    const std::size_t at = 380 + static_cast<std::size_t>(added_) * 4096;
    if (added_ > 0 && at < bytes.size()) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), 4096, '\0');
    return bytes;
  }

  static std::int32_t AddPage(THDBDiskPageManager& pm, const char* text) {
    THDBPinnedPage page(pm, pm.AddPage(S0, ptTableRecord));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), text);
    return page->PageNo();
  }
  static void SetData(THDBDiskPageManager& pm, std::int32_t no, const char* text) {
    THDBPinnedPage page(pm, pm.GetPage(S0, no));
    std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), text);
    page.SetDirty();
  }
  static std::string DataOf(THDBDiskPageManager& pm, std::int32_t no) {
    THDBPinnedPage page(pm, pm.GetPage(S0, no));
    return reinterpret_cast<const char*>(page->Buffer() + 40);
  }
  void Open(THDBDiskPageManager& pm, bool multiUser = false, bool* needsRepair = nullptr) {
    bool mu = multiUser, ro = false;
    const bool repair = pm.Open(path_, {}, mu, false, ro);
    if (needsRepair) *needsRepair = repair;
  }

  // The commit under test: three pages become "new", one page is added, and (with
  // frees) the twenty tail pages go. Commits only when `commit` is set.
  void Change(THDBDiskPageManager& pm, bool withFrees) {
    for (int i = 0; i < 3; ++i) {
      THDBPinnedPage page(pm, pm.GetPage(S0, kept_[static_cast<std::size_t>(i)]));
      std::strcpy(reinterpret_cast<char*>(page->Buffer() + 40), "new");
      page.SetDirty();
    }
    added_ = AddPage(pm, "new");
    if (withFrees)
      for (std::int32_t no : freed_) pm.RemovePage(S0, no);
  }

  // Runs the commit in a child with the plan's fault; returns the number of file
  // operations the commit made (the child reports it when it lives to the end).
  // With earlier_ other than "old", a commit before it (not under the plan) makes the
  // three pages earlier_, so that the commit under test journals the images it kept.
  int CommitInChild(bool withFrees, int at, pf::FileFault fault, bool flushing = true) {
    hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
      THDBDiskPageManager pm;
      pm.SetFlushing(flushing);
      Open(pm);
      if (earlier_ != "old") {
        for (int i = 0; i < 3; ++i) SetData(pm, kept_[static_cast<std::size_t>(i)], earlier_.c_str());
        pm.CommitPages(S0);
        for (int i = 0; i < 3; ++i)
          if (!pm.CommittedImages().Find(kept_[static_cast<std::size_t>(i)])) ::_exit(3);
        // As another process's close does with an idle journal, while this one keeps
        // its descriptor.
        if (removeIdleJournal_) pf::RemoveFile(journal_);
      }
      Change(pm, withFrees);
      int seen = 0;
      {
        FaultPlan plan(at, fault);
        pm.CommitPages(S0);
        seen = plan.Seen();
      }
      hdbtest::SendInt(self, seen);
      hdbtest::SendInt(self, added_);
      ::_exit(0);
      return 0;
    });
    const int seen = hdbtest::ReceiveInt(child);
    // The added page's number: the same in every run from the same file.
    if (const int added = hdbtest::ReceiveInt(child); added > 0) added_ = added;
    child.Wait();
    return seen;
  }

  // What a journal-aware open finds: exactly the state before the commit or after it,
  // with consistent free-space maps. Returns true for the state after.
  bool ExpectOldOrNew(bool withFrees, const std::string& where) {
    SCOPED_TRACE(where);
    THDBDiskPageManager pm;
    bool repair = true;
    Open(pm, false, &repair);
    EXPECT_FALSE(repair);
    const std::string first = DataOf(pm, kept_[0]);
    EXPECT_TRUE(first == earlier_ || first == "new") << first;
    const bool after = first == "new";
    for (std::size_t i = 0; i < kept_.size(); ++i)
      EXPECT_EQ(DataOf(pm, kept_[i]), i >= 3 ? "old" : after ? "new" : earlier_) << "page " << kept_[i];
    if (after) EXPECT_EQ(DataOf(pm, added_), "new");
    if (withFrees) {
      for (std::int32_t no : freed_) {
        const bool inFile = no < pm.Header().TotalPageCount();
        EXPECT_EQ(inFile && pm.FreeSpace()->IsPageUsed(no), !after) << "page " << no;
        if (!after) EXPECT_EQ(DataOf(pm, no), "tail");
      }
    }
    const auto problems = CheckFreeSpaceMaps(pm);
    EXPECT_TRUE(problems.empty()) << problems.front();
    pm.Close();
    return after;
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  std::string journal_ = path_ + "-journal";
  std::vector<std::int32_t> kept_, freed_;
  std::int32_t added_ = -1;
  std::string base_;
  std::string earlier_ = "old";  // the three changed pages' text before the commit
  bool removeIdleJournal_ = false;
};

TEST_F(RollbackJournalTest, CommitWritesTheJournalBeforeThePagesAndInvalidatesItAfter) {
  THDBDiskPageManager pm;
  Open(pm);
  Change(pm, true);
  std::vector<pf::FileOp> ops;
  {
    FaultPlan plan(-1, {});
    pm.CommitPages(S0);
    ops = plan.Ops();
  }
  // Journal write and flush (and its folder's, the journal being new), then the
  // writes in place, the file's flush, the journal's invalidation and its flush.
  ASSERT_GE(ops.size(), 8u);
  EXPECT_EQ(ops[0], pf::FileOp::Write);
  EXPECT_EQ(ops[1], pf::FileOp::Flush);
  EXPECT_EQ(ops[2], pf::FileOp::Flush);
  EXPECT_EQ(ops[ops.size() - 3], pf::FileOp::Flush);
  EXPECT_EQ(ops[ops.size() - 2], pf::FileOp::Write);
  EXPECT_EQ(ops[ops.size() - 1], pf::FileOp::Flush);
  EXPECT_EQ(pm.Journal().Inspect(), THDBRollbackJournal::TFound::Torn);  // invalid, kept for the next commit
  pm.Close();
  EXPECT_FALSE(pf::FileExists(journal_));  // the last user removes it
  EXPECT_TRUE(ExpectOldOrNew(true, "committed"));
}

TEST_F(RollbackJournalTest, FlushingOffSkipsOnlyTheFlushes) {
  auto opsOf = [&](bool flushing) {
    WriteFileBytes(path_, base_);
    THDBDiskPageManager pm;
    pm.SetFlushing(flushing);
    Open(pm);
    Change(pm, true);
    FaultPlan plan(-1, {});
    pm.CommitPages(S0);
    std::vector<pf::FileOp> ops = plan.Ops();
    pm.Close();
    return ops;
  };
  std::vector<pf::FileOp> on = opsOf(true);
  std::vector<pf::FileOp> off = opsOf(false);
  std::erase(on, pf::FileOp::Flush);
  EXPECT_EQ(off, on);
}

// A process killed at every write point of the commit, before the operation, after
// it, and (for writes) half way through it.
TEST_F(RollbackJournalTest, KilledAtEveryWritePointLeavesTheOldOrTheNewState) {
  for (bool withFrees : {false, true}) {
    WriteFileBytes(path_, base_);
    const int points = CommitInChild(withFrees, -1, {});
    ASSERT_GT(points, 6);
    std::set<bool> seen;
    for (int k = 0; k < points; ++k) {
      for (pf::FileFault fault : {KillBefore(), KillAfter(), KillHalfWay()}) {
        WriteFileBytes(path_, base_);
        pf::RemoveFile(journal_);
        CommitInChild(withFrees, k, fault);
        const std::string where = "frees " + std::to_string(withFrees) + ", point " + std::to_string(k) +
                                  ", bytes " + std::to_string(static_cast<long long>(fault.Bytes));
        seen.insert(ExpectOldOrNew(withFrees, where));
      }
    }
    EXPECT_EQ(seen.size(), 2u);
  }
}

// The commit's journal takes the before-images of the pages from the ones the
// process's previous commit wrote: a kill anywhere rolls back to exactly those.
TEST_F(RollbackJournalTest, KilledAfterAnEarlierCommitLeavesItsStateOrTheNew) {
  earlier_ = "mid";
  for (bool withFrees : {false, true}) {
    WriteFileBytes(path_, base_);
    pf::RemoveFile(journal_);
    const int points = CommitInChild(withFrees, -1, {});
    ASSERT_GT(points, 6);
    std::set<bool> seen;
    for (int k = 0; k < points; ++k) {
      for (pf::FileFault fault : {KillAfter(), KillHalfWay()}) {
        WriteFileBytes(path_, base_);
        pf::RemoveFile(journal_);
        CommitInChild(withFrees, k, fault);
        seen.insert(ExpectOldOrNew(withFrees, "frees " + std::to_string(withFrees) + ", point " + std::to_string(k)));
      }
    }
    EXPECT_EQ(seen.size(), 2u);
  }
}

// The journal file removed between two commits (by another process's close) while
// this process keeps its descriptor: the next commit writes a journal under the name
// again, which a kill anywhere leaves for the next open to roll back.
TEST_F(RollbackJournalTest, JournalRemovedBetweenCommitsIsWrittenUnderItsNameAgain) {
  earlier_ = "mid";
  removeIdleJournal_ = true;
  const int points = CommitInChild(false, -1, {});
  ASSERT_GT(points, 6);
  std::set<bool> seen;
  for (int k = 0; k < points; ++k) {
    WriteFileBytes(path_, base_);
    pf::RemoveFile(journal_);
    CommitInChild(false, k, KillAfter());
    seen.insert(ExpectOldOrNew(false, "point " + std::to_string(k)));
  }
  EXPECT_EQ(seen.size(), 2u);
}

// Another process's commit between two of this one's makes the images this one kept
// stale: its next commit journals the file's bytes, so undoing it restores the other
// process's data.
TEST_F(RollbackJournalTest, KeptImagesAreNotUsedAfterAnotherProcessCommitted) {
  THDBDiskPageManager first;
  Open(first, true);
  SetData(first, kept_[0], "mid");
  first.CommitPages(S0);
  ASSERT_NE(first.CommittedImages().Find(kept_[0]), nullptr);
  hdbtest::ForkedChild other([&](hdbtest::ForkedChild&) {
    THDBDiskPageManager pm;
    Open(pm, true);
    SetData(pm, kept_[0], "other");
    pm.CommitPages(S0);
    pm.Close();
    return 0;
  });
  ASSERT_EQ(other.Wait(), 0);
  SetData(first, kept_[0], "new");
  {
    // The disk is full from the commit's first write in place on (the journal's write
    // and its flushes come before): the commit fails and cannot undo itself either, so
    // its journal stays for the next open to roll back.
    FaultPlan plan(3, Fail(ENOSPC), true);
    EXPECT_THROW(first.CommitPages(S0), EHDBException);
  }
  EXPECT_EQ(first.CommittedImages().Count(), 0u);
  first.RollbackPages(S0);
  first.Close();
  THDBDiskPageManager reader;
  Open(reader);
  EXPECT_EQ(DataOf(reader, kept_[0]), "other");
  reader.Close();
}

TEST_F(RollbackJournalTest, KilledWithFlushingOffLeavesTheOldOrTheNewState) {
  const int points = CommitInChild(true, -1, {}, false);
  for (int k = 0; k < points; ++k) {
    WriteFileBytes(path_, base_);
    pf::RemoveFile(journal_);
    CommitInChild(true, k, KillHalfWay(), false);
    ExpectOldOrNew(true, "point " + std::to_string(k));
  }
}

// A journal whose commit had written part of its pages, cut short or damaged: it is
// recognised as torn and nothing of it reaches the file.
TEST_F(RollbackJournalTest, TornOrDamagedJournalIsDiscardedAndTheFileLeftAlone) {
  const int points = CommitInChild(false, -1, {});
  // Killed before the commit's first operation: the file as the commit found it, with
  // the added page allocated.
  WriteFileBytes(path_, base_);
  CommitInChild(false, 0, KillBefore());
  const std::string allocated = Bytes();
  WriteFileBytes(path_, base_);
  // Killed after the third operation of the writes in place: a complete journal and a
  // half-written file.
  CommitInChild(false, 5, KillAfter());
  ASSERT_LT(5, points);
  const std::string halfFile = ReadFileBytes(path_);
  ASSERT_GT(added_, 0);
  const std::string journal = ReadFileBytes(journal_);
  ASSERT_FALSE(halfFile == allocated);
  ASSERT_GT(journal.size(), JournalLayout::Size + 3 * 4096);

  auto openWith = [&](const std::string& journalBytes) {
    WriteFileBytes(path_, halfFile);
    WriteFileBytes(journal_, journalBytes);
    THDBDiskPageManager pm;
    bool repair = false;
    Open(pm, false, &repair);
    pm.Close();
    return repair;
  };
  std::vector<std::size_t> cuts;
  for (std::size_t n = 0; n <= JournalLayout::Size + 40; ++n) cuts.push_back(n);
  for (std::size_t n = JournalLayout::Size + 41; n < journal.size(); n += 509) cuts.push_back(n);
  cuts.push_back(journal.size() - 1);
  for (std::size_t n : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    EXPECT_TRUE(openWith(journal.substr(0, n)));  // state 1 stays: NeedsRepair
    EXPECT_TRUE(ReadFileBytes(path_) == halfFile);
    EXPECT_FALSE(pf::FileExists(journal_));
  }
  for (std::size_t at : {std::size_t{0}, std::size_t{20}, std::size_t{33}, std::size_t{61}, JournalLayout::Size + 3,
                         journal.size() / 2, journal.size() - 1}) {
    SCOPED_TRACE("byte changed at " + std::to_string(at));
    std::string damaged = journal;
    damaged[at] = static_cast<char>(damaged[at] ^ 0x10);
    EXPECT_TRUE(openWith(damaged));
    EXPECT_TRUE(ReadFileBytes(path_) == halfFile);
  }
  // The whole journal brings the file back, byte for byte.
  EXPECT_FALSE(openWith(journal));
  EXPECT_TRUE(Bytes() == allocated);
}

// A write, flush, size change or removal that fails at any point of the commit: the
// commit either completes or raises its documented number and leaves the file as it
// was, and the session can then commit again.
TEST_F(RollbackJournalTest, FailureAtEveryPointCompletesOrLeavesTheFileAsItWas) {
  const std::set<int> documented = {10462, 10469, 20198, 30370, 30379, 30701, 30702, 30704, 30705};
  const int points = CommitInChild(false, -1, {});
  struct Case {
    const char* name;
    pf::FileFault fault;
    bool from;
  };
  const Case cases[] = {
      {"one failure (EIO)", Fail(EIO), false},
      {"a short write", {100, false, ENOSPC}, false},
      {"a full disk from here on", Fail(ENOSPC), true},
  };
  for (const Case& c : cases) {
    for (int k = 0; k < points; ++k) {
      SCOPED_TRACE(std::string(c.name) + " at point " + std::to_string(k));
      WriteFileBytes(path_, base_);
      pf::RemoveFile(journal_);
      THDBDiskPageManager pm;
      Open(pm);
      Change(pm, false);
      const std::string before = Bytes();  // with the added page allocated
      int code = 0;
      {
        FaultPlan plan(k, c.fault, c.from);
        try {
          pm.CommitPages(S0);
        } catch (const EHDBException& e) {
          code = e.NativeError();
        }
      }
      if (code != 0) {
        EXPECT_TRUE(documented.count(code)) << code;
        if (!c.from) {
          EXPECT_TRUE(Bytes() == before);
        }
        EXPECT_EQ(pm.HeaderLockDepth(), 0);
        pm.CommitPages(S0);  // the session's changes are still there
      }
      pm.Close();
      EXPECT_TRUE(ExpectOldOrNew(false, "after"));
    }
  }
}

TEST_F(RollbackJournalTest, MultiUserReaderRollsBackADeadProcessesCommit) {
  THDBDiskPageManager reader;
  Open(reader, true);
  ASSERT_TRUE(reader.MultiUser());
  EXPECT_EQ(DataOf(reader, kept_[0]), "old");
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild&) {
    THDBDiskPageManager pm;
    Open(pm, true);
    Change(pm, false);
    FaultPlan plan(5, KillAfter());
    pm.CommitPages(S0);
    return 0;
  });
  ASSERT_EQ(child.Wait(), -1);  // killed
  THDBFileHeader onDisk;
  std::memcpy(onDisk.Bytes().data(), ReadFileBytes(path_).data(), FileHeaderLayout::Size);
  ASSERT_EQ(onDisk.DatabaseState(), DatabaseStateCommitting);
  reader.RecoverInterruptedCommit();
  std::memcpy(onDisk.Bytes().data(), ReadFileBytes(path_).data(), FileHeaderLayout::Size);
  EXPECT_EQ(onDisk.DatabaseState(), DatabaseStateConsistent);
  for (std::int32_t no : kept_) EXPECT_EQ(DataOf(reader, no), "old");
  reader.Close();
  ExpectOldOrNew(false, "reopened");
}

TEST_F(RollbackJournalTest, NewDatabaseRemovesTheJournalOfTheFileItReplaces) {
  CommitInChild(false, 5, KillAfter());
  ASSERT_EQ(THDBRollbackJournal::NameFor(path_), journal_);
  ASSERT_TRUE(pf::FileExists(journal_));
  {
    THDBDiskPageManager pm;
    pm.Create(path_, {}, 8, 4096);
  }
  EXPECT_FALSE(pf::FileExists(journal_));
}

}  // namespace
}  // namespace hdb

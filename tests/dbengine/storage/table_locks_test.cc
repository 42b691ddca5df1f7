#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/table_lock_list.h"
#include "dbengine/storage/table_lock_manager.h"
#include "dbengine/storage/table_locks_file.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;
using hdbtest::CountingSleep;
using hdbtest::ForkedChild;
using hdbtest::ReadFileBytes;
using Locks = THDBDatabaseTableLockManager;

constexpr std::int32_t kSlots = 4;  // session slots of every locks file here

RecordID Record(std::uint16_t slot) { return {7, slot}; }

// Whether any open file description holds a lock on the range, asked through a
// fresh descriptor of this process (open-file-description locks conflict with it).
bool IsLockedInFile(const std::string& path, std::int64_t offset, std::int64_t length) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = offset;
  fl.l_len = length;
  const bool asked = ::fcntl(fd, F_OFD_GETLK, &fl) == 0;
  ::close(fd);
  return asked && fl.l_type != F_UNLCK;
}

// One process's view of the database: its own page manager, the locks files of two
// tables A and B, and the lock manager.
struct Connection {
  Connection(const std::string& path, std::int32_t tableA, std::int32_t tableB, bool multiUser = true,
             bool exclusive = false, std::int32_t maxSessions = kSlots)
      : path(path) {
    bool mu = multiUser, ro = false;
    pm.Open(path, {}, mu, exclusive, ro);
    A.Open(tableA);
    B.Open(tableB);
    locks = std::make_unique<Locks>(pm, maxSessions, multiUser, exclusive);
  }
  std::int64_t FirstByte(THDBTableLocksFile& f) { return pm.PageOffset(f.StartPageNo()); }
  std::int64_t At(THDBTableLocksFile& f, std::int32_t position) { return FirstByte(f) + 40 + 10 + position; }
  // The byte of kind `type` of session s, as other processes see it.
  bool Announced(THDBTableLocksFile& f, TableLockType type, TSessionID s) {
    return IsLockedInFile(path, At(f, type * kSlots + s), 1);
  }
  bool FirstByteLocked(THDBTableLocksFile& f) { return IsLockedInFile(path, FirstByte(f), 1); }
  std::string StoredRecordID(THDBTableLocksFile& f, TSessionID s) {
    return ReadFileBytes(path).substr(static_cast<std::size_t>(At(f, 6 * kSlots + 6 * s)), 6);
  }
  bool Holds(THDBTableLocksFile& f, TableLockType type, TSessionID s) {
    return locks->LockList(s).Find(type, f.StartPageNo()) != nullptr;
  }

  std::string path;
  THDBDiskPageManager pm;
  THDBTableLocksFile A{pm};
  THDBTableLocksFile B{pm};
  std::unique_ptr<Locks> locks;
};

// A session of another process. Each request is tried once and answers '1'
// (granted), '0' (refused) or 'e' (raised). Create these before the test's own
// Connection, so that the child does not inherit its descriptors.
class RemoteSession {
 public:
  RemoteSession(const std::string& path, std::int32_t tableA, std::int32_t tableB, TSessionID session)
      : child_([=](ForkedChild& self) {
          Connection c(path, tableA, tableB);
          self.Send('r');
          for (;;) {
            const char op = self.Receive();
            if (op == 0 || op == 'q') return 0;
            const char arg = self.Receive();
            self.Send(Run(c, session, op, arg));
          }
        }) {
    ready_ = child_.Receive() == 'r';
  }
  ~RemoteSession() {
    child_.Send('q');
    child_.Wait();
  }
  bool Ready() const { return ready_; }

  char LockTable(TableLockType type, char table = 'A') { return Do(table == 'A' ? 'L' : 'l', type); }
  char UnlockTable(TableLockType type, char table = 'A') { return Do(table == 'A' ? 'U' : 'u', type); }
  char LockRecord(std::uint16_t slot) { return Do('R', static_cast<char>(slot)); }
  char UnlockRecord(std::uint16_t slot) { return Do('X', static_cast<char>(slot)); }
  char IsRecordLockedByOther(std::uint16_t slot) { return Do('I', static_cast<char>(slot)); }
  // The "LockFile" byte of table A, taken and released by hand.
  char HoldLockFile() { return Do('F', 0); }
  char ReleaseLockFile() { return Do('f', 0); }

 private:
  char Do(char op, int arg) {
    child_.Send(op);
    child_.Send(static_cast<char>(arg));
    return child_.Receive();
  }
  static char Run(Connection& c, TSessionID s, char op, char arg) {
    try {
      const auto type = static_cast<TableLockType>(arg);
      const auto slot = static_cast<std::uint16_t>(static_cast<unsigned char>(arg));
      bool ok = false;
      switch (op) {
        case 'L': ok = c.locks->LockTable(s, c.A, type, false, 10, 1); break;
        case 'l': ok = c.locks->LockTable(s, c.B, type, false, 10, 1); break;
        case 'U': ok = c.locks->UnlockTable(s, c.A, type, false); break;
        case 'u': ok = c.locks->UnlockTable(s, c.B, type, false); break;
        case 'R': ok = c.locks->LockRecord(s, c.A, Record(slot), 10, 1); break;
        case 'X': ok = c.locks->UnlockRecord(s, c.A, Record(slot)); break;
        case 'I': ok = c.locks->IsRecordLockedByOther(s, c.A, Record(slot)); break;
        case 'F': ok = c.A.LockFile(); break;
        case 'f': ok = c.A.UnlockFile(); break;
      }
      return ok ? '1' : '0';
    } catch (...) {
      return 'e';
    }
  }

  ForkedChild child_;
  bool ready_ = false;
};

class TableLocksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    THDBDiskPageManager pm;
    pm.Create(path_, {}, 8, 4096);
    THDBTableLocksFile a(pm), b(pm);
    a.Create(kSlots);
    b.Create(kSlots);
    pm.CommitPages(SystemSessionID);
    tableA_ = a.StartPageNo();
    tableB_ = b.StartPageNo();
    pm.Close();
  }
  std::unique_ptr<Connection> Connect(bool multiUser = true, bool exclusive = false,
                                      std::int32_t maxSessions = kSlots) {
    return std::make_unique<Connection>(path_, tableA_, tableB_, multiUser, exclusive, maxSessions);
  }
  std::unique_ptr<RemoteSession> Remote(TSessionID session) {
    auto remote = std::make_unique<RemoteSession>(path_, tableA_, tableB_, session);
    EXPECT_TRUE(remote->Ready());
    return remote;
  }

  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  std::int32_t tableA_ = -1;
  std::int32_t tableB_ = -1;
};

TEST_F(TableLocksTest, LocksFileLayout) {
  auto c = Connect(false);
  EXPECT_EQ(c->A.SessionCount(), kSlots);
  EXPECT_EQ(c->A.Direct().GetSize(), 12 * kSlots);
  EXPECT_EQ(c->A.LockBytePosition(tlCommit, 3), 4 * kSlots + 3);
  EXPECT_EQ(c->A.RecordIDPosition(2), 6 * kSlots + 12);
  // A new file is all zero bytes in a page of type 7.
  const std::string page = ReadFileBytes(path_).substr(static_cast<std::size_t>(c->FirstByte(c->A)), 4096);
  EXPECT_EQ(le::Load<std::uint16_t>(page.data(), 8), ptTableLocks);
  EXPECT_EQ(page.substr(50, 12 * kSlots), std::string(12 * kSlots, '\0'));
  // Record ids: page number, then slot, little-endian.
  c->A.WriteRecordID(1, {0x01020304, 0x0506});
  EXPECT_EQ(c->StoredRecordID(c->A, 1), "\x04\x03\x02\x01\x06\x05");
  EXPECT_EQ(c->A.ReadRecordID(1), (RecordID{0x01020304, 0x0506}));

  THDBTableLocksFile reopened(c->pm);
  reopened.Open(tableB_);
  EXPECT_EQ(reopened.SessionCount(), kSlots);
  reopened.Delete();
  EXPECT_FALSE(reopened.IsOpen());
  EXPECT_EQ(reopened.SessionCount(), 0);
}

TEST_F(TableLocksTest, CompatibilityTableBetweenTwoProcesses) {
  // Row: kind held by the other process; column: kind requested; 1 = granted.
  constexpr bool kCompatible[7][7] = {
      {1, 1, 1, 1, 1, 1, 0}, {1, 1, 1, 1, 0, 1, 0}, {1, 1, 1, 0, 1, 1, 0}, {1, 1, 0, 0, 0, 1, 0},
      {1, 0, 1, 0, 0, 1, 0}, {1, 1, 1, 1, 1, 1, 0}, {0, 0, 0, 0, 0, 0, 0},
  };
  auto other = Remote(1);
  auto me = Connect();
  CountingSleep sleeps;
  for (int h = 0; h < 7; ++h) {
    const auto held = static_cast<TableLockType>(h);
    // Kind 5 is a record lock; the two sides lock different records.
    ASSERT_EQ(held == tlRecord ? other->LockRecord(1) : other->LockTable(held), '1') << "held " << h;
    for (int r = 0; r < 7; ++r) {
      const auto requested = static_cast<TableLockType>(r);
      const bool granted = requested == tlRecord ? me->locks->LockRecord(0, me->A, Record(2), 10, 1)
                                                 : me->locks->LockTable(0, me->A, requested, false, 10, 1);
      EXPECT_EQ(granted, kCompatible[h][r]) << "held " << h << ", requested " << r;
      if (granted) {
        EXPECT_TRUE(requested == tlRecord ? me->locks->UnlockRecord(0, me->A, Record(2))
                                          : me->locks->UnlockTable(0, me->A, requested, false));
      }
    }
    ASSERT_EQ(held == tlRecord ? other->UnlockRecord(1) : other->UnlockTable(held), '1') << "held " << h;
  }
  // With the flag, a request of kind 3 passes the other's kind 2.
  ASSERT_EQ(other->LockTable(tlRecordEdit), '1');
  EXPECT_FALSE(me->locks->LockTable(0, me->A, tlModified, false, 10, 1));
  EXPECT_TRUE(me->locks->LockTable(0, me->A, tlModified, true, 10, 1));
  // The other's own kind-3 request meets ours.
  EXPECT_EQ(other->LockTable(tlModified), '0');
  EXPECT_TRUE(me->locks->UnlockTable(0, me->A, tlModified, false));
  me->locks->CheckNoLocks();
  EXPECT_EQ(CountingSleep::Calls(), 0);  // one try each: no pause
}

TEST_F(TableLocksTest, ExclusiveLockHoldsTheFirstByteUntilReleased) {
  auto other = Remote(1);
  auto me = Connect();
  EXPECT_FALSE(me->FirstByteLocked(me->A));
  ASSERT_EQ(other->LockTable(tlExclusive), '1');
  EXPECT_TRUE(me->FirstByteLocked(me->A));
  EXPECT_FALSE(me->FirstByteLocked(me->B));
  {
    // Opening the table meanwhile waits its tries and fails.
    CountingSleep sleeps;
    EXPECT_FALSE(me->locks->LockTable(0, me->A, tlShared, false, Locks::OpenLockDelayMs, Locks::OpenLockTries));
    EXPECT_EQ(CountingSleep::Calls(), Locks::OpenLockTries - 1);
    EXPECT_FALSE(me->locks->IsRecordLockedByOther(0, me->B, Record(1)));
  }
  EXPECT_TRUE(me->FirstByteLocked(me->A));
  ASSERT_EQ(other->UnlockTable(tlExclusive), '1');
  EXPECT_FALSE(me->FirstByteLocked(me->A));
  CountingSleep sleeps;
  EXPECT_TRUE(me->locks->LockTable(0, me->A, tlShared, false, Locks::OpenLockDelayMs, Locks::OpenLockTries));
  EXPECT_EQ(CountingSleep::Calls(), 0);
  // Now the other's exclusive request fails while the table is open here.
  EXPECT_EQ(other->LockTable(tlExclusive), '0');
  EXPECT_TRUE(me->locks->UnlockTable(0, me->A, tlShared, false));
}

TEST_F(TableLocksTest, SingleUserAndExclusiveLeaveTheLocksFileAlone) {
  struct {
    const char* name;
    bool multiUser;
    bool exclusive;
  } cases[] = {{"single-user", false, false}, {"exclusive", true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto db = Connect(c.multiUser, c.exclusive);
    const std::string before = ReadFileBytes(path_);
    CountingSleep sleeps;
    Locks& locks = *db->locks;
    EXPECT_TRUE(locks.LockTable(0, db->A, tlShared, false, 100, 50));
    EXPECT_TRUE(locks.LockTable(0, db->A, tlModified, false, 100, 900));
    EXPECT_TRUE(locks.LockRecord(0, db->A, Record(3), 100, 15));
    EXPECT_TRUE(locks.LockRecord(0, db->A, Record(4), 100, 15));
    EXPECT_FALSE(locks.IsRecordLockedByOther(0, db->A, Record(3)));
    EXPECT_FALSE(IsLockedInFile(path_, db->FirstByte(db->A), 4096));
    EXPECT_TRUE(locks.LockModifiedTables(0));
    EXPECT_FALSE(IsLockedInFile(path_, db->FirstByte(db->A), 4096));
    locks.ReleaseAfterCommit(0);
    EXPECT_TRUE(locks.UnlockRecord(0, db->A, Record(3)));
    EXPECT_TRUE(locks.UnlockTable(0, db->A, tlShared, false));
    EXPECT_TRUE(locks.UnlockTable(0, db->A, tlExclusive, false));  // never held: nothing to do
    EXPECT_EQ(ReadFileBytes(path_), before);
    EXPECT_EQ(CountingSleep::Calls(), 0);
    EXPECT_TRUE(locks.LockList(0).IsEmpty());
    EXPECT_EQ(db->pm.TablePagesCache().TableInfo(0, tableA_), nullptr);
  }
}

TEST_F(TableLocksTest, ReadersKeepACommitLockOutUntilTheyLeave) {
  auto first = Remote(1);
  auto second = Remote(2);
  for (RemoteSession* reader : {first.get(), second.get()}) {
    ASSERT_EQ(reader->LockTable(tlShared), '1');
    ASSERT_EQ(reader->LockTable(tlRead), '1');
  }
  auto me = Connect();
  ASSERT_TRUE(me->locks->LockTable(0, me->A, tlShared, false, 100, 1));
  {
    std::vector<std::uint32_t> pauses;
    static std::vector<std::uint32_t>* recorded;
    recorded = &pauses;
    const auto previous = platform::SetSleepHook([](std::uint32_t ms) { recorded->push_back(ms); });
    EXPECT_FALSE(me->locks->LockTable(0, me->A, tlCommit, false, 100, 5));
    platform::SetSleepHook(previous);
    ASSERT_EQ(pauses.size(), 4u);  // between the five tries
    for (std::uint32_t ms : pauses) {
      EXPECT_GE(ms, 50u);
      EXPECT_LT(ms, 100u);
    }
  }
  EXPECT_FALSE(me->Holds(me->A, tlCommit, 0));
  EXPECT_FALSE(me->Announced(me->A, tlCommit, 0));
  ASSERT_EQ(first->UnlockTable(tlRead), '1');
  EXPECT_FALSE(me->locks->LockTable(0, me->A, tlCommit, false, 100, 1));
  ASSERT_EQ(second->UnlockTable(tlRead), '1');
  EXPECT_TRUE(me->locks->LockTable(0, me->A, tlCommit, false, 100, 1));  // the shared opens stay
  EXPECT_TRUE(me->Announced(me->A, tlCommit, 0));
  EXPECT_EQ(first->LockTable(tlRead), '0');
}

TEST_F(TableLocksTest, RecordLockedByAnotherProcess) {
  auto other = Remote(1);
  auto me = Connect();
  ASSERT_EQ(other->LockRecord(3), '1');
  EXPECT_TRUE(me->Announced(me->A, tlRecord, 1));
  EXPECT_EQ(me->StoredRecordID(me->A, 1), std::string("\x07\0\0\0\x03\0", 6));

  EXPECT_TRUE(me->locks->IsRecordLockedByOther(0, me->A, Record(3)));
  EXPECT_FALSE(me->locks->LockRecord(0, me->A, Record(3), 10, 1));
  EXPECT_FALSE(me->Holds(me->A, tlRecord, 0));
  // Every byte of the id counts.
  const RecordID others[] = {{7, 4}, {8, 3}, {7 + 0x10000, 3}, {7, 3 + 0x100}};
  for (const RecordID& id : others) {
    SCOPED_TRACE(testing::Message() << id.PageNo << "/" << id.SlotNo);
    EXPECT_FALSE(me->locks->IsRecordLockedByOther(0, me->A, id));
    ASSERT_TRUE(me->locks->LockRecord(0, me->A, id, 10, 1));
    EXPECT_EQ(other->IsRecordLockedByOther(3), '0');
    EXPECT_TRUE(me->locks->UnlockRecord(0, me->A, id));
  }
  // One record per session and table; another table is free.
  ASSERT_TRUE(me->locks->LockRecord(0, me->A, Record(4), 10, 1));
  EXPECT_FALSE(me->locks->LockRecord(0, me->A, Record(5), 10, 1));
  EXPECT_TRUE(me->locks->LockRecord(0, me->B, Record(3), 10, 1));
  EXPECT_EQ(other->IsRecordLockedByOther(4), '1');
  EXPECT_EQ(other->IsRecordLockedByOther(3), '0');  // the one on table B is not A's
  EXPECT_TRUE(me->locks->UnlockRecord(0, me->A, Record(4)));
  EXPECT_FALSE(me->locks->UnlockRecord(0, me->A, Record(4)));  // nothing held any more
  EXPECT_FALSE(me->Announced(me->A, tlRecord, 0));

  ASSERT_EQ(other->UnlockRecord(3), '1');
  EXPECT_FALSE(me->locks->IsRecordLockedByOther(0, me->A, Record(3)));
  EXPECT_TRUE(me->locks->LockRecord(0, me->A, Record(3), 10, 1));
  EXPECT_EQ(other->LockRecord(3), '0');
}

TEST_F(TableLocksTest, NestedAndCoveredLocks) {
  auto me = Connect();
  Locks& locks = *me->locks;
  auto& cache = me->pm.TablePagesCache();
  const std::int32_t key = tableA_;

  // Nesting: the byte goes with the last release; the cache hears of the first and last.
  ASSERT_TRUE(locks.LockTable(0, me->A, tlRead, false, 40, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlRead, false, 40, 1));
  EXPECT_EQ(cache.TableInfo(0, key)->ReadLockCount, 1);
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRead, false));
  EXPECT_TRUE(me->Announced(me->A, tlRead, 0));
  EXPECT_EQ(cache.TableInfo(0, key)->ReadLockCount, 1);
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRead, false));
  EXPECT_FALSE(me->Announced(me->A, tlRead, 0));
  EXPECT_EQ(cache.TableInfo(0, key)->ReadLockCount, 0);
  auto e = CatchHDB([&] { locks.UnlockTable(0, me->A, tlRead, false); });
  EXPECT_EQ(e.NativeError(), 20202);
  EXPECT_EQ(e.Message(), "Cannot remove table lock. Lock not found");
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRead, true));  // with the flag: nothing happens

  // Kind 2 does not nest: a second request is refused and one release frees it.
  ASSERT_TRUE(locks.LockTable(0, me->A, tlRecordEdit, false, 100, 1));
  EXPECT_FALSE(locks.LockTable(0, me->A, tlRecordEdit, false, 100, 1));
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRecordEdit, false));
  EXPECT_FALSE(me->Announced(me->A, tlRecordEdit, 0));

  // A covered kind is held in memory and announced when the covering lock goes.
  ASSERT_TRUE(locks.LockTable(0, me->A, tlModified, false, 100, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlRead, false, 40, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlShared, false, 100, 1));
  EXPECT_TRUE(me->Announced(me->A, tlModified, 0));
  EXPECT_FALSE(me->Announced(me->A, tlRead, 0));
  EXPECT_FALSE(me->Announced(me->A, tlShared, 0));
  EXPECT_EQ(cache.TableInfo(0, key)->WriteLockCount, 1);
  EXPECT_EQ(cache.TableInfo(0, key)->ReadLockCount, 1);
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlModified, false));
  EXPECT_FALSE(me->Announced(me->A, tlModified, 0));
  EXPECT_TRUE(me->Announced(me->A, tlRead, 0));
  EXPECT_TRUE(me->Announced(me->A, tlShared, 0));
  EXPECT_EQ(cache.TableInfo(0, key)->WriteLockCount, 0);
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRead, false));
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlShared, false));
  EXPECT_FALSE(IsLockedInFile(path_, me->FirstByte(me->A), 4096));
  locks.CheckNoLocks();
}

TEST_F(TableLocksTest, OnlyALockOnTheSameTableCovers) {
  auto other = Remote(1);
  auto me = Connect();
  struct {
    TableLockType onA;
    TableLockType onB;
    TableLockType refusedToOther;
  } cases[] = {{tlModified, tlRead, tlCommit}, {tlExclusive, tlShared, tlExclusive}, {tlCommit, tlRecordEdit, tlModified}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.onA) << " on A, " << int(c.onB) << " on B");
    ASSERT_TRUE(me->locks->LockTable(0, me->A, c.onA, false, 10, 1));
    ASSERT_TRUE(me->locks->LockTable(0, me->B, c.onB, false, 10, 1));
    EXPECT_TRUE(me->Announced(me->B, c.onB, 0));
    EXPECT_EQ(other->LockTable(c.refusedToOther, 'B'), '0');
    EXPECT_TRUE(me->locks->UnlockTable(0, me->B, c.onB, false));
    EXPECT_TRUE(me->locks->UnlockTable(0, me->A, c.onA, false));
  }
}

TEST_F(TableLocksTest, UnlockWaitsForTheLockFileByteAndKeepsTheLockWhenItNeverComes) {
  auto other = Remote(1);
  auto me = Connect();
  ASSERT_TRUE(me->locks->LockTable(0, me->A, tlRead, false, 40, 1));
  ASSERT_EQ(other->HoldLockFile(), '1');
  {
    CountingSleep sleeps;
    EXPECT_FALSE(me->locks->UnlockTable(0, me->A, tlRead, false));
    EXPECT_EQ(CountingSleep::Calls(), LockRetryCount - 1);
  }
  EXPECT_TRUE(me->Holds(me->A, tlRead, 0));
  EXPECT_TRUE(me->Announced(me->A, tlRead, 0));
  EXPECT_EQ(me->pm.TablePagesCache().TableInfo(0, tableA_)->ReadLockCount, 1);
  ASSERT_EQ(other->ReleaseLockFile(), '1');
  CountingSleep sleeps;
  EXPECT_TRUE(me->locks->UnlockTable(0, me->A, tlRead, false));
  EXPECT_EQ(CountingSleep::Calls(), 0);
  EXPECT_FALSE(me->Announced(me->A, tlRead, 0));
  me->locks->CheckNoLocks();
}

TEST_F(TableLocksTest, ExclusiveHolderReleasesUnderItsOwnLockFileByte) {
  auto other = Remote(1);
  auto me = Connect();
  Locks& locks = *me->locks;
  ASSERT_TRUE(locks.LockRecord(0, me->A, Record(1), 10, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlModified, true, 10, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlExclusive, false, 10, 1));
  ASSERT_TRUE(locks.LockTable(0, me->A, tlRead, false, 10, 1));  // covered: in memory
  EXPECT_FALSE(me->Announced(me->A, tlRead, 0));
  CountingSleep sleeps;
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlModified, false));
  EXPECT_FALSE(me->Announced(me->A, tlModified, 0));
  EXPECT_TRUE(me->Announced(me->A, tlRead, 0));
  EXPECT_FALSE(locks.IsRecordLockedByOther(0, me->A, Record(1)));
  EXPECT_TRUE(locks.UnlockRecord(0, me->A, Record(1)));
  EXPECT_FALSE(me->Announced(me->A, tlRecord, 0));
  EXPECT_EQ(CountingSleep::Calls(), 0);
  EXPECT_TRUE(me->FirstByteLocked(me->A));
  EXPECT_EQ(other->LockTable(tlShared), '0');
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlExclusive, false));
  EXPECT_FALSE(me->FirstByteLocked(me->A));
  EXPECT_EQ(other->LockTable(tlShared), '1');
  EXPECT_EQ(other->LockTable(tlCommit), '0');  // the read lock is still announced
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRead, false));
}

TEST_F(TableLocksTest, CommitLocksModifiedTablesAndReleasesThemAfterwards) {
  auto other = Remote(1);
  auto me = Connect();
  Locks& locks = *me->locks;
  auto& cache = me->pm.TablePagesCache();
  // A is changed record by record (flag), with a record still locked; B as a whole.
  ASSERT_TRUE(locks.LockTable(0, me->A, tlModified, true, 100, 1));
  ASSERT_TRUE(locks.LockRecord(0, me->A, Record(2), 100, 1));
  ASSERT_TRUE(locks.LockTable(0, me->B, tlModified, false, 100, 1));
  EXPECT_TRUE(me->Announced(me->A, tlRecord, 0));
  ASSERT_EQ(other->LockTable(tlRead, 'B'), '1');
  {
    CountingSleep sleeps;
    EXPECT_FALSE(locks.LockModifiedTables(0));
    EXPECT_EQ(CountingSleep::Calls(), Locks::CommitLockTries - 1);
  }
  // The commit lock taken on A before B failed is gone again.
  EXPECT_FALSE(me->Holds(me->A, tlCommit, 0));
  EXPECT_FALSE(me->Holds(me->B, tlCommit, 0));
  EXPECT_FALSE(me->Announced(me->A, tlCommit, 0));
  ASSERT_EQ(other->UnlockTable(tlRead, 'B'), '1');

  ASSERT_TRUE(locks.LockModifiedTables(0));
  EXPECT_TRUE(me->Announced(me->A, tlCommit, 0));
  EXPECT_TRUE(me->Announced(me->B, tlCommit, 0));
  EXPECT_EQ(other->LockTable(tlRead, 'B'), '0');
  locks.ReleaseAfterCommit(0);
  for (THDBTableLocksFile* f : {&me->A, &me->B}) {
    EXPECT_FALSE(me->Announced(*f, tlModified, 0));
    EXPECT_FALSE(me->Announced(*f, tlCommit, 0));
    EXPECT_EQ(cache.TableInfo(0, f->StartPageNo())->WriteLockCount, 0);
  }
  // The locked record keeps kind 2 on its table; B is free.
  EXPECT_TRUE(me->Announced(me->A, tlRecordEdit, 0));
  EXPECT_TRUE(me->Announced(me->A, tlRecord, 0));
  EXPECT_FALSE(me->Announced(me->B, tlRecordEdit, 0));
  EXPECT_EQ(locks.LockList(0).Entries().size(), 2u);
  EXPECT_EQ(other->LockTable(tlModified, 'A'), '0');
  EXPECT_EQ(other->LockTable(tlModified, 'B'), '1');
  EXPECT_TRUE(locks.UnlockRecord(0, me->A, Record(2)));
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlRecordEdit, false));
  locks.CheckNoLocks();
}

TEST_F(TableLocksTest, RecordLockHeldInMemoryIsAnnouncedWithItsRecord) {
  auto other = Remote(1);
  auto me = Connect();
  Locks& locks = *me->locks;
  // The whole table is being changed: the record lock needs no file byte.
  ASSERT_TRUE(locks.LockTable(0, me->A, tlModified, false, 100, 1));
  ASSERT_TRUE(locks.LockRecord(0, me->A, Record(5), 100, 1));
  EXPECT_FALSE(me->Announced(me->A, tlRecord, 0));
  ASSERT_TRUE(locks.LockModifiedTables(0));
  locks.ReleaseAfterCommit(0);
  // The record is still locked; now others learn which one.
  EXPECT_TRUE(me->Announced(me->A, tlRecord, 0));
  EXPECT_TRUE(me->Announced(me->A, tlRecordEdit, 0));
  EXPECT_EQ(me->StoredRecordID(me->A, 0), std::string("\x07\0\0\0\x05\0", 6));
  EXPECT_EQ(other->IsRecordLockedByOther(5), '1');
  EXPECT_EQ(other->LockRecord(5), '0');
  EXPECT_EQ(other->LockRecord(6), '1');
}

TEST_F(TableLocksTest, PausesLeaveTheCriticalSection) {
  auto me = Connect();
  Locks& locks = *me->locks;
  // Session 1 of this same process reads; session 0 wants to commit.
  ASSERT_TRUE(locks.LockTable(1, me->A, tlRead, false, 40, 1));
  static Connection* db;
  static int pauses;
  static bool sectionWasFree;
  db = me.get();
  pauses = 0;
  sectionWasFree = false;
  const auto previous = platform::SetSleepHook([](std::uint32_t) {
    ++pauses;
    // Another thread gets in while session 0 pauses and ends the read.
    std::thread reader([] {
      std::unique_lock<std::recursive_mutex> section(db->locks->CriticalSection(), std::try_to_lock);
      sectionWasFree = section.owns_lock();
      if (!sectionWasFree) return;
      section.unlock();
      db->locks->UnlockTable(1, db->A, tlRead, false);
    });
    reader.join();
  });
  const bool granted = locks.LockTable(0, me->A, tlCommit, false, 100, 3);
  platform::SetSleepHook(previous);
  EXPECT_TRUE(sectionWasFree);
  EXPECT_TRUE(granted);
  EXPECT_EQ(pauses, 1);
  EXPECT_TRUE(locks.UnlockTable(0, me->A, tlCommit, false));
}

TEST_F(TableLocksTest, Errors) {
  auto me = Connect(true, false, kSlots + 2);  // two sessions more than the files have slots
  Locks& locks = *me->locks;
  THDBTableLocksFile closed(me->pm);
  struct {
    const char* name;
    std::function<void()> call;
    int code;
    const char* message;
  } cases[] = {
      {"session -1", [&] { locks.LockTable(-1, me->A, tlRead, false, 40, 1); }, 20186, "Invalid Session ID"},
      {"session past the slots", [&] { locks.LockTable(kSlots + 2, me->A, tlRead, false, 40, 1); }, 20200,
       "Cannot set table lock. Try to repair the database or increase number of allowed connections"},
      {"session past the file", [&] { locks.LockTable(kSlots, me->A, tlRead, false, 40, 1); }, 20200, nullptr},
      {"record past the file", [&] { locks.LockRecord(kSlots + 1, me->A, Record(1), 40, 1); }, 20200, nullptr},
      {"kind 5 as a table lock", [&] { locks.LockTable(0, me->A, tlRecord, false, 40, 1); }, 20203,
       "Cannot set table lock"},
      {"no such kind", [&] { locks.LockTable(0, me->A, static_cast<TableLockType>(7), false, 40, 1); }, 20203,
       nullptr},
      {"lock table, closed file", [&] { locks.LockTable(0, closed, tlRead, false, 40, 1); }, 10483,
       "Nil pointer occured"},
      {"unlock table, closed file", [&] { locks.UnlockTable(0, closed, tlRead, false); }, 10489, nullptr},
      {"lock record, closed file", [&] { locks.LockRecord(0, closed, Record(1), 40, 1); }, 10490, nullptr},
      {"unlock record, closed file", [&] { locks.UnlockRecord(0, closed, Record(1)); }, 10491, nullptr},
      {"record test, closed file", [&] { locks.IsRecordLockedByOther(0, closed, Record(1)); }, 10492, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto e = CatchHDB(c.call);
    EXPECT_EQ(e.NativeError(), c.code);
    if (c.message) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
  EXPECT_FALSE(IsLockedInFile(path_, me->FirstByte(me->A), 4096));
  locks.CheckNoLocks();

  // Locks still held are reported before the list or the manager goes.
  ASSERT_TRUE(locks.LockTable(2, me->A, tlShared, false, 100, 1));
  auto left = CatchHDB([&] { locks.CheckNoLocks(); });
  EXPECT_EQ(left.NativeError(), 20201);
  EXPECT_EQ(left.Message(), "Some table locks still exist");
  EXPECT_EQ(CatchHDB([&] { locks.LockList(2).CheckEmpty(); }).NativeError(), 20201);
  EXPECT_NO_THROW(locks.LockList(1).CheckEmpty());
  EXPECT_TRUE(locks.UnlockTable(2, me->A, tlShared, false));
  EXPECT_NO_THROW(locks.CheckNoLocks());

  THDBTableLockList list;
  THDBTableLockEntry entry;
  entry.Key = 5;
  list.Add(entry);
  EXPECT_EQ(CatchHDB([&] { list.CheckEmpty(); }).NativeError(), 20201);
  EXPECT_TRUE(list.Release(tlShared, 5).has_value());
  EXPECT_NO_THROW(list.CheckEmpty());
}

}  // namespace
}  // namespace hdb

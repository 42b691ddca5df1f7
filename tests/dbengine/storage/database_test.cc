#include "dbengine/storage/disk_database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <memory>
#include <set>

#include "dbengine/storage/active_sessions_file.h"
#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/map_page.h"
#include "dbengine/storage/session_link.h"
#include "dbengine/storage/system_directory.h"
#include "dbengine/storage/table_list_file.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::CatchHDB;
using hdbtest::ForkedChild;
using hdbtest::NativeErrorOf;
using hdbtest::ReadFileBytes;
using hdbtest::ReceiveInt;
using hdbtest::SendInt;
using hdbtest::TestSession;
using hdbtest::WriteFileBytes;

class DatabaseTest : public ::testing::Test {
 protected:
  void CreateFile(std::int32_t slots = 500) {
    THDBDiskDatabaseData db(path_);
    db.MaxSessions = slots;
    db.CreateDatabase();
    EXPECT_FALSE(db.IsOpen());
  }
  std::string Page(const std::string& bytes, int pageNo) const {
    return bytes.substr(static_cast<std::size_t>(380 + pageNo * 4096), 4096);
  }

  hdbtest::CountingSleep sleep_;
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

TEST_F(DatabaseTest, CreateLaysOutTheSystemFiles) {
  WriteFileBytes(path_, "an older file of that name");
  CreateFile();
  const std::string bytes = ReadFileBytes(path_);
  ASSERT_EQ(bytes.size(), 380u + 6 * 4096);
  THDBFileHeader header;
  std::memcpy(header.Bytes().data(), bytes.data(), 76);
  EXPECT_EQ(header.TotalPageCount(), 6);
  EXPECT_EQ(header.LastUsedPageNo(), 4);
  EXPECT_EQ(header.DatabaseState(), 2);
  EXPECT_EQ(header.ChangeCounter(), 1);

  const std::uint16_t types[] = {3, 2, 4, 5, 6};
  for (int p = 0; p < 5; ++p) EXPECT_EQ(le::Load<std::uint16_t>(Page(bytes, p).data(), 8), types[p]) << p;
  // PFS bits of pages 0-4.
  EXPECT_EQ(static_cast<std::uint8_t>(Page(bytes, 0)[40]), 0x1F);
  // The directory: kind 2 at page 3, kind 1 at page 4.
  const std::string dir = Page(bytes, 2).substr(40);
  EXPECT_EQ(le::Load<std::int32_t>(dir.data(), 5), 10);  // plain size
  EXPECT_EQ(dir.substr(10, 10), std::string("\x02\x03\x00\x00\x00\x01\x04\x00\x00\x00", 10));
  EXPECT_EQ(le::Load<std::int32_t>(Page(bytes, 3).data(), 40 + 1), 500);  // sessions file size
  EXPECT_EQ(le::Load<std::int32_t>(Page(bytes, 4).data(), 40 + 5), 0);    // empty table list
}

TEST_F(DatabaseTest, OpenFindsTheSystemFiles) {
  CreateFile(7);
  THDBDiskDatabaseData db(path_);
  TestSession s;
  db.Attach(s);
  EXPECT_TRUE(db.IsOpen());
  EXPECT_EQ(s.id, 0);
  EXPECT_FALSE(s.needsRepair);
  EXPECT_EQ(db.MaxSessions, 7);
  EXPECT_EQ(db.PageSize, 4096);
  EXPECT_EQ(db.SystemDirectory()->Find(sfTableList), 4);
  EXPECT_EQ(db.SessionsFile()->StartPageNo(), 3);
  EXPECT_TRUE(db.TableList()->Entries().empty());
  EXPECT_TRUE(db.HoldsSingleUserClaim());
  EXPECT_GT(db.NextObjectID(), 0);
  db.Detach(s);
  EXPECT_FALSE(db.IsOpen());  // the last detach closes the file
  EXPECT_FALSE(db.HoldsSingleUserClaim());
}

TEST_F(DatabaseTest, TableListEntries) {
  CreateFile();
  {
    THDBDiskDatabaseData db(path_);
    TestSession s;
    db.Attach(s);
    THDBTableListFile& list = *db.TableList();
    list.Add(11, "dsTable", 20, 21, 22);
    list.Add(12, "\xC4rger", 30, 31, 32);  // A-umlaut in Windows-1252
    list.Add(13, "Third", 40, 41, 42);
    EXPECT_EQ(CatchHDB([&] { list.Add(99, "DSTABLE", 1, 2, 3); }).Message(),
              "Cannot create table. Table 'DSTABLE' already exists");
    const TableListEntry found = list.Find("dstable");
    EXPECT_EQ(found.Name, "dsTable");
    EXPECT_EQ(found.TableID, 11);
    EXPECT_EQ(found.DefinitionStartPageNo, 22);
    EXPECT_EQ(found.StateStartPageNo, 21);
    EXPECT_EQ(found.LocksStartPageNo, 20);
    // Only a-z fold: the lower-case umlaut is another name.
    EXPECT_FALSE(list.TryFind("\xE4rger").has_value());
    EXPECT_TRUE(list.TryFind("\xC4RGER").has_value());
    EXPECT_EQ(CatchHDB([&] { list.Find("none"); }).Message(), "Table 'none' does not exist.");
    EXPECT_EQ(CatchHDB([&] { list.Rename("third", "DsTable"); }).NativeError(), 30451);
    list.Rename("third", "Renamed");
    EXPECT_EQ(CatchHDB([&] { list.Delete("none"); }).NativeError(), 30405);
    list.Delete("DSTABLE");
    list.Add(14, std::string(300, 'n'), 50, 51, 52);
    db.Commit(SystemSessionID, false);
    db.Detach(s);
  }
  THDBDiskDatabaseData db(path_);
  TestSession s;
  db.Attach(s);
  std::vector<std::string> names;
  db.TableList()->ListNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"\xC4rger", "Renamed", std::string(255, 'n')}));
  db.Detach(s);
}

TEST_F(DatabaseTest, SecondSingleUserProcessAttachesReadOnly) {
  CreateFile();
  THDBDiskDatabaseData db(path_);
  TestSession s;
  db.Attach(s);
  ASSERT_FALSE(db.ReadOnly);
  ForkedChild child([&](ForkedChild&) {
    THDBDiskDatabaseData other(path_);
    TestSession t;
    other.Attach(t);
    const bool ok = other.ReadOnly && !other.HoldsSingleUserClaim() && t.id == 0;
    other.Detach(t);
    return ok ? 0 : 1;
  });
  EXPECT_EQ(child.Wait(), 0);
  db.Detach(s);
}

// A process that attaches single-user while another holds the file may only read it,
// down to the page layer: every change is refused, and the file stays as its owner
// left it.
TEST_F(DatabaseTest, ReadOnlyAttachRefusesEveryChange) {
  CreateFile();
  THDBDiskDatabaseData owner(path_);
  TestSession s;
  owner.Attach(s);
  const std::string before = ReadFileBytes(path_);
  ForkedChild child([&](ForkedChild& self) {
    THDBDiskDatabaseData db(path_);
    TestSession t;
    db.Attach(t);
    if (!db.ReadOnly) return 1;
    THDBDiskPageManager& pm = *db.PageManager();
    const std::function<void()> steps[] = {
        [&] { THDBPinnedPage page(pm, pm.AddPage(t.id, ptTableRecord)); },
        [&] { pm.RemovePage(t.id, 4); },
        [&] { pm.WritePageRange("x", 5, 1, 40); },
        [&] {
          {
            THDBPinnedPage page(pm, pm.GetPage(t.id, 4));
            page->Buffer()[100] = 'x';
            page.SetDirty();
          }
          db.Commit(t.id, false);
        },
        [&] { db.NextObjectID(); },  // answered without recording it
        [&] { db.Detach(t); },       // the refused change was dropped
    };
    for (const auto& step : steps) SendInt(self, NativeErrorOf(step));
    return 0;
  });
  for (int code : {30456, 30456, 30456, 30456, 0, 20097}) EXPECT_EQ(ReceiveInt(child), code);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_TRUE(ReadFileBytes(path_) == before);
  owner.Detach(s);
}

// A session that only reads still holds its connection slot alone: two readers and a
// writer, each in a process of its own, get three different slots.
TEST_F(DatabaseTest, ReadOnlySessionsOfThreeProcessesTakeTheirOwnSlots) {
  CreateFile(3);
  auto reader = [&](ForkedChild& self) {
    THDBDiskDatabaseData db(path_);
    db.ReadOnly = true;
    TestSession r(true);
    db.Attach(r);
    SendInt(self, r.openedMultiUser ? r.id : -1);
    self.Receive();
    db.Detach(r);
    return 0;
  };
  ForkedChild first(reader);
  const int a = ReceiveInt(first);
  ForkedChild second(reader);
  const int b = ReceiveInt(second);
  THDBDiskDatabaseData db(path_);
  TestSession w(true);
  db.Attach(w);
  EXPECT_EQ((std::set<int>{a, b, w.id}), (std::set<int>{0, 1, 2})) << a << " " << b << " " << w.id;
  TestSession fourth(true);
  EXPECT_EQ(CatchHDB([&] { db.Attach(fourth); }).NativeError(), 20094);
  first.Send();
  second.Send();
  EXPECT_EQ(first.Wait(), 0);
  EXPECT_EQ(second.Wait(), 0);
  db.Detach(w);
}

// The single-user claim of a reader keeps another reader out as well.
TEST_F(DatabaseTest, ReadOnlySingleUserClaimIsHeldAlone) {
  CreateFile();
  ForkedChild holder([&](ForkedChild& self) {
    THDBDiskDatabaseData db(path_);
    db.ReadOnly = true;
    TestSession r;
    db.Attach(r);
    self.Send(db.HoldsSingleUserClaim() ? 'c' : 'n');
    self.Receive();
    db.Detach(r);
    return 0;
  });
  ASSERT_EQ(holder.Receive(), 'c');
  THDBDiskDatabaseData db(path_);
  db.ReadOnly = true;
  TestSession r;
  db.Attach(r);
  EXPECT_FALSE(db.HoldsSingleUserClaim());
  db.Detach(r);
  holder.Send();
  EXPECT_EQ(holder.Wait(), 0);
}

// A reader that cannot open the file for writing at all cannot take locks that keep
// others out; it works read-only and single-user, whatever it asked for.
TEST_F(DatabaseTest, ReaderWithoutWritePermissionWorksSingleUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a reader without write permission";
  CreateFile();
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  ForkedChild child([&](ForkedChild&) {
    constexpr uid_t nobody = 65534;
    if (::setgid(nobody) != 0 || ::setuid(nobody) != 0) return 1;
    THDBDiskDatabaseData db(path_);
    TestSession r(true);
    db.Attach(r);
    const bool ok = db.ReadOnly && !db.MultiUser && !r.openedMultiUser && r.id == 0;
    db.Detach(r);
    return ok ? 0 : 2;
  });
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(DatabaseTest, MultiUserSessionsTakeSlotsInOrder) {
  CreateFile(3);
  THDBDiskDatabaseData db(path_);
  TestSession a(true), b(true);
  db.Attach(a);
  db.Attach(b);
  EXPECT_TRUE(a.openedMultiUser);
  EXPECT_EQ(a.id, 0);
  EXPECT_EQ(b.id, 1);
  TestSession single(false);
  EXPECT_EQ(CatchHDB([&] { db.Attach(single); }).NativeError(), 20235);
  ForkedChild child([&](ForkedChild& self) {
    THDBDiskDatabaseData other(path_);
    TestSession c(true), d(true);
    other.Attach(c);
    if (c.id != 2) return 1;
    try {
      other.Attach(d);
      return 2;
    } catch (const EHDBException& e) {
      if (e.NativeError() != 20094) return 3;
    }
    // While this process holds a slot no one can claim the file single-user.
    self.Send();
    self.Receive();
    other.Detach(c);
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'x');
  db.Detach(b);
  {
    THDBDiskPageManager pm;
    bool mu = false, ro = false;
    pm.Open(path_, {}, mu, false, ro);
    THDBActiveSessionsFile sessions(pm, false);
    sessions.Open(3);
    EXPECT_FALSE(sessions.ClaimSingleUser());
    child.Send();
    ASSERT_EQ(child.Wait(), 0);
    db.Detach(a);
    EXPECT_TRUE(sessions.ClaimSingleUser());
    sessions.ReleaseSingleUser();
  }
}

// An attach that opened the file and then failed leaves it closed again, and an open
// asked of an object that is open already leaves that object as it was.
TEST_F(DatabaseTest, FailedAttachOrSecondOpenLeavesTheObjectAsItWas) {
  CreateFile();
  ForkedChild holder([&](ForkedChild& self) {
    THDBDiskDatabaseData other(path_);
    TestSession t;
    other.Attach(t);  // single-user: every slot taken
    self.Send(other.HoldsSingleUserClaim() ? 'c' : 'n');
    self.Receive();
    other.Detach(t);
    return 0;
  });
  ASSERT_EQ(holder.Receive(), 'c');
  {
    THDBDiskDatabaseData db(path_);
    TestSession multi(true);
    EXPECT_EQ(CatchHDB([&] { db.Attach(multi); }).NativeError(), 20094);
    EXPECT_FALSE(db.IsOpen());
    EXPECT_EQ(db.AttachedSessions(), 0u);
  }
  holder.Send();
  ASSERT_EQ(holder.Wait(), 0);

  THDBDiskDatabaseData db(path_);
  TestSession s;
  db.Attach(s);
  EXPECT_EQ(CatchHDB([&] { db.Open(false); }).NativeError(), 10462);
  EXPECT_TRUE(db.IsOpen());
  ASSERT_NE(db.TableList(), nullptr);
  EXPECT_TRUE(db.HoldsSingleUserClaim());
  db.Detach(s);
  EXPECT_FALSE(db.IsOpen());
}

// The last detach closes the file also when rolling back the open transaction fails.
TEST_F(DatabaseTest, LastDetachClosesTheFileWhenTheRollbackFails) {
  CreateFile();
  THDBDiskDatabaseData db(path_);
  TestSession s;
  db.Attach(s);
  THDBDiskPageManager& pm = *db.PageManager();
  {
    THDBPinnedPage page(pm, pm.GetPage(s.id, 4));
    page.SetDirty();
  }
  {
    // A changed page that is no longer marked dirty: the rollback refuses it.
    THDBPinnedPage page(pm, pm.GetPage(s.id, 4));
    page->IsDirty = false;
  }
  s.inTransaction = true;
  EXPECT_EQ(CatchHDB([&] { db.Detach(s); }).NativeError(), 20087);
  EXPECT_FALSE(db.IsOpen());
  EXPECT_FALSE(db.HoldsSingleUserClaim());
  THDBDatabaseFile f;
  f.OpenFile(path_, THDBDatabaseFile::AccessReadWrite, THDBDatabaseFile::ShareNone);  // nothing holds it
}

// Changes that no commit wrote are rolled back when the file closes, so the page they
// added is free again instead of staying marked used without ever being written; then
// the loss is reported.
TEST_F(DatabaseTest, ClosingWithUncommittedChangesRollsThemBackAndRaises) {
  CreateFile();
  const std::string created = ReadFileBytes(path_);
  struct {
    const char* what;
    std::function<void(THDBDiskDatabaseData&, TestSession&)> close;
  } cases[] = {
      {"last detach", [](THDBDiskDatabaseData& db, TestSession& s) { db.Detach(s); }},
      {"close", [](THDBDiskDatabaseData& db, TestSession&) { db.Close(); }},
  };
  for (const auto& c : cases) {
    WriteFileBytes(path_, created);
    THDBDiskDatabaseData db(path_);
    TestSession s;
    db.Attach(s);
    THDBDiskPageManager& pm = *db.PageManager();
    std::int32_t added = -1;
    {
      THDBPinnedPage page(pm, pm.AddPage(s.id, ptTableRecord));
      added = page->PageNo();
    }
    {
      THDBPinnedPage page(pm, pm.GetPage(s.id, 4));
      page->Buffer()[100] = 'x';
      page.SetDirty();
    }
    EXPECT_EQ(CatchHDB([&] { c.close(db, s); }).NativeError(), 20097) << c.what;
    EXPECT_FALSE(db.IsOpen()) << c.what;
    // The added page carries the freed mark and the PFS page has counted two writes
    // (its bit set, then cleared); nothing else differs: the map bits and
    // LastUsedPageNo are as they were, and the changed page was never written.
    std::string expected = created;
    le::Store<std::int32_t>(expected.data(), 380 + static_cast<std::size_t>(added) * 4096 + 4, 0x7FFFFFFF);
    le::Store<std::int32_t>(expected.data(), 380 + 4, le::Load<std::int32_t>(created.data(), 380 + 4) + 2);
    EXPECT_TRUE(ReadFileBytes(path_) == expected) << c.what;
  }
}

TEST_F(DatabaseTest, CommitOrRollbackOfAClosedDatabaseRaises) {
  CreateFile();
  THDBDiskDatabaseData db(path_);
  auto expectRefused = [&](const char* when) {
    EXPECT_EQ(CatchHDB([&] { db.Commit(0, false); }).NativeError(), 30454) << when;
    EXPECT_EQ(CatchHDB([&] { db.Rollback(0); }).NativeError(), 30455) << when;
  };
  expectRefused("never opened");
  TestSession s;
  db.Attach(s);
  db.Detach(s);
  expectRefused("closed again");
}

TEST_F(DatabaseTest, DamagedFilesFailToOpenAndLeaveNothingOpen) {
  CreateFile();
  const std::string good = ReadFileBytes(path_);
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    int code;
  } cases[] = {
      {"foreign signature", [](std::string& b) { b.replace(0, 16, "SOMETHING ELSE!!"); }, 10470},
      {"security block size", [](std::string& b) { b[76] = 10; }, 20237},
      {"directory page type", [](std::string& b) { b[380 + 2 * 4096 + 8] = 6; }, 20153},
      {"truncated before the pages", [](std::string& b) { b.resize(300); }, 20237},
      {"truncated inside the sessions file", [](std::string& b) { b.resize(380 + 3 * 4096 + 20); }, 20153},
      {"negative sessions file size",
       [](std::string& b) { le::Store<std::int32_t>(b.data(), 380 + 3 * 4096 + 40 + 1, -1); }, 20237},
  };
  for (const auto& c : cases) {
    std::string bytes = good;
    c.damage(bytes);
    WriteFileBytes(path_, bytes);
    THDBDiskDatabaseData db(path_);
    TestSession s;
    EXPECT_EQ(CatchHDB([&] { db.Attach(s); }).NativeError(), c.code) << c.what;
    EXPECT_FALSE(db.IsOpen()) << c.what;
    EXPECT_EQ(db.AttachedSessions(), 0u) << c.what;
    // Nothing is held: the file can be replaced at once.
    THDBDatabaseFile f;
    f.CreateFile(path_);
  }
}

}  // namespace
}  // namespace hdb

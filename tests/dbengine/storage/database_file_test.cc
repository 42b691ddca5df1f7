#include "dbengine/storage/database_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "dbengine/platform/posix_file.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"
#include "forked_child.h"
#include "storage_test_util.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using hdbtest::ForkedChild;
using hdbtest::TempDir;

using hdbtest::CatchHDB;
using hdbtest::ReadFileBytes;
using hdbtest::WriteFileBytes;

class DatabaseFileTest : public ::testing::Test {
 protected:
  hdbtest::CountingSleep sleep_;
  void TearDown() override { platform::SimulateLockFailure(0); }
  TempDir dir_;
  std::string path_ = dir_.File("f.hdb");
};

TEST_F(DatabaseFileTest, CreateReplacesExistingReadOnlyFile) {
  WriteFileBytes(path_, "old content");
  ASSERT_EQ(::chmod(path_.c_str(), 0444), 0);
  THDBDatabaseFile f;
  f.CreateFile(path_);
  EXPECT_TRUE(f.IsOpen());
  EXPECT_EQ(f.GetSize(), 0);
  f.Write("new", 30000, 0, 3);
  f.CloseFile();
  EXPECT_EQ(ReadFileBytes(path_), "new");
}

TEST_F(DatabaseFileTest, ModeAndStateChecks) {
  THDBDatabaseFile f;
  EXPECT_EQ(CatchHDB([&] { f.CreateFile(""); }).NativeError(), 30374);
  auto closed = CatchHDB([&] { f.GetSize(); });
  EXPECT_EQ(closed.NativeError(), 30376);
  EXPECT_EQ(closed.Message(), "Cannot perform this operation (GetSize) on a closed file");
  EXPECT_EQ(CatchHDB([&] { f.OpenFile(path_, 2, 0); }).NativeError(), 30366);
  EXPECT_EQ(CatchHDB([&] { f.OpenFile(path_, 0, 3); }).Message(), "Unknown Share mode: '3'");

  auto missing = CatchHDB([&] { f.OpenFile(path_, 1, 1); });
  EXPECT_EQ(missing.NativeError(), 30364);
  EXPECT_EQ(missing.Message(), "Cannot open file:'" + path_ + "' Error code: " + std::to_string(ENOENT) +
                                   ". ErrorMessage: " + platform::SystemErrorText(ENOENT));
  f.CreateFile(path_);
  auto opened = CatchHDB([&] { f.OpenFile(path_, 1, 1); });
  EXPECT_EQ(opened.Message(), "Cannot perform this operation (OpenFile) on a opened file");
}

TEST_F(DatabaseFileTest, ShortReadAtEndSucceedsWithBytesPresent) {
  std::string content(200, 'a');
  for (int i = 150; i < 200; ++i) content[i] = static_cast<char>('0' + i % 10);
  WriteFileBytes(path_, content);
  THDBDatabaseFile f;
  f.OpenFile(path_, THDBDatabaseFile::AccessRead, THDBDatabaseFile::ShareReadWrite);
  std::vector<char> buf(100, '#');
  ASSERT_TRUE(f.ReadBuffer(buf.data(), 150, 100));
  EXPECT_EQ(std::string(buf.data(), 50), content.substr(150));
  EXPECT_EQ(std::string(buf.data() + 50, 50), std::string(50, '#'));
  EXPECT_EQ(f.GetPosition(), 200);
}

TEST_F(DatabaseFileTest, SetSizeCutsAndExtends) {
  THDBDatabaseFile f;
  f.CreateFile(path_);
  f.Write(std::string(1000, 'x').data(), 1, 0, 1000);
  f.SetSize(300);
  EXPECT_EQ(f.GetSize(), 300);
  f.SetSize(5000);
  EXPECT_EQ(f.GetSize(), 5000);
  char c = 'q';
  ASSERT_TRUE(f.ReadBuffer(&c, 4000, 1));
  EXPECT_EQ(c, 0);
}

TEST_F(DatabaseFileTest, ByteLocksBetweenProcesses) {
  {
    THDBDatabaseFile f;
    f.CreateFile(path_);
  }
  THDBDatabaseFile f;
  f.OpenFile(path_, THDBDatabaseFile::AccessReadWrite, THDBDatabaseFile::ShareReadWrite);
  ForkedChild child([&](ForkedChild& self) {
    THDBDatabaseFile g;
    g.OpenFile(path_, THDBDatabaseFile::AccessReadWrite, THDBDatabaseFile::ShareReadWrite);
    if (!g.LockByte(1, 360)) return 1;
    self.Send();
    self.Receive();  // parent has probed
    if (!g.UnlockByte(1, 360)) return 2;
    self.Send();
    self.Receive();  // parent has probed byte 500
    // The parent's probe of 500 left nothing behind.
    if (!g.LockByte(1, 500)) return 3;
    return 0;
  });
  ASSERT_EQ(child.Receive(), 'x');
  EXPECT_TRUE(f.IsByteLocked(360));
  EXPECT_FALSE(f.LockByte(1, 360));
  child.Send();
  ASSERT_EQ(child.Receive(), 'x');
  EXPECT_FALSE(f.IsByteLocked(360));  // free now, and still free after the probe
  EXPECT_FALSE(f.IsByteLocked(500));
  child.Send();
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(DatabaseFileTest, LocksDoNotStackOnOneDescriptorAndConflictAcrossDescriptors) {
  THDBDatabaseFile a;
  a.CreateFile(path_);
  a.CloseFile();
  a.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);
  THDBDatabaseFile b;
  b.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);

  ASSERT_TRUE(a.LockByte(4, 100));
  EXPECT_FALSE(a.LockByte(1, 102));   // overlaps a range this descriptor holds
  EXPECT_TRUE(a.IsByteLocked(101));   // and the probe leaves it held
  EXPECT_FALSE(b.LockByte(1, 103));   // another descriptor of this process
  EXPECT_FALSE(a.UnlockByte(1, 100)); // an unlock must name the range as locked
  EXPECT_TRUE(a.UnlockByte(4, 100));
  EXPECT_TRUE(b.LockByte(1, 103));
  EXPECT_FALSE(a.LockFallback());
}

TEST_F(DatabaseFileTest, FileSystemWithoutLocksGrantsEveryLock) {
  THDBDatabaseFile f;
  f.CreateFile(path_);
  THDBDatabaseFile other;  // opened before locking stops working
  f.CloseFile();
  f.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);
  other.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);
  ASSERT_TRUE(other.LockByte(1, 10));
  EXPECT_FALSE(f.LockByte(1, 10));  // a real conflict is refused and sets no fallback
  EXPECT_FALSE(f.LockFallback());

  platform::SimulateLockFailure(ENOLCK);
  EXPECT_TRUE(f.LockByte(1, 20));
  EXPECT_TRUE(f.LockFallback());
  platform::SimulateLockFailure(EAGAIN);  // from now on even "conflicts" are granted
  EXPECT_TRUE(f.LockByte(1, 10));
  EXPECT_TRUE(f.UnlockByte(1, 10));
}

TEST_F(DatabaseFileTest, OpenWithoutSharingKeepsOthersOut) {
  { THDBDatabaseFile f; f.CreateFile(path_); }
  THDBDatabaseFile shared;
  shared.OpenFile(path_, 1, THDBDatabaseFile::ShareReadWrite);
  THDBDatabaseFile exclusive;
  EXPECT_EQ(CatchHDB([&] { exclusive.OpenFile(path_, 1, THDBDatabaseFile::ShareNone); }).NativeError(), 30364);
  EXPECT_EQ(CatchHDB([&] { exclusive.CreateFile(path_); }).NativeError(), 30361);
  shared.CloseFile();
  exclusive.OpenFile(path_, 1, THDBDatabaseFile::ShareNone);
  ForkedChild child([&](ForkedChild&) {
    THDBDatabaseFile g;
    try {
      g.OpenFile(path_, 0, THDBDatabaseFile::ShareReadWrite);
    } catch (const EHDBException& e) {
      return e.NativeError() == 30364 ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(child.Wait(), 0);
}

TEST_F(DatabaseFileTest, LostDescriptorIsReopened) {
  THDBDatabaseFile f;
  f.CreateFile(path_);
  f.Write("hello", 1, 0, 5);
  ::close(f.Handle());  // the handle is gone under the object
  char buf[5] = {};
  f.Read(buf, 7, 0, 5);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_EQ(hdbtest::CountingSleep::Calls(), 0);
}

// close() releases the descriptor even when it reports an error, and the number may
// at once belong to another file of the process.
TEST_F(DatabaseFileTest, FailedCloseForgetsTheDescriptor) {
  int other = -1;
  {
    THDBDatabaseFile f;
    f.CreateFile(path_);
    ASSERT_EQ(::close(f.Handle()), 0);  // gone under the object
    auto e = CatchHDB([&] { f.CloseFile(); });
    EXPECT_EQ(e.NativeError(), 30365);
    EXPECT_EQ(e.Message(), "Cannot close file:'" + path_ + "' Error code: " + std::to_string(EBADF) +
                               ". ErrorMessage: " + platform::SystemErrorText(EBADF));
    EXPECT_FALSE(f.IsOpen());
    other = ::open(path_.c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    f.OpenFile(path_, THDBDatabaseFile::AccessRead, THDBDatabaseFile::ShareReadWrite);
    f.CloseFile();
  }
  EXPECT_NE(::fcntl(other, F_GETFD), -1) << "the object closed a descriptor it no longer owned";
  ::close(other);
}

TEST_F(DatabaseFileTest, IOFailuresNameFilePositionAndReason) {
  WriteFileBytes(path_, std::string(64, 'z'));
  {
    // Writing through a read-only descriptor: the handle is fine, the write is not.
    THDBDatabaseFile f;
    f.OpenFile(path_, THDBDatabaseFile::AccessRead, THDBDatabaseFile::ShareReadWrite);
    auto e = CatchHDB([&] { f.Write("ab", 10462, 12, 2); });
    EXPECT_EQ(e.NativeError(), 10462);
    EXPECT_EQ(e.Message(), "Cannot Write to file: '" + path_ + "' Position = 12, Count = 2, FilePosition = 12, FileSize = 64, "
                           "ErrorCode:" + std::to_string(EBADF) + ". ErrorMessage: " + platform::SystemErrorText(EBADF));
  }
  {
    // A descriptor that no longer reads (here: it now refers to a folder).
    THDBDatabaseFile f;
    f.OpenFile(path_, THDBDatabaseFile::AccessReadWrite, THDBDatabaseFile::ShareReadWrite);
    int dirFd = ::open(dir_.Path().c_str(), O_RDONLY);
    ASSERT_GE(dirFd, 0);
    ASSERT_GE(::dup2(dirFd, f.Handle()), 0);
    ::close(dirFd);
    char buf[8];
    auto e = CatchHDB([&] { f.Read(buf, 10464, 20, 8); });
    EXPECT_EQ(e.NativeError(), 10464);
    EXPECT_NE(e.Message().find("Cannot Read from file: '" + path_ + "' Position = 20, Count = 8"), std::string::npos);
    EXPECT_NE(e.Message().find("ErrorCode:" + std::to_string(EISDIR) + ". ErrorMessage: " +
                               platform::SystemErrorText(EISDIR)),
              std::string::npos);
    EXPECT_FALSE(f.ReadBuffer(buf, 0, 8));
  }
  {
    // The handle is lost and the file has gone: three reopen attempts, one second apart.
    THDBDatabaseFile f;
    f.OpenFile(path_, THDBDatabaseFile::AccessReadWrite, THDBDatabaseFile::ShareReadWrite);
    ::close(f.Handle());
    ::unlink(path_.c_str());
    hdbtest::CountingSleep::Calls() = 0;
    auto e = CatchHDB([&] { f.GetSize(); });
    EXPECT_EQ(e.NativeError(), 30371);
    EXPECT_EQ(e.Message(), "Cannot Get File Size for file: '" + path_ + "'. ErrorCode:" + std::to_string(EBADF) +
                               ". ErrorMessage: " + platform::SystemErrorText(EBADF));
    EXPECT_EQ(hdbtest::CountingSleep::Calls(), 2);
  }
}

}  // namespace
}  // namespace hdb

#include "dbengine/platform/posix_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace hdb::platform {

namespace {

FileFaultHook& FaultHook() {
  static FileFaultHook hook;
  return hook;
}
std::atomic<bool> g_faultHookSet{false};

// The fault the hook asks for at this call; no hook, no fault.
FileFault FaultAt(FileOp op, std::size_t count) {
  if (!g_faultHookSet.load(std::memory_order_relaxed)) return {};
  return FaultHook()(op, count);
}

// Ends the process the way a crash would: no clean-up, no flush of anything.
[[noreturn]] void DieAtFault() {
  ::kill(::getpid(), SIGKILL);
  ::_exit(137);
}

// After the operation: a fault that kills does it now.
void DieIfAsked(const FileFault& fault) {
  if (fault.Kill) DieAtFault();
}

// The fault of an operation that is not a write. False when the operation is not to
// be done (err set); a fault that kills before it does so here.
bool ProceedDespite(const FileFault& fault, int& err) {
  if (fault.Bytes != 0 && fault.Error == 0) return true;
  DieIfAsked(fault);
  err = fault.Error != 0 ? fault.Error : EIO;
  return false;
}

}  // namespace

void SetFileFaultHook(FileFaultHook hook) {
  g_faultHookSet = false;
  FaultHook() = std::move(hook);
  g_faultHookSet = static_cast<bool>(FaultHook());
}

int OpenExisting(const std::string& name, OpenAccess access, int& err) {
  int flags = (access == OpenAccess::ReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC;
  int fd = ::open(name.c_str(), flags);
  err = fd < 0 ? errno : 0;
  return fd < 0 ? InvalidHandle : fd;
}

int CreateAlways(const std::string& name, int& err) {
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  err = fd < 0 ? errno : 0;
  return fd < 0 ? InvalidHandle : fd;
}

int OpenOrCreate(const std::string& name, bool& created, int& err) {
  created = false;
  for (;;) {
    int fd = ::open(name.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0) {
      err = 0;
      return fd;
    }
    if (errno != ENOENT) break;
    fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      created = true;
      err = 0;
      return fd;
    }
    if (errno != EEXIST) break;  // made meanwhile by another process: open that one
  }
  err = errno;
  return InvalidHandle;
}

bool CloseHandle(int fd, int& err) {
  if (::close(fd) != 0) {
    err = errno;
    return false;
  }
  err = 0;
  return true;
}

bool ReadAt(int fd, void* buffer, std::size_t count, std::int64_t position, std::size_t& got, int& err) {
  got = 0;
  auto* out = static_cast<char*>(buffer);
  while (got < count) {
    ssize_t n = ::pread(fd, out + got, count - got, static_cast<off_t>(position + static_cast<std::int64_t>(got)));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) break;  // end of file: the rest of the buffer stays as it was
    got += static_cast<std::size_t>(n);
  }
  err = 0;
  return true;
}

static bool WriteAll(int fd, const void* buffer, std::size_t count, std::int64_t position, int& err) {
  std::size_t done = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t n = ::pwrite(fd, in + done, count - done, static_cast<off_t>(position + static_cast<std::int64_t>(done)));
    if (n < 0) {
      if (errno == EINTR) continue;
      err = errno;
      return false;
    }
    if (n == 0) {
      err = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  err = 0;
  return true;
}

bool WriteAt(int fd, const void* buffer, std::size_t count, std::int64_t position, int& err) {
  const FileFault fault = FaultAt(FileOp::Write, count);
  if (fault.Bytes < count || fault.Error != 0) {
    // Stores the part the fault lets through, then fails or dies.
    const std::size_t part = std::min(fault.Bytes, count);
    int ignored = 0;
    if (part > 0) WriteAll(fd, buffer, part, position, ignored);
    DieIfAsked(fault);
    err = fault.Error != 0 ? fault.Error : ENOSPC;
    return false;
  }
  const bool ok = WriteAll(fd, buffer, count, position, err);
  DieIfAsked(fault);
  return ok;
}

bool Truncate(int fd, std::int64_t size, int& err) {
  if (size < 0) {
    err = EINVAL;
    return false;
  }
  const FileFault fault = FaultAt(FileOp::Truncate, static_cast<std::size_t>(size));
  if (!ProceedDespite(fault, err)) return false;
  const bool ok = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  err = ok ? 0 : errno;
  DieIfAsked(fault);
  return ok;
}

bool IsLinked(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

bool GetSize(int fd, std::int64_t& size, int& err) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    err = errno;
    return false;
  }
  size = static_cast<std::int64_t>(st.st_size);
  err = 0;
  return true;
}

bool Flush(int fd, int& err) {
  const FileFault fault = FaultAt(FileOp::Flush, 0);
  if (!ProceedDespite(fault, err)) return false;
  // The data and what is needed to read it back (the size), not the times.
  const bool ok = ::fdatasync(fd) == 0;
  err = ok ? 0 : errno;
  DieIfAsked(fault);
  return ok;
}

bool IsWritableDescriptor(int fd) {
  int flags = ::fcntl(fd, F_GETFL);
  return flags >= 0 && (flags & O_ACCMODE) != O_RDONLY;
}

namespace {
std::atomic<int> g_simulatedLockError{0};
}

void SimulateLockFailure(int err) { g_simulatedLockError = err; }

static bool OfdLock(int fd, short type, std::int64_t position, std::int64_t count, int& err) {
  if (int simulated = g_simulatedLockError.load()) {
    err = simulated;
    return false;
  }
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(position);
  fl.l_len = static_cast<off_t>(count);
  fl.l_pid = 0;  // required for OFD locks
  for (;;) {
    if (::fcntl(fd, F_OFD_SETLK, &fl) == 0) {
      err = 0;
      return true;
    }
    if (errno == EINTR) continue;
    err = errno;
    return false;
  }
}

bool LockRange(int fd, std::int64_t position, std::int64_t count, LockKind kind, int& err) {
  if (position < 0 || count <= 0) {
    err = ERANGE;  // a caller's mistake, not a file system without locks
    return false;
  }
  return OfdLock(fd, kind == LockKind::Exclusive ? F_WRLCK : F_RDLCK, position, count, err);
}

bool UnlockRange(int fd, std::int64_t position, std::int64_t count, int& err) {
  if (position < 0 || count <= 0) {
    err = ERANGE;  // a caller's mistake, not a file system without locks
    return false;
  }
  return OfdLock(fd, F_UNLCK, position, count, err);
}

bool IsNoLockSupportError(int err) {
  return err == ENOLCK || err == EOPNOTSUPP || err == ENOSYS || err == EINVAL || err == EIO;
}

bool IsLockConflictError(int err) { return err == EAGAIN || err == EACCES; }

bool FileExists(const std::string& name) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0;
}

bool HasReadOnlyAttribute(const std::string& name) {
  struct stat st {};
  if (::stat(name.c_str(), &st) != 0) return false;
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

void RemoveFile(const std::string& name) {
  int err = 0;
  const FileFault fault = FaultAt(FileOp::Remove, 0);
  if (!ProceedDespite(fault, err)) return;
  ::unlink(name.c_str());
  DieIfAsked(fault);
}

bool SyncFolderOf(const std::string& name, int& err) {
  const FileFault fault = FaultAt(FileOp::Flush, 0);
  if (!ProceedDespite(fault, err)) return false;
  const std::size_t slash = name.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    err = errno;
    return false;
  }
  const bool ok = ::fsync(fd) == 0;
  err = ok ? 0 : errno;
  ::close(fd);
  DieIfAsked(fault);
  return ok;
}

std::string SystemErrorText(int err) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = ::strerror_r(err, buf, sizeof buf);
  return text ? std::string(text) : std::string("Unknown error");
}

}  // namespace hdb::platform

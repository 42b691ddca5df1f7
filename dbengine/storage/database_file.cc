#include "dbengine/storage/database_file.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>
#include <vector>

#include "dbengine/platform/posix_file.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace pf = platform;

THDBDatabaseFile::~THDBDatabaseFile() {
  if (handle_ != pf::InvalidHandle) {
    int err = 0;
    pf::CloseHandle(handle_, err);
  }
}

void THDBDatabaseFile::CheckClosed(const char* operation) const {
  if (opened_) RaiseHDB(Errors::OperationOnOpenedFile, operation);
}

void THDBDatabaseFile::CheckOpened(const char* operation) const {
  if (!opened_) RaiseHDB(Errors::OperationOnClosedFile, operation);
}

bool THDBDatabaseFile::TakeShareLock(int fd, int& err) const {
  // Without sharing the byte is held exclusively, so any other open of the file
  // fails; shared opens hold it shared and only keep out an exclusive one.
  pf::LockKind kind = shareMode_ == ShareNone && pf::IsWritableDescriptor(fd) ? pf::LockKind::Exclusive
                                                                              : pf::LockKind::Shared;
  if (pf::LockRange(fd, ShareLockPosition, 1, kind, err)) return true;
  if (pf::IsNoLockSupportError(err)) return true;  // a file system without locks cannot tell
  err = EBUSY;
  return false;
}

bool THDBDatabaseFile::OpenHandle(int& err) {
  int fd = pf::InvalidHandle;
  if (accessMode_ == AccessRead) {
    // A reader's locks stand for claims that must keep every other process out (its
    // session slot, the single-user claim, table locks), and only a descriptor open for
    // writing can take such locks. Nothing is written through it: the access mode
    // refuses every write. A file that cannot be opened for writing at all is read
    // through a read-only descriptor, whose locks are shared.
    int ignored = 0;
    fd = pf::OpenExisting(fileName_, pf::OpenAccess::ReadWrite, ignored);
  }
  if (fd == pf::InvalidHandle)
    fd = pf::OpenExisting(fileName_, accessMode_ == AccessRead ? pf::OpenAccess::Read : pf::OpenAccess::ReadWrite, err);
  if (fd == pf::InvalidHandle) return false;
  if (!TakeShareLock(fd, err)) {
    int ignored = 0;
    pf::CloseHandle(fd, ignored);
    return false;
  }
  handle_ = fd;
  handleWritable_ = pf::IsWritableDescriptor(fd);
  heldLocks_.clear();
  return true;
}

void THDBDatabaseFile::CreateFile(const std::string& name) {
  CheckClosed("CreateFile");
  if (name.empty()) RaiseHDB(Errors::BlankFileName);
  if (pf::FileExists(name)) {
    // Replacing a file that another handle of this engine holds open would pull it
    // away under its user.
    int err = 0;
    int probe = pf::OpenExisting(name, pf::OpenAccess::ReadWrite, err);
    if (probe != pf::InvalidHandle) {
      bool held = !pf::LockRange(probe, ShareLockPosition, 1, pf::LockKind::Exclusive, err) &&
                  pf::IsLockConflictError(err);
      int ignored = 0;
      pf::CloseHandle(probe, ignored);
      if (held) RaiseHDB(Errors::CannotCreateFile, name, EBUSY, pf::SystemErrorText(EBUSY));
    }
    pf::RemoveFile(name);
  }
  fileName_ = name;
  accessMode_ = AccessReadWrite;
  shareMode_ = ShareNone;
  int err = 0;
  int fd = pf::CreateAlways(name, err);
  if (fd == pf::InvalidHandle) RaiseHDB(Errors::CannotCreateFile, name, err, pf::SystemErrorText(err));
  if (!TakeShareLock(fd, err)) {
    int ignored = 0;
    pf::CloseHandle(fd, ignored);
    RaiseHDB(Errors::CannotCreateFile, name, err, pf::SystemErrorText(err));
  }
  handle_ = fd;
  handleWritable_ = pf::IsWritableDescriptor(fd);
  heldLocks_.clear();
  filePointer_ = 0;
  opened_ = true;
}

void THDBDatabaseFile::OpenFile(const std::string& name, std::uint8_t accessMode, std::uint8_t shareMode) {
  CheckClosed("OpenFile");
  if (accessMode > AccessReadWrite) RaiseHDB(Errors::UnknownAccessMode, accessMode);
  if (shareMode > ShareRead) RaiseHDB(Errors::UnknownShareMode, shareMode);
  fileName_ = name;
  accessMode_ = accessMode;
  shareMode_ = shareMode;
  int err = 0;
  if (!OpenHandle(err)) RaiseHDB(Errors::CannotOpenFile, name, err, pf::SystemErrorText(err));
  filePointer_ = 0;
  opened_ = true;
}

bool THDBDatabaseFile::LocksExclusively() const {
  return handle_ != pf::InvalidHandle && handleWritable_;
}

void THDBDatabaseFile::RestrictToReading() { accessMode_ = AccessRead; }

void THDBDatabaseFile::CloseFile() {
  CheckOpened("CloseFile");
  int err = 0;
  const bool closed = handle_ == pf::InvalidHandle || pf::CloseHandle(handle_, err);
  // close() releases the descriptor even when it reports an error, and the number may
  // be handed out again at once: the object is closed either way and never closes it
  // a second time.
  handle_ = pf::InvalidHandle;
  heldLocks_.clear();
  opened_ = false;
  if (!closed) RaiseHDB(Errors::CannotCloseFile, fileName_, err, pf::SystemErrorText(err));
}

bool THDBDatabaseFile::ReopenIfLost() {
  std::int64_t size = 0;
  if (handle_ != pf::InvalidHandle && pf::GetSize(handle_, size, lastError_)) return true;
  int savedError = lastError_;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) pf::SleepMs(1000);
    if (handle_ != pf::InvalidHandle) {
      int ignored = 0;
      pf::CloseHandle(handle_, ignored);
      handle_ = pf::InvalidHandle;
      heldLocks_.clear();
    }
    int err = 0;
    if (OpenHandle(err)) break;
  }
  lastError_ = savedError;
  return handle_ != pf::InvalidHandle;
}

bool THDBDatabaseFile::Seek(std::int64_t position) {
  CheckOpened("Seek");
  auto attempt = [&] {
    if (position < 0) {
      lastError_ = EINVAL;
      return false;
    }
    if (handle_ == pf::InvalidHandle) {
      lastError_ = EBADF;
      return false;
    }
    filePointer_ = position;
    return true;
  };
  if (attempt()) return true;
  return ReopenIfLost() && attempt();
}

std::int64_t THDBDatabaseFile::SizeForMessage() {
  std::int64_t size = -1;
  int err = 0;
  if (handle_ == pf::InvalidHandle || !pf::GetSize(handle_, size, err)) return -1;
  return size;
}

void THDBDatabaseFile::SetPosition(std::int64_t position, int errorCode) {
  if (!Seek(position))
    RaiseHDB(errorCode, Errors::CannotSetFilePosition.Text, position, fileName_, filePointer_, SizeForMessage());
}

std::int64_t THDBDatabaseFile::GetPosition() {
  CheckOpened("GetPosition");
  if (handle_ == pf::InvalidHandle && !ReopenIfLost())
    RaiseHDB(Errors::CannotGetFilePosition, fileName_, lastError_, pf::SystemErrorText(lastError_));
  return filePointer_;
}

void THDBDatabaseFile::SetSize(std::int64_t size) {
  CheckOpened("SetSize");
  SetPosition(size);
  auto attempt = [&] {
    if (accessMode_ == AccessRead || handle_ == pf::InvalidHandle) {
      lastError_ = EBADF;  // as through a read-only descriptor
      return false;
    }
    return pf::Truncate(handle_, size, lastError_);
  };
  if (!attempt() && !(ReopenIfLost() && attempt()))
    RaiseHDB(Errors::CannotTruncateFile, fileName_, size, lastError_, pf::SystemErrorText(lastError_));
}

bool THDBDatabaseFile::DoGetSize(std::int64_t& size) {
  if (handle_ == pf::InvalidHandle) {
    lastError_ = EBADF;
    return false;
  }
  return pf::GetSize(handle_, size, lastError_);
}

std::int64_t THDBDatabaseFile::GetSize() {
  CheckOpened("GetSize");
  std::int64_t size = 0;
  if (!DoGetSize(size) && !(ReopenIfLost() && DoGetSize(size)))
    RaiseHDB(Errors::CannotGetFileSize, fileName_, lastError_, pf::SystemErrorText(lastError_));
  return size;
}

bool THDBDatabaseFile::DoRead(void* buffer, std::int64_t position, std::uint32_t count) {
  if (!Seek(position)) return false;
  std::size_t got = 0;
  if (!pf::ReadAt(handle_, buffer, count, position, got, lastError_)) return false;
  filePointer_ = position + static_cast<std::int64_t>(got);
  return true;
}

bool THDBDatabaseFile::ReadBuffer(void* buffer, std::int64_t position, std::uint32_t count) {
  CheckOpened("ReadBuffer");
  if (DoRead(buffer, position, count)) return true;
  return ReopenIfLost() && DoRead(buffer, position, count);
}

void THDBDatabaseFile::Read(void* buffer, int errorCode, std::int64_t position, std::uint32_t count) {
  CheckOpened("Read");
  auto readAndProbe = [&] {
    if (ReadBuffer(buffer, position, count)) return true;
    int err = lastError_;
    IsRegionLocked(count, position);
    lastError_ = err;
    return ReadBuffer(buffer, position, count);
  };
  if (readAndProbe()) return;
  int err = lastError_;
  if (ReopenIfLost() && readAndProbe()) return;
  if (lastError_ == 0) lastError_ = err;
  int reason = lastError_;
  RaiseHDB(errorCode, FileTexts::CannotRead, fileName_, position, count, filePointer_, SizeForMessage(), reason,
           pf::SystemErrorText(reason));
}

bool THDBDatabaseFile::DoWrite(const void* buffer, std::int64_t position, std::uint32_t count) {
  // A reader's descriptor may be open for writing (for its locks); it never writes.
  if (accessMode_ == AccessRead || handle_ == pf::InvalidHandle) {
    lastError_ = EBADF;
    return false;
  }
  if (!pf::WriteAt(handle_, buffer, count, position, lastError_)) return false;
  filePointer_ = position + count;
  return true;
}

void THDBDatabaseFile::Write(const void* buffer, int errorCode, std::int64_t position, std::uint32_t count) {
  CheckOpened("Write");
  SetPosition(position, errorCode);
  if (DoWrite(buffer, position, count)) return;
  int err = lastError_;
  if (ReopenIfLost() && DoWrite(buffer, position, count)) return;
  if (lastError_ == 0) lastError_ = err;
  int reason = lastError_;
  RaiseHDB(errorCode, FileTexts::CannotWrite, fileName_, position, count, filePointer_, SizeForMessage(), reason,
           pf::SystemErrorText(reason));
}

void THDBDatabaseFile::FlushFileBuffers() {
  CheckOpened("FlushFileBuffers");
  auto attempt = [&] { return handle_ != pf::InvalidHandle && pf::Flush(handle_, lastError_); };
  if (!attempt() && !(ReopenIfLost() && attempt()))
    RaiseHDB(Errors::CannotFlushFile, fileName_, lastError_, pf::SystemErrorText(lastError_));
}

bool THDBDatabaseFile::TryLock(std::uint32_t count, std::int64_t position) {
  std::int64_t end = position + count;
  bool ownOverlap = false;
  // Locks do not stack: a range overlapping one this descriptor holds is refused.
  auto it = heldLocks_.upper_bound(position);
  if (it != heldLocks_.begin()) {
    auto prev = std::prev(it);
    if (prev->first + prev->second > position) ownOverlap = true;
  }
  if (it != heldLocks_.end() && it->first < end) ownOverlap = true;
  bool ok = false;
  if (ownOverlap) {
    lastError_ = EAGAIN;
  } else if (handle_ == pf::InvalidHandle) {
    lastError_ = EBADF;
  } else {
    pf::LockKind kind = handleWritable_ ? pf::LockKind::Exclusive : pf::LockKind::Shared;
    ok = pf::LockRange(handle_, position, count, kind, lastError_);
    if (ok) heldLocks_[position] = count;
  }
  if (ok) return true;
  if (!lockFallback_) lockFallback_ = pf::IsNoLockSupportError(lastError_);
  return lockFallback_;
}

bool THDBDatabaseFile::TryUnlock(std::uint32_t count, std::int64_t position) {
  auto it = heldLocks_.find(position);
  bool ok = false;
  if (it == heldLocks_.end() || it->second != count) {
    lastError_ = EPERM;  // not locked through this descriptor as this range
  } else if (handle_ == pf::InvalidHandle) {
    lastError_ = EBADF;
  } else {
    ok = pf::UnlockRange(handle_, position, count, lastError_);
    if (ok) heldLocks_.erase(it);
  }
  if (ok) return true;
  if (!lockFallback_) lockFallback_ = pf::IsNoLockSupportError(lastError_);
  return lockFallback_;
}

bool THDBDatabaseFile::LockByte(std::uint32_t count, std::int64_t position) {
  CheckOpened("LockByte");
  if (TryLock(count, position)) return true;
  if (!ReopenIfLost()) return false;
  lockFallback_ = false;
  return TryLock(count, position);
}

bool THDBDatabaseFile::UnlockByte(std::uint32_t count, std::int64_t position) {
  CheckOpened("UnlockByte");
  if (TryUnlock(count, position)) return true;
  if (!ReopenIfLost()) return false;
  lockFallback_ = false;
  return TryUnlock(count, position);
}

bool THDBDatabaseFile::IsRegionLocked(std::uint32_t count, std::int64_t position) {
  CheckOpened("IsRegionLocked");
  if (!LockByte(count, position)) return true;
  UnlockByte(count, position);
  return false;
}

bool THDBDatabaseFile::IsByteLocked(std::int64_t position) { return IsRegionLocked(1, position); }

std::int64_t THDBDatabaseFile::FindHeaderPosition() {
  CheckOpened("FindHeaderPosition");
  const std::int64_t savedPointer = filePointer_;
  constexpr std::size_t sigSize = FileSignatureSize;
  constexpr std::int16_t wantedSize = static_cast<std::int16_t>(FileHeaderLayout::Size);
  std::int64_t found = 0;

  auto headerSizeAt = [&](const std::uint8_t* chunk, std::size_t chunkLen, std::int64_t chunkStart,
                          std::size_t at) -> std::int16_t {
    if (at + sigSize + 2 <= chunkLen) return le::Load<std::int16_t>(chunk, at + sigSize);
    std::uint8_t two[2] = {0, 0};
    ReadBuffer(two, chunkStart + static_cast<std::int64_t>(at + sigSize), 2);
    return le::Load<std::int16_t>(two, 0);
  };

  std::uint8_t first[92] = {};
  bool atStart = false;
  if (ReadBuffer(first, 0, sizeof first)) {
    atStart = std::memcmp(first, FileSignature, sigSize) == 0 && le::Load<std::int16_t>(first, sigSize) == wantedSize;
  }
  if (!atStart) {
    std::int64_t size = 0;
    if (DoGetSize(size)) {
      constexpr std::size_t chunkSize = 10000;
      std::vector<std::uint8_t> chunk(chunkSize);
      bool hit = false;
      // Each chunk starts 16 bytes before the end of the previous one, so every
      // 16-byte signature lies wholly inside some chunk.
      for (std::int64_t start = 0; start < size && !hit; start += chunkSize - sigSize) {
        std::size_t len = static_cast<std::size_t>(std::min<std::int64_t>(chunkSize, size - start));
        if (len < sigSize) break;
        std::fill(chunk.begin(), chunk.end(), 0);
        if (!ReadBuffer(chunk.data(), start, static_cast<std::uint32_t>(len))) break;
        for (std::size_t at = 0; at + sigSize <= len; ++at) {
          if (std::memcmp(chunk.data() + at, FileSignature, sigSize) != 0) continue;
          std::int64_t pos = start + static_cast<std::int64_t>(at);
          if (pos + static_cast<std::int64_t>(FileHeaderLayout::Size) > size) continue;
          if (headerSizeAt(chunk.data(), len, start, at) != wantedSize) continue;
          found = pos;
          hit = true;
          break;
        }
        if (start + static_cast<std::int64_t>(len) >= size) break;
      }
    }
  }
  filePointer_ = savedPointer;
  return found;
}

}  // namespace hdb

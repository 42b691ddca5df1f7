// THDBDatabaseFile: the only place where the database file meets the operating
// system. It owns one descriptor and offers positioned reads and writes with 64-bit
// offsets, size changes, flushing and byte-range locks, each with the retry rule
// (try, check whether the handle was lost and reopen it, try once more) and with
// messages that name the file, the positions and the system's reason.
//
// Locks are open-file-description locks: they belong to this object's descriptor,
// conflict with every other descriptor (in this process or another) and vanish when
// the descriptor closes. Like the locks of the original platform they do not stack:
// locking a range this object already holds is refused, and an unlock must name a
// range exactly as it was locked. Sharing is emulated with one lock byte at 2^62:
// shared opens hold it shared, an open without sharing holds it exclusively.
// Byte locks are exclusive, so that a lock that stands for a claim keeps every other
// process out whatever its access: a file opened for reading therefore gets a
// descriptor open for writing when the file allows it, and the read access mode
// refuses every write and size change through it. Only a file that cannot be opened
// for writing at all is read through a read-only descriptor, whose locks are shared.
//
// Not locked: the owner (the disk page manager) uses it under the database object's
// in-process lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace hdb {

class THDBDatabaseFile {
 public:
  static constexpr std::uint8_t AccessRead = 0;
  static constexpr std::uint8_t AccessReadWrite = 1;
  static constexpr std::uint8_t ShareNone = 0;
  static constexpr std::uint8_t ShareReadWrite = 1;
  static constexpr std::uint8_t ShareRead = 2;
  static constexpr std::uint32_t DefaultFlags = 0x08000080;  // normal attributes, sequential scan
  // The byte whose lock stands for the share mode.
  static constexpr std::int64_t ShareLockPosition = std::int64_t{1} << 62;

  THDBDatabaseFile() = default;
  THDBDatabaseFile(const THDBDatabaseFile&) = delete;
  THDBDatabaseFile& operator=(const THDBDatabaseFile&) = delete;
  ~THDBDatabaseFile();

  void CreateFile(const std::string& name);
  void OpenFile(const std::string& name, std::uint8_t accessMode, std::uint8_t shareMode);
  void CloseFile();

  bool Seek(std::int64_t position);
  void SetPosition(std::int64_t position, int errorCode = 30372);
  std::int64_t GetPosition();
  void SetSize(std::int64_t size);
  std::int64_t GetSize();

  // Non-raising read: true also when the read ends early at the end of the file,
  // leaving the rest of the buffer as it was.
  bool ReadBuffer(void* buffer, std::int64_t position, std::uint32_t count);
  // Raising read and write; errorCode is the native number a failure carries.
  void Read(void* buffer, int errorCode, std::int64_t position, std::uint32_t count);
  void Write(const void* buffer, int errorCode, std::int64_t position, std::uint32_t count);
  void FlushFileBuffers();

  bool LockByte(std::uint32_t count, std::int64_t position);
  bool UnlockByte(std::uint32_t count, std::int64_t position);
  bool IsByteLocked(std::int64_t position);
  bool IsRegionLocked(std::uint32_t count, std::int64_t position);

  // Finds the file header: 0 when the file starts with it, else the first offset
  // where the signature is followed by the header size 76, else 0. The file
  // position is kept.
  std::int64_t FindHeaderPosition();

  // Checks the descriptor; when it is lost, reopens the file by name (three
  // attempts, one second apart). True when a valid descriptor exists afterwards.
  bool ReopenIfLost();

  // Whether byte locks taken through the descriptor exclude every other descriptor.
  bool LocksExclusively() const;
  // From now on every write and size change is refused as through a read-only
  // descriptor; the descriptor and its locks stay.
  void RestrictToReading();

  bool IsOpen() const { return opened_; }
  const std::string& FileName() const { return fileName_; }
  std::uint8_t AccessMode() const { return accessMode_; }
  std::uint8_t ShareMode() const { return shareMode_; }
  bool LockFallback() const { return lockFallback_; }
  // The descriptor, for tests that need to break it.
  int Handle() const { return handle_; }

 private:
  void CheckClosed(const char* operation) const;
  void CheckOpened(const char* operation) const;
  bool OpenHandle(int& err);
  bool TakeShareLock(int fd, int& err) const;
  bool TryLock(std::uint32_t count, std::int64_t position);
  bool TryUnlock(std::uint32_t count, std::int64_t position);
  bool DoRead(void* buffer, std::int64_t position, std::uint32_t count);
  bool DoWrite(const void* buffer, std::int64_t position, std::uint32_t count);
  bool DoGetSize(std::int64_t& size);
  // Position and size for messages; -1 when they cannot be had.
  std::int64_t SizeForMessage();

  std::string fileName_;
  std::uint8_t accessMode_ = AccessReadWrite;
  std::uint8_t shareMode_ = ShareNone;
  std::uint32_t flags_ = DefaultFlags;
  int handle_ = -1;
  // Whether handle_ was opened for writing (its locks are then exclusive), noted when
  // it is opened rather than asked of the system at every lock.
  bool handleWritable_ = false;
  bool opened_ = false;
  std::int32_t nestingCount_ = 0;  // per-operation open mode; kept for the layout, unused
  bool lockFallback_ = false;

  std::int64_t filePointer_ = 0;
  int lastError_ = 0;
  // Ranges locked through the current descriptor: start -> count.
  std::map<std::int64_t, std::int64_t> heldLocks_;
};

}  // namespace hdb

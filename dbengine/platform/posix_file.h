// Thin wrappers over the POSIX calls the database file needs: descriptors, positioned
// I/O, sizes, flushing and open-file-description byte locks. Nothing here interprets
// the file or raises: every call reports success and leaves the errno value in `err`,
// so the storage layer can build its messages and apply its retry rules.
// Owns nothing; callers own the descriptors they get.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace hdb::platform {

inline constexpr int InvalidHandle = -1;

enum class OpenAccess { Read, ReadWrite };

// Opens an existing file. Returns a descriptor or InvalidHandle with err set.
int OpenExisting(const std::string& name, OpenAccess access, int& err);
// Creates (or truncates) a file for read/write. Returns a descriptor or InvalidHandle.
int CreateAlways(const std::string& name, int& err);
// Opens a file for read/write, creating it empty when it does not exist; `created`
// tells which. Returns a descriptor or InvalidHandle.
int OpenOrCreate(const std::string& name, bool& created, int& err);
bool CloseHandle(int fd, int& err);

// Reads up to count bytes at position; stops early only at the end of the file.
// `got` receives the bytes read. False on an I/O error.
bool ReadAt(int fd, void* buffer, std::size_t count, std::int64_t position, std::size_t& got, int& err);
// Writes all count bytes at position; a short write is a failure (err = ENOSPC when the
// system gave no reason).
bool WriteAt(int fd, const void* buffer, std::size_t count, std::int64_t position, int& err);
bool Truncate(int fd, std::int64_t size, int& err);
bool GetSize(int fd, std::int64_t& size, int& err);
// Whether the file open as fd still has a name (false when it was removed meanwhile, or
// when that cannot be told).
bool IsLinked(int fd);
bool Flush(int fd, int& err);
bool IsWritableDescriptor(int fd);

enum class LockKind { Shared, Exclusive };
// Non-waiting OFD lock of [position, position + count). A conflict gives false with
// err EAGAIN or EACCES.
bool LockRange(int fd, std::int64_t position, std::int64_t count, LockKind kind, int& err);
bool UnlockRange(int fd, std::int64_t position, std::int64_t count, int& err);
// Makes every following lock and unlock call fail with `err` (0 restores real
// locking): stands in for a file system that cannot lock, for tests.
void SimulateLockFailure(int err);

// True for the errors that mean the file system cannot lock at all (as opposed to a
// lock held by someone else).
bool IsNoLockSupportError(int err);
bool IsLockConflictError(int err);

bool FileExists(const std::string& name);
// True when no write permission bit is set: the file's read-only attribute.
bool HasReadOnlyAttribute(const std::string& name);
// Deletes a file, ignoring failures.
void RemoveFile(const std::string& name);
// Flushes the folder that holds `name`, so that a file just created there survives a
// power loss under its name.
bool SyncFolderOf(const std::string& name, int& err);

// ---- Fault injection, for tests ------------------------------------------------------
// A process-wide hook consulted before every write, flush, size change and removal
// made through this layer, so a test can stop an operation at a chosen point: fail
// it, store a write only in part, or end the process there as a crash would.
enum class FileOp { Write, Flush, Truncate, Remove };
struct FileFault {
  // A write stores only its first Bytes bytes (all when larger than the write); the
  // other operations are skipped when Bytes is 0 and done otherwise.
  std::size_t Bytes = static_cast<std::size_t>(-1);
  // Then the process is killed (SIGKILL)...
  bool Kill = false;
  // ...or, when not 0, the call fails with this errno value.
  int Error = 0;
};
using FileFaultHook = std::function<FileFault(FileOp op, std::size_t count)>;
// Installs the hook (an empty one removes it). Not for use while other threads do I/O.
void SetFileFaultHook(FileFaultHook hook);

std::string SystemErrorText(int err);

}  // namespace hdb::platform

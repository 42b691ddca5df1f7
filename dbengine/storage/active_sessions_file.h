// THDBActiveSessionsFile: one lockable byte per connection slot, in a direct internal
// file whose size is the number of slots. Processes sharing the database claim a slot
// each with a byte lock (its position is the session's id); a single-user process
// claims every slot. The content bytes are never written.
//
// Every scan of the slots runs under the file's "LockFile" byte; inside a process the
// database object's lock serialises the calls.
#pragma once

#include <cstdint>

#include "dbengine/storage/direct_file.h"
#include "dbengine/storage/page_header.h"

namespace hdb {

class THDBActiveSessionsFile {
 public:
  THDBActiveSessionsFile(THDBDiskPageManager& manager, bool multiUser)
      : file_(manager, ptActiveSessionList), multiUser_(multiUser) {}

  // A file of `slots` connection slots, as the system session; returns its start page.
  std::int32_t Create(std::int32_t slots);
  void Open(std::int32_t startPageNo);
  std::int32_t MaxSessions() const { return maxSessions_; }
  std::int32_t StartPageNo() const { return file_.StartPageNo(); }
  THDBInternalDBDirectAccessFile& File() { return file_; }

  // The first free slot becomes the session's id (0 at once in single-user mode).
  std::int32_t ConnectSession();
  void DisconnectSession(std::int32_t sessionID);
  // Takes every slot when none is taken; false when another process holds one.
  bool ClaimSingleUser();
  void ReleaseSingleUser();

 private:
  // Holds "LockFile" for a scope when it can be had; the scan runs either way.
  class FileLock;

  THDBInternalDBDirectAccessFile file_;
  bool multiUser_;
  std::int32_t maxSessions_ = 0;
};

}  // namespace hdb

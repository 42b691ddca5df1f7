// THDBInternalDBDirectAccessFile: an internal file that is created through the page
// manager (as the system session) but afterwards read, written and byte-locked
// straight in the database file, past cache and transactions. It serves the
// coordination between processes: the active sessions file and the table locks files
// use its bytes as long-lived byte locks. Its page list is fixed at create or open.
//
// Not locked itself: its users take its "LockFile" byte (the first byte of the first
// page) around read-modify-write sequences.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/storage/internal_file_header.h"

namespace hdb {

class THDBDiskPageManager;

class THDBInternalDBDirectAccessFile {
 public:
  THDBInternalDBDirectAccessFile(THDBDiskPageManager& manager, std::uint16_t pageType)
      : manager_(manager), pageType_(pageType) {}

  std::int32_t StartPageNo() const { return startPageNo_; }
  bool IsOpen() const { return startPageNo_ != -1; }
  // The highest position that can be addressed.
  std::int32_t SizeLimit() const { return sizeLimit_; }
  const std::vector<std::int32_t>& Pages() const { return pages_; }

  // As the system session; the pages reach the file at its next commit.
  void Create(std::int32_t size);
  void Open(std::int32_t startPageNo);
  void Delete(std::int32_t startPageNo = -1);

  std::int32_t GetSize();
  void DirectReadBuffer(void* buffer, std::int32_t count, std::int32_t position);
  void DirectWriteBuffer(const void* buffer, std::int32_t count, std::int32_t position);

  bool LockFile();
  bool UnlockFile();
  // LockFile with up to `tries` attempts, 20 ms apart.
  bool LockFileRetrying(int tries);
  bool LockByte(std::int32_t position);
  bool UnlockByte(std::int32_t position);
  bool IsByteLocked(std::int32_t position);
  bool IsRegionLocked(std::int32_t position, std::int32_t count);

 private:
  struct Location {
    std::size_t PageIndex;
    std::uint32_t PageOffset;  // from the start of the page, header included
  };
  void CheckOpen(const char* operation) const;
  Location Map(std::int32_t position) const;
  // Moves count bytes starting at position along the page list.
  void Transfer(std::uint8_t* buffer, std::int32_t count, std::int32_t position, bool write);

  THDBDiskPageManager& manager_;
  std::int32_t startPageNo_ = -1;
  std::uint16_t pageType_;
  std::int32_t sizeLimit_ = 0;
  std::vector<std::int32_t> pages_;
};

}  // namespace hdb

// THDBInternalDBTransactedAccessFile: a variable-size byte stream laid over a chain of
// pages of one page type, read and written through the page manager, so its changes
// belong to a session and reach the disk at that session's commit. Its content may
// be stored as a zlib stream (the table definition files are).
//
// Owns nothing but its start page number; not locked: used under the database
// object's lock.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "dbengine/storage/internal_file_header.h"
#include "dbengine/storage/page_manager.h"

namespace hdb {

class THDBInternalDBTransactedAccessFile {
 public:
  struct SizeInfo {
    std::int32_t StoredSize;
    std::int32_t PlainSize;
    std::uint8_t Algorithm;
    bool JustRead;  // the first page was read from the file for this call
  };

  THDBInternalDBTransactedAccessFile(THDBPageManager& manager, std::uint16_t pageType)
      : manager_(manager), pageType_(pageType) {}

  std::int32_t StartPageNo() const { return startPageNo_; }
  std::uint16_t PageType() const { return pageType_; }
  bool IsOpen() const { return startPageNo_ != -1; }

  void Create(TSessionID session);
  // -1 keeps the current start page.
  void Open(std::int32_t startPageNo);
  // Returns every page of the chain at the session's commit and closes the file.
  void Delete(TSessionID session, std::int32_t startPageNo = -1);
  // Gives the first page a fresh header and an empty content (repair of a damaged
  // file; always followed by WriteFile).
  void ReinitializeFirstPage(TSessionID session);

  SizeInfo GetSize(TSessionID session, bool revalidate);
  std::int32_t GetPlainSize(TSessionID session, bool revalidate) { return GetSize(session, revalidate).PlainSize; }
  void SetSize(TSessionID session, std::int32_t storedSize, std::uint8_t algorithm, std::int32_t plainSize);
  void ReadFile(TSessionID session, void* buffer, bool revalidate, std::int32_t count);
  std::vector<std::uint8_t> ReadAll(TSessionID session, bool revalidate);
  void WriteFile(TSessionID session, const void* data, int level, std::uint8_t algorithm, std::int32_t count);

 private:
  void CheckOpen(const char* operation) const;
  // Removes (at the session's commit) every page of the chain from `pageNo` on.
  void RemoveChain(TSessionID session, std::int32_t pageNo);
  // Called per page with the page, the data offset of its part, the content offset of
  // that part and its length.
  using ContentVisitor = std::function<void(THDBPinnedPage&, std::uint32_t, std::int32_t, std::int32_t)>;
  // Walks the chain over the first `count` stored bytes; returns the bytes walked
  // (fewer when the chain ends early). A chain that loops raises 20300.
  std::int32_t WalkContent(TSessionID session, std::int32_t count, bool revalidate, const ContentVisitor& visit);
  // The first `count` stored bytes, or fewer when the chain ends early.
  std::vector<std::uint8_t> ReadStored(TSessionID session, std::int32_t count, bool revalidate);
  // The plain content of a compressed file.
  std::vector<std::uint8_t> Inflate(TSessionID session, const SizeInfo& size, bool revalidate, std::int32_t count);

  THDBPageManager& manager_;
  std::int32_t startPageNo_ = -1;
  std::uint16_t pageType_;
};

}  // namespace hdb

#include "dbengine/storage/transacted_file.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <unordered_set>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/zlib_stream.h"

namespace hdb {

namespace IFH = InternalFileHeaderLayout;

namespace {
std::uint8_t* DataArea(THDBPage* page) { return page->Buffer() + PageHeaderLayout::Size; }

// Sets SuppressChecks for a scope and restores it.
class SuppressChecksScope {
 public:
  explicit SuppressChecksScope(THDBPageManager& m) : manager_(m), saved_(m.SuppressChecks) { m.SuppressChecks = true; }
  ~SuppressChecksScope() { manager_.SuppressChecks = saved_; }

 private:
  THDBPageManager& manager_;
  bool saved_;
};
}  // namespace

void THDBInternalDBTransactedAccessFile::CheckOpen(const char* operation) const {
  if (startPageNo_ == -1) RaiseHDB(Errors::TransactedFileClosed, operation);
}

void THDBInternalDBTransactedAccessFile::Create(TSessionID session) {
  if (startPageNo_ != -1) RaiseHDB(Errors::TransactedFileExists, startPageNo_);
  THDBPinnedPage page(manager_, manager_.AddPage(session, pageType_));
  InitInternalFileHeader(DataArea(page.Get()), 0);
  page.SetDirty();
  startPageNo_ = page->PageNo();
}

void THDBInternalDBTransactedAccessFile::Open(std::int32_t startPageNo) {
  if (startPageNo != -1) startPageNo_ = startPageNo;
}

void THDBInternalDBTransactedAccessFile::RemoveChain(TSessionID session, std::int32_t no) {
  // A damaged chain may lead back to a page already met; it would be walked for ever.
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t step = 0; no != -1; ++step) {
    if (!seen.insert(no).second) RaiseHDB(Errors::TableFilePageMissing, step);
    std::int32_t next;
    {
      THDBPinnedPage page(manager_, manager_.GetPage(session, no, true, pageType_));
      next = page->NextPageNo();
    }
    manager_.RemovePage(session, no);
    no = next;
  }
}

void THDBInternalDBTransactedAccessFile::Delete(TSessionID session, std::int32_t startPageNo) {
  std::int32_t no = startPageNo != -1 ? startPageNo : startPageNo_;
  if (no == -1) RaiseHDB(Errors::TransactedFileClosed, "Delete");
  RemoveChain(session, no);
  startPageNo_ = -1;
}

void THDBInternalDBTransactedAccessFile::ReinitializeFirstPage(TSessionID session) {
  if (startPageNo_ == -1) RaiseHDB(Errors::InvalidInternalFilePageNumber);
  SuppressChecksScope suppress(manager_);
  THDBPinnedPage page(manager_, manager_.GetPage(session, startPageNo_, true, AnyPageType));
  const std::int32_t version = page->PageVersion();
  InitPageHeader(page->Buffer());
  page->SetPageVersion(version);
  page->SetPageType(pageType_);
  InitInternalFileHeader(DataArea(page.Get()), 0);
  page.SetDirty();
}

THDBInternalDBTransactedAccessFile::SizeInfo THDBInternalDBTransactedAccessFile::GetSize(TSessionID session,
                                                                                         bool revalidate) {
  CheckOpen("GetSize");
  THDBPinnedPage page(manager_, manager_.GetPage(session, startPageNo_, revalidate, pageType_));
  const std::uint8_t* data = DataArea(page.Get());
  return {IFH::StoredSize::Get(data), IFH::PlainSize::Get(data), IFH::CompressionAlgorithm::Get(data), page->IsRead};
}

void THDBInternalDBTransactedAccessFile::SetSize(TSessionID session, std::int32_t storedSize, std::uint8_t algorithm,
                                                 std::int32_t plainSize) {
  CheckOpen("SetSize");
  const std::uint32_t pds = manager_.PageDataSize();
  THDBPinnedPage first(manager_, manager_.GetPage(session, startPageNo_, true, pageType_));
  const std::int32_t current = IFH::StoredSize::Get(DataArea(first.Get()));
  const std::int32_t have = InternalFilePagesNeeded(current < 0 ? storedSize : current, pds);
  const std::int32_t want = InternalFilePagesNeeded(storedSize, pds);
  if (want != have) {
    // Walk to the page that will stay the last one (growing: the current last page).
    const std::int32_t keep = std::min(have, want);
    std::int32_t lastNo = startPageNo_;
    for (std::int32_t i = 1; i < keep; ++i) {
      std::int32_t next;
      {
        THDBPinnedPage p(manager_, manager_.GetPage(session, lastNo, true, pageType_));
        next = p->NextPageNo();
      }
      if (next == -1) RaiseHDB(Errors::TableFilePageMissing, i);
      lastNo = next;
    }
    THDBPinnedPage tail = lastNo == startPageNo_ ? THDBPinnedPage()
                                                 : THDBPinnedPage(manager_, manager_.GetPage(session, lastNo, true, pageType_));
    THDBPage* tailPage = tail ? tail.Get() : first.Get();
    if (want > have) {
      std::vector<THDBPinnedPage> added;
      THDBPage* prev = tailPage;
      for (std::int32_t i = have; i < want; ++i) {
        added.emplace_back(manager_, manager_.AddPage(session, pageType_));
        prev->SetNextPageNo(added.back()->PageNo());
        prev->IsDirty = true;
        prev = added.back().Get();
      }
    } else {
      // The pages behind the new end are unlinked and returned at the commit, so a
      // later growth cannot orphan them.
      const std::int32_t surplus = tailPage->NextPageNo();
      tailPage->SetNextPageNo(-1);
      tailPage->IsDirty = true;
      RemoveChain(session, surplus);
    }
  }
  std::uint8_t* data = DataArea(first.Get());
  IFH::StoredSize::Set(data, storedSize);
  IFH::PlainSize::Set(data, plainSize);
  IFH::CompressionAlgorithm::Set(data, algorithm);
  first.SetDirty();
}

std::int32_t THDBInternalDBTransactedAccessFile::WalkContent(TSessionID session, std::int32_t count, bool revalidate,
                                                             const ContentVisitor& visit) {
  const std::uint32_t pds = manager_.PageDataSize();
  std::int32_t done = 0;
  std::int32_t no = startPageNo_;
  std::uint32_t offset = IFH::Size;
  // A damaged chain may lead back to a page already met; walking on would hand out
  // the same bytes again as content.
  std::unordered_set<std::int32_t> seen;
  for (std::int32_t step = 0; no != -1 && done < count; ++step) {
    if (!seen.insert(no).second) RaiseHDB(Errors::TableFilePageMissing, step);
    THDBPinnedPage page(manager_, manager_.GetPage(session, no, revalidate, pageType_));
    const std::int32_t n = std::min<std::int32_t>(static_cast<std::int32_t>(pds - offset), count - done);
    if (n > 0) {
      visit(page, offset, done, n);
      done += n;
    }
    no = page->NextPageNo();
    offset = 0;
  }
  return done;
}

std::vector<std::uint8_t> THDBInternalDBTransactedAccessFile::ReadStored(TSessionID session, std::int32_t count,
                                                                         bool revalidate) {
  // Grown page by page: a damaged recorded size must not allocate more than the chain
  // actually holds.
  std::vector<std::uint8_t> out;
  WalkContent(session, count, revalidate,
              [&](THDBPinnedPage& page, std::uint32_t offset, std::int32_t, std::int32_t n) {
                const std::uint8_t* from = DataArea(page.Get()) + offset;
                out.insert(out.end(), from, from + n);
              });
  return out;
}

std::vector<std::uint8_t> THDBInternalDBTransactedAccessFile::Inflate(TSessionID session, const SizeInfo& size,
                                                                      bool revalidate, std::int32_t count) {
  if (size.Algorithm != caZlib) {
    RaiseHDB(Errors::DecompressionFailed,
             Format("compression algorithm %d is not supported", static_cast<int>(size.Algorithm)));
  }
  const std::vector<std::uint8_t> stored = ReadStored(session, size.StoredSize, revalidate);
  const auto got = static_cast<std::int32_t>(stored.size());
  if (got < size.StoredSize) RaiseHDB(Errors::InternalFileChainTooShort, size.StoredSize, got, count);
  std::vector<std::uint8_t> plain;
  std::string error;
  if (!ZlibDecompress(stored.data(), stored.size(), static_cast<std::size_t>(std::max(size.PlainSize, 0)), plain,
                      error))
    RaiseHDB(Errors::DecompressionFailed, error);
  return plain;
}

void THDBInternalDBTransactedAccessFile::WriteFile(TSessionID session, const void* data, int level,
                                                   std::uint8_t algorithm, std::int32_t count) {
  CheckOpen("WriteFile");
  assert(count >= 0);
  const std::uint8_t* stored = static_cast<const std::uint8_t*>(data);
  std::int32_t storedSize = count;
  std::vector<std::uint8_t> compressed;
  if (algorithm != caNone) {
    if (algorithm != caZlib || count == 0) RaiseHDB(Errors::CompressionFailed);
    auto out = ZlibCompress(data, static_cast<std::size_t>(count), level);
    if (!out) RaiseHDB(Errors::CompressionFailed);
    compressed = std::move(*out);
    stored = compressed.data();
    storedSize = static_cast<std::int32_t>(compressed.size());
  }
  SetSize(session, storedSize, algorithm, count);
  WalkContent(session, storedSize, true,
              [&](THDBPinnedPage& page, std::uint32_t offset, std::int32_t done, std::int32_t n) {
                std::memcpy(DataArea(page.Get()) + offset, stored + done, static_cast<std::size_t>(n));
                page.SetDirty();
              });
}

void THDBInternalDBTransactedAccessFile::ReadFile(TSessionID session, void* buffer, bool revalidate,
                                                  std::int32_t count) {
  CheckOpen("ReadFile");
  const SizeInfo size = GetSize(session, revalidate);
  if (size.PlainSize < count) RaiseHDB(Errors::InternalFileTooShort, size.PlainSize, count);
  if (size.Algorithm == caNone) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    const std::int32_t got = WalkContent(
        session, count, revalidate, [&](THDBPinnedPage& page, std::uint32_t offset, std::int32_t done, std::int32_t n) {
          std::memcpy(out + done, DataArea(page.Get()) + offset, static_cast<std::size_t>(n));
        });
    if (got < count) RaiseHDB(Errors::InternalFileChainTooShort, count, got, count);
    return;
  }
  const std::vector<std::uint8_t> plain = Inflate(session, size, revalidate, count);
  if (count > 0) std::memcpy(buffer, plain.data(), static_cast<std::size_t>(count));
}

std::vector<std::uint8_t> THDBInternalDBTransactedAccessFile::ReadAll(TSessionID session, bool revalidate) {
  CheckOpen("ReadFile");
  const SizeInfo size = GetSize(session, revalidate);
  if (size.PlainSize < 0) RaiseHDB(Errors::InternalFileTooShort, size.PlainSize, 0);
  if (size.Algorithm != caNone) return Inflate(session, size, revalidate, size.PlainSize);
  std::vector<std::uint8_t> content = ReadStored(session, size.PlainSize, revalidate);
  const auto got = static_cast<std::int32_t>(content.size());
  if (got < size.PlainSize) RaiseHDB(Errors::InternalFileChainTooShort, size.PlainSize, got, size.PlainSize);
  return content;
}

}  // namespace hdb

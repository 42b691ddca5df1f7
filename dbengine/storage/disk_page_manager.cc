#include "dbengine/storage/disk_page_manager.h"

#include <algorithm>
#include <cassert>
#include <climits>
#include <cstring>
#include <exception>
#include <new>

#include "dbengine/platform/posix_file.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/page_header.h"

namespace hdb {

namespace {

template <class Fn>
bool Retry(int tries, Fn&& attempt) {
  for (int i = 0; i < tries; ++i) {
    if (i > 0) platform::SleepMs(LockRetryPauseMs);
    if (attempt()) return true;
  }
  return false;
}

// The signature as found, printable: control bytes shown as '.'.
std::string PrintableSignature(const THDBFileHeader& header) {
  std::string text = header.SignatureText();
  for (char& c : text)
    if (static_cast<unsigned char>(c) < 0x20) c = '.';
  return text;
}

// The writability probe of an existing file: read its first byte and write it back.
bool ProbeWritable(const std::string& fileName) {
  int err = 0;
  int fd = platform::OpenExisting(fileName, platform::OpenAccess::ReadWrite, err);
  if (fd == platform::InvalidHandle) return false;
  bool writable = true;
  unsigned char first = 0;
  std::size_t got = 0;
  if (platform::ReadAt(fd, &first, 1, 0, got, err) && got == 1)
    writable = platform::WriteAt(fd, &first, 1, 0, err);
  platform::CloseHandle(fd, err);
  return writable;
}

}  // namespace

THDBHeaderLockGuard::THDBHeaderLockGuard(THDBDiskPageManager& manager, const THDBErrorDef& failure, int tries)
    : manager_(manager) {
  if (!manager_.HeaderLock(tries)) RaiseHDB(failure);
}

THDBDiskPageManager::THDBDiskPageManager() {
  header_ = THDBFileHeader::Fresh();
  securityBlock_ = THDBSecurityBlock::Fresh();
  lockBlock_ = THDBLockBlock::Fresh();
  ResetPositions();
}

THDBDiskPageManager::~THDBDiskPageManager() {
  if (!file_.IsOpen()) return;
  try {
    Close();
  } catch (...) {
    // A destructor cannot report the dropped changes; Close has rolled them back.
  }
}

void THDBDiskPageManager::ResetPositions() {
  headerPosition_ = 0;
  securityBlockPosition_ = FileHeaderLayout::Size;
  lockBlockPosition_ = securityBlockPosition_ + SecurityBlockLayout::Size;
  counterPosition_ = lockBlockPosition_ + LockBlockLayout::Size;
  pagesStart_ = counterPosition_ + ObjectIDCounterSize;
}

bool THDBDiskPageManager::Open(const std::string& fileName, const THDBPassword& password, bool& multiUser,
                               bool exclusive, bool& readOnly) {
  if (file_.IsOpen()) RaiseHDB(Errors::OpenFileInUse, fileName);
  password_ = password;
  committedImages_.Clear();
  mapPages_.Clear();
  try {
    if (!readOnly && platform::FileExists(fileName)) {
      if (platform::HasReadOnlyAttribute(fileName)) {
        readOnly = true;
        multiUser = false;
      } else if (!ProbeWritable(fileName)) {
        readOnly = true;
      }
    }
    multiUser_ = multiUser;
    exclusive_ = exclusive;
    std::uint8_t access = THDBDatabaseFile::AccessReadWrite;
    std::uint8_t share = THDBDatabaseFile::ShareReadWrite;
    if (readOnly) {
      access = THDBDatabaseFile::AccessRead;
    } else if (exclusive) {
      share = THDBDatabaseFile::ShareNone;
      multiUser_ = false;
    }
    file_.OpenFile(fileName, access, share);
    // A reader whose locks cannot keep other processes out could share a connection
    // slot with another reader: it works single-user, where sharing the claim is
    // harmless.
    if (readOnly && !file_.LocksExclusively()) multiUser_ = false;

    ResetPositions();
    bool needsRepair = false;
    {
      THDBHeaderLockGuard lock(*this, Errors::DatabaseLockedAtOpen);
      // A commit that did not finish is undone before anything is read. A reader that
      // cannot write leaves the journal; the file's state byte tells it what it has.
      if (!readOnly) RecoverJournal(false);
      headerPosition_ = file_.FindHeaderPosition();
      ReadHeader();
      needsRepair = header_.NeedsRepair();
    }
    if (!header_.HasSignature())
      RaiseHDB(Errors::InvalidSignature, PrintableSignature(header_), std::string(FileSignature));
    if (header_.PageSize() <= PageHeaderLayout::Size) RaiseHDB(Errors::InvalidDatabaseFormat);
    const auto dataSize = static_cast<std::uint16_t>(header_.PageSize() - PageHeaderLayout::Size);
    if (!THDBDatabaseFreeSpaceManager::LayoutFits(dataSize, header_.ExtentPageCount()))
      RaiseHDB(Errors::InvalidDatabaseFormat);
    SetPageSize(header_.PageSize(), PageHeaderLayout::Size);

    securityBlockPosition_ = headerPosition_ + header_.HeaderSize();
    lockBlockPosition_ = securityBlockPosition_ + SecurityBlockLayout::Size;
    ReadSecurityBlock();
    if (header_.EncryptedFlag() != 0) RaiseHDB(Errors::EncryptedNotSupported);
    if (securityBlockPosition_ + securityBlock_.BlockSize() != lockBlockPosition_)
      RaiseHDB(Errors::InvalidDatabaseFormat);
    ReadLockBlock();
    // The lock bytes must lie inside the lock block, and a file cut short before its
    // first page cannot be a database.
    if (lockBlock_.BlockSize() <= LockBlockLayout::HeaderLockByte) RaiseHDB(Errors::InvalidDatabaseFormat);
    counterPosition_ = lockBlockPosition_ + lockBlock_.BlockSize();
    pagesStart_ = counterPosition_ + ObjectIDCounterSize;
    if (file_.GetSize() < pagesStart_) RaiseHDB(Errors::InvalidDatabaseFormat);
    freeSpace_ = std::make_unique<THDBDatabaseFreeSpaceManager>(*this);
    multiUser = multiUser_;
    return needsRepair;
  } catch (...) {
    Close();
    throw;
  }
}

void THDBDiskPageManager::Create(const std::string& fileName, const THDBPassword& password,
                                 std::uint16_t extentPageCount, std::uint16_t pageSize) {
  if (file_.IsOpen()) RaiseHDB(Errors::CreateFileInUse, fileName);
  if (!password.Text.empty()) RaiseHDB(Errors::EncryptionNotSupported);
  if (pageSize < MinimumPageSize) RaiseHDB(Errors::InvalidPageSize, pageSize, MinimumPageSize);
  const auto dataSize = static_cast<std::uint16_t>(pageSize - PageHeaderLayout::Size);
  if (!THDBDatabaseFreeSpaceManager::LayoutFits(dataSize, extentPageCount))
    RaiseHDB(Errors::InvalidExtentPageCount, extentPageCount);
  password_ = password;
  SetPageSize(pageSize, PageHeaderLayout::Size);
  try {
    file_.CreateFile(fileName);
    // A journal of the file this one replaces must never be rolled back into it.
    THDBRollbackJournal::RemoveFor(fileName);
    multiUser_ = false;
    exclusive_ = true;
    header_ = THDBFileHeader::Fresh(pageSize, extentPageCount);
    securityBlock_ = THDBSecurityBlock::Fresh();
    lockBlock_ = THDBLockBlock::Fresh();
    ResetPositions();
    WriteHeader();
    WriteSecurityBlock();
    WriteLockBlock();
    if (CounterLock()) {
      std::uint8_t zero[ObjectIDCounterSize] = {};
      try {
        if (!IsReadOnly()) file_.Write(zero, Errors::CounterInit, counterPosition_, ObjectIDCounterSize);
      } catch (...) {
        CounterUnlock();
        throw;
      }
      CounterUnlock();
    }
    freeSpace_ = std::make_unique<THDBDatabaseFreeSpaceManager>(*this);
  } catch (...) {
    Close();
    throw;
  }
}

void THDBDiskPageManager::Close() {
  std::exception_ptr failure;
  bool dropped = false;
  if (file_.IsOpen() && freeSpace_) {
    try {
      dropped = RollbackPendingChanges();
    } catch (...) {
      failure = std::current_exception();
    }
  }
  freeSpace_.reset();
  ClearSharedCache();
  committedImages_.Clear();
  mapPages_.Clear();
  if (file_.IsOpen() && !IsReadOnly()) {
    // The journal file goes with the last user that finds it idle; one that holds a
    // commit to undo stays for the next open.
    try {
      if (HeaderLock(1)) {
        try {
          journal_.RemoveIfIdle();
        } catch (const EHDBException&) {
        }
        HeaderUnlock();
      }
    } catch (const EHDBException&) {
    }
  }
  if (file_.IsOpen()) {
    try {
      file_.CloseFile();
    } catch (const EHDBException&) {
      // A failed close is treated as closed; the descriptor is gone either way.
    }
  }
  headerLockDepth_ = 0;
  heldHeaderLockPosition_ = -1;
  journalPending_ = false;
  if (failure) std::rethrow_exception(failure);
  if (dropped) RaiseHDB(Errors::NonCommittedPages);
}

void THDBDiskPageManager::CheckWritable() const {
  if (IsReadOnly()) RaiseHDB(Errors::ReadOnlyDatabase, file_.FileName());
}

void THDBDiskPageManager::ReadHeader() {
  if (!file_.IsOpen()) RaiseHDB(Errors::HeaderReadNotOpened);
  // A short file must not leave the previous image's bytes behind.
  THDBFileHeader::Image image{};
  file_.Read(image.data(), Errors::HeaderRead, headerPosition_, FileHeaderLayout::Size);
  header_.Bytes() = image;
}

void THDBDiskPageManager::WriteHeader() {
  if (!file_.IsOpen()) RaiseHDB(Errors::HeaderWriteNotOpened);
  file_.Write(header_.Bytes().data(), Errors::HeaderWrite, headerPosition_, FileHeaderLayout::Size);
}

void THDBDiskPageManager::ReadSecurityBlock() {
  if (!file_.IsOpen()) RaiseHDB(Errors::SecurityReadNotOpened);
  THDBSecurityBlock::Image image{};
  file_.Read(image.data(), Errors::SecurityRead, securityBlockPosition_, SecurityBlockLayout::Size);
  securityBlock_.Bytes() = image;
}

void THDBDiskPageManager::WriteSecurityBlock() {
  if (!file_.IsOpen()) RaiseHDB(Errors::SecurityWriteNotOpened);
  file_.Write(securityBlock_.Bytes().data(), Errors::SecurityWrite, securityBlockPosition_,
              SecurityBlockLayout::Size);
}

void THDBDiskPageManager::ReadLockBlock() {
  if (!file_.IsOpen()) RaiseHDB(Errors::LockBlockReadNotOpened);
  // Only the block's size is read: its other bytes are lock bytes that other
  // processes may hold.
  THDBLockBlock::Image image{};
  file_.Read(image.data(), Errors::LockBlockRead, lockBlockPosition_, LockBlockLayout::BlockSize::size);
  lockBlock_.Bytes() = image;
}

void THDBDiskPageManager::WriteLockBlock() {
  if (!file_.IsOpen()) RaiseHDB(Errors::LockBlockWriteNotOpened);
  file_.Write(lockBlock_.Bytes().data(), Errors::LockBlockWrite, lockBlockPosition_, LockBlockLayout::Size);
}

bool THDBDiskPageManager::HeaderLock(int tries) {
  assert(headerLockDepth_ >= 0);
  if (headerLockDepth_ > 0) {
    ++headerLockDepth_;
    return true;
  }
  const std::int64_t position = HeaderLockPosition();
  if (!Retry(tries, [&] { return file_.LockByte(1, position); })) return false;
  heldHeaderLockPosition_ = position;
  headerLockDepth_ = 1;
  return true;
}

void THDBDiskPageManager::HeaderUnlock() {
  assert(headerLockDepth_ > 0);
  if (headerLockDepth_ <= 0) return;
  if (--headerLockDepth_ == 0) {
    // Once the lock is free, other processes may change the map pages.
    if (multiUser_) mapPages_.Clear();
    if (file_.IsOpen()) file_.UnlockByte(1, heldHeaderLockPosition_);
    heldHeaderLockPosition_ = -1;
  }
}

void THDBDiskPageManager::TablesLock() {
  const std::int64_t position = TablesLockPosition();
  if (!Retry(TablesLockRetryCount, [&] { return file_.LockByte(1, position); })) RaiseHDB(Errors::TablesLocked);
}

void THDBDiskPageManager::TablesUnlock() {
  if (!file_.UnlockByte(1, TablesLockPosition())) RaiseHDB(Errors::CannotUnlockTables);
}

bool THDBDiskPageManager::CounterLock(int tries) {
  const std::int64_t position = counterPosition_;
  return Retry(tries, [&] { return file_.LockByte(1, position); });
}

void THDBDiskPageManager::CounterUnlock() { file_.UnlockByte(1, counterPosition_); }

std::int32_t THDBDiskPageManager::GetPageCount() {
  THDBHeaderLockGuard lock(*this, Errors::DatabaseLockedForPageCount, 1);
  ReadHeader();
  return header_.TotalPageCount();
}

std::int64_t THDBDiskPageManager::PageOffset(PageNo pageNo) const {
  if (pageNo < 0) RaiseHDB(Errors::InvalidPageNo, pageNo);
  return pagesStart_ + static_cast<std::int64_t>(pageNo) * static_cast<std::int64_t>(PageSize());
}

void THDBDiskPageManager::CheckPageRange(PageNo pageNo, std::uint32_t count, std::uint32_t offset,
                                         bool forWrite) const {
  std::uint64_t end = static_cast<std::uint64_t>(offset) + count;
  if (end > PageSize()) {
    RaiseHDB(forWrite ? Errors::InvalidPageWriteOffset : Errors::InvalidPageReadOffset, static_cast<std::int64_t>(end),
             PageSize());
  }
}

void THDBDiskPageManager::ReadPageRange(void* buffer, PageNo pageNo, std::uint32_t count, std::uint32_t offset) {
  CheckPageRange(pageNo, count, offset, false);
  file_.Read(buffer, Errors::DirectPageRead, PageOffset(pageNo) + offset, count);
}

void THDBDiskPageManager::WritePageRange(const void* buffer, PageNo pageNo, std::uint32_t count,
                                         std::uint32_t offset) {
  CheckWritable();
  CheckPageRange(pageNo, count, offset, true);
  committedImages_.Drop(pageNo);
  file_.Write(buffer, Errors::DirectPageWrite, PageOffset(pageNo) + offset, count);
}

bool THDBDiskPageManager::LockPageBytes(PageNo pageNo, std::uint32_t offset, std::uint32_t count) {
  return file_.LockByte(count, PageOffset(pageNo) + offset);
}

bool THDBDiskPageManager::UnlockPageBytes(PageNo pageNo, std::uint32_t offset, std::uint32_t count) {
  return file_.UnlockByte(count, PageOffset(pageNo) + offset);
}

bool THDBDiskPageManager::IsPageByteLocked(PageNo pageNo, std::uint32_t offset) {
  return file_.IsByteLocked(PageOffset(pageNo) + offset);
}

bool THDBDiskPageManager::IsPageRegionLocked(PageNo pageNo, std::uint32_t offset, std::uint32_t count) {
  return file_.IsRegionLocked(count, PageOffset(pageNo) + offset);
}

std::int32_t THDBDiskPageManager::NextObjectID() {
  if (!file_.IsOpen()) RaiseHDB(Errors::NextObjectIDNotOpened);
  if (!CounterLock()) RaiseHDB(Errors::NextObjectIDLocked);
  std::int32_t result = 0;
  try {
    std::uint8_t bytes[ObjectIDCounterSize] = {};
    file_.Read(bytes, Errors::CounterRead, counterPosition_, ObjectIDCounterSize);
    result = le::Load<std::int32_t>(bytes, 0) + 1;
    if (!IsReadOnly()) {
      le::Store<std::int32_t>(bytes, 0, result);
      file_.Write(bytes, Errors::CounterWrite, counterPosition_, ObjectIDCounterSize);
    } else {
      // Another reader may hand out the same number; the random offset keeps the
      // ids of read-only sessions apart.
      result += static_cast<std::int32_t>(platform::RandomBelow(10000));
    }
  } catch (...) {
    CounterUnlock();
    throw;
  }
  CounterUnlock();
  return result;
}

// ---- Pages ---------------------------------------------------------------------------

bool THDBDiskPageManager::IsPageCurrent(TSessionID session, THDBPage* page) {
  if (!multiUser_) return true;
  return tablePagesCache_.IsPageCurrent(session, *page);
}

void THDBDiskPageManager::MarkPageCurrent(TSessionID session, THDBPage* page) {
  if (multiUser_) tablePagesCache_.MarkPageCurrent(session, *page);
}

void THDBDiskPageManager::AllocatePageNo(THDBPage* page) {
  assert(freeSpace_);
  CheckWritable();
  if (journalPending_) RecoverPendingJournal();
  const std::int32_t pageNo = freeSpace_->AllocatePage();
  page->SetPageNo(pageNo);
  page->FreshBuffer(PageSize(), true);
}

void THDBDiskPageManager::FreePageNo(std::int32_t pageNo) {
  assert(freeSpace_);
  CheckWritable();
  if (journalPending_ && HeaderLockDepth() == 0) RecoverPendingJournal();
  std::uint8_t mark[4];
  le::Store<std::int32_t>(mark, 0, FreedPageVersion);
  committedImages_.Drop(pageNo);
  file_.Write(mark, Errors::FreedMarkWrite, PageOffset(pageNo) + PageHeaderLayout::PageVersion::offset, 4);
  freeSpace_->FreePage(pageNo);
}

bool THDBDiskPageManager::ReadPage(THDBPage* page) {
  if (!page->HasBuffer()) page->FreshBuffer(PageSize(), false);
  if (!file_.IsOpen() || !file_.ReadBuffer(page->Buffer(), PageOffset(page->PageNo()), PageSize())) {
    page->SetPageVersion(FreedPageVersion);
    return false;
  }
  // Pages are stored in plain: encrypted files are refused when opened.
  page->IsRead = true;
  return true;
}

void THDBDiskPageManager::WritePage(THDBPage* page) {
  assert(page->HasBuffer() && page->BufferSize() >= PageSize());
  CheckWritable();
  // Counted wide: a page read with the freed mark carries 0x7FFFFFFF.
  const std::int64_t version = static_cast<std::int64_t>(page->PageVersion()) + 1;
  page->SetPageVersion(version >= PageVersionWrap ? 0 : static_cast<std::int32_t>(version));
  // A map page's copy is renewed by the free-space step that writes it, a committed
  // image by the commit that writes the page; any other write leaves them unknown.
  if (mapPages_.Count() > 0) mapPages_.Drop(page->PageNo());
  if (committedImages_.Count() > 0) committedImages_.Drop(page->PageNo());
  file_.Write(page->Buffer(), Errors::PageWrite, PageOffset(page->PageNo()), PageSize());
}

void THDBDiskPageManager::RevalidatePage(THDBPage* page) {
  std::uint8_t bytes[4];
  std::int32_t onDisk = FreedPageVersion;
  if (file_.ReadBuffer(bytes, PageOffset(page->PageNo()) + PageHeaderLayout::PageVersion::offset, 4))
    onDisk = le::Load<std::int32_t>(bytes, 0);
  if (onDisk == page->PageVersion() || onDisk == FreedPageVersion) return;
  ReadPage(page);
}

void THDBDiskPageManager::RemovePage(TSessionID session, std::int32_t pageNo) {
  assert(freeSpace_);
  freeSpace_->CheckNotMapPage(pageNo);
  CheckWritable();
  THDBPageManager::RemovePage(session, pageNo);
}

THDBPage* THDBDiskPageManager::GetPage(TSessionID session, std::int32_t pageNo, bool revalidate,
                                       std::uint16_t expectedType) {
  assert(freeSpace_);
  freeSpace_->CheckNotMapPage(pageNo);
  return THDBPageManager::GetPage(session, pageNo, revalidate, expectedType);
}

void THDBDiskPageManager::CommitPages(TSessionID session) {
  if (!HasPendingChanges(session)) return;
  // A commit its own checks refuse must not mark the file as being updated.
  CheckWritable();
  SessionPages& entry = SessionEntry(session);
  CheckCommittable(entry);
  THDBHeaderLockGuard lock(*this, Errors::DatabaseLockedAtCommit);
  ReadHeader();
  // State 1 under the lock: a commit did not finish (its process died, or its rollback
  // failed). The file must be back at its last committed state before this commit is
  // journaled over that one's journal. In state 2 a journal left behind undoes nothing:
  // its commit either had not begun writing in place or had finished.
  if (header_.DatabaseState() != DatabaseStateConsistent || journalPending_) {
    RecoverJournal(true);
    ReadHeader();
  }
  committedImages_.Validate(header_.ChangeCounter());
  const THDBFileHeader::Image before = header_.Bytes();
  const std::vector<std::int32_t> versions = PageVersions(entry);
  if (!journaling_) {
    committedImages_.Clear();
    header_.SetDatabaseState(DatabaseStateCommitting);
    WriteHeader();
    WriteSessionPages(entry);
    header_.SetChangeCounter(header_.ChangeCounter() + 1);
    header_.SetDatabaseState(DatabaseStateConsistent);
    WriteHeader();
    if (Flushing()) file_.FlushFileBuffers();
    FinishSessionCommit(entry);
    return;
  }
  JournalCommit(entry);
  try {
    header_.SetDatabaseState(DatabaseStateCommitting);
    WriteHeader();
    WriteSessionPages(entry);
    // The free-space steps of the commit re-read and re-wrote the header image, so it
    // carries their changes.
    header_.SetChangeCounter(header_.ChangeCounter() + 1);
    header_.SetDatabaseState(DatabaseStateConsistent);
    WriteHeader();
    // The pages must be on the disk before the journal that could undo them goes.
    if (Flushing()) file_.FlushFileBuffers();
    journal_.Finish();
  } catch (...) {
    // Nothing of the commit stays in the file, and the session's changes are as they
    // were before it: the caller can roll them back or commit again.
    try {
      journal_.RollBack();
    } catch (const EHDBException&) {
      // The journal stays; it is rolled back before this manager changes the file
      // again, or by the next open.
      journalPending_ = true;
    }
    committedImages_.Clear();
    mapPages_.Clear();
    header_.Bytes() = before;
    freeSpace_->LoadFromHeader();
    RestorePageVersions(entry, versions);
    throw;
  }
  KeepCommittedImages(entry);
  FinishSessionCommit(entry);
}

void THDBDiskPageManager::KeepCommittedImages(const SessionPages& entry) {
  try {
    committedImages_.SetChangeCounter(header_.ChangeCounter());
    std::vector<std::int32_t> removed = entry.RemovedPages;
    std::sort(removed.begin(), removed.end());
    for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i) {
      const THDBPage* page = entry.ChangedPages.At(i);
      if (!std::binary_search(removed.begin(), removed.end(), page->PageNo()) &&
          THDBCommittedImages::Keepable(page->PageType()))
        committedImages_.Keep(page->PageNo(), page->Buffer(), PageSize());
    }
  } catch (const std::bad_alloc&) {
    // The commit is done; without its images the next one reads them from the file.
    committedImages_.Clear();
  }
}

void THDBDiskPageManager::JournalCommit(const SessionPages& entry) {
  journal_.Begin(headerPosition_, header_.ChangeCounter());
  // The header was read under the lock just now.
  journal_.RecordImage(headerPosition_, header_.Bytes().data(), FileHeaderLayout::Size);
  // Pages this session allocated held no committed data: should the commit be undone
  // they are free again as far as anything committed is concerned, so their old bytes
  // are not needed.
  std::vector<std::int32_t> added = entry.AddedPages;
  std::sort(added.begin(), added.end());
  auto recordPage = [&](std::int32_t pageNo) {
    if (std::binary_search(added.begin(), added.end(), pageNo)) return;
    if (const std::uint8_t* image = committedImages_.Find(pageNo))
      journal_.RecordImage(PageOffset(pageNo), image, PageSize());
    else
      journal_.Record(PageOffset(pageNo), PageSize());
  };
  for (std::int32_t i = 0; i < entry.ChangedPages.Count(); ++i) recordPage(entry.ChangedPages.At(i)->PageNo());
  if (!entry.RemovedPages.empty()) {
    for (std::int32_t pageNo : entry.RemovedPages) recordPage(pageNo);
    // A free changes the PFS and EAM pages over the page, and may cut the free tail
    // of the file, map pages with it: every map page is recorded (a few per hundred
    // megabytes).
    const std::int64_t total = header_.TotalPageCount();
    for (std::int32_t g = 0; std::int64_t{g} * freeSpace_->PagesPerPFS() < total; ++g)
      journal_.Record(PageOffset(freeSpace_->PFSPageNo(g)), PageSize());
    for (std::int32_t e = 0; std::int64_t{e} * freeSpace_->PagesPerEAM() < total; ++e)
      journal_.Record(PageOffset(freeSpace_->EAMPageNo(e)), PageSize());
  }
  journal_.Write();
}

void THDBDiskPageManager::RecoverJournal(bool keepFinished) {
  assert(headerLockDepth_ > 0);
  const THDBRollbackJournal::TRecovery recovery = journal_.Recover(keepFinished);
  journalPending_ = false;
  if (recovery.Found != THDBRollbackJournal::TFound::None) {
    committedImages_.Clear();
    mapPages_.Clear();
  }
  if (!recovery.RolledBack) return;
  // Copies in the cache may hold what the interrupted commit wrote.
  for (const std::int64_t position : recovery.Positions) {
    if (position < pagesStart_ || PageSize() == 0) continue;
    const std::int64_t pageNo = (position - pagesStart_) / PageSize();
    if (pageNo <= INT32_MAX) DropCachedPage(static_cast<std::int32_t>(pageNo));
  }
}

void THDBDiskPageManager::RecoverPendingJournal() {
  THDBHeaderLockGuard lock(*this, Errors::DatabaseLockedAtCommit);
  RecoverJournal(false);
  ReadHeader();
  if (freeSpace_) freeSpace_->LoadFromHeader();
}

void THDBDiskPageManager::RecoverInterruptedCommit() {
  // Holding HeaderLock means no other process can be in a commit; the state byte is
  // then this process's own business.
  if (!multiUser_ || IsReadOnly() || !file_.IsOpen() || headerLockDepth_ > 0) return;
  std::uint8_t state = DatabaseStateConsistent;
  if (!file_.ReadBuffer(&state, headerPosition_ + FileHeaderLayout::DatabaseState::offset, 1) ||
      state == DatabaseStateConsistent)
    return;
  // State 1: another process is committing, or died doing it. Its commit holds
  // HeaderLock to the end, so once the lock is had any journal is a dead one's.
  if (!HeaderLock()) return;
  try {
    RecoverJournal(true);
  } catch (...) {
    HeaderUnlock();
    throw;
  }
  HeaderUnlock();
}

void THDBDiskPageManager::TruncateUnusedTail() {
  assert(freeSpace_);
  CheckWritable();
  THDBHeaderLockGuard lock(*this, Errors::DatabaseLockedAtFree);
  committedImages_.Clear();
  mapPages_.Clear();
  ReadHeader();
  freeSpace_->LoadFromHeader();
  const std::int32_t n = header_.TotalPageCount() - 1 - header_.LastUsedPageNo();
  if (n > 0) freeSpace_->RemoveTailPages(n);
}

}  // namespace hdb

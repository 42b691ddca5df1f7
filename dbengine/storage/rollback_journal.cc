#include "dbengine/storage/rollback_journal.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstring>

#include "dbengine/platform/posix_file.h"
#include "dbengine/platform/system_services.h"
#include "dbengine/storage/database_file.h"
#include "dbengine/storage/engine_crc.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace pf = platform;

namespace {

// The header's checksum covers everything before it.
std::uint32_t HeaderChecksum(const std::uint8_t* header) {
  return EngineCRC(header, JournalLayout::HeaderCRC::offset, JournalLayout::Nonce::Get(header));
}

}  // namespace

THDBRollbackJournal::~THDBRollbackJournal() { CloseJournal(); }

std::string THDBRollbackJournal::FileName() const { return NameFor(database_.FileName()); }

void THDBRollbackJournal::RaiseOpenError(int err) const {
  RaiseHDB(Errors::CannotOpenJournal, FileName(), err, pf::SystemErrorText(err));
}

void THDBRollbackJournal::RaiseIOError(const THDBErrorDef& failure, int err, std::int64_t position,
                                       std::size_t count) const {
  RaiseHDB(failure, FileName(), position, static_cast<std::int64_t>(count), err, pf::SystemErrorText(err));
}

void THDBRollbackJournal::CloseJournal() noexcept {
  if (handle_ == pf::InvalidHandle) return;
  int ignored = 0;
  pf::CloseHandle(handle_, ignored);
  handle_ = pf::InvalidHandle;
}

void THDBRollbackJournal::OpenForWrite(bool recheck) {
  // The descriptor stays open from one commit to the next. Another process removes an
  // idle journal only under HeaderLock, which this one holds now: a file that still has
  // its name is the journal beside the database. Within one hold it is checked once.
  if (handle_ != pf::InvalidHandle) {
    if (!recheck || pf::IsLinked(handle_)) return;
    CloseJournal();
  }
  int err = 0;
  handle_ = pf::OpenOrCreate(FileName(), created_, err);
  if (handle_ == pf::InvalidHandle) RaiseOpenError(err);
}

// ---- One commit ------------------------------------------------------------------------

void THDBRollbackJournal::Begin(std::int64_t headerPosition, std::int32_t changeCounter) {
  if (bytes_.size() < JournalLayout::Size) bytes_.resize(JournalLayout::Size);
  std::fill_n(bytes_.begin(), JournalLayout::Size, std::uint8_t{0});
  used_ = JournalLayout::Size;
  positions_.clear();
  headerPosition_ = headerPosition;
  changeCounter_ = changeCounter;
  databaseSize_ = database_.GetSize();
}

bool THDBRollbackJournal::IsRecorded(std::int64_t position) const {
  return std::find(positions_.begin(), positions_.end(), position) != positions_.end();
}

std::uint8_t* THDBRollbackJournal::AppendImage(std::int64_t position, std::uint32_t& count) {
  assert(position >= 0 && used_ >= JournalLayout::Size);
  if (position >= databaseSize_ || IsRecorded(position)) return nullptr;
  count = static_cast<std::uint32_t>(std::min<std::int64_t>(count, databaseSize_ - position));
  const std::size_t at = used_;
  // The buffer only grows (without filling what every image overwrites anyway): the
  // journal of the next commit reuses it.
  if (bytes_.size() < at + JournalImageLayout::Size + count)
    bytes_.resize(std::max(at + JournalImageLayout::Size + count, bytes_.size() * 2));
  JournalImageLayout::Position::Set(bytes_.data() + at, position);
  JournalImageLayout::Count::Set(bytes_.data() + at, count);
  return bytes_.data() + at + JournalImageLayout::Size;
}

void THDBRollbackJournal::Record(std::int64_t position, std::uint32_t count) {
  std::uint8_t* image = AppendImage(position, count);
  if (!image) return;
  database_.Read(image, Errors::JournalImageRead, position, count);
  used_ = static_cast<std::size_t>(image + count - bytes_.data());
  positions_.push_back(position);
}

void THDBRollbackJournal::RecordImage(std::int64_t position, const std::uint8_t* current, std::uint32_t count) {
  std::uint8_t* image = AppendImage(position, count);
  if (!image) return;
  std::memcpy(image, current, count);
  used_ = static_cast<std::size_t>(image + count - bytes_.data());
  positions_.push_back(position);
}

std::vector<THDBRollbackJournal::ImageRef> THDBRollbackJournal::CollectedImages() const {
  std::vector<ImageRef> images;
  images.reserve(positions_.size());
  std::size_t at = JournalLayout::Size;
  while (at < used_) {
    const std::uint32_t count = JournalImageLayout::Count::Get(bytes_.data() + at);
    images.push_back({JournalImageLayout::Position::Get(bytes_.data() + at),
                      bytes_.data() + at + JournalImageLayout::Size, count});
    at += JournalImageLayout::Size + count;
  }
  assert(at == used_ && images.size() == positions_.size());
  return images;
}

void THDBRollbackJournal::Write() {
  assert(used_ >= JournalLayout::Size);
  const std::size_t contentSize = used_ - JournalLayout::Size;
  std::uint8_t* header = bytes_.data();
  std::uint32_t nonce = 0;
  pf::RandomBytes(&nonce, sizeof nonce);
  JournalLayout::Signature::Set(header, JournalSignature);
  JournalLayout::Version::Set(header, JournalFormatVersion);
  JournalLayout::Nonce::Set(header, nonce);
  JournalLayout::DatabaseSize::Set(header, databaseSize_);
  JournalLayout::ImageCount::Set(header, static_cast<std::int32_t>(positions_.size()));
  JournalLayout::ChangeCounter::Set(header, changeCounter_);
  JournalLayout::ContentSize::Set(header, static_cast<std::int64_t>(contentSize));
  JournalLayout::ContentCRC::Set(header, EngineCRC(header + JournalLayout::Size, contentSize, nonce));
  JournalLayout::HeaderPosition::Set(header, headerPosition_);
  JournalLayout::HeaderCRC::Set(header, HeaderChecksum(header));

  OpenForWrite(true);
  int err = 0;
  // One write: header and images together. Should only part of it reach the disk,
  // the checksums tell.
  if (!pf::WriteAt(handle_, bytes_.data(), used_, 0, err)) {
    // Nothing has been written in place: a journal that may be whole would only be
    // rolled back to the file as it is, but it must not outlive this commit.
    try {
      Invalidate();
    } catch (const EHDBException&) {
    }
    CloseJournal();
    RaiseIOError(Errors::CannotWriteJournal, err, 0, used_);
  }
  if (flushing_) {
    const bool flushed = pf::Flush(handle_, err) && (!created_ || pf::SyncFolderOf(FileName(), err));
    if (!flushed) {
      try {
        Invalidate();
      } catch (const EHDBException&) {
      }
      CloseJournal();
      RaiseIOError(Errors::CannotFlushJournal, err, 0, used_);
    }
  }
  created_ = false;
}

void THDBRollbackJournal::Invalidate(bool recheck) {
  OpenForWrite(recheck);
  std::uint8_t zero[JournalLayout::Size] = {};
  int err = 0;
  if (!pf::WriteAt(handle_, zero, sizeof zero, 0, err))
    RaiseIOError(Errors::CannotWriteJournal, err, 0, sizeof zero);
  if (flushing_ && !pf::Flush(handle_, err))
    RaiseIOError(Errors::CannotFlushJournal, err, 0, sizeof zero);
}

void THDBRollbackJournal::Finish() {
  // Write opened and checked the descriptor under the HeaderLock held since.
  Invalidate(false);
  positions_.clear();
  used_ = JournalLayout::Size;
}

void THDBRollbackJournal::Restore(const std::vector<ImageRef>& images, std::int64_t databaseSize) {
  // The length first: pages cut off by a free during the commit come back (their
  // images, where they had any, are written next), pages beyond it go.
  if (database_.GetSize() != databaseSize) database_.SetSize(databaseSize);
  // Backwards, so the file header (recorded first) goes back last: until every page is
  // restored the file keeps state 1, and a rollback stopped half way is done again by
  // whoever finds the file so.
  for (auto image = images.rbegin(); image != images.rend(); ++image) {
    if (image->Count > 0) database_.Write(image->Data, Errors::JournalImageRestore, image->Position, image->Count);
  }
  if (flushing_) database_.FlushFileBuffers();
}

void THDBRollbackJournal::RollBack() {
  try {
    Restore(CollectedImages(), databaseSize_);
    Finish();
  } catch (...) {
    CloseJournal();
    throw;
  }
}

// ---- Left by a commit that did not finish ----------------------------------------------

THDBRollbackJournal::Parsed THDBRollbackJournal::ReadJournal() {
  Parsed parsed;
  int err = 0;
  int fd = pf::OpenExisting(FileName(), pf::OpenAccess::Read, err);
  if (fd == pf::InvalidHandle) {
    if (err == ENOENT) return parsed;
    RaiseOpenError(err);
  }
  struct Closer {
    int fd;
    ~Closer() {
      int ignored = 0;
      pf::CloseHandle(fd, ignored);
    }
  } closer{fd};
  std::int64_t fileSize = 0;
  if (!pf::GetSize(fd, fileSize, err))
    RaiseIOError(Errors::CannotReadJournal, err, 0, 0);
  auto readAt = [&](void* buffer, std::size_t count, std::int64_t position) {
    std::size_t got = 0;
    if (!pf::ReadAt(fd, buffer, count, position, got, err))
      RaiseIOError(Errors::CannotReadJournal, err, position, count);
    return got == count;
  };
  if (fileSize == 0) return parsed;
  parsed.Found = TFound::Torn;
  std::uint8_t header[JournalLayout::Size] = {};
  if (!readAt(header, sizeof header, 0)) return parsed;
  if (!JournalLayout::Signature::Equals(header, JournalSignature)) return parsed;
  if (JournalLayout::Version::Get(header) != JournalFormatVersion) return parsed;
  if (JournalLayout::HeaderCRC::Get(header) != HeaderChecksum(header)) return parsed;
  const std::int64_t contentSize = JournalLayout::ContentSize::Get(header);
  const std::int32_t imageCount = JournalLayout::ImageCount::Get(header);
  const std::int64_t databaseSize = JournalLayout::DatabaseSize::Get(header);
  if (contentSize < 0 || contentSize > fileSize - static_cast<std::int64_t>(JournalLayout::Size) ||
      imageCount < 0 || databaseSize < 0)
    return parsed;
  std::vector<std::uint8_t>& content = parsed.Content;
  content.resize(static_cast<std::size_t>(contentSize));
  if (!readAt(content.data(), content.size(), JournalLayout::Size)) return parsed;
  if (EngineCRC(content.data(), content.size(), JournalLayout::Nonce::Get(header)) !=
      JournalLayout::ContentCRC::Get(header))
    return parsed;
  // The checksums hold; the images must still describe ranges of the old file.
  std::vector<ImageRef> images;
  std::size_t at = 0;
  for (std::int32_t i = 0; i < imageCount; ++i) {
    if (content.size() - at < JournalImageLayout::Size) return parsed;
    const std::int64_t position = JournalImageLayout::Position::Get(content.data() + at);
    const std::uint32_t count = JournalImageLayout::Count::Get(content.data() + at);
    at += JournalImageLayout::Size;
    if (position < 0 || count > content.size() - at || position > databaseSize - count) return parsed;
    images.push_back({position, content.data() + at, count});
    at += count;
  }
  if (at != content.size()) return parsed;
  parsed.Found = TFound::Complete;
  parsed.DatabaseSize = databaseSize;
  parsed.HeaderPosition = JournalLayout::HeaderPosition::Get(header);
  parsed.ChangeCounter = JournalLayout::ChangeCounter::Get(header);
  parsed.Images = std::move(images);
  return parsed;
}

THDBRollbackJournal::TFound THDBRollbackJournal::Inspect() { return ReadJournal().Found; }

THDBRollbackJournal::TRecovery THDBRollbackJournal::Recover(bool keepFinished) {
  TRecovery result;
  Parsed parsed = ReadJournal();
  result.Found = parsed.Found;
  if (parsed.Found == TFound::None) return result;
  if (parsed.Found == TFound::Complete) {
    bool finished = false;
    if (keepFinished) {
      THDBFileHeader::Image now{};
      if (parsed.HeaderPosition >= 0 &&
          database_.ReadBuffer(now.data(), parsed.HeaderPosition, FileHeaderLayout::Size)) {
        finished = FileHeaderLayout::DatabaseState::Get(now.data()) == DatabaseStateConsistent &&
                   FileHeaderLayout::ChangeCounter::Get(now.data()) == parsed.ChangeCounter + 1;
      }
    }
    if (!finished) {
      Restore(parsed.Images, parsed.DatabaseSize);
      result.RolledBack = true;
      for (const ImageRef& image : parsed.Images) result.Positions.push_back(image.Position);
    }
  }
  try {
    Invalidate();
  } catch (...) {
    CloseJournal();
    throw;
  }
  CloseJournal();
  return result;
}

void THDBRollbackJournal::RemoveIfIdle() {
  // Called between commits: the descriptor kept open is idle.
  CloseJournal();
  if (!pf::FileExists(FileName())) return;
  if (ReadJournal().Found != TFound::Complete) pf::RemoveFile(FileName());
}

void THDBRollbackJournal::RemoveFor(const std::string& databaseFileName) {
  pf::RemoveFile(NameFor(databaseFileName));
}

}  // namespace hdb

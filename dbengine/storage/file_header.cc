#include "dbengine/storage/file_header.h"

#include <cstring>

namespace hdb {

THDBFileHeader THDBFileHeader::Fresh(std::uint16_t pageSize, std::uint16_t extentPageCount) {
  THDBFileHeader h;
  FileHeaderLayout::Signature::Set(h.image_.data(), FileSignature);
  h.SetHeaderSize(static_cast<std::int16_t>(FileHeaderLayout::Size));
  h.SetFormatVersion(CurrentFormatVersion);
  h.SetPageSize(pageSize);
  h.SetExtentPageCount(extentPageCount);
  h.SetTotalPageCount(0);
  h.SetLastUsedPageNo(-1);
  h.SetChangeCounter(0);
  h.SetDatabaseState(DatabaseStateConsistent);
  h.SetEncryptedFlag(0);
  return h;
}

bool THDBFileHeader::HasSignature() const { return FileHeaderLayout::Signature::Equals(image_.data(), FileSignature); }

std::string THDBFileHeader::SignatureText() const {
  const auto* p = FileHeaderLayout::Signature::Ptr(image_.data());
  return std::string(reinterpret_cast<const char*>(p), FileHeaderLayout::Signature::size);
}

bool THDBFileHeader::NeedsRepair() const {
  return DatabaseState() != DatabaseStateConsistent || FormatVersion() < OldFormatLimit;
}

THDBSecurityBlock THDBSecurityBlock::Fresh() {
  THDBSecurityBlock b;
  SecurityBlockLayout::BlockSize::Set(b.image_.data(), static_cast<std::int16_t>(SecurityBlockLayout::Size));
  return b;
}

THDBLockBlock THDBLockBlock::Fresh() {
  THDBLockBlock b;
  LockBlockLayout::BlockSize::Set(b.image_.data(), static_cast<std::int16_t>(LockBlockLayout::Size));
  return b;
}

}  // namespace hdb

#include "dbengine/storage/system_directory.h"

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace SDE = SystemDirectoryEntryLayout;

void THDBSystemDirectory::Create() {
  file_.Create(SystemSessionID);
  if (file_.StartPageNo() != SystemDirectoryPageNo)
    RaiseHDB(Errors::SystemDirectoryNotAtPage2, file_.StartPageNo(), SystemDirectoryPageNo);
  entries_.clear();
}

void THDBSystemDirectory::Load() {
  file_.Open(SystemDirectoryPageNo);
  const std::vector<std::uint8_t> bytes = file_.ReadAll(SystemSessionID, true);
  entries_.clear();
  for (std::size_t at = 0; at + SDE::Size <= bytes.size(); at += SDE::Size)
    entries_.push_back({SDE::Kind::Get(&bytes[at]), SDE::StartPageNo::Get(&bytes[at])});
}

void THDBSystemDirectory::Save() {
  std::vector<std::uint8_t> bytes(entries_.size() * SDE::Size);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    SDE::Kind::Set(&bytes[i * SDE::Size], entries_[i].Kind);
    SDE::StartPageNo::Set(&bytes[i * SDE::Size], entries_[i].StartPageNo);
  }
  file_.WriteFile(SystemSessionID, bytes.data(), 0, caNone, static_cast<std::int32_t>(bytes.size()));
}

std::int32_t THDBSystemDirectory::Find(std::uint8_t kind) const {
  for (const auto& e : entries_)
    if (e.Kind == kind) return e.StartPageNo;
  return -1;
}

}  // namespace hdb

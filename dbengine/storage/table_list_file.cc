#include "dbengine/storage/table_list_file.h"

#include <algorithm>

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

namespace TLE = TableListEntryLayout;

namespace {
constexpr std::size_t MaxNameLength = 255;

std::string_view CutName(std::string_view name) { return name.substr(0, std::min(name.size(), MaxNameLength)); }

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }
}  // namespace

bool TableNamesMatch(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

std::int32_t THDBTableListFile::Create() {
  file_.Create(SystemSessionID);
  entries_.clear();
  return file_.StartPageNo();
}

void THDBTableListFile::Open(std::int32_t startPageNo) {
  if (file_.IsOpen()) RaiseHDB(Errors::TableListAlreadyOpened);
  file_.Open(startPageNo);
}

void THDBTableListFile::Load() {
  const std::vector<std::uint8_t> bytes = file_.ReadAll(SystemSessionID, true);
  entries_.clear();
  for (std::size_t at = 0; at + TLE::Size <= bytes.size(); at += TLE::Size) {
    const std::uint8_t* e = &bytes[at];
    TableListEntry entry;
    entry.Name.assign(reinterpret_cast<const char*>(TLE::Name::Ptr(e)), TLE::NameLength::Get(e));
    entry.TableID = TLE::TableID::Get(e);
    entry.DefinitionStartPageNo = TLE::DefinitionStartPageNo::Get(e);
    entry.StateStartPageNo = TLE::StateStartPageNo::Get(e);
    entry.LocksStartPageNo = TLE::LocksStartPageNo::Get(e);
    entries_.push_back(std::move(entry));
  }
}

void THDBTableListFile::Save() {
  std::vector<std::uint8_t> bytes(entries_.size() * TLE::Size, 0);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    std::uint8_t* e = &bytes[i * TLE::Size];
    const TableListEntry& entry = entries_[i];
    TLE::NameLength::Set(e, static_cast<std::uint8_t>(entry.Name.size()));
    std::copy(entry.Name.begin(), entry.Name.end(), TLE::Name::Ptr(e));
    TLE::TableID::Set(e, entry.TableID);
    TLE::DefinitionStartPageNo::Set(e, entry.DefinitionStartPageNo);
    TLE::StateStartPageNo::Set(e, entry.StateStartPageNo);
    TLE::LocksStartPageNo::Set(e, entry.LocksStartPageNo);
  }
  file_.WriteFile(SystemSessionID, bytes.data(), 0, caNone, static_cast<std::int32_t>(bytes.size()));
}

std::ptrdiff_t THDBTableListFile::IndexOf(std::string_view name) const {
  const std::string_view cut = CutName(name);
  for (std::size_t i = 0; i < entries_.size(); ++i)
    if (TableNamesMatch(entries_[i].Name, cut)) return static_cast<std::ptrdiff_t>(i);
  return -1;
}

void THDBTableListFile::Add(std::int32_t tableID, std::string_view name, std::int32_t locksStart,
                            std::int32_t stateStart, std::int32_t definitionStart) {
  if (IndexOf(name) >= 0) RaiseHDB(Errors::TableAlreadyExists, std::string(name));
  entries_.push_back({std::string(CutName(name)), tableID, definitionStart, stateStart, locksStart});
  Save();
}

std::optional<TableListEntry> THDBTableListFile::TryFind(std::string_view name) const {
  const std::ptrdiff_t i = IndexOf(name);
  if (i < 0) return std::nullopt;
  return entries_[static_cast<std::size_t>(i)];
}

TableListEntry THDBTableListFile::Find(std::string_view name) const {
  auto entry = TryFind(name);
  if (!entry) RaiseHDB(Errors::FindTableMissing, std::string(name));
  return *entry;
}

void THDBTableListFile::Delete(std::string_view name) {
  const std::ptrdiff_t i = IndexOf(name);
  if (i < 0) RaiseHDB(Errors::DeleteTableMissing, std::string(name));
  entries_.erase(entries_.begin() + i);
  Save();
}

void THDBTableListFile::Rename(std::string_view oldName, std::string_view newName) {
  const std::ptrdiff_t i = IndexOf(oldName);
  if (i < 0) RaiseHDB(Errors::RenameTableMissing, std::string(oldName));
  const std::ptrdiff_t other = IndexOf(newName);
  if (other >= 0 && other != i) RaiseHDB(Errors::RenameTableExists, std::string(newName));
  entries_[static_cast<std::size_t>(i)].Name = std::string(CutName(newName));
  Save();
}

void THDBTableListFile::ListNames(std::vector<std::string>& target) {
  Load();
  target.clear();
  for (const auto& e : entries_) target.push_back(e.Name);
}

}  // namespace hdb

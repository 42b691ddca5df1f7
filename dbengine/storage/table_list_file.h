// THDBTableListFile: the internal file that maps each table name to its object id and
// the start pages of its definition, state and locks files, as 272-byte entries in
// creation order. Names match without regard to the case of the ASCII letters only,
// and are cut to 255 characters. Every change is saved at once as the system session
// and reaches the file at that session's next commit.
//
// Not locked: every operation runs under the database object's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/transacted_file.h"

namespace hdb {

struct TableListEntry {
  std::string Name;
  std::int32_t TableID = 0;
  std::int32_t DefinitionStartPageNo = -1;
  std::int32_t StateStartPageNo = -1;
  std::int32_t LocksStartPageNo = -1;
};

namespace TableListEntryLayout {
using NameLength = le::Field<std::uint8_t, 0>;
using Name = le::Bytes<1, 255>;
using TableID = le::Field<std::int32_t, 256>;
using DefinitionStartPageNo = le::Field<std::int32_t, 260>;
using StateStartPageNo = le::Field<std::int32_t, 264>;
using LocksStartPageNo = le::Field<std::int32_t, 268>;
inline constexpr std::size_t Size = 272;
static_assert(LocksStartPageNo::end == Size);
}  // namespace TableListEntryLayout

// True when the names are equal once a-z are upper-cased (other bytes compare as they are).
bool TableNamesMatch(std::string_view a, std::string_view b);

class THDBTableListFile {
 public:
  explicit THDBTableListFile(THDBPageManager& manager) : file_(manager, ptTableList) {}

  std::int32_t Create();
  void Open(std::int32_t startPageNo);
  void Load();
  bool IsOpen() const { return file_.IsOpen(); }
  std::int32_t StartPageNo() const { return file_.StartPageNo(); }

  void Add(std::int32_t tableID, std::string_view name, std::int32_t locksStart, std::int32_t stateStart,
           std::int32_t definitionStart);
  // The entry, or 30396 when no name matches.
  TableListEntry Find(std::string_view name) const;
  std::optional<TableListEntry> TryFind(std::string_view name) const;
  void Delete(std::string_view name);
  void Rename(std::string_view oldName, std::string_view newName);
  // Reloads the entries from the file and gives their names in entry order.
  void ListNames(std::vector<std::string>& target);
  const std::vector<TableListEntry>& Entries() const { return entries_; }

 private:
  std::ptrdiff_t IndexOf(std::string_view name) const;
  void Save();

  THDBInternalDBTransactedAccessFile file_;
  std::vector<TableListEntry> entries_;
};

}  // namespace hdb

// THDBSystemDirectory: the internal file at page 2 that says where the other system
// files start, as 5-byte entries (kind, start page). Kind 1 is the table list, kind 2
// the active sessions file. Holds its entries in memory; written by the system session.
//
// Not locked: used under the database object's lock.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/storage/transacted_file.h"

namespace hdb {

inline constexpr std::int32_t SystemDirectoryPageNo = 2;

enum THDBSystemFileKind : std::uint8_t {
  sfTableList = 1,
  sfActiveSessions = 2,
};

struct SystemDirectoryEntry {
  std::uint8_t Kind;
  std::int32_t StartPageNo;
};

namespace SystemDirectoryEntryLayout {
using Kind = le::Field<std::uint8_t, 0>;
using StartPageNo = le::Field<std::int32_t, 1>;
inline constexpr std::size_t Size = 5;
static_assert(StartPageNo::end == Size);
}  // namespace SystemDirectoryEntryLayout

class THDBSystemDirectory {
 public:
  explicit THDBSystemDirectory(THDBPageManager& manager) : file_(manager, ptFileSystemDirectory) {}

  // As the system session; the directory's first page must come out as page 2.
  void Create();
  void Load();
  void Save();
  void Add(std::uint8_t kind, std::int32_t startPageNo) { entries_.push_back({kind, startPageNo}); }
  // Start page of the first entry of that kind, or -1.
  std::int32_t Find(std::uint8_t kind) const;
  const std::vector<SystemDirectoryEntry>& Entries() const { return entries_; }

 private:
  THDBInternalDBTransactedAccessFile file_;
  std::vector<SystemDirectoryEntry> entries_;
};

}  // namespace hdb

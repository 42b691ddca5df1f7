// THDBMapPageCache: copies of PFS and EAM pages as this process last read or wrote
// them, so a free-space step does not read again a map page that cannot have changed.
// Other processes change map pages only under HeaderLock, so the copies hold while this
// process holds it; a multi-user manager forgets them when its outermost hold ends. A
// single-user manager (opened exclusively, or its database holding the single-user
// claim: no other process writes the file, which its page cache already relies on)
// keeps them from one hold to the next. Map pages are still written to the file at
// once; the copy follows each write. Whatever may put other bytes into a map page
// than this process's last write (a rollback from the journal, a failed write or
// growth, a cut of the file) forgets them all.
//
// Owns at most Limit copies. Owned by the disk page manager; used under the database
// object's in-process lock, and (multi-user) only under HeaderLock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hdb {

class THDBMapPageCache {
 public:
  static constexpr std::size_t Limit = 16;

  // Copies the page's bytes into buffer (size bytes); false when no copy is kept.
  bool Load(std::int32_t pageNo, std::uint8_t* buffer, std::size_t size) const;
  // Keeps bytes as the page's content in the file; the oldest copy goes when Limit are kept.
  void Keep(std::int32_t pageNo, const std::uint8_t* bytes, std::size_t size);
  void Drop(std::int32_t pageNo);
  void Clear() { copies_.clear(); }
  std::size_t Count() const { return copies_.size(); }

 private:
  struct Copy {
    std::int32_t PageNo;
    std::vector<std::uint8_t> Bytes;
  };
  std::vector<Copy> copies_;  // oldest first
};

}  // namespace hdb

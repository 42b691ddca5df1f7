// THDBCommittedImages: the bytes of the pages this process's last commits wrote, so the
// next commit's journal can take a page's before-image from memory instead of reading
// it back from the file. An image is the file's content only while no other process
// has committed since: every commit raises the header's ChangeCounter, so the images
// are used only when the counter read under HeaderLock at the start of a commit is the
// one this process's last commit wrote (Validate), and dropped otherwise. Only pages
// that change through commits alone are kept (the table pages: metadata, state,
// records, blobs, indexes); map pages and the direct-access files (active sessions,
// table locks) are written past commits, by other processes too, and are never kept.
// What this process itself writes in place outside the commit's page writes (a free's
// mark, a direct page write) drops that page's image; a rollback, a failed commit and
// a truncation drop them all.
//
// Owns at most Limit page images. Owned by the disk page manager; called under the
// database object's in-process lock, and its images are trusted only under HeaderLock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace hdb {

class THDBCommittedImages {
 public:
  static constexpr std::size_t Limit = 64;

  // Whether a page of this type changes only through commits, so that its image may be kept.
  static bool Keepable(std::uint16_t pageType);

  void Clear();
  void Drop(std::int32_t pageNo);
  // Under HeaderLock, with the ChangeCounter just read from the file: drops every image
  // unless it is the counter the images were kept for.
  void Validate(std::int32_t changeCounter);
  // The kept image of a page (pageSize bytes), or nullptr.
  const std::uint8_t* Find(std::int32_t pageNo) const;
  // After a commit, validated at its start, raised the counter to changeCounter: the
  // images it did not write over still hold, and Keep adds those it wrote.
  void SetChangeCounter(std::int32_t changeCounter) { changeCounter_ = changeCounter; }
  // Keeps `bytes` as the page's image; once Limit are kept, a new page replaces the
  // images in turn (the one kept longest first).
  void Keep(std::int32_t pageNo, const std::uint8_t* bytes, std::size_t pageSize);
  // The slots in use or kept for reuse: 0 when nothing is kept.
  std::size_t Count() const { return images_.size(); }

 private:
  static constexpr std::int32_t NoImage = -1;  // a dropped image's slot, kept for reuse
  struct Image {
    std::int32_t PageNo;
    std::vector<std::uint8_t> Bytes;
  };
  std::vector<Image> images_;
  std::size_t nextReplaced_ = 0;  // once Limit are kept, the one the next new page replaces
  std::int32_t changeCounter_ = 0;
};

}  // namespace hdb

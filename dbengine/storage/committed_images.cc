#include "dbengine/storage/committed_images.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/page_header.h"

namespace hdb {

bool THDBCommittedImages::Keepable(std::uint16_t pageType) {
  return pageType >= ptTableMetaData && pageType <= ptTableIndex;
}

void THDBCommittedImages::Clear() { images_.clear(); }

void THDBCommittedImages::Drop(std::int32_t pageNo) {
  // The slot stays, with its buffer, for the next image kept.
  auto it = std::find_if(images_.begin(), images_.end(), [&](const Image& i) { return i.PageNo == pageNo; });
  if (it != images_.end()) it->PageNo = NoImage;
}

void THDBCommittedImages::Validate(std::int32_t changeCounter) {
  if (changeCounter != changeCounter_) images_.clear();
}

const std::uint8_t* THDBCommittedImages::Find(std::int32_t pageNo) const {
  assert(pageNo != NoImage);
  for (const Image& image : images_)
    if (image.PageNo == pageNo) return image.Bytes.data();
  return nullptr;
}

void THDBCommittedImages::Keep(std::int32_t pageNo, const std::uint8_t* bytes, std::size_t pageSize) {
  auto it = std::find_if(images_.begin(), images_.end(), [&](const Image& i) { return i.PageNo == pageNo; });
  if (it == images_.end())
    it = std::find_if(images_.begin(), images_.end(), [](const Image& i) { return i.PageNo == NoImage; });
  if (it != images_.end()) {
    it->PageNo = pageNo;
  } else {
    if (images_.size() < Limit) {
      images_.push_back({pageNo, {}});
      it = images_.end() - 1;
    } else {
      // Full: the images are replaced in turn, so the oldest goes first.
      it = images_.begin() + static_cast<std::ptrdiff_t>(nextReplaced_);
      nextReplaced_ = (nextReplaced_ + 1) % Limit;
      it->PageNo = pageNo;
    }
  }
  it->Bytes.resize(pageSize);
  std::memcpy(it->Bytes.data(), bytes, pageSize);
  assert(images_.size() <= Limit);
}

}  // namespace hdb

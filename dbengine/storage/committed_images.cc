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
  auto it = std::find_if(images_.begin(), images_.end(), [&](const Image& i) { return i.PageNo == pageNo; });
  if (it != images_.end()) images_.erase(it);
}

void THDBCommittedImages::Validate(std::int32_t changeCounter) {
  if (changeCounter != changeCounter_) images_.clear();
}

const std::uint8_t* THDBCommittedImages::Find(std::int32_t pageNo) const {
  for (const Image& image : images_)
    if (image.PageNo == pageNo) return image.Bytes.data();
  return nullptr;
}

void THDBCommittedImages::Keep(std::int32_t pageNo, const std::uint8_t* bytes, std::size_t pageSize) {
  auto it = std::find_if(images_.begin(), images_.end(), [&](const Image& i) { return i.PageNo == pageNo; });
  Image image;
  if (it != images_.end()) {
    image = std::move(*it);
    images_.erase(it);
  } else if (images_.size() >= Limit) {
    image = std::move(images_.front());
    images_.erase(images_.begin());
  }
  image.PageNo = pageNo;
  image.Bytes.resize(pageSize);
  std::memcpy(image.Bytes.data(), bytes, pageSize);
  images_.push_back(std::move(image));
  assert(images_.size() <= Limit);
}

}  // namespace hdb

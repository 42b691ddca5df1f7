#include "dbengine/storage/map_page_cache.h"

#include <algorithm>
#include <cstring>

namespace hdb {

bool THDBMapPageCache::Load(std::int32_t pageNo, std::uint8_t* buffer, std::size_t size) const {
  for (const Copy& copy : copies_) {
    if (copy.PageNo != pageNo) continue;
    if (copy.Bytes.size() != size) return false;
    std::memcpy(buffer, copy.Bytes.data(), size);
    return true;
  }
  return false;
}

void THDBMapPageCache::Drop(std::int32_t pageNo) {
  auto it = std::find_if(copies_.begin(), copies_.end(), [&](const Copy& c) { return c.PageNo == pageNo; });
  if (it != copies_.end()) copies_.erase(it);
}

void THDBMapPageCache::Keep(std::int32_t pageNo, const std::uint8_t* bytes, std::size_t size) {
  auto it = std::find_if(copies_.begin(), copies_.end(), [&](const Copy& c) { return c.PageNo == pageNo; });
  if (it == copies_.end()) {
    if (copies_.size() >= Limit) copies_.erase(copies_.begin());
    copies_.push_back({pageNo, {}});
    it = copies_.end() - 1;
  }
  it->Bytes.assign(bytes, bytes + size);
}

}  // namespace hdb

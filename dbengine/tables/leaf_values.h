// The leaf values of B-tree entries: RecordIDs for record indexes (6 bytes), otherwise
// (page indexes) compared bytewise as unsigned bytes.
#pragma once

#include <cstddef>
#include <cstring>

#include "dbengine/storage/record_id.h"

namespace hdb {

inline int CompareLeafValues(const void* a, const void* b, std::size_t size) {
  if (size == RecordIDLayout::Size) return CompareRecordIDs(a, b);
  int r = std::memcmp(a, b, size);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

}  // namespace hdb

// THDBIndexPositionCache, the last position a cursor reached through an index: the key
// path, the index (its ObjectID, -1 = empty), the record it stands on and the table's
// change stamp at that moment. The next step through the same index from the same
// record reuses the path instead of searching the key again, as long as the table has
// not changed since. Each cursor owns one; each sequential scan makes its own.
#pragma once

#include <cstdint>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/key_path.h"

namespace hdb {

struct THDBIndexPositionCache {
  THDBKeyPath Path;
  std::int32_t IndexNo = -1;
  RecordID ID;
  std::int32_t ChangeStamp = -1;

  bool Holds(std::int32_t indexNo, RecordID id, std::int32_t changeStamp) const {
    return IndexNo != -1 && IndexNo == indexNo && ID == id && ChangeStamp == changeStamp;
  }
  void Store(std::int32_t indexNo, RecordID id, std::int32_t changeStamp, const THDBKeyPath& path) {
    IndexNo = indexNo;
    ID = id;
    ChangeStamp = changeStamp;
    if (&path != &Path) Path.Assign(path);
  }
  void Invalidate() {
    IndexNo = -1;
    ChangeStamp = -1;
  }
};

}  // namespace hdb

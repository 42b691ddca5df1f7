#include "dbengine/tables/key_path.h"

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

void THDBKeyPath::Push(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount) {
  if (currentLevel_ >= MaxLevels) RaiseHDB(Errors::InvalidKeyPathDepth);
  levels_[static_cast<std::size_t>(currentLevel_)] = {pageNo, entryNo, entryCount};
  ++currentLevel_;
  ++levelCount_;
}

void THDBKeyPath::Pop() {
  if (levelCount_ > 0) --levelCount_;
  if (currentLevel_ > 0) --currentLevel_;
}

int ComparePaths(const THDBKeyPath& a, const THDBKeyPath& b) {
  if (a.LevelCount() != b.LevelCount()) RaiseHDB(Errors::InvalidKeyPathLevels);
  // Below the first level where the two part, they run through different pages.
  for (std::int32_t i = 0; i < a.LevelCount(); ++i) {
    if (a.At(i).PageNo != b.At(i).PageNo) RaiseHDB(Errors::InvalidKeyPathPages);
    if (a.At(i).EntryNo != b.At(i).EntryNo) return a.At(i).EntryNo < b.At(i).EntryNo ? -1 : 1;
  }
  return 0;
}

double ApproximatePosition(const THDBKeyPath& path) {
  double s = 0, w = 1;
  for (std::int32_t i = path.LevelCount() - 1; i >= 0; --i) {
    s += path.At(i).EntryNo * w;
    w *= path.At(i).EntryCount > 0 ? path.At(i).EntryCount : 1;
  }
  return s / w;
}

}  // namespace hdb

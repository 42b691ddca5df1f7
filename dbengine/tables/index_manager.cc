#include "dbengine/tables/index_manager.h"

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBBTreeRecordIndex& THDBBaseIndexManager::Index(int i) {
  if (indexes_.size() < static_cast<std::size_t>(defs_.Count())) indexes_.resize(static_cast<std::size_t>(defs_.Count()));
  auto& index = indexes_[static_cast<std::size_t>(i)];
  if (!index || &index->Definition() != &defs_.Get(i)) index = std::make_unique<THDBBTreeRecordIndex>(table_, defs_.Get(i));
  return *index;
}

THDBBTreeRecordIndex& THDBBaseIndexManager::ByObjectID(ObjectID id) {
  const int i = defs_.FindByObjectID(id);
  if (i < 0) RaiseHDB(Errors::IndexNotFound);
  return Index(i);
}

void THDBBaseIndexManager::Remove(int i) {
  if (static_cast<std::size_t>(i) < indexes_.size()) indexes_.erase(indexes_.begin() + i);
  defs_.Delete(i);
}

}  // namespace hdb

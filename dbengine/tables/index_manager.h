// THDBBaseIndexManager, the indexes of one table: their definitions and the index
// objects made from them on first use. A definition's RootPageNo is its tree's root.
//
// Owned by the table data object; the definitions belong to it as well. Guarded by the
// database object's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dbengine/tables/btree_record_index.h"
#include "dbengine/tables/index_defs.h"

namespace hdb {

class THDBIndexedTable;

class THDBBaseIndexManager {
 public:
  explicit THDBBaseIndexManager(THDBIndexedTable& table) : table_(table) {}

  THDBIndexDefs& Definitions() { return defs_; }
  const THDBIndexDefs& Definitions() const { return defs_; }
  int Count() const { return defs_.Count(); }

  // The index object of definition i (made on first use).
  THDBBTreeRecordIndex& Index(int i);
  // The index of the definition with this ObjectID: "Index not found" (20018).
  THDBBTreeRecordIndex& ByObjectID(ObjectID id);
  int PositionOf(ObjectID id) const { return defs_.FindByObjectID(id); }
  // Forgets the index objects (after the definitions were replaced or removed).
  void Reset() { indexes_.clear(); }
  void Remove(int i);

 private:
  THDBIndexedTable& table_;
  THDBIndexDefs defs_;
  std::vector<std::unique_ptr<THDBBTreeRecordIndex>> indexes_;
};

}  // namespace hdb

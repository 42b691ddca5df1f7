// TableMetadata, the whole content of a table's definition file: the field list, the
// index list (stored indexes only), the constraint list, the root page of the table's
// RecordPageIndex and the root page of its BLOB page index (-1 when the table has no
// BLOB field). The lists belong to the table's managers; TableMetadata only points at
// them while the file is read or written.
#pragma once

#include <cstdint>
#include <functional>

namespace hdb {

class THDBStream;
class THDBFieldDefs;
class THDBIndexDefs;
class THDBConstraintDefs;

struct TableMetadata {
  THDBFieldDefs* FieldDefs = nullptr;
  THDBIndexDefs* IndexDefs = nullptr;
  THDBConstraintDefs* ConstraintDefs = nullptr;
  std::int32_t RecordPageIndexRoot = -1;
  std::int32_t BlobPageIndexRoot = -1;

  void SaveToStream(THDBStream& stream) const;
  // Replaces the three lists and the two roots. Every read is checked: a short or
  // damaged stream raises the stream message (the two roots are written unchecked, but
  // a stream that ends before them is as truncated as any other). Offsets are
  // recomputed; constraint references are left for the owner to resolve.
  void LoadFromStream(THDBStream& stream);
  // Gives every definition a fresh id drawn from next(), in list order: the fields,
  // then the indexes, then the constraints, as the definitions of a new table get them.
  void AssignNewObjectIDs(const std::function<std::int32_t()>& next);
};

}  // namespace hdb

#include "dbengine/tables/table_metadata.h"

#include <cassert>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/index_defs.h"

namespace hdb {

namespace {

void WriteUnchecked(THDBStream& stream, std::int32_t value) {
  std::uint8_t raw[4];
  le::Store<std::int32_t>(raw, 0, value);
  stream.Write(raw, sizeof raw);
}

}  // namespace

void TableMetadata::SaveToStream(THDBStream& stream) const {
  assert(FieldDefs && IndexDefs && ConstraintDefs);
  FieldDefs->SaveToStream(stream);
  IndexDefs->SaveToStream(stream);
  ConstraintDefs->SaveToStream(stream);
  WriteUnchecked(stream, RecordPageIndexRoot);
  WriteUnchecked(stream, BlobPageIndexRoot);
}

void TableMetadata::LoadFromStream(THDBStream& stream) {
  assert(FieldDefs && IndexDefs && ConstraintDefs);
  FieldDefs->LoadFromStream(stream);
  IndexDefs->LoadFromStream(stream);
  ConstraintDefs->LoadFromStream(stream);
  // Every stored definition ends with both roots; one cut short of them is damaged
  // like any other truncated stream.
  RecordPageIndexRoot = stream.ReadValue<std::int32_t>();
  BlobPageIndexRoot = stream.ReadValue<std::int32_t>();
}

void TableMetadata::AssignNewObjectIDs(const std::function<std::int32_t()>& next) {
  assert(FieldDefs && IndexDefs && ConstraintDefs);
  for (THDBMetaObjectDefs* list : {static_cast<THDBMetaObjectDefs*>(FieldDefs), static_cast<THDBMetaObjectDefs*>(IndexDefs),
                                   static_cast<THDBMetaObjectDefs*>(ConstraintDefs)})
    for (int i = 0; i < list->Count(); ++i) list->Item(i).ObjectID = next();
}

}  // namespace hdb

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

std::int32_t ReadUnchecked(THDBStream& stream) {
  std::uint8_t raw[4];
  if (stream.Read(raw, sizeof raw) != sizeof raw) return -1;
  return le::Load<std::int32_t>(raw, 0);
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
  RecordPageIndexRoot = ReadUnchecked(stream);
  BlobPageIndexRoot = ReadUnchecked(stream);
}

void TableMetadata::AssignNewObjectIDs(const std::function<std::int32_t()>& next) {
  assert(FieldDefs && IndexDefs && ConstraintDefs);
  for (THDBMetaObjectDefs* list : {static_cast<THDBMetaObjectDefs*>(FieldDefs), static_cast<THDBMetaObjectDefs*>(IndexDefs),
                                   static_cast<THDBMetaObjectDefs*>(ConstraintDefs)})
    for (int i = 0; i < list->Count(); ++i) list->Item(i).ObjectID = next();
}

}  // namespace hdb

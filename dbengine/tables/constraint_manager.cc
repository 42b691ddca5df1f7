#include "dbengine/tables/constraint_manager.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/index_manager.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_compare.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

namespace {

// A bound's bytes, padded with zeros to a whole value of its type, so that neither a
// comparison nor a conversion reads past a short stored value.
struct PaddedBound {
  std::vector<std::uint8_t> bytes;
  std::uint8_t type;
  PaddedBound(const THDBVariant& bound, std::uint8_t fieldType) {
    type = bound.ValueType() != 0 && bound.ValueType() <= BaseTypeCount ? bound.ValueType() : fieldType;
    const std::size_t whole = static_cast<std::size_t>(std::max(MemoryDataSizeOf(type, 0), 0));
    bytes.assign(std::max(bound.Size(), whole) + 4, 0);
    if (bound.Size()) std::memcpy(bytes.data(), bound.Data(), bound.Size());
  }
  std::string Text() const {
    if (IsStringBaseType(type) && !IsWideStringBaseType(type)) return reinterpret_cast<const char*>(bytes.data());
    THDBValueBuffer text;
    try {
      ConvertValue(bytes.data(), type, btString, text);
    } catch (const EHDBException&) {
      return "?";
    }
    return reinterpret_cast<const char*>(text.Data());
  }
};

}  // namespace

bool THDBBaseConstraintManager::CheckConstraints(SessionID session, const std::uint8_t* record, bool checkUniqueness,
                                                 bool raise, RecordID, bool isInsert, const std::uint8_t* oldRecord,
                                                 std::int64_t recordCount) {
  if (!Definitions) return true;
  const THDBFieldDefs& fields = fields_.FieldDefs();
  auto fieldOf = [&](const THDBObjectRef& ref, const THDBErrorDef& missing) -> int {
    const int f = fields.FindByObjectID(ref.ObjectID);
    if (f < 0) RaiseHDB(missing, ref.ObjectID);
    return f;
  };
  auto violated = [&](auto&&... raiseArgs) {
    if (raise) RaiseHDB(raiseArgs...);
    return false;
  };
  auto keyTaken = [&](const THDBConstraintDefUnique& c) {
    if (recordCount < 1) return false;
    const int at = indexes_.PositionOf(c.IndexRef.ObjectID);
    if (at < 0) return false;
    THDBBTreeRecordIndex& index = indexes_.Index(at);
    return isInsert || !oldRecord ? !index.KeyIsFree(session, record)
                                  : !index.KeyChangeIsFree(session, oldRecord, record);
  };
  for (int i = 0; i < Definitions->Count(); ++i) {
    const THDBConstraintDef& def = Definitions->Constraint(i);
    switch (def.ConstraintKind) {
      case ckNotNull: {
        const auto& c = static_cast<const THDBConstraintDefNotNull&>(def);
        const int f = fieldOf(c.FieldRef, Errors::NotNullFieldNotFound);
        if (NullBitmap::IsNull(record, f)) return violated(Errors::NotNullViolated, c.Name, fields[f].Name);
        break;
      }
      case ckCheck: {
        const auto& c = static_cast<const THDBConstraintDefCheck&>(def);
        const int f = fieldOf(c.FieldRef, Errors::CheckFieldNotFound);
        if (NullBitmap::IsNull(record, f)) break;
        const THDBFieldDef& field = fields[f];
        const std::uint8_t* value = record + field.MemoryOffset;
        if (!c.MinValue.IsNull()) {
          PaddedBound min(c.MinValue, field.BaseType);
          if (CompareValues(min.bytes.data(), value, min.type, field.BaseType, false, false, -1, false) > 0)
            return violated(Errors::CheckBelowMinimum, c.Name, field.Name, min.Text());
        }
        if (!c.MaxValue.IsNull()) {
          PaddedBound max(c.MaxValue, field.BaseType);
          if (CompareValues(max.bytes.data(), value, max.type, field.BaseType, false, false, -1, false) < 0)
            return violated(Errors::CheckAboveMaximum, c.Name, field.Name, max.Text());
        }
        break;
      }
      case ckUnique: {
        if (!checkUniqueness) break;
        const auto& c = static_cast<const THDBConstraintDefUnique&>(def);
        if (keyTaken(c)) return violated(Errors::UniqueViolated, c.Name);
        break;
      }
      case ckPrimaryKey: {
        if (!checkUniqueness) break;
        const auto& c = static_cast<const THDBConstraintDefUnique&>(def);
        bool allNull = !c.Columns.empty();
        std::string names;
        for (const THDBObjectRef& column : c.Columns) {
          const int f = fields.FindByObjectID(column.ObjectID);
          if (f >= 0 && !NullBitmap::IsNull(record, f)) allNull = false;
          names += (names.empty() ? "" : ",") + column.Name;
        }
        if (allNull) return violated(Errors::PrimaryKeyNull, c.Name, names);
        if (keyTaken(c)) return violated(Errors::PrimaryViolated, c.Name);
        break;
      }
      default:
        RaiseHDB(Errors::ConstraintCheckNotImplemented);
    }
  }
  return true;
}

}  // namespace hdb

#include "dbengine/tables/index_defs.h"

#include <cassert>

#include "dbengine/platform/ansi_charset.h"
#include "dbengine/platform/guid.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/hdb_stream.h"

namespace hdb {

namespace {

// The shortest stored index record (an empty name, no columns) and column (an empty name).
constexpr std::size_t MinIndexRecordSize = 1 + 4 + 3 + 4 + 4;
constexpr std::size_t MinIndexColumnSize = 1 + 2 + 4;

}  // namespace

void THDBIndexDef::Assign(const THDBMetaObjectDef& other) {
  THDBMetaObjectDef::Assign(other);
  const auto& o = dynamic_cast<const THDBIndexDef&>(other);
  IndexKind = o.IndexKind;
  Columns = o.Columns;
  IsUnique = o.IsUnique;
  IsPrimary = o.IsPrimary;
  RootPageNo = o.RootPageNo;
  IsTemporary = o.IsTemporary;
  SessionID = o.SessionID;
  ChangeMark = o.ChangeMark;
}

void THDBIndexDef::LoadFromStream(THDBStream& stream) {
  THDBMetaObjectDef::LoadFromStream(stream);
  IndexKind = stream.ReadValue<std::uint8_t>();
  IsUnique = stream.ReadBool();
  IsPrimary = stream.ReadBool();
  const std::size_t countAt = stream.Position();
  const std::int32_t count = stream.ReadValue<std::int32_t>();
  RootPageNo = stream.ReadValue<std::int32_t>();
  // The count stands before the root: check it against what follows the root.
  if (count < 0 || static_cast<std::size_t>(count) > stream.Remaining() / MinIndexColumnSize)
    stream.RaiseDamagedItem(countAt, 4);
  Columns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    THDBIndexColumn c;
    c.Name = stream.ReadShortString();
    c.Descending = stream.ReadBool();
    c.CaseInsensitive = stream.ReadBool();
    c.IndexedLength = stream.ReadValue<std::int32_t>();
    // A key column keeps at most IndexedLength leading bytes of one field's value: never
    // negative, and never more than the largest field a record can hold (the default
    // of 20 stays valid over smaller fields, whose keys keep the whole value).
    if (c.IndexedLength < 0 || c.IndexedLength > MaxFieldDataSize) stream.RaiseDamagedSize(c.IndexedLength);
    Columns.push_back(std::move(c));
  }
  IsTemporary = false;
  SessionID = -1;
}

void THDBIndexDef::SaveToStream(THDBStream& stream) const {
  THDBMetaObjectDef::SaveToStream(stream);
  stream.WriteValue<std::uint8_t>(IndexKind);
  stream.WriteBool(IsUnique);
  stream.WriteBool(IsPrimary);
  stream.WriteValue<std::int32_t>(ColumnCount());
  stream.WriteValue<std::int32_t>(RootPageNo);
  for (const THDBIndexColumn& c : Columns) {
    stream.WriteShortString(c.Name);
    stream.WriteBool(c.Descending);
    stream.WriteBool(c.CaseInsensitive);
    stream.WriteValue<std::int32_t>(c.IndexedLength);
  }
}

std::unique_ptr<THDBMetaObjectDef> THDBIndexDef::Clone() const {
  auto copy = std::make_unique<THDBIndexDef>();
  copy->Assign(*this);
  return copy;
}

void THDBIndexDef::SetColumns(const THDBStringList& names, const THDBStringList& orders, const THDBStringList& cases) {
  if (names.size() != orders.size())
    RaiseHDB(Errors::ListLengthsSetColumnsOrder, static_cast<std::int64_t>(names.size()),
             static_cast<std::int64_t>(orders.size()));
  if (names.size() != cases.size())
    RaiseHDB(Errors::ListLengthsSetColumnsCase, static_cast<std::int64_t>(names.size()),
             static_cast<std::int64_t>(cases.size()));
  Columns.clear();
  for (std::size_t i = 0; i < names.size(); ++i) {
    THDBIndexColumn c;
    c.Name = names[i];
    c.Descending = platform::AnsiSameText(orders[i], "DESC");
    c.CaseInsensitive = platform::AnsiSameText(cases[i], "NO_CASE");
    Columns.push_back(std::move(c));
  }
}

std::size_t THDBIndexDefs::MinStoredRecordSize() const { return MinIndexRecordSize; }

THDBIndexDef& THDBIndexDefs::AddNew() {
  auto def = std::make_unique<THDBIndexDef>();
  THDBIndexDef& ref = *def;
  Add(std::move(def));
  return ref;
}

void THDBIndexDefs::SaveToStream(THDBStream& stream) const {
  std::int32_t stored = 0;
  for (int i = 0; i < Count(); ++i)
    if (!Get(i).IsTemporary) ++stored;
  stream.WriteValue<std::int32_t>(stored);
  for (int i = 0; i < Count(); ++i)
    if (!Get(i).IsTemporary) Get(i).SaveToStream(stream);
}

void THDBIndexDefs::Put(int index, std::unique_ptr<THDBIndexDef> def) {
  assert(def && index >= 0 && index < Count());
  items_[index] = std::move(def);
}

std::int32_t THDBIndexDefs::FindIndexForFields(const THDBStringList& names, const THDBStringList& orders,
                                               const THDBStringList& cases, const THDBFieldDefs& fields,
                                               SessionID sessionID) const {
  if (names.size() != orders.size())
    RaiseHDB(Errors::ListLengthsFindIndexOrder, static_cast<std::int64_t>(names.size()),
             static_cast<std::int64_t>(orders.size()));
  if (names.size() != cases.size())
    RaiseHDB(Errors::ListLengthsFindIndexCase, static_cast<std::int64_t>(names.size()),
             static_cast<std::int64_t>(cases.size()));
  for (int i = 0; i < Count(); ++i) {
    const THDBIndexDef& index = Get(i);
    if (index.Columns.size() < names.size()) continue;
    if (index.IsTemporary && index.SessionID != sessionID) continue;
    bool matches = true;
    for (std::size_t k = 0; k < names.size() && matches; ++k) {
      const THDBIndexColumn& column = index.Columns[k];
      if (!platform::AnsiSameText(names[k], column.Name)) {
        matches = false;
        break;
      }
      if (platform::AnsiSameText(orders[k], "ASC") && column.Descending) matches = false;
      if (platform::AnsiSameText(orders[k], "DESC") && !column.Descending) matches = false;
      int field = fields.FindByName(names[k]);
      if (field >= 0 && IsStringBaseType(fields.Field(field).BaseType)) {
        if (platform::AnsiSameText(cases[k], "CASE") && column.CaseInsensitive) matches = false;
        if (platform::AnsiSameText(cases[k], "NO_CASE") && !column.CaseInsensitive) matches = false;
      }
    }
    if (matches) return index.ObjectID;
  }
  return -1;
}

std::string THDBIndexDefs::NewTemporaryIndexName() const {
  std::string name;
  do {
    name = TemporaryIndexPrefix + platform::NewGuidText();
  } while (FindByName(name) >= 0);
  return name;
}

THDBIndexDef& THDBIndexDefs::AddTemporaryIndex(const THDBStringList& names, const THDBStringList& orders,
                                               const THDBStringList& cases, SessionID sessionID) {
  auto def = std::make_unique<THDBIndexDef>();
  def->SetColumns(names, orders, cases);
  def->Name = NewTemporaryIndexName();
  def->IsTemporary = true;
  def->SessionID = sessionID;
  THDBIndexDef& ref = *def;
  Add(std::move(def));
  return ref;
}

}  // namespace hdb

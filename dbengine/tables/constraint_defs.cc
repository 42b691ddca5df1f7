#include "dbengine/tables/constraint_defs.h"

#include <algorithm>
#include <cassert>
#include <string>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/index_defs.h"

namespace hdb {

namespace {

// A reference name as B (= length + 1) followed by the length byte and the characters.
// The one-byte B of not null and check records holds lengths up to 254.
template <class BType>
void WriteRefName(THDBStream& stream, std::string_view name) {
  constexpr std::size_t maxLength = sizeof(BType) == 1 ? 254 : 255;
  std::size_t length = std::min(name.size(), maxLength);
  stream.WriteValue<BType>(static_cast<BType>(length + 1));
  stream.WriteValue<std::uint8_t>(static_cast<std::uint8_t>(length));
  if (length) stream.WriteBuffer(name.data(), length);
}

// B always counts the length byte and at most 255 characters, and the length byte
// always says B - 1: any other B, or a length byte that disagrees, is damage (taken as
// read, it would put the rest of the record out of step).
template <class BType>
std::string ReadRefName(THDBStream& stream) {
  const std::size_t at = stream.Position();
  std::int64_t b = static_cast<std::int64_t>(stream.ReadValue<BType>());
  if (b < 1 || b > 256 || static_cast<std::size_t>(b) > stream.Remaining()) stream.RaiseDamagedSize(b);
  std::string bytes(static_cast<std::size_t>(b), '\0');
  stream.ReadBuffer(bytes.data(), bytes.size());
  if (static_cast<std::uint8_t>(bytes[0]) != b - 1) stream.RaiseDamagedItem(at, sizeof(BType) + bytes.size());
  return bytes.substr(1);
}

// What every stored constraint takes at least, whatever its kind (known or not): the
// kind byte and the prefix of an empty name. A key column of a unique constraint takes
// its id and an empty name.
constexpr std::size_t MinConstraintRecordSize = 1 + 1 + 4;
constexpr std::size_t MinConstraintColumnSize = 4 + 4 + 1;

std::string DerivedName(std::string_view prefix, const std::vector<THDBObjectRef>& columns) {
  std::string name(prefix);
  for (const THDBObjectRef& c : columns) name += "$" + c.Name;
  return name;
}

}  // namespace

void THDBConstraintDef::Assign(const THDBMetaObjectDef& other) {
  THDBMetaObjectDef::Assign(other);
  const auto& o = dynamic_cast<const THDBConstraintDef&>(other);
  assert(o.ConstraintKind == ConstraintKind);
  FirstRef = o.FirstRef;
  TableRef = o.TableRef;
}

std::unique_ptr<THDBMetaObjectDef> THDBConstraintDef::Clone() const {
  auto copy = std::make_unique<THDBConstraintDef>(ConstraintKind);
  copy->Assign(*this);
  return copy;
}

std::unique_ptr<THDBConstraintDef> THDBConstraintDef::Create(std::uint8_t kind) {
  switch (kind) {
    case ckPrimaryKey:
      return std::make_unique<THDBConstraintDefPrimary>();
    case ckUnique:
      return std::make_unique<THDBConstraintDefUnique>();
    case ckNotNull:
      return std::make_unique<THDBConstraintDefNotNull>();
    case ckCheck:
      return std::make_unique<THDBConstraintDefCheck>();
    default:
      RaiseHDB(Errors::UnknownConstraintType, kind);
  }
}

void THDBConstraintDefNotNull::Assign(const THDBMetaObjectDef& other) {
  THDBConstraintDef::Assign(other);
  FieldRef = dynamic_cast<const THDBConstraintDefNotNull&>(other).FieldRef;
}

void THDBConstraintDefNotNull::LoadFromStream(THDBStream& stream) {
  THDBMetaObjectDef::LoadFromStream(stream);
  FirstRef.ObjectID = stream.ReadValue<std::int32_t>();
  TableRef.ObjectID = stream.ReadValue<std::int32_t>();
  FieldRef.ObjectID = stream.ReadValue<std::int32_t>();
  FirstRef.Name = ReadRefName<std::uint8_t>(stream);
  TableRef.Name = ReadRefName<std::uint8_t>(stream);
  FieldRef.Name = ReadRefName<std::uint8_t>(stream);
}

void THDBConstraintDefNotNull::SaveToStream(THDBStream& stream) const {
  THDBMetaObjectDef::SaveToStream(stream);
  stream.WriteValue<std::int32_t>(FirstRef.ObjectID);
  stream.WriteValue<std::int32_t>(TableRef.ObjectID);
  stream.WriteValue<std::int32_t>(FieldRef.ObjectID);
  WriteRefName<std::uint8_t>(stream, FirstRef.Name);
  WriteRefName<std::uint8_t>(stream, TableRef.Name);
  WriteRefName<std::uint8_t>(stream, FieldRef.Name);
}

std::unique_ptr<THDBMetaObjectDef> THDBConstraintDefNotNull::Clone() const {
  auto copy = std::make_unique<THDBConstraintDefNotNull>();
  copy->Assign(*this);
  return copy;
}

void THDBConstraintDefCheck::Assign(const THDBMetaObjectDef& other) {
  THDBConstraintDefNotNull::Assign(other);
  const auto& o = dynamic_cast<const THDBConstraintDefCheck&>(other);
  MinValue = o.MinValue;
  MaxValue = o.MaxValue;
}

void THDBConstraintDefCheck::LoadFromStream(THDBStream& stream) {
  THDBConstraintDefNotNull::LoadFromStream(stream);
  MinValue.LoadFromStream(stream);
  MaxValue.LoadFromStream(stream);
}

void THDBConstraintDefCheck::SaveToStream(THDBStream& stream) const {
  THDBConstraintDefNotNull::SaveToStream(stream);
  MinValue.SaveToStream(stream);
  MaxValue.SaveToStream(stream);
}

std::unique_ptr<THDBMetaObjectDef> THDBConstraintDefCheck::Clone() const {
  auto copy = std::make_unique<THDBConstraintDefCheck>();
  copy->Assign(*this);
  return copy;
}

void THDBConstraintDefUnique::Assign(const THDBMetaObjectDef& other) {
  THDBConstraintDef::Assign(other);
  const auto& o = dynamic_cast<const THDBConstraintDefUnique&>(other);
  IndexRef = o.IndexRef;
  Columns = o.Columns;
}

void THDBConstraintDefUnique::LoadFromStream(THDBStream& stream) {
  THDBMetaObjectDef::LoadFromStream(stream);
  FirstRef.ObjectID = stream.ReadValue<std::int32_t>();
  TableRef.ObjectID = stream.ReadValue<std::int32_t>();
  IndexRef.ObjectID = stream.ReadValue<std::int32_t>();
  FirstRef.Name = ReadRefName<std::int32_t>(stream);
  TableRef.Name = ReadRefName<std::int32_t>(stream);
  IndexRef.Name = ReadRefName<std::int32_t>(stream);
  std::int32_t count = stream.ReadCount(MinConstraintColumnSize);
  Columns.clear();
  for (std::int32_t i = 0; i < count; ++i) {
    THDBObjectRef c;
    c.ObjectID = stream.ReadValue<std::int32_t>();
    c.Name = ReadRefName<std::int32_t>(stream);
    Columns.push_back(std::move(c));
  }
}

void THDBConstraintDefUnique::SaveToStream(THDBStream& stream) const {
  THDBMetaObjectDef::SaveToStream(stream);
  stream.WriteValue<std::int32_t>(FirstRef.ObjectID);
  stream.WriteValue<std::int32_t>(TableRef.ObjectID);
  stream.WriteValue<std::int32_t>(IndexRef.ObjectID);
  WriteRefName<std::int32_t>(stream, FirstRef.Name);
  WriteRefName<std::int32_t>(stream, TableRef.Name);
  WriteRefName<std::int32_t>(stream, IndexRef.Name);
  stream.WriteValue<std::int32_t>(static_cast<std::int32_t>(Columns.size()));
  for (const THDBObjectRef& c : Columns) {
    stream.WriteValue<std::int32_t>(c.ObjectID);
    WriteRefName<std::int32_t>(stream, c.Name);
  }
}

std::unique_ptr<THDBMetaObjectDef> THDBConstraintDefUnique::Clone() const {
  auto copy = std::make_unique<THDBConstraintDefUnique>();
  copy->Assign(*this);
  return copy;
}

std::unique_ptr<THDBConstraintDefUnique> THDBConstraintDefUnique::FromIndex(const THDBIndexDef& index,
                                                                           std::string_view tableName) {
  std::unique_ptr<THDBConstraintDefUnique> c;
  if (index.IsPrimary)
    c = std::make_unique<THDBConstraintDefPrimary>();
  else
    c = std::make_unique<THDBConstraintDefUnique>();
  c->TableRef.Name = std::string(tableName);
  c->IndexRef = {index.Name, index.ObjectID};
  for (const THDBIndexColumn& column : index.Columns) c->Columns.push_back({column.Name, -1});
  c->Name = DerivedName(index.IsPrimary ? "C_PK" : "C_Unique", c->Columns);
  return c;
}

std::unique_ptr<THDBMetaObjectDef> THDBConstraintDefPrimary::Clone() const {
  auto copy = std::make_unique<THDBConstraintDefPrimary>();
  copy->Assign(*this);
  return copy;
}

void THDBConstraintDefs::LoadFromStream(THDBStream& stream) {
  Clear();
  std::int32_t count = stream.ReadCount(MinConstraintRecordSize);
  for (std::int32_t i = 0; i < count; ++i) {
    std::unique_ptr<THDBConstraintDef> c = THDBConstraintDef::Create(stream.ReadValue<std::uint8_t>());
    c->LoadFromStream(stream);
    Add(std::move(c));
  }
}

void THDBConstraintDefs::SaveToStream(THDBStream& stream) const {
  stream.WriteValue<std::int32_t>(Count());
  for (int i = 0; i < Count(); ++i) {
    stream.WriteValue<std::uint8_t>(Constraint(i).ConstraintKind);
    Constraint(i).SaveToStream(stream);
  }
}

void THDBConstraintDefs::CheckAssignable(const THDBMetaObjectDef& def) const {
  std::uint8_t kind = dynamic_cast<const THDBConstraintDef&>(def).ConstraintKind;
  if (kind == ckForeignKey || kind > ckCheck) RaiseHDB(Errors::ConstraintAssignNotImplemented);
}

void THDBConstraintDefs::ResolveReferences(const THDBFieldDefs& fields, const THDBIndexDefs& indexes) {
  for (int i = 0; i < Count(); ++i) {
    THDBConstraintDef& c = Constraint(i);
    switch (c.ConstraintKind) {
      case ckPrimaryKey:
      case ckUnique: {
        bool primary = c.ConstraintKind == ckPrimaryKey;
        auto& u = static_cast<THDBConstraintDefUnique&>(c);
        int index = indexes.FindByName(u.IndexRef.Name);
        if (index < 0) RaiseHDB(primary ? Errors::PrimaryIndexNotFound : Errors::UniqueIndexNotFound, u.IndexRef.Name);
        u.IndexRef.ObjectID = indexes.Get(index).ObjectID;
        for (THDBObjectRef& column : u.Columns) {
          int field = fields.FindByName(column.Name);
          if (field < 0) RaiseHDB(primary ? Errors::PrimaryFieldNotFound : Errors::UniqueFieldNotFound, column.Name);
          column.ObjectID = fields.Field(field).ObjectID;
        }
        break;
      }
      case ckNotNull:
      case ckCheck: {
        auto& n = static_cast<THDBConstraintDefNotNull&>(c);
        int field = fields.FindByName(n.FieldRef.Name);
        if (field < 0) RaiseHDB(Errors::ConstraintFieldNotFound, n.FieldRef.Name);
        n.FieldRef.ObjectID = fields.Field(field).ObjectID;
        break;
      }
      default:
        RaiseHDB(Errors::ConstraintResolveNotImplemented);
    }
  }
}

void THDBConstraintDefs::GenerateMissingNames(std::string_view tableName) {
  for (int i = 0; i < Count(); ++i) {
    THDBConstraintDef& c = Constraint(i);
    if (!c.Name.empty()) continue;
    std::string base;
    switch (c.ConstraintKind) {
      case ckPrimaryKey:
      case ckUnique:
        base = DerivedName(c.ConstraintKind == ckPrimaryKey ? "C_PK" : "C_Unique",
                           static_cast<THDBConstraintDefUnique&>(c).Columns);
        break;
      case ckNotNull:
      case ckCheck:
        base = std::string("$") + (c.ConstraintKind == ckNotNull ? "C_NotNull" : "C_Check") + "$" +
               std::string(tableName) + "$" + static_cast<THDBConstraintDefNotNull&>(c).FieldRef.Name;
        break;
      default:
        RaiseHDB(Errors::ConstraintNameNotImplemented);
    }
    std::string name = base;
    while (FindByName(name) >= 0) name = base + std::to_string(platform::RandomBelow(65535));
    c.Name = std::move(name);
  }
}

int THDBConstraintDefs::FindByIndex(std::int32_t indexObjectID) const {
  for (int i = 0; i < Count(); ++i) {
    const THDBConstraintDef& c = Constraint(i);
    if ((c.ConstraintKind == ckPrimaryKey || c.ConstraintKind == ckUnique) &&
        static_cast<const THDBConstraintDefUnique&>(c).IndexRef.ObjectID == indexObjectID)
      return i;
  }
  return -1;
}

}  // namespace hdb

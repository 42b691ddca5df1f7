#include "dbengine/tables/meta_object_defs.h"

#include <cassert>

#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/hdb_stream.h"

namespace hdb {

void THDBMetaObjectDef::Assign(const THDBMetaObjectDef& other) {
  Name = other.Name;
  ObjectID = other.ObjectID;
}

void THDBMetaObjectDef::LoadFromStream(THDBStream& stream) {
  Name = stream.ReadShortString();
  ObjectID = stream.ReadValue<std::int32_t>();
}

void THDBMetaObjectDef::SaveToStream(THDBStream& stream) const {
  stream.WriteShortString(Name);
  stream.WriteValue<std::int32_t>(ObjectID);
}

std::unique_ptr<THDBMetaObjectDef> THDBMetaObjectDef::Clone() const {
  auto copy = std::make_unique<THDBMetaObjectDef>();
  copy->Assign(*this);
  return copy;
}

void THDBMetaObjectDefs::Add(std::unique_ptr<THDBMetaObjectDef> def) {
  assert(def);
  items_.push_back(std::move(def));
}

THDBMetaObjectDef& THDBMetaObjectDefs::AddNew() {
  RaiseHDB(Errors::MethodNotOverridden, "InternalAddCreated", ClassName());
}

void THDBMetaObjectDefs::LoadFromStream(THDBStream& stream) {
  Clear();
  std::int32_t count = stream.ReadCount(MinStoredRecordSize());
  for (std::int32_t i = 0; i < count; ++i) AddNew().LoadFromStream(stream);
}

void THDBMetaObjectDefs::SaveToStream(THDBStream& stream) const {
  stream.WriteValue<std::int32_t>(Count());
  for (const auto& def : items_) def->SaveToStream(stream);
}

void THDBMetaObjectDefs::Assign(const THDBMetaObjectDefs& other) {
  if (&other == this) return;
  Clear();
  for (const auto& def : other.items_) {
    CheckAssignable(*def);
    // Unnamed definitions (constraints whose names are generated later) never collide.
    if (!def->Name.empty() && FindByName(def->Name) >= 0) RaiseHDB(Errors::DuplicateDefinitionName, def->Name);
    items_.push_back(def->Clone());
  }
}

void THDBMetaObjectDefs::Delete(int index) {
  assert(index >= 0 && index < Count());
  items_.erase(items_.begin() + index);
}

void THDBMetaObjectDefs::Insert(int index, std::unique_ptr<THDBMetaObjectDef> def) {
  assert(def && index >= 0 && index <= Count());
  items_.insert(items_.begin() + index, std::move(def));
}

void THDBMetaObjectDefs::Move(int from, int to) {
  assert(from >= 0 && from < Count() && to >= 0 && to < Count());
  if (from == to) return;
  std::unique_ptr<THDBMetaObjectDef> def = std::move(items_[from]);
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, std::move(def));
}

int THDBMetaObjectDefs::FindByName(std::string_view name) const {
  for (int i = 0; i < Count(); ++i)
    if (platform::AnsiSameText(items_[i]->Name, name)) return i;
  return -1;
}

int THDBMetaObjectDefs::FindByObjectID(std::int32_t objectID) const {
  for (int i = 0; i < Count(); ++i)
    if (items_[i]->ObjectID == objectID) return i;
  return -1;
}

}  // namespace hdb

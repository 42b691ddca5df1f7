// THDBMetaObjectDef, the base of every definition a table carries (fields, indexes,
// constraints), and THDBMetaObjectDefs, the ordered list that owns them. Every stored
// definition starts with the same prefix: name length (uint8), the name's single-byte
// characters, ObjectID (int32). Names are matched without regard to case (both sides
// upper-cased in the locale), the first match winning.
//
// Definitions and lists belong to one table object and are guarded by its database
// object's lock; they are not thread-safe themselves.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace hdb {

class THDBStream;

class THDBMetaObjectDef {
 public:
  THDBMetaObjectDef() = default;
  THDBMetaObjectDef(const THDBMetaObjectDef&) = delete;
  THDBMetaObjectDef& operator=(const THDBMetaObjectDef&) = delete;
  virtual ~THDBMetaObjectDef() = default;

  // Virtual operations in slot order.
  // Copies Name, ObjectID and the fields of the subclass; other must be of the same kind.
  virtual void Assign(const THDBMetaObjectDef& other);
  virtual void LoadFromStream(THDBStream& stream);
  virtual void SaveToStream(THDBStream& stream) const;
  // A new definition of the same class holding a copy of this one.
  virtual std::unique_ptr<THDBMetaObjectDef> Clone() const;

  std::string Name;  // at most 255 characters are stored
  std::int32_t ObjectID = -1;
};

class THDBMetaObjectDefs {
 public:
  THDBMetaObjectDefs() = default;
  THDBMetaObjectDefs(const THDBMetaObjectDefs&) = delete;
  THDBMetaObjectDefs& operator=(const THDBMetaObjectDefs&) = delete;
  virtual ~THDBMetaObjectDefs() = default;

  // Virtual operations in slot order.
  virtual int Count() const { return static_cast<int>(items_.size()); }
  virtual void Add(std::unique_ptr<THDBMetaObjectDef> def);
  // A new empty definition appended to the list; lists that can make one override it.
  virtual THDBMetaObjectDef& AddNew();
  // count (int32), then each record; reading clears the list first. A count that is
  // negative or more than the rest of the stream can hold is damage.
  virtual void LoadFromStream(THDBStream& stream);
  virtual void SaveToStream(THDBStream& stream) const;
  // Clears this list and copies every definition of other, in order; a name that is
  // already present raises "Duplicate field name %s".
  virtual void Assign(const THDBMetaObjectDefs& other);
  virtual void Delete(int index);
  virtual void Insert(int index, std::unique_ptr<THDBMetaObjectDef> def);
  virtual void Move(int from, int to);
  virtual void Clear() { items_.clear(); }

  THDBMetaObjectDef& Item(int index) const {
    assert(index >= 0 && index < static_cast<int>(items_.size()));
    return *items_[static_cast<std::size_t>(index)];
  }
  // Index of the first definition with the name (case-insensitive) or the id; -1 when none.
  int FindByName(std::string_view name) const;
  int FindByObjectID(std::int32_t objectID) const;
  virtual const char* ClassName() const { return "THDBMetaObjectDefs"; }

 protected:
  // Checks a definition about to join the list by Assign.
  virtual void CheckAssignable(const THDBMetaObjectDef& def) const {}
  // Bytes the shortest stored record of the list's definitions takes, to bound a
  // stored count by what the stream still holds.
  virtual std::size_t MinStoredRecordSize() const { return 1; }

  std::vector<std::unique_ptr<THDBMetaObjectDef>> items_;
};

}  // namespace hdb

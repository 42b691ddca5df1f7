// Constraint definitions of a table and their list. Kinds: 0 primary key, 2 unique,
// 3 not null, 4 check; kind 1 and kinds 5 and above exist only as plain
// THDBConstraintDef objects and are refused ("Not implemented yet") wherever they are
// assigned, resolved or named, and unknown when read ("Unknown Constraint Type").
//
// Every constraint carries three (name, ObjectID) references: a first one the table
// layer carries without interpreting it, the table, and the field (not null, check) or
// the index that enforces it (unique, primary). Unique and primary constraints also
// list their key columns as (field name, field ObjectID).
//
// Stored records (after the kind byte the list writes): prefix, the three reference ids
// (int32 each), the three reference names, each as B = name length + 1 (uint8 for not
// null / check, int32 for unique / primary) followed by B bytes, the length byte and
// the characters; check constraints then their minimum and maximum (stored
// THDBVariant); unique and primary constraints the column count (int32) and per column
// its field ObjectID (int32) and name (int32 B + B bytes).
//
// Guarded by the owning database object's lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/tables/hdb_variant.h"
#include "dbengine/tables/meta_object_defs.h"

namespace hdb {

class THDBFieldDefs;
class THDBIndexDef;
class THDBIndexDefs;

enum THDBConstraintKind : std::uint8_t {
  ckPrimaryKey = 0,
  ckForeignKey = 1,  // not implemented
  ckUnique = 2,
  ckNotNull = 3,
  ckCheck = 4,
};

struct THDBObjectRef {
  std::string Name;
  std::int32_t ObjectID = -1;
  friend bool operator==(const THDBObjectRef&, const THDBObjectRef&) = default;
};

class THDBConstraintDef : public THDBMetaObjectDef {
 public:
  explicit THDBConstraintDef(std::uint8_t kind) : ConstraintKind(kind) {}
  void Assign(const THDBMetaObjectDef& other) override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  // A new empty constraint of the kind; "Unknown Constraint Type" for other kinds.
  static std::unique_ptr<THDBConstraintDef> Create(std::uint8_t kind);

  const std::uint8_t ConstraintKind;
  THDBObjectRef FirstRef;
  THDBObjectRef TableRef;
};

// Kind 3.
class THDBConstraintDefNotNull : public THDBConstraintDef {
 public:
  THDBConstraintDefNotNull() : THDBConstraintDef(ckNotNull) {}
  void Assign(const THDBMetaObjectDef& other) override;
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  THDBObjectRef FieldRef;

 protected:
  explicit THDBConstraintDefNotNull(std::uint8_t kind) : THDBConstraintDef(kind) {}
};

// Kind 4: the field's value must lie within [MinValue, MaxValue]; a NULL bound is none.
class THDBConstraintDefCheck : public THDBConstraintDefNotNull {
 public:
  THDBConstraintDefCheck() : THDBConstraintDefNotNull(ckCheck) {}
  void Assign(const THDBMetaObjectDef& other) override;
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  THDBVariant MinValue;
  THDBVariant MaxValue;
};

// Kind 2.
class THDBConstraintDefUnique : public THDBConstraintDef {
 public:
  THDBConstraintDefUnique() : THDBConstraintDef(ckUnique) {}
  void Assign(const THDBMetaObjectDef& other) override;
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  // The constraint an index of the table yields: primary for a primary index, else
  // unique, named "C_PK" / "C_Unique" followed by "$" and each column name, bound to
  // the index by name and ObjectID, listing its columns (field ids resolved later).
  static std::unique_ptr<THDBConstraintDefUnique> FromIndex(const THDBIndexDef& index, std::string_view tableName);

  THDBObjectRef IndexRef;
  std::vector<THDBObjectRef> Columns;

 protected:
  explicit THDBConstraintDefUnique(std::uint8_t kind) : THDBConstraintDef(kind) {}
};

// Kind 0.
class THDBConstraintDefPrimary : public THDBConstraintDefUnique {
 public:
  THDBConstraintDefPrimary() : THDBConstraintDefUnique(ckPrimaryKey) {}
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;
};

class THDBConstraintDefs : public THDBMetaObjectDefs {
 public:
  // count (int32), then per constraint its kind (uint8) and its record.
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  const char* ClassName() const override { return "THDBConstraintDefs"; }

  THDBConstraintDef& Constraint(int index) const { return static_cast<THDBConstraintDef&>(Item(index)); }
  THDBConstraintDef& operator[](int index) const { return Constraint(index); }

  // Stores the ids the references name: the index (30325 primary / 30326 unique) and
  // each key column (30331 / 30332) of primary and unique constraints, the field of not
  // null and check constraints (30027).
  void ResolveReferences(const THDBFieldDefs& fields, const THDBIndexDefs& indexes);
  // Names every unnamed constraint: not null and check constraints
  // "$C_NotNull$<table>$<field>" / "$C_Check$<table>$<field>", with a random number in
  // 0..65534 appended while another constraint has the name; unique and primary ones
  // as the index-derived name of their columns.
  void GenerateMissingNames(std::string_view tableName);
  // The index of the first unique or primary constraint bound to the index; -1 when none.
  int FindByIndex(std::int32_t indexObjectID) const;

 protected:
  void CheckAssignable(const THDBMetaObjectDef& def) const override;
};

}  // namespace hdb

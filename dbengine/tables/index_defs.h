// THDBIndexDef, the definition of one index of a table (its key columns, uniqueness and
// the root page of its B-tree), and THDBIndexDefs, the table's index list.
//
// Stored index record: prefix, IndexKind (uint8), IsUnique (uint8), IsPrimary (uint8),
// column count (int32), RootPageNo (int32), then per column its name (length byte +
// characters), Descending (uint8), CaseInsensitive (uint8), IndexedLength (int32).
// Temporary indexes belong to one session, are named "TEMPORARY_INDEX_" + a GUID and
// are never stored: the stored list counts and holds only the others.
//
// Guarded by the owning database object's lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/meta_object_defs.h"

namespace hdb {

class THDBFieldDefs;

inline constexpr std::int32_t DefaultIndexedLength = 20;
inline constexpr char TemporaryIndexPrefix[] = "TEMPORARY_INDEX_";

struct THDBIndexColumn {
  std::string Name;  // the field's name
  bool Descending = false;
  bool CaseInsensitive = false;
  // Leading characters of a string column kept in the stored index key.
  std::int32_t IndexedLength = DefaultIndexedLength;
  friend bool operator==(const THDBIndexColumn&, const THDBIndexColumn&) = default;
};

using THDBStringList = std::vector<std::string>;

class THDBIndexDef : public THDBMetaObjectDef {
 public:
  void Assign(const THDBMetaObjectDef& other) override;
  // Reading clears IsTemporary. A negative column count, or an IndexedLength that is
  // negative or longer than any field, is refused with the stream message.
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  // One column per name: Descending for "DESC", CaseInsensitive for "NO_CASE",
  // IndexedLength 20. The three lists must have equal lengths (10278 / 10279).
  void SetColumns(const THDBStringList& names, const THDBStringList& orders, const THDBStringList& cases);
  int ColumnCount() const { return static_cast<int>(Columns.size()); }

  std::uint8_t IndexKind = 0;  // always 0: B-tree
  std::vector<THDBIndexColumn> Columns;
  bool IsUnique = false;
  bool IsPrimary = false;
  std::int32_t RootPageNo = -1;  // -1 before the index is built
  // Not stored.
  bool IsTemporary = false;
  std::int32_t SessionID = -1;   // owner of a temporary index
  std::int32_t ChangeMark = -1;  // the table's ChangeCount when last brought up to date
};

class THDBIndexDefs : public THDBMetaObjectDefs {
 public:
  THDBIndexDef& AddNew() override;
  // count of the stored (non-temporary) indexes, then their records in list order.
  void SaveToStream(THDBStream& stream) const override;
  const char* ClassName() const override { return "THDBIndexDefs"; }

  THDBIndexDef& Get(int index) const { return static_cast<THDBIndexDef&>(Item(index)); }
  THDBIndexDef& operator[](int index) const { return Get(index); }
  // Replaces definition i, freeing the old one.
  void Put(int index, std::unique_ptr<THDBIndexDef> def);

  // ObjectID of the first index, in list order, whose leading columns are the given
  // fields: at least as many columns as names; a temporary index only when it belongs
  // to sessionID; each name equal to the column name (case-insensitive); "ASC" requires
  // an ascending column and "DESC" a descending one; for string fields "CASE" requires
  // a case-sensitive and "NO_CASE" a case-insensitive column; other words impose
  // nothing. -1 when none matches. Unequal list lengths raise 10276 / 10277.
  std::int32_t FindIndexForFields(const THDBStringList& names, const THDBStringList& orders,
                                  const THDBStringList& cases, const THDBFieldDefs& fields,
                                  SessionID sessionID) const;

  // "TEMPORARY_INDEX_{GUID}", a name no index of the list has.
  std::string NewTemporaryIndexName() const;
  // Appends a temporary index of sessionID over the fields (kind 0, neither unique nor
  // primary, IndexedLength 20 for every column).
  THDBIndexDef& AddTemporaryIndex(const THDBStringList& names, const THDBStringList& orders,
                                  const THDBStringList& cases, SessionID sessionID);

 protected:
  std::size_t MinStoredRecordSize() const override;
};

}  // namespace hdb

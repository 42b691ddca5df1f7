// THDBTable, the table component: a dataset over one table (TableName) of the database
// its DatabaseName names. It opens a table cursor through the database's engine
// session, walks the table in the order of the index chosen by IndexName or
// IndexFieldNames, and finds records by key: BeginKeyEntry empties the lookup key,
// field writes fill it, SeekKey goes to the record with exactly that key.
//
// The table owns its cursor and its key buffers; the database component it opened is
// released when it closes. Used by one thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dbengine/components/hdb_dataset.h"

namespace hdb {

// An index definition as the table reports it.
struct THDBIndexDefItem {
  std::string Name;
  // The key fields, separated by ';'.
  std::string Fields;
  bool Unique = false;
  bool Primary = false;
  // Every column descending.
  bool Descending = false;
  bool CaseInsensitive = false;
  // Never set by this engine; skipped when an index is chosen by fields.
  bool Expression = false;
};

class THDBTable : public THDBDataSet {
 public:
  THDBTable();
  ~THDBTable() override;

  const std::string& TableName() const { return tableName_; }
  // "Cannot perform this operation on an open dataset" while open.
  void SetTableName(const std::string& name);
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool value);
  // True whenever DatabaseName is "MEMORY" (any case).
  bool InMemory() const;
  void SetInMemory(bool value);
  bool StoreDefs = false;

  // The index choice: by name, or by the ';'-separated list of its fields.
  std::string IndexName() const { return indexIsFieldList_ ? std::string() : indexText_; }
  void SetIndexName(const std::string& name);
  std::string IndexFieldNames() const { return indexIsFieldList_ ? indexText_ : std::string(); }
  void SetIndexFieldNames(const std::string& fields);
  // The table's indexes (refreshed from the cursor while open).
  const std::vector<THDBIndexDefItem>& IndexDefs() const { return indexDefs_; }
  std::vector<THDBIndexDefItem>& IndexDefs() { return indexDefs_; }
  // 1-based field numbers of the current index's columns; empty for natural order.
  const std::vector<std::int32_t>& IndexFields() const { return indexFields_; }
  std::int32_t KeySize() const { return keySize_; }

  // Key lookup: an emptied key buffer in set-key state, filled by field writes.
  void BeginKeyEntry();
  // Goes to the first record whose key equals the entered one; false (nothing moves)
  // when none.
  bool SeekKey();
  // How many leading index fields the key holds (0: all of them).
  std::int32_t KeyFieldCount() const;
  void SetKeyFieldCount(std::int32_t count);

 protected:
  void OpenCursor() override;
  void CloseCursor() override;
  std::uint8_t* KeyStateBuffer() const override;
  void CheckKeyField(const THDBField& field) const override;
  void EndKeyEntry(bool commit) override;

 private:
  void SetIndex(const std::string& text, bool isFieldList);
  // The index name the choice stands for ("" = natural order); "No index for fields
  // '%s'".
  std::string ResolveIndexName(const std::string& text, bool isFieldList);
  void RefreshIndexDefs();
  // Field numbers and key size of the cursor's index; "Cannot find index %s".
  void ReadIndexInfo();
  void ReleaseDatabase();
  std::size_t KeyBufferSize() const;

  std::string tableName_;
  bool exclusive_ = false;
  bool inMemory_ = false;
  std::string indexText_;
  bool indexIsFieldList_ = false;
  std::vector<THDBIndexDefItem> indexDefs_;
  std::vector<std::int32_t> indexFields_;
  std::int32_t keySize_ = 0;
  // The lookup key (record image, then the modified byte, the exclusive byte and the
  // 32-bit key field count) and the copy saved when key entry began.
  mutable std::vector<std::uint8_t> keyBuffer_;
  std::vector<std::uint8_t> savedKeyBuffer_;
  bool databaseOpened_ = false;
};

}  // namespace hdb

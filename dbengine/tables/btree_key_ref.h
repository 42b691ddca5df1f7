// The key descriptors of B-trees: how a tree's keys are laid out and compared.
//
// THDBRecordKeyRef serves a record index. Every key column has a fixed slot: a
// NullMarker byte (1 = NULL) and the value bytes from the record buffer. The stored
// form (IndexKey) keeps only the first IndexedLength bytes of a column whose field is
// longer, followed by two zero bytes (a truncated column); the in-memory form
// (FullKey) always keeps the whole value. Comparison goes column by column in the
// engine's value order, descending columns reversed; equal truncated values may fetch
// the records they came from to compare the whole values. RecordIDs never take part:
// the tree breaks ties itself.
//
// THDBPageKeyRef serves a page index: one signed 32-bit page number, no marker.
//
// A key descriptor belongs to one index and is used under the database object's lock;
// its compare settings (CompareColumnCount, CompareLength) are changed for the length
// of one search and restored after it (THDBCompareScope).
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/storage/record_id.h"
#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBIndexDef;
class THDBBaseFieldManager;
class THDBIndexedTable;

struct THDBKeyColumn {
  std::int32_t IndexKeyOffset = 0;
  std::int32_t FullKeyOffset = 0;
  std::int32_t MemoryOffset = 0;
  std::int32_t FieldNo = 0;
  std::int32_t IndexKeySlotSize = 0;
  std::int32_t FullKeySlotSize = 0;
  std::int32_t TruncationTail = 0;  // 2 for a truncated column
  std::uint8_t BaseType = 0;
  bool Descending = false;
  bool CaseInsensitive = false;
};

class THDBBTreeKeyRef {
 public:
  virtual ~THDBBTreeKeyRef() = default;

  // Virtual operations in slot order.
  virtual void SetColumnCount(std::int32_t count);  // 0
  // key1 is the search key; entryID is the RecordID of key2's entry when known, otherID
  // that of key1's record.
  virtual int CompareKeys(const std::uint8_t* key1, const std::uint8_t* key2, const RecordID* entryID,
                          const RecordID* otherID, SessionID session, bool mayFetch) = 0;  // 1
  virtual int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) = 0;    // 2

  std::vector<std::uint8_t> NewIndexKey() const { return std::vector<std::uint8_t>(IndexKeySize, 0); }
  std::vector<std::uint8_t> NewFullKey() const { return std::vector<std::uint8_t>(FullKeySize, 0); }
  std::int32_t ColumnCount() const { return static_cast<std::int32_t>(Columns.size()); }
  bool HasTruncatedColumn() const { return hasTruncatedColumn_; }

  std::int32_t IndexKeySize = 0;
  std::int32_t FullKeySize = 0;
  std::uint16_t LeafRefSize = 0;
  std::uint16_t Reserved = 0;
  std::int32_t CompareColumnCount = 0;
  std::vector<THDBKeyColumn> Columns;

 protected:
  bool hasTruncatedColumn_ = false;
};

class THDBRecordKeyRef : public THDBBTreeKeyRef {
 public:
  explicit THDBRecordKeyRef(THDBIndexedTable* table = nullptr) : table_(table) {}

  int CompareKeys(const std::uint8_t* key1, const std::uint8_t* key2, const RecordID* entryID, const RecordID* otherID,
                  SessionID session, bool mayFetch) override;
  int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override;

  // Lays the key out from the index definition over the table's fields: "Cannot find
  // index field '%s'" (20043), "Cannot index BLOB field '%s'..." (20295), "Pointer is
  // nil" (20045) without a field manager.
  void Prepare(const THDBIndexDef& def, const THDBBaseFieldManager* fields);

  // The stored key of a memory-form record; remembers the record as the source of
  // whole values while the key is compared.
  void BuildIndexKey(const std::uint8_t* record, std::uint8_t* key);
  void BuildFullKey(const std::uint8_t* record, std::uint8_t* key) const;
  // The FullKey of the stored record id: "Cannot retrieve record for index" (20170).
  void BuildKeyFromRecordID(SessionID session, RecordID id, std::uint8_t* key);

  // For a partial search each string column compares only as many characters as the
  // key record's value has; otherwise (and for NULLs and other types) whole values.
  void SetCompareLengths(const std::uint8_t* keyRecord, bool partial);
  // All columns, whole values.
  void ResetCompare();
  const std::vector<std::int32_t>& CompareLength() const { return compareLength_; }

  const std::uint8_t* LastRecord() const { return lastRecord_; }
  void SetLastRecord(const std::uint8_t* record) { lastRecord_ = record; }

 private:
  // The characters a comparison of the column may look at: the whole slot, never past it.
  std::int32_t SlotLength(const THDBKeyColumn& column, std::int32_t valueBytes) const;
  int CompareColumn(const THDBKeyColumn& column, std::int32_t index, const std::uint8_t* a, const std::uint8_t* b,
                    std::int32_t offset, std::int32_t valueBytes) const;

  THDBIndexedTable* table_;
  const THDBBaseFieldManager* fields_ = nullptr;
  const std::uint8_t* lastRecord_ = nullptr;
  std::vector<std::int32_t> compareLength_;
  // Scratch of the whole-value comparison of truncated columns.
  std::vector<std::uint8_t> fullKey1_, fullKey2_, scratchRecord_;
};

class THDBPageKeyRef : public THDBBTreeKeyRef {
 public:
  THDBPageKeyRef();
  int CompareKeys(const std::uint8_t* key1, const std::uint8_t* key2, const RecordID* entryID, const RecordID* otherID,
                  SessionID session, bool mayFetch) override;
  int CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) override;
};

// Sets the compare column count and lengths of a record key for one search and
// restores all columns and whole values afterwards, on every path.
class THDBCompareScope {
 public:
  THDBCompareScope(THDBRecordKeyRef& keyRef, std::int32_t columnCount, const std::uint8_t* keyRecord, bool partial);
  THDBCompareScope(const THDBCompareScope&) = delete;
  THDBCompareScope& operator=(const THDBCompareScope&) = delete;
  ~THDBCompareScope() { keyRef_.ResetCompare(); }

 private:
  THDBRecordKeyRef& keyRef_;
};

}  // namespace hdb

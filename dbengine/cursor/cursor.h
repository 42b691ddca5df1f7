// THDBCursor and THDBLocalCursor, one open view of one table: the index it walks, its
// position and end flags, its key search arguments and key range, and the reads and
// writes of the current record through the table's shared table data object. The
// caller (the table component) hands it a record buffer before every call: the null
// flags and field data (DataSize bytes), then the record's RecordID (6 bytes) and one
// bookmark flag byte (0 current, 1 before first, 2 after last, 3 inserted).
//
// Read operations raise EHDBException at once; write operations leave LastResult (0 =
// done) and, for -8, LastErrorText. A cursor owns its copies of the definitions and
// its buffers; it shares the table data object, which the open database owns. A cursor
// is used by one thread at a time; every call that touches the table takes the
// database object's lock (re-entrant), then table locks, then record locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/cursor/record_bitmap.h"
#include "dbengine/cursor/search_expression.h"
#include "dbengine/cursor/table_search.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/cursor_state.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"

namespace hdb {

class THDBLocalSession;
class THDBLocalBLOBStream;
class THDBDatabaseEntry;
class THDBDiskTableData;

// Outcomes of the write operations.
enum THDBWriteResult : std::int32_t {
  wrOK = 0,
  wrAddFailed = -1,
  wrUpdateFailed = -2,
  wrDeleteFailed = -3,
  wrModifiedBeforeUpdate = -4,
  wrModifiedBeforeDelete = -5,
  wrDeletedBeforeUpdate = -6,
  wrDeletedBeforeDelete = -7,
  wrErrorText = -8,
  wrTemporaryUpdate = -9,
  wrTemporaryDelete = -10,
  wrTemporaryCancel = -11,
  wrRecordLocked = -12,
  wrTableLocked = -13,
};
// The text of a write result ("" for -8, whose text is LastErrorText).
const char* WriteResultText(std::int32_t result);

inline constexpr std::uint8_t BookmarkCurrent = 0;
inline constexpr std::uint8_t BookmarkBOF = 1;
inline constexpr std::uint8_t BookmarkEOF = 2;
inline constexpr std::uint8_t BookmarkInserted = 3;

struct THDBSavedCursorState {
  bool AtBOF = true;
  bool AtEOF = false;
  RecordID Position;
};

class THDBCursor : public THDBCursorState {
 public:
  ~THDBCursor() override = default;

  // Virtual operations in slot order.
  virtual void CreateTable(const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                           const THDBConstraintDefs& constraints) = 0;                          // 0
  virtual void DeleteTable() = 0;                                                               // 1
  virtual void EmptyTable() = 0;                                                                // 2
  virtual void RenameTable(const std::string& newName) = 0;                                     // 3
  virtual void InitFieldDefs() = 0;                                                             // 4
  virtual void OpenTable() = 0;                                                                 // 5
  virtual void CloseTable() = 0;                                                                // 6
  virtual void BeginTableAccess() = 0;                                                          // 7
  virtual void EndTableAccess() = 0;                                                            // 8
  virtual bool LockTable(std::uint8_t kind, std::int32_t tries, bool flag, std::uint32_t delayMs) = 0;  // 9
  virtual bool UnlockTable(std::uint8_t kind, bool flag) = 0;                                   // 10
  virtual void RenameField(const std::string& oldName, const std::string& newName) = 0;         // 11
  virtual const THDBIndexDefs& GetIndexDefs() = 0;                                              // 12
  virtual void AddIndex(const THDBIndexDef& def) = 0;                                           // 13
  virtual void DeleteIndex(const std::string& name) = 0;                                        // 14
  virtual void DeleteAllIndexes() = 0;                                                          // 15
  virtual std::string CreateIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                                           const THDBStringList& cases) = 0;                    // 16
  virtual bool FindIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                                  const THDBStringList& cases) = 0;                             // 17
  virtual void CopyFieldValue(std::int32_t fieldNo, bool visible, THDBCursor& source,
                              std::int32_t sourceFieldNo) = 0;                                  // 18
  virtual void InitRecordBuffer(std::uint8_t* buffer, bool applyDefaults) = 0;                  // 19
  virtual void FreeRecordBuffer(std::uint8_t* buffer) = 0;                                      // 20
  virtual std::int64_t GetRecordCount() = 0;                                                    // 21
  virtual std::uint8_t GetRecord(std::uint8_t mode) = 0;                                        // 22
  virtual void SetRecNo(std::int64_t n) = 0;                                                    // 23
  virtual std::int64_t GetRecNo() = 0;                                                          // 24
  virtual int CompareBookmarks(RecordID a, RecordID b) = 0;                                     // 25
  virtual void SetToBegin() = 0;                                                                // 26
  virtual void SetToEnd() = 0;                                                                  // 27
  virtual void StartInsert() = 0;                                                               // 28
  virtual void EditRecord() = 0;                                                                // 29
  virtual void DiscardRecord(bool isInsert) = 0;                                                // 30
  virtual void WriteRecord(bool isInsert) = 0;                                                  // 31
  virtual void RemoveRecord() = 0;                                                              // 32
  virtual bool RecordLockTest() = 0;                                                            // 33
  // Parses the text into the cursor's filter; a text that does not parse raises the
  // parser's message, and the cursor is then unfiltered.
  virtual void SetFilterText(const std::string& text, bool caseInsensitive, bool partialCompare) = 0;  // 35
  virtual void ClearFilter() = 0;                                                               // 36
  // The first record from the beginning, in the cursor's order and within its filter,
  // whose fields (names separated by ';') equal the values; the cursor moves there and
  // reads it into CurrentRecord. "Count of FieldNames (%d) does not equal counts of
  // KeyValues (%d)" when the lists differ in length.
  virtual bool LocateRecord(const std::string& fieldNames, const std::vector<THDBVariant>& values,
                            bool partialCompare, bool caseInsensitive) = 0;                     // 37
  virtual bool GotoKeyRecord(std::uint8_t conditionType) = 0;                                   // 38
  // The same for one field compared by one operator (opEqual .. opLessOrEqual).
  virtual bool LocateByValue(const std::string& fieldName, std::uint8_t op, const THDBVariant& value) = 0;  // 39
  // A stream over a BLOB field of the current record: "BLOB field already opened.
  // FieldNo = %d, FieldName = %s" for a second writing stream on one field.
  virtual THDBLocalBLOBStream& OpenBlob(std::int32_t fieldNo, bool forWrite) = 0;               // 40
  // Flushes and frees the streams of the field.
  virtual void CloseBlob(std::int32_t fieldNo) = 0;                                             // 41
  // Frees every stream (only the writing ones with the flag), without flushing.
  virtual void FreeBlobs(bool onlyWriting) = 0;                                                 // 42
  virtual std::int64_t GetLastAutoincValue(std::int32_t fieldNo) = 0;                           // 43
  virtual void BeginBatchUpdate() = 0;                                                          // 44
  virtual void EndBatchUpdate() = 0;                                                            // 45
  virtual void CancelBatchUpdate() = 0;                                                         // 46
  virtual bool CheckConstraints(bool checkUniqueness) = 0;                                      // 47

  // Stores the name; IndexID becomes the index of that name, -1 when none (natural order).
  void SetIndexByName(const std::string& name);
  // A field of a record buffer: false for NULL; "Invalid field number" out of range.
  bool ReadField(std::int32_t fieldNo, const std::uint8_t* buffer, void* value) const;
  // Whether ReadField would answer false, without copying the value.
  bool IsFieldNull(std::int32_t fieldNo, const std::uint8_t* buffer) const;
  // nullptr makes the field NULL.
  void WriteField(std::int32_t fieldNo, std::uint8_t* buffer, const void* value) const;
  std::vector<std::uint8_t> AllocRecordBuffer() const { return std::vector<std::uint8_t>(FullSize, 0); }
  // A key range over the first `count` columns of the cursor's index; clears the bitmap.
  void SetRange(const std::uint8_t* start, std::int32_t startCount, bool startExclusive, const std::uint8_t* end,
                std::int32_t endCount, bool endExclusive);
  void CancelRange();
  THDBSavedCursorState SaveState() const { return {AtBOF, AtEOF, Position}; }
  void RestoreState(const THDBSavedCursorState& s) {
    AtBOF = s.AtBOF;
    AtEOF = s.AtEOF;
    Position = s.Position;
  }
  // The RecordID area and bookmark flag of a buffer.
  RecordID BufferRecordID(const std::uint8_t* buffer) const;
  void SetBufferRecordID(std::uint8_t* buffer, RecordID id, std::uint8_t flag) const;

  bool HasProjection = false;
  std::string IndexName;
  bool InMemory = false;
  bool IsTemporary = false;
  THDBLocalSession* Session_ = nullptr;
  bool Opened = false;
  THDBFieldDefs TableFields;
  THDBIndexDefs IndexDefs;
  THDBConstraintDefs ConstraintDefs;
  std::int32_t LastResult = 0;
  std::string LastErrorText;
  bool AutoCreate = false;
  // Buffer sizes (InitFieldDefs).
  std::size_t FullSize = 0;
  std::size_t KeySize = 0;
  std::size_t DataSize = 0;
  std::size_t FirstFieldOffset = 0;
  std::size_t RecordIDOffset = 0;
  // Key search arguments, set by the component.
  std::int32_t KeyFieldCount = 0;
  const std::uint8_t* KeyBuffer = nullptr;
  // Key range.
  const std::uint8_t* RangeStart = nullptr;
  const std::uint8_t* RangeEnd = nullptr;
  bool StartExclusive = false;
  bool EndExclusive = false;
  std::int32_t StartKeyFieldCount = 0;
  std::int32_t EndKeyFieldCount = 0;
  std::int32_t DistinctFieldCount = 0;
  // The filter the cursor applies (owned), and the owner's record callback, which sees
  // each candidate in a buffer of the cursor's layout and accepts or rejects it.
  std::unique_ptr<THDBSearchExpression> FilterExpression;
  std::function<bool(const std::uint8_t* buffer)> OnFilterRecord;
  THDBRecordBitmap RecordBitmap;
  // What the last filtered search did.
  THDBSearchReport LastSearch;
  // The range estimates of the last searches (THDBTableSearch).
  THDBSearchEstimates Estimates;
  // The plan of the last filtered search, and the filter's generation, which every
  // change of the filter moves on (a kept plan names the filter it was made for).
  THDBSearchPlan SearchPlan;
  std::uint64_t FilterGeneration = 0;

  // Whether the cursor sees only some records: a filter, a callback, a range or
  // distinct mode.
  bool IsFiltered() const {
    return FilterExpression || OnFilterRecord || RangeStart || RangeEnd || DistinctFieldCount > 0;
  }
  void ClearRecordBitmap() {
    RecordBitmap.Invalidate();
    RecordBitmap.Bits.Resize(0);
  }

 protected:
  // Whether the record passes the cursor's range, filter and callback.
  virtual bool PassesFilter(const std::uint8_t* record) = 0;
};

class THDBLocalCursor final : public THDBCursor {
 public:
  explicit THDBLocalCursor(THDBLocalSession& session);
  ~THDBLocalCursor() override;

  void CreateTable(const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                   const THDBConstraintDefs& constraints) override;
  void DeleteTable() override;
  void EmptyTable() override;
  void RenameTable(const std::string& newName) override;
  void InitFieldDefs() override;
  void OpenTable() override;
  void CloseTable() override;
  void BeginTableAccess() override;
  void EndTableAccess() override;
  bool LockTable(std::uint8_t kind, std::int32_t tries, bool flag, std::uint32_t delayMs) override;
  bool UnlockTable(std::uint8_t kind, bool flag) override;
  void RenameField(const std::string& oldName, const std::string& newName) override;
  const THDBIndexDefs& GetIndexDefs() override;
  void AddIndex(const THDBIndexDef& def) override;
  void DeleteIndex(const std::string& name) override;
  void DeleteAllIndexes() override;
  std::string CreateIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                                   const THDBStringList& cases) override;
  bool FindIndexForFields(const THDBStringList& fields, const THDBStringList& orders,
                          const THDBStringList& cases) override;
  void CopyFieldValue(std::int32_t fieldNo, bool visible, THDBCursor& source, std::int32_t sourceFieldNo) override;
  void InitRecordBuffer(std::uint8_t* buffer, bool applyDefaults) override;
  void FreeRecordBuffer(std::uint8_t* buffer) override;
  std::int64_t GetRecordCount() override;
  std::uint8_t GetRecord(std::uint8_t mode) override;
  void SetRecNo(std::int64_t n) override;
  std::int64_t GetRecNo() override;
  int CompareBookmarks(RecordID a, RecordID b) override;
  void SetToBegin() override;
  void SetToEnd() override;
  void StartInsert() override {}
  void EditRecord() override;
  void DiscardRecord(bool isInsert) override;
  void WriteRecord(bool isInsert) override;
  void RemoveRecord() override;
  bool RecordLockTest() override;
  THDBLocalBLOBStream& OpenBlob(std::int32_t fieldNo, bool forWrite) override;
  void CloseBlob(std::int32_t fieldNo) override;
  void FreeBlobs(bool onlyWriting) override;
  std::int64_t GetLastAutoincValue(std::int32_t fieldNo) override;
  void BeginBatchUpdate() override;
  void EndBatchUpdate() override;
  void CancelBatchUpdate() override;
  bool CheckConstraints(bool checkUniqueness) override;

  void SetFilterText(const std::string& text, bool caseInsensitive, bool partialCompare) override;
  // The filter: an expression the cursor owns from now on (nullptr clears it).
  void SetFilterExpression(std::unique_ptr<THDBSearchExpression> expression);
  void ClearFilter() override;                                                                 // 36
  bool LocateRecord(const std::string& fieldNames, const std::vector<THDBVariant>& values, bool partialCompare,
                    bool caseInsensitive) override;
  bool LocateByValue(const std::string& fieldName, std::uint8_t op, const THDBVariant& value) override;
  // The whole value of a BLOB, memo or wide memo field of a record buffer of the
  // cursor's layout (empty for NULL).
  void ReadBlobField(std::int32_t fieldNo, const std::uint8_t* record, std::vector<std::uint8_t>& out);
  // The first record in the cursor's order, within its filter, whose key over
  // KeyFieldCount columns of its index has the relation to KeyBuffer; the cursor moves
  // there when one exists.
  bool GotoKeyRecord(std::uint8_t conditionType) override;                                     // 38

  bool InTransaction() const override;
  void RecordInserted(RecordID id) override;
  void RecordDeleted(RecordID id, std::int32_t changeCountBefore, std::int32_t changeCountAfter) override;
  THDBDiskTableData* Table() const { return table_; }

 protected:
  bool PassesFilter(const std::uint8_t* record) override;

 private:
  THDBDatabaseEntry& Entry() const;
  THDBDiskTableData& TableOf(const std::string& name) const;
  bool MultiUser() const;
  // The write lock of a post or delete: kind 3 in a transaction, else 4.
  bool LockForWrite(std::int32_t tries, std::uint32_t pauseMs, bool leaveDatabaseLock);
  void ReleaseWriteLock();
  int CompareWithBound(const std::uint8_t* record, const std::uint8_t* bound, std::int32_t count);
  // Runs the search for this cursor and keeps its report.
  bool Search(const THDBSearchRequest& request);
  // Moves to the first record from the beginning that also passes the expression.
  bool Locate(THDBSearchExpression& expression);
  // A valid, current record bitmap of the filter.
  THDBRecordBitmap& Bitmap();

  THDBDiskTableData* table_ = nullptr;
  THDBDatabaseEntry* entry_ = nullptr;
  // Flushes and frees the writing streams before a post.
  void CloseWritingBlobs();

  std::vector<std::unique_ptr<THDBLocalBLOBStream>> blobStreams_;
  bool holdsEditLock_ = false;
  bool holdsRecordLock_ = false;
  RecordID lockedRecord_;
};

}  // namespace hdb

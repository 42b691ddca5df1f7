// THDBBaseFieldManager, the per-table owner of the field definitions and of the
// automatic-value counters. It knows the record layout (NullBitmap, then every field at
// its offset) in both forms, moves values into and out of record buffers in the form
// the dataset expects, initialises records with their defaults, tells whether a record
// changed, and draws automatic values.
//
// Record buffers are plain byte arrays of MemoryRecordSize (memory form) or
// DiskRecordSize (disk form) bytes owned by the caller. The manager is owned by the
// table data object and guarded by its database object's lock, like everything the
// table data object owns; it takes no lock itself.
#pragma once

#include <cstdint>
#include <vector>

#include "dbengine/tables/engine_ids.h"
#include "dbengine/tables/field_defs.h"

namespace hdb {

class THDBStream;
class THDBTableData;

class THDBBaseFieldManager {
 public:
  explicit THDBBaseFieldManager(THDBTableData* tableData = nullptr) : tableData_(tableData) {}
  THDBBaseFieldManager(const THDBBaseFieldManager&) = delete;
  THDBBaseFieldManager& operator=(const THDBBaseFieldManager&) = delete;

  THDBTableData* TableData() const { return tableData_; }
  THDBFieldDefs& FieldDefs() { return fieldDefs_; }
  const THDBFieldDefs& FieldDefs() const { return fieldDefs_; }
  const THDBFieldDef& Field(std::int32_t fieldNo) const { return fieldDefs_.Field(fieldNo); }

  // Copies the definitions, then DefinitionsChanged.
  void SetFieldDefs(const THDBFieldDefs& defs);
  // After the definitions were loaded, assigned or edited: offsets and record sizes
  // are recomputed and the counters start again from the initial values.
  void DefinitionsChanged();

  std::int32_t FieldCount() const { return fieldDefs_.Count(); }
  std::int32_t NullBitmapSize() const { return fieldDefs_.NullBitmapSize(); }
  std::int32_t MemoryRecordSize() const { return fieldDefs_.MemoryRecordSize(); }
  std::int32_t DiskRecordSize() const { return fieldDefs_.DiskRecordSize(); }

  // Between the two forms: the target is zeroed, then the NullBitmap and DiskDataSize
  // bytes of every field are copied (the in-memory handle of a BLOB slot stays zero).
  // DiskToMemory follows the copy plan DefinitionsChanged made: fields that lie one
  // after the other in both forms are copied as one run.
  void MemoryToDisk(const std::uint8_t* memory, std::uint8_t* disk) const;
  void DiskToMemory(const std::uint8_t* disk, std::uint8_t* memory) const;

  // Every NullBitmap byte 0xFF, every field byte 0; then the defaults when asked.
  void InitRecord(std::uint8_t* record, bool applyDefaults) const;
  // Writes the default of every non-BLOB field that has one (computed when it is an
  // expression, converted to the field's type when it has another) and clears its
  // NULL bit. An empty text default, or one stored without bytes, writes no byte but
  // still makes the field non-NULL.
  // A default never writes beyond its field; a text cut to the field stays terminated,
  // and so does a byte array, as SetFieldValue stores them.
  void ApplyDefaults(std::uint8_t* record) const;

  // False (destination untouched) for a NULL field. Destination forms: shortint as
  // int16, cardinal as uint64, single and extended as double, BLOB-like fields nothing
  // (read through streams), every other type its MemoryDataSize bytes.
  // "Invalid field number" (10000) for a field number out of range.
  bool GetFieldValue(std::int32_t fieldNo, const std::uint8_t* record, void* destination) const;
  // source nullptr makes the field NULL, and so does an empty text (first character
  // 0). Source forms as GetFieldValue gives them: shortint from int16 (low byte),
  // cardinal from uint64 (low 32 bits), single from double (rounded), extended from
  // double; texts up to their terminator (at most the field's size, the rest of the
  // field zeroed); byte arrays (base type 23) their declared bytes, the slot's last byte
  // zero; every other type MemoryDataSize bytes. Data of a field made NULL is left as it
  // was. "Invalid field number" (10004).
  void SetFieldValue(std::int32_t fieldNo, const void* source, std::uint8_t* record) const;
  bool IsFieldNull(std::int32_t fieldNo, const std::uint8_t* record) const;

  // Whether two memory-form records hold the same values: the NULL flags of all
  // fields, and the DiskDataSize bytes of every non-NULL field, texts compared up to
  // their terminator.
  bool RecordsEqual(const std::uint8_t* recordA, const std::uint8_t* recordB) const;

  // Automatic values.
  // The next value of field i's counter: + AutoincIncrement (+ 1 when that is 0); past
  // AutoincMaxValue (unless 0) it raises "Autoinc max value exceeded" (20160) or, with
  // AutoincCycle, starts again at AutoincMinValue.
  std::int64_t NextAutoinc(std::int32_t fieldNo);
  // For an insert: NULL autoincrement fields get their next value; given values above
  // the counter move it up. Either way the session remembers the value as the field's
  // last one.
  void AssignAutoincValues(SessionID session, std::uint8_t* record);
  // The value the session last recorded for the field; without one the field's counter
  // (0 for other fields), or "No SequenceLastValue in session..." (30012) when demanded.
  std::int64_t LastAutoinc(SessionID session, std::int32_t fieldNo, bool demand = false) const;
  // Drops a session's last values when it disconnects.
  void ForgetSession(SessionID session);

  const std::vector<std::int64_t>& AutoincCounters() const { return autoincCounters_; }
  // One counter per field: autoincrement fields at AutoincInitialValue, others 0.
  void InitCounters();
  // count (int32), then one int64 per counter.
  void SaveCounters(THDBStream& stream) const;
  // Replaces the counters with the stored ones.
  void LoadCounters(THDBStream& stream);

  // Whether a field has a BLOB base type; such a field with BlobBlockSize not above 0
  // raises "BLOB block size should be > 0 for field %s" (10421).
  bool HasBlobFields() const;

 private:
  struct LastValue {
    SessionID Session;
    std::int32_t Sequence;  // the field's ObjectID
    std::int64_t Value;
  };
  void RecordLastValue(SessionID session, std::int32_t sequence, std::int64_t value);
  void WriteDefault(const THDBFieldDef& field, const THDBVariant& value, std::uint8_t* record) const;

  // One copy of a disk-form record into the memory form: `size` bytes from disk offset
  // `from` to memory offset `to`.
  struct CopyRun {
    std::int32_t From;
    std::int32_t To;
    std::int32_t Size;
  };
  // The runs of DiskToMemory, the NullBitmap first; remade by DefinitionsChanged.
  void MakeCopyPlan();

  THDBTableData* tableData_;
  THDBFieldDefs fieldDefs_;
  std::vector<CopyRun> diskToMemory_;
  std::vector<std::int64_t> autoincCounters_;
  std::vector<LastValue> lastValues_;
};

}  // namespace hdb

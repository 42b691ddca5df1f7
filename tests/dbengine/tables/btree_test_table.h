// A table for the B-tree tests: real pages in a fresh database file, a field layout, and
// the records kept in memory by RecordID, so an index can fetch whole values and be
// filled in natural order.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/tables/btree_record_index.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/indexed_table.h"
#include "temp_dir.h"
#include "test_tables.h"

namespace hdb::test {

using Record = std::vector<std::uint8_t>;


class BTreeTestTable : public THDBIndexedTable {
 public:
  BTreeTestTable(std::uint16_t pageSize, const std::function<void(THDBFieldDefs&)>& addFields) {
    pages_.Create(dir_.File("Data.hdb"), {}, 8, pageSize);
    addFields(fields_.FieldDefs());
    for (int i = 0; i < fields_.FieldDefs().Count(); ++i) fields_.FieldDefs()[i].ObjectID = 100 + i;
    fields_.DefinitionsChanged();
  }

  THDBPageManager& IndexPageManager() override { return pages_; }
  const THDBBaseFieldManager& IndexFieldManager() const override { return fields_; }
  bool ReadIndexedRecord(SessionID, RecordID id, std::uint8_t* memoryRecord) override {
    ++reads;
    auto it = records.find(id);
    if (it == records.end()) return false;
    std::memcpy(memoryRecord, it->second.data(), it->second.size());
    return true;
  }
  void ForEachIndexedRecord(SessionID, const std::function<void(RecordID, const std::uint8_t*)>& visit) override {
    for (const auto& [id, record] : records) visit(id, record.data());
  }

  THDBDiskPageManager& Pages() { return pages_; }
  THDBBaseFieldManager& Fields() { return fields_; }

  // A record with every field NULL.
  Record NewRecord() const {
    Record r(static_cast<std::size_t>(fields_.MemoryRecordSize()));
    fields_.InitRecord(r.data(), false);
    return r;
  }
  void Set(Record& r, int field, const void* value) const { fields_.SetFieldValue(field, value, r.data()); }
  void SetText(Record& r, int field, const std::string& text) const { Set(r, field, text.c_str()); }
  void SetInt(Record& r, int field, std::int32_t v) const { Set(r, field, &v); }

  // An index over the given columns of this table, built empty.
  std::unique_ptr<THDBBTreeRecordIndex> MakeIndex(THDBIndexDef& def, SessionID session = 0) {
    auto index = std::make_unique<THDBBTreeRecordIndex>(*this, def);
    index->Build(session, false);
    return index;
  }

  std::map<RecordID, Record, RecordIDLess> records;
  int reads = 0;

 private:
  hdbtest::TempDir dir_;
  THDBDiskPageManager pages_;
  THDBBaseFieldManager fields_;
};

inline void SetIndexDef(THDBIndexDef& def, std::vector<THDBIndexColumn> columns, bool unique = false) {
  def.Name = "IDX";
  def.ObjectID = 900;
  def.Columns = std::move(columns);
  def.IsUnique = unique;
}

}  // namespace hdb::test

// A file with the service record table (FG, DAT, MLG, THND, NHND, SSTAT and a memo
// NOTE; index FGDAT over FG, DAT), a cursor on it, and rows whose fields may be NULL,
// for the filter and locate tests.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dbengine/cursor/blob_stream.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/navigation_request.h"
#include "temp_dir.h"

namespace hdb::test {

struct Row {
  std::optional<std::string> FG;
  std::optional<std::int32_t> DAT;  // day number
  std::optional<std::int64_t> MLG;
  std::optional<int> THND;
  std::optional<std::string> NHND;
  std::optional<std::string> NOTE;
};

inline std::int32_t Day(int y, int m, int d) { return EncodeDayNumber(y, m, d); }

inline int NativeErrorOf(const std::function<void()>& fn, std::string* message = nullptr) {
  try {
    fn();
  } catch (const EHDBException& e) {
    if (message) *message = e.Message();
    return e.NativeError();
  }
  return 0;
}

class ServiceTable {
 public:
  // extraIndexes: more indexes to create (name, fields, cases "NO_CASE" per field).
  struct IndexSpec {
    std::string Name;
    THDBStringList Fields, Orders, Cases;
    bool Unique = false;
  };

  explicit ServiceTable(std::vector<IndexSpec> extra = {}) {
    path_ = dir_.File("Data.hdb");
    {
      THDBLocalSession maker;
      maker.DatabaseName = "Dataset";
      maker.DatabaseFileName = path_;
      maker.CreateDatabase();
    }
    session.DatabaseName = "Dataset";
    session.DatabaseFileName = path_;
    session.SetConnected(true);
    {
      THDBLocalCursor maker(session);
      maker.TableName = "dsTable";
      THDBFieldDefs fields;
      fields.AddField("FG", dtChar, 17);
      fields.AddField("DAT", dtDate);
      fields.AddField("MLG", dtLargeInt);
      fields.AddField("THND", dtWord);
      fields.AddField("NHND", dtChar, 7);
      fields.AddField("SSTAT", dtWord);
      fields.AddField("NOTE", dtMemo);
      fields.RecalcOffsets();
      THDBIndexDefs indexes;
      THDBIndexDef& fgdat = indexes.AddNew();
      fgdat.Name = "FGDAT";
      fgdat.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
      for (const IndexSpec& s : extra) {
        THDBIndexDef& d = indexes.AddNew();
        d.Name = s.Name;
        d.SetColumns(s.Fields, s.Orders.empty() ? THDBStringList(s.Fields.size()) : s.Orders,
                     s.Cases.empty() ? THDBStringList(s.Fields.size()) : s.Cases);
        d.IsUnique = s.Unique;
      }
      maker.CreateTable(fields, indexes, THDBConstraintDefs());
    }
    cursor = std::make_unique<THDBLocalCursor>(session);
    cursor->TableName = "dsTable";
    cursor->OpenTable();
    buffer = cursor->AllocRecordBuffer();
    cursor->CurrentRecord = buffer.data();
  }

  // A record buffer of the cursor's layout holding the row.
  std::vector<std::uint8_t> Buffer(const Row& r) {
    std::vector<std::uint8_t> b = cursor->AllocRecordBuffer();
    cursor->InitRecordBuffer(b.data(), false);
    auto text = [&](int field, const std::optional<std::string>& v, std::size_t size) {
      if (!v) return;
      std::vector<char> t(size + 1, 0);
      std::memcpy(t.data(), v->data(), std::min(v->size(), size));
      cursor->WriteField(field, b.data(), t.data());
    };
    text(0, r.FG, 17);
    if (r.DAT) cursor->WriteField(1, b.data(), &*r.DAT);
    if (r.MLG) cursor->WriteField(2, b.data(), &*r.MLG);
    if (r.THND) {
      const std::uint16_t v = static_cast<std::uint16_t>(*r.THND);
      cursor->WriteField(3, b.data(), &v);
    }
    text(4, r.NHND, 7);
    return b;
  }

  RecordID Insert(const Row& r) {
    buffer = Buffer(r);
    cursor->CurrentRecord = buffer.data();
    if (r.NOTE) {
      THDBLocalBLOBStream& s = cursor->OpenBlob(6, true);
      s.Write(r.NOTE->data(), static_cast<std::int64_t>(r.NOTE->size()));
      cursor->CloseBlob(6);
    }
    cursor->WriteRecord(true);
    EXPECT_EQ(cursor->LastResult, 0) << cursor->LastErrorText;
    return cursor->Position;
  }

  std::uint8_t Step(std::uint8_t mode) {
    cursor->CurrentRecord = buffer.data();
    return cursor->GetRecord(mode);
  }

  std::optional<std::string> Text(int field) {
    char t[32] = {};
    if (!cursor->ReadField(field, buffer.data(), t)) return std::nullopt;
    return std::string(t);
  }
  std::optional<std::int64_t> MLG() {
    std::int64_t v = 0;
    if (!cursor->ReadField(2, buffer.data(), &v)) return std::nullopt;
    return v;
  }

  hdbtest::TempDir dir_;
  std::string path_;
  THDBLocalSession session;
  std::unique_ptr<THDBLocalCursor> cursor;
  std::vector<std::uint8_t> buffer;
};

}  // namespace hdb::test

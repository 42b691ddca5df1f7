// Helpers of the cursor tests: a file with the service table made through a session,
// and a cursor on it with its record buffer.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/navigation_request.h"

namespace hdb::test {

inline std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

inline int Raised(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EHDBException& e) {
    return e.NativeError();
  }
  return 0;
}

// A connected session on a file with the service table (FG, DAT, MLG; index FGDAT).
class Connection {
 public:
  Connection(const std::string& path, bool multiUser = false) {
    session.DatabaseName = "Dataset";
    session.DatabaseFileName = path;
    session.MultiUser = multiUser;
    session.SessionName = multiUser ? "Default" : "";
    session.SetConnected(true);
  }
  static void CreateFile(const std::string& path, bool multiUser = false) {
    THDBLocalSession maker;
    maker.DatabaseName = "Dataset";
    maker.DatabaseFileName = path;
    maker.MultiUser = multiUser;
    maker.CreateDatabase();
    Connection c(path, multiUser);
    THDBLocalCursor cursor(c.session);
    cursor.TableName = "dsTable";
    THDBFieldDefs fields;
    fields.AddField("FG", dtChar, 17);
    fields.AddField("DAT", dtDate);
    fields.AddField("MLG", dtLargeInt);
    fields.RecalcOffsets();
    THDBIndexDefs indexes;
    THDBIndexDef& index = indexes.AddNew();
    index.Name = "FGDAT";
    index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
    cursor.CreateTable(fields, indexes, THDBConstraintDefs());
  }
  THDBLocalSession session;
};

class OpenCursor {
 public:
  explicit OpenCursor(THDBLocalSession& session, const std::string& index = "") : cursor(session) {
    cursor.TableName = "dsTable";
    cursor.OpenTable();
    cursor.SetIndexByName(index);
    buffer = cursor.AllocRecordBuffer();
    cursor.CurrentRecord = buffer.data();
  }
  RecordID Insert(const std::string& fg, std::int32_t dat, std::int64_t mlg = 0) {
    cursor.InitRecordBuffer(buffer.data(), true);
    cursor.WriteField(0, buffer.data(), Padded(fg).data());
    cursor.WriteField(1, buffer.data(), &dat);
    cursor.WriteField(2, buffer.data(), &mlg);
    cursor.CurrentRecord = buffer.data();
    cursor.WriteRecord(true);
    EXPECT_EQ(cursor.LastResult, 0) << cursor.LastErrorText;
    return cursor.Position;
  }
  std::uint8_t Step(std::uint8_t mode) {
    cursor.CurrentRecord = buffer.data();
    return cursor.GetRecord(mode);
  }
  std::string FG() {
    char text[18] = {};
    cursor.ReadField(0, buffer.data(), text);
    return text;
  }
  std::int32_t DAT() {
    std::int32_t d = 0;
    cursor.ReadField(1, buffer.data(), &d);
    return d;
  }
  static std::vector<std::uint8_t> Padded(const std::string& text) {
    std::vector<std::uint8_t> v(18, 0);
    std::memcpy(v.data(), text.data(), std::min<std::size_t>(text.size(), 17));
    return v;
  }
  THDBLocalCursor cursor;
  std::vector<std::uint8_t> buffer;
};


}  // namespace hdb::test

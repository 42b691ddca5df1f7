// Helpers of the component tests: database files made through the engine's own cursor
// layer (the service table dsTable with its index FGDAT, every field required, and a
// table with a field of each kind), records put in the same way, and a byte patch of
// the file header for a file that was not closed correctly.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/components/database_error.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"

namespace hdb::test {

inline std::string Vin(int n) {
  char text[18];
  std::snprintf(text, sizeof text, "WBA%014d", n);
  return text;
}

// The message of what fn raises ("" when nothing): EHDBException without its number.
inline std::string MessageOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EHDBException& e) {
    return e.Message();
  } catch (const std::exception& e) {
    return e.what();
  }
  return "";
}

inline void MakeDatabase(const std::string& path) {
  THDBLocalSession maker;
  maker.DatabaseName = "Dataset";
  maker.DatabaseFileName = path;
  maker.CreateDatabase();
}

// A session on the file for setting tables and records up.
class SetupSession {
 public:
  explicit SetupSession(const std::string& path) {
    session.DatabaseName = "Setup";
    session.DatabaseFileName = path;
    session.SetConnected(true);
  }
  void CreateTable(const std::string& name, const THDBFieldDefs& fields, const THDBIndexDefs& indexes,
                   const THDBConstraintDefs& constraints) {
    THDBLocalCursor cursor(session);
    cursor.TableName = name;
    cursor.CreateTable(fields, indexes, constraints);
  }
  THDBLocalSession session;
};

struct ServiceRow {
  std::string FG;
  std::int32_t DAT;  // day number
  std::int64_t MLG;
  std::uint16_t THND;
  std::string NHND;
  std::uint16_t SSTAT;
};

inline std::int32_t Day(int y, int m, int d) { return EncodeDayNumber(y, m, d); }

// dsTable: FG char(17), DAT date, MLG largeint, THND word, NHND char(7), SSTAT word,
// every field NOT NULL; index FGDAT on FG;DAT.
inline void CreateServiceTable(const std::string& path) {
  SetupSession s(path);
  THDBFieldDefs fields;
  fields.AddField("FG", dtChar, 17);
  fields.AddField("DAT", dtDate);
  fields.AddField("MLG", dtLargeInt);
  fields.AddField("THND", dtWord);
  fields.AddField("NHND", dtChar, 7);
  fields.AddField("SSTAT", dtWord);
  fields.RecalcOffsets();
  THDBIndexDefs indexes;
  THDBIndexDef& index = indexes.AddNew();
  index.Name = "FGDAT";
  index.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
  THDBConstraintDefs constraints;
  for (int i = 0; i < fields.Count(); ++i) {
    auto nn = std::make_unique<THDBConstraintDefNotNull>();
    nn->FieldRef.Name = fields[i].Name;
    constraints.Add(std::move(nn));
  }
  s.CreateTable("dsTable", fields, indexes, constraints);
}

inline void CreateServiceFile(const std::string& path) {
  MakeDatabase(path);
  CreateServiceTable(path);
}

// Puts the rows into dsTable through a cursor of its own.
inline void PutServiceRows(const std::string& path, const std::vector<ServiceRow>& rows) {
  SetupSession s(path);
  THDBLocalCursor cursor(s.session);
  cursor.TableName = "dsTable";
  cursor.OpenTable();
  std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
  cursor.BeginBatchUpdate();
  for (const ServiceRow& row : rows) {
    cursor.InitRecordBuffer(buffer.data(), true);
    char fg[18] = {}, nhnd[8] = {};
    std::strncpy(fg, row.FG.c_str(), 17);
    std::strncpy(nhnd, row.NHND.c_str(), 7);
    cursor.WriteField(0, buffer.data(), fg);
    cursor.WriteField(1, buffer.data(), &row.DAT);
    cursor.WriteField(2, buffer.data(), &row.MLG);
    cursor.WriteField(3, buffer.data(), &row.THND);
    cursor.WriteField(4, buffer.data(), nhnd);
    cursor.WriteField(5, buffer.data(), &row.SSTAT);
    cursor.CurrentRecord = buffer.data();
    cursor.WriteRecord(true);
    ASSERT_EQ(cursor.LastResult, 0) << cursor.LastErrorText;
  }
  cursor.EndBatchUpdate();
}

// "Kinds": one field of each kind the field objects convert, none required, an index
// on I32.
inline void CreateKindsTable(const std::string& path) {
  SetupSession s(path);
  THDBFieldDefs fields;
  fields.AddField("STR", dtString, 10);
  fields.AddField("WSTR", dtWideString, 5);
  fields.AddField("I8", dtShortInt);
  fields.AddField("I16", dtSmallInt);
  fields.AddField("I32", dtInteger);
  fields.AddField("I64", dtLargeInt);
  fields.AddField("U8", dtByte);
  fields.AddField("U16", dtWord);
  fields.AddField("U32", dtCardinal);
  fields.AddField("AUTO", dtAutoinc);
  fields.AddField("F32", dtSingle);
  fields.AddField("F64", dtDouble);
  fields.AddField("F80", dtExtended);
  fields.AddField("BOOL", dtLogical);
  fields.AddField("CUR", dtCurrency);
  fields.AddField("D", dtDate);
  fields.AddField("T", dtTime);
  fields.AddField("DT", dtDateTime);
  fields.AddField("MEMO", dtMemo);
  fields.AddField("BIN", dtBlob);
  fields.RecalcOffsets();
  THDBIndexDefs indexes;
  THDBIndexDef& index = indexes.AddNew();
  index.Name = "ByI32";
  index.SetColumns({"I32"}, {""}, {""});
  s.CreateTable("Kinds", fields, indexes, THDBConstraintDefs());
}

// Sets the header's state byte, as a commit that never finished leaves it.
inline void SetDatabaseState(const std::string& path, std::uint8_t state) {
  std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
  ASSERT_TRUE(f.good());
  THDBFileHeader header;
  f.read(reinterpret_cast<char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  header.SetDatabaseState(state);
  f.seekp(0);
  f.write(reinterpret_cast<const char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
}

inline std::uint8_t DatabaseState(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  THDBFileHeader header;
  f.read(reinterpret_cast<char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  return header.DatabaseState();
}

inline std::vector<char> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<char>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

}  // namespace hdb::test

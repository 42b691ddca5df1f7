// Data.hdb as the window tests prepare and inspect it: an empty store made through the
// engine (the table dsTable with its index FGDAT, as the tool makes it), records put
// through the engine's cursor, a header left as a commit that never finished leaves it,
// the records read back in index order, and the real hdbtool run on the file.
#pragma once

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "store/service_record.h"
#include "store/service_table.h"

namespace uitest {

inline std::int32_t Day(int year, int month, int day) { return hdb::EncodeDayNumber(year, month, day); }

inline void CreateStore(const std::string& path) {
  hdb::THDBLocalSession session;
  session.DatabaseName = "Maker";
  session.DatabaseFileName = path;
  session.CreateDatabase();
  session.SetConnected(true);
  store::CreateServiceTable(session);
}

// Adds the records in one batch; the cursor's text when one is refused, else empty.
inline std::string PutRecords(const std::string& path, const std::vector<store::TServiceRecord>& records) {
  hdb::THDBLocalSession session;
  session.DatabaseName = "Filler";
  session.DatabaseFileName = path;
  session.SetConnected(true);
  hdb::THDBLocalCursor cursor(session);
  cursor.TableName = store::ServiceTableName;
  cursor.OpenTable();
  std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
  cursor.BeginBatchUpdate();
  for (const store::TServiceRecord& r : records) {
    cursor.InitRecordBuffer(buffer.data(), true);
    char fg[store::VinLength + 1] = {}, nhnd[store::AgentNumberLength + 1] = {};
    std::strncpy(fg, r.FG.c_str(), store::VinLength);
    std::strncpy(nhnd, r.NHND.c_str(), store::AgentNumberLength);
    cursor.WriteField(store::FieldFG, buffer.data(), fg);
    cursor.WriteField(store::FieldDAT, buffer.data(), &r.DAT);
    cursor.WriteField(store::FieldMLG, buffer.data(), &r.MLG);
    cursor.WriteField(store::FieldTHND, buffer.data(), &r.THND);
    cursor.WriteField(store::FieldNHND, buffer.data(), nhnd);
    cursor.WriteField(store::FieldSSTAT, buffer.data(), &r.SSTAT);
    cursor.CurrentRecord = buffer.data();
    cursor.WriteRecord(true);
    if (cursor.LastResult != 0) return cursor.LastErrorText;
  }
  cursor.EndBatchUpdate();
  return {};
}

// Leaves the file's header as a commit interrupted between its two header writes
// leaves it: the state byte says "committing".
inline bool MarkCommitInterrupted(const std::string& path) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  hdb::THDBFileHeader header;
  file.read(reinterpret_cast<char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  if (!file) return false;
  header.SetDatabaseState(hdb::DatabaseStateCommitting);
  file.seekp(0);
  file.write(reinterpret_cast<const char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  return static_cast<bool>(file.flush());
}

// The real hdbtool beside the test program: its exit code and its standard output.
struct TToolRun {
  int exitCode = -1;
  QString out;
};

inline TToolRun RunHdbTool(const QStringList& arguments) {
  QProcess tool;
  tool.start(QCoreApplication::applicationDirPath() + "/hdbtool", arguments);
  TToolRun run;
  if (!tool.waitForFinished(60000)) return run;
  run.exitCode = tool.exitStatus() == QProcess::NormalExit ? tool.exitCode() : -1;
  run.out = QString::fromUtf8(tool.readAllStandardOutput());
  return run;
}

// The records of dsTable in index order as the tool dumps them, one CSV line each
// (FG,DAT,MLG,THND,NHND,SSTAT), without the header line.
inline QStringList DumpRecords(const std::string& path) {
  const TToolRun run = RunHdbTool({"dump", QString::fromStdString(path), "dsTable", "--index", "FGDAT"});
  QStringList lines = run.out.split("\r\n", Qt::SkipEmptyParts);
  if (!lines.isEmpty()) lines.removeFirst();
  return lines;
}

}  // namespace uitest

// dump and import: the CSV a dump writes reads back into a fresh file and dumps again
// to the same bytes, for the service store and for a table with a field of every kind;
// a large import is consistent and dumps in index order.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "tool_run.h"

namespace {

using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

class CsvRoundTripTest : public hdbtest::ToolTest {
 protected:
  // Imports the CSV into a fresh copy of the empty file `empty` and dumps it.
  std::string ImportAndDump(const std::string& empty, const std::string& table, const std::string& csv,
                            const std::string& dumpOptions = "") {
    const std::string copy = dir_.File("copy.hdb"), input = dir_.File("input.csv");
    Write(copy, Slurp(empty));
    Write(input, csv);
    ToolRun imported = Run("import " + copy + " " + table + " " + input);
    EXPECT_EQ(imported.exitCode, 0) << imported.err;
    ToolRun dumped = Run("dump " + copy + " " + table + " " + dumpOptions);
    EXPECT_EQ(dumped.exitCode, 0) << dumped.err;
    EXPECT_EQ(dumped.err, "");
    return dumped.out;
  }
};

TEST_F(CsvRoundTripTest, TheServiceStoreRoundTripsByteForByte) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  // Fields in another order, LF line ends, a quoted agent number with a comma and a
  // quote, a Windows-1252 character, blanks around a number, a one-digit day.
  const std::string input =
      "NHND,FG,DAT,MLG,THND,SSTAT\n"
      "\"a,b\"\"c\",WBAPH71090A123456,2020-01-5, 12000 ,1,16513\n"
      "M\xC3\xBC 7,WBAPH71090A123456,2019-12-31,8000,0,32897\n"
      "4711001,WBA00000000000001,2021-02-03,0,1,65535\n";
  const std::string dumped = ImportAndDump(db_, "dsTable", input);
  EXPECT_EQ(dumped,
            "FG,DAT,MLG,THND,NHND,SSTAT\r\n"
            "WBAPH71090A123456,2020-01-05,12000,1,\"a,b\"\"c\",16513\r\n"
            "WBAPH71090A123456,2019-12-31,8000,0,M\xC3\xBC 7,32897\r\n"
            "WBA00000000000001,2021-02-03,0,1,4711001,65535\r\n");
  EXPECT_EQ(ImportAndDump(db_, "dsTable", dumped), dumped) << "dump -> import -> dump";
  EXPECT_EQ(ImportAndDump(db_, "dsTable", dumped, "--index FGDAT"),
            "FG,DAT,MLG,THND,NHND,SSTAT\r\n"
            "WBA00000000000001,2021-02-03,0,1,4711001,65535\r\n"
            "WBAPH71090A123456,2019-12-31,8000,0,M\xC3\xBC 7,32897\r\n"
            "WBAPH71090A123456,2020-01-05,12000,1,\"a,b\"\"c\",16513\r\n");
}

// A table with a field of every kind the tool writes, made through the engine.
void CreateEveryKindTable(const std::string& path) {
  hdb::THDBLocalSession session;
  session.DatabaseName = "Every";
  session.DatabaseFileName = path;
  session.SetConnected(true);
  hdb::THDBFieldDefs fields;
  fields.AddField("S", hdb::dtString, 10);
  fields.AddField("W", hdb::dtWideString, 5);
  fields.AddField("I8", hdb::dtShortInt);
  fields.AddField("U32", hdb::dtCardinal);
  fields.AddField("I64", hdb::dtLargeInt);
  fields.AddField("F", hdb::dtSingle);
  fields.AddField("D", hdb::dtDouble);
  fields.AddField("X", hdb::dtExtended);
  fields.AddField("B", hdb::dtLogical);
  fields.AddField("C", hdb::dtCurrency);
  fields.AddField("DA", hdb::dtDate);
  fields.AddField("T", hdb::dtTime);
  fields.AddField("DT", hdb::dtDateTime);
  fields.AddField("BY", hdb::dtBytes, 4);
  fields.AddField("BL", hdb::dtBlob);
  fields.AddField("M", hdb::dtMemo);
  fields.AddField("WM", hdb::dtWideMemo);
  fields.AddField("A", hdb::dtAutoinc);
  fields.AddField("G", hdb::dtGuid, 38);
  fields.RecalcOffsets();
  hdb::THDBIndexDefs indexes;
  hdb::THDBIndexDef& byS = indexes.AddNew();
  byS.Name = "BYS";
  byS.SetColumns({"S"}, {"DESC"}, {""});
  hdb::THDBLocalCursor maker(session);
  maker.TableName = "Every";
  maker.CreateTable(fields, indexes, hdb::THDBConstraintDefs());
}

TEST_F(CsvRoundTripTest, EveryFieldKindRoundTripsByteForByte) {
  ASSERT_EQ(Run("create " + db_).exitCode, 0);
  CreateEveryKindTable(db_);
  const std::string blob(2 * 9000, 'a');  // 9000 bytes 0xAA: a BLOB over pages of its own
  const std::string input =
      "S,W,I8,U32,I64,F,D,X,B,C,DA,T,DT,BY,BL,M,WM,A,G\n"
      // Limits and texts that need quotes, a character outside the BMP, a memo over
      // two lines, a byte array shorter than its field.
      "\"x, \"\"y\"\"\",\xC3\xA4\xF0\x9D\x84\x9Ez,-128,4294967295,-9223372036854775808,0.1,0.1,1e300,true,12.5,"
      "0001-01-01,23:59:59.999,9999-12-31 00:00:00,0a0B," + blob + ",\"line 1\nline \"\"2\"\"\","
      "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9D\x84\x9E,,{01234567-89AB-CDEF-0123-456789ABCDEF}\n"
      // Every field NULL but the automatic one, which counts on.
      ",,,,,,,,,,,,,,,,,,\n"
      // Lenient forms that are written back in the one form each value has.
      "z,w,+127,0,42, -0 ,1e-310,-2.5,FALSE,-0.01,2020-2-29,7:05,2020-02-29T13:14:15.5,,,,,7,\n";
  const std::string dumped = ImportAndDump(db_, "Every", input);
  EXPECT_EQ(dumped,
            "S,W,I8,U32,I64,F,D,X,B,C,DA,T,DT,BY,BL,M,WM,A,G\r\n"
            "\"x, \"\"y\"\"\",\xC3\xA4\xF0\x9D\x84\x9Ez,-128,4294967295,-9223372036854775808,0.1,0.1,1e+300,True,12.5,"
            "0001-01-01,23:59:59.999,9999-12-31 00:00:00,0a0b0000," + blob + ",\"line 1\nline \"\"2\"\"\","
            "Gr\xC3\xBC\xC3\x9F" "e \xF0\x9D\x84\x9E,1,{01234567-89AB-CDEF-0123-456789ABCDEF}\r\n"
            ",,,,,,,,,,,,,,,,,2,\r\n"
            "z,w,127,0,42,-0,1e-310,-2.5,False,-0.01,2020-02-29,07:05:00,2020-02-29 13:14:15.500,,,,,7,\r\n");
  EXPECT_EQ(ImportAndDump(db_, "Every", dumped), dumped) << "dump -> import -> dump";
  // The descending index orders by S, NULL last.
  const std::string byS = ImportAndDump(db_, "Every", dumped, "--index bys");
  EXPECT_LT(byS.find("\r\nz,"), byS.find("\r\n\"x, "));
  EXPECT_LT(byS.find("\r\n\"x, "), byS.find("\r\n,,"));
}

TEST_F(CsvRoundTripTest, ALargeImportIsConsistentAndDumpsInIndexOrder) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  // 20 000 records over 2 000 VINs, in no particular order.
  struct Row {
    std::string vin;
    int year, month, day;
  };
  std::vector<Row> rows;
  for (int v = 0; v < 2000; ++v)
    for (int k = 0; k < 10; ++k) {
      char vin[18];
      std::snprintf(vin, sizeof vin, "WBA%014d", v * 7919 % 100000);
      rows.push_back({vin, 2000 + k, 1 + (v + k) % 12, 1 + v % 28});
    }
  std::shuffle(rows.begin(), rows.end(), std::mt19937(7));
  std::ostringstream csv;
  csv << "FG,DAT,MLG,THND,NHND,SSTAT\n";
  char date[11];
  for (const Row& r : rows) {
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.year, r.month, r.day);
    csv << r.vin << "," << date << ",1000,1,4711001,16385\n";
  }
  Write(dir_.File("big.csv"), csv.str());
  ToolRun imported = Run("import " + db_ + " dsTable " + dir_.File("big.csv"));
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  EXPECT_EQ(imported.out, "Imported 20000 records into dsTable of " + db_ + "\n");
  ToolRun check = Run("check " + db_);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;

  ToolRun dumped = Run("dump " + db_ + " dsTable --index FGDAT");
  ASSERT_EQ(dumped.exitCode, 0) << dumped.err;
  std::vector<std::string> keys;
  std::istringstream lines(dumped.out);
  std::string line;
  std::getline(lines, line);
  while (std::getline(lines, line)) keys.push_back(line.substr(0, 28));  // FG,DAT
  std::vector<std::string> expected;
  for (const Row& r : rows) {
    std::snprintf(date, sizeof date, "%04d-%02d-%02d", r.year, r.month, r.day);
    expected.push_back(r.vin + "," + date);
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(keys, expected);
}

}  // namespace

// import refuses a CSV with a bad line: the error names the file, the line and the
// reason, and the store keeps exactly what it held.
#include <gtest/gtest.h>

#include <string>

#include "tool_run.h"

namespace {

using hdbtest::OneLineError;
using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

constexpr char Header[] = "FG,DAT,MLG,THND,NHND,SSTAT\n";
constexpr char GoodLine[] = "WBAPH71090A123456,2020-01-05,12000,1,4711001,16513\n";

class ImportRefusalTest : public hdbtest::ToolTest {};

TEST_F(ImportRefusalTest, ABadLineIsNamedAndNothingIsImported) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  Write(dir_.File("first.csv"), std::string(Header) + GoodLine);
  ASSERT_EQ(Run("import " + db_ + " dsTable " + dir_.File("first.csv")).exitCode, 0);
  const std::string before = Slurp(db_);
  const std::string dumpBefore = Run("dump " + db_ + " dsTable").out;

  const std::string good = GoodLine;
  struct {
    const char* what;
    std::string csv;
    const char* says;
  } cases[] = {
      {"a malformed date on line 3", Header + good + "WBAPH71090A123456,2020-13-01,1,1,4711001,16513\n" + good,
       "line 3: DAT: '2020-13-01' is no date yyyy-mm-dd"},
      {"a 20-character VIN", Header + good + good + "WBAPH71090A123456789,2020-01-06,1,1,4711001,16513\n",
       "line 4: FG: 'WBAPH71090A123456789' has 20 characters, the field holds 17"},
      {"a missing value", Header + std::string("WBAPH71090A123456,2020-01-05,12000,1,16513\n"),
       "line 2: 5 values, the header names 6"},
      {"an unknown field", std::string("FG,DATE\n") + "WBAPH71090A123456,2020-01-05\n",
       "line 1: table dsTable has no field 'DATE'"},
      {"a field named twice", std::string("FG,fg\n"), "line 1: the field FG is named twice"},
      {"a number too large for a WORD", Header + std::string("WBAPH71090A123456,2020-01-05,1,70000,4711001,1\n"),
       "line 2: THND: '70000' is outside 0 to 65535"},
      {"a required field left empty", Header + good + "WBAPH71090A123456,2020-01-07,,1,4711001,16513\n",
       "line 3: Constraint '$C_NotNull$dsTable$MLG' violated. Value in field 'MLG' cannot be null"},
      {"a required field left out", std::string("FG,DAT\n") + "WBAPH71090A123456,2020-01-05\n",
       "line 2: Constraint '$C_NotNull$dsTable$MLG' violated"},
      {"a character Windows-1252 does not have", Header + std::string("WBAPH71090A123456,2020-01-05,1,1,A\xE2\x86\x92" "B,1\n"),
       "line 2: NHND: 'A\xE2\x86\x92" "B' holds a character that Windows-1252 does not have"},
      {"bytes that are not UTF-8", Header + std::string("WBAPH71090A123456,2020-01-05,1,1,A\xFF" "B,1\n"),
       "line 2: NHND: 'A\xFF" "B' is not UTF-8 text"},
      {"a quote never closed (the record starts on line 3)",
       Header + good + "WBAPH71090A123456,2020-01-05,1,1,\"47\n11,1\n" + good,
       "line 3: a quoted value is never closed"},
      {"text after a closing quote", Header + std::string("WBAPH71090A123456,2020-01-05,1,1,\"47\"11,1\n"),
       "line 2: text follows the closing quote of value 5"},
      {"an empty file", "", "is empty: its first line must name the fields"},
  };
  for (const auto& c : cases) {
    const std::string csv = dir_.File("bad.csv");
    Write(csv, c.csv);
    ToolRun r = Run("import " + db_ + " dsTable " + csv);
    EXPECT_EQ(r.exitCode, 1) << c.what << ": " << r.err;
    EXPECT_TRUE(OneLineError(r)) << c.what << ": " << r.err;
    EXPECT_EQ(r.err.rfind("hdbtool: " + csv + " ", 0), 0u) << c.what << ": the error names the CSV file: " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find("nothing was imported"), std::string::npos) << c.what << ": " << r.err;
    EXPECT_EQ(Slurp(db_), before) << c.what << ": the store is unchanged";
  }
  EXPECT_EQ(Run("dump " + db_ + " dsTable").out, dumpBefore);

  // Standard input, and names the file does not hold.
  ToolRun fromInput = Run("import " + db_ + " dsTable -", std::string(Header) + "WBAPH71090A123456,2020-02-30,1,1,1,1\n");
  EXPECT_EQ(fromInput.exitCode, 1);
  EXPECT_NE(fromInput.err.find("standard input line 2: DAT: '2020-02-30' is no date"), std::string::npos) << fromInput.err;
  ToolRun noTable = Run("import " + db_ + " Vehicles -", Header);
  EXPECT_EQ(noTable.exitCode, 1);
  EXPECT_NE(noTable.err.find(db_ + ": no table 'Vehicles' (tables: dsTable)"), std::string::npos) << noTable.err;
  ToolRun noIndex = Run("dump " + db_ + " dsTable --index FG");
  EXPECT_EQ(noIndex.exitCode, 1);
  EXPECT_EQ(noIndex.out, "") << "nothing is written before the index is known";
  EXPECT_NE(noIndex.err.find("table 'dsTable' has no index 'FG' (indexes: FGDAT)"), std::string::npos) << noIndex.err;
  ToolRun noCsv = Run("import " + db_ + " dsTable " + dir_.File("missing.csv"));
  EXPECT_EQ(noCsv.exitCode, 2) << "an input file that cannot be read";
  EXPECT_TRUE(OneLineError(noCsv));
  EXPECT_EQ(Slurp(db_), before);
}

}  // namespace

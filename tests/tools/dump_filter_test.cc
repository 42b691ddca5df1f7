// dump --filter: only the records that pass, in the order of the unfiltered dump; the
// filter options; a text that does not parse; and --explain, which says whether the
// index FGDAT answered the filter and how many records the search had to read.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tool_run.h"

namespace {

using hdbtest::ToolRun;

class DumpFilterTest : public hdbtest::ToolTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
    // Three vehicles; B's records were entered out of date order.
    const std::string input =
        "FG,DAT,MLG,THND,NHND,SSTAT\n"
        "AAAAAAAAAAAAAAAA1,2020-01-01,1000,1,1,16513\n"
        "BBBBBBBBBBBBBBBB2,2021-03-01,9000,1,1,16513\n"
        "CCCCCCCCCCCCCCCC3,2019-05-05,500,1,1,16513\n"
        "BBBBBBBBBBBBBBBB2,2020-02-01,4000,1,1,16513\n"
        "AAAAAAAAAAAAAAAA1,2021-01-01,2000,1,1,16513\n"
        "BBBBBBBBBBBBBBBB2,2022-07-01,12000,1,1,16513\n";
    ASSERT_EQ(Run("import " + db_ + " dsTable -", input).exitCode, 0);
  }

  // The lines of the dump without its header.
  static std::vector<std::string> Rows(const std::string& csv) {
    std::vector<std::string> rows;
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) rows.push_back(line);
    return rows;
  }

  // The records of the unfiltered dump whose line passes the predicate.
  std::vector<std::string> Expected(const std::string& options, bool (*keep)(const std::string&)) {
    std::vector<std::string> rows;
    for (const std::string& row : Rows(Run("dump " + db_ + " dsTable " + options).out))
      if (keep(row)) rows.push_back(row);
    return rows;
  }
};

TEST_F(DumpFilterTest, OnlyThePassingRecordsInTheUnfilteredOrder) {
  struct Case {
    const char* filter;
    const char* order;
    const char* options;
    bool (*keep)(const std::string&);
  } cases[] = {
      {"FG='BBBBBBBBBBBBBBBB2'", "", "", [](const std::string& r) { return r.rfind("BBBB", 0) == 0; }},
      {"FG='BBBBBBBBBBBBBBBB2'", "--index FGDAT", "", [](const std::string& r) { return r.rfind("BBBB", 0) == 0; }},
      {"fg = 'bbbbbbbbbbbbbbbb2'", "", "--case-insensitive",
       [](const std::string& r) { return r.rfind("BBBB", 0) == 0; }},
      {"FG='BBB*'", "", "--partial", [](const std::string& r) { return r.rfind("BBBB", 0) == 0; }},
      {"FG='BBB*'", "", "", [](const std::string&) { return false; }},
      {"MLG > 1000 AND MLG < 9000", "--index FGDAT", "",
       [](const std::string& r) { return r.find(",2000,") != std::string::npos || r.find(",4000,") != std::string::npos; }},
      {"FG<>'BBBBBBBBBBBBBBBB2' OR DAT >= DATE '2022-01-01'", "", "",
       [](const std::string& r) { return r.rfind("BBBB", 0) != 0 || r.find("2022-") != std::string::npos; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + c.order + " " + c.options);
    ToolRun r = Run("dump " + db_ + " dsTable \"--filter=" + c.filter + "\" " + c.order + " " + c.options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Rows(r.out), Expected(c.order, c.keep));
  }
}

TEST_F(DumpFilterTest, ATextThatDoesNotParseGivesTheParsersMessage) {
  ToolRun r = Run("dump " + db_ + " dsTable \"--filter=FG=\"");
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(hdbtest::OneLineError(r)) << r.err;
  EXPECT_NE(r.err.find("Boolean expression expected, but 'FG' found at line 1, column 1"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(Run("dump " + db_ + " dsTable --explain").exitCode, 2) << "--explain without a filter";
}

TEST_F(DumpFilterTest, ExplainNamesThePathAndTheRecordsRead) {
  struct Case {
    const char* filter;
    const char* options;
    const char* path;
    const char* read;
  } cases[] = {
      // The key range answers the comparison alone: no record is read to test it.
      {"FG='BBBBBBBBBBBBBBBB2'", "--index FGDAT", "path: index FGDAT [FG = 'BBBBBBBBBBBBBBBB2']\n", "records read: 0\n"},
      {"'BBBBBBBBBBBBBBBB2' <= FG AND FG < 'C'", "--index FGDAT",
       "path: index FGDAT [FG >= 'BBBBBBBBBBBBBBBB2', FG < 'C']\n", "records read: 0\n"},
      // A test the index cannot answer reads the records of the range only.
      {"FG='BBBBBBBBBBBBBBBB2' AND MLG > 5000", "--index FGDAT", "path: index FGDAT [FG = 'BBBBBBBBBBBBBBBB2']\n",
       "records read: 3\n"},
      // The index is case-sensitive; a case-insensitive filter cannot use it.
      {"FG='BBBBBBBBBBBBBBBB2'", "--index FGDAT --case-insensitive", "path: scan\n", "records read: 6\n"},
      {"FG<>'BBBBBBBBBBBBBBBB2'", "--index FGDAT", "path: scan\n", "records read: 6\n"},
      {"FG='AAAAAAAAAAAAAAAA1' OR FG='CCCCCCCCCCCCCCCC3'", "--index FGDAT", "path: scan\n", "records read: 6\n"},
      // Two equalities that cannot both hold: nothing to read at all.
      {"FG='AAAAAAAAAAAAAAAA1' AND FG='CCCCCCCCCCCCCCCC3'", "--index FGDAT", "path: scan\n", "records read: 0\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.filter) + " " + c.options);
    ToolRun r = Run("dump " + db_ + " dsTable \"--filter=" + c.filter + "\" --explain " + c.options);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, std::string(c.path) + c.read);
  }
}

}  // namespace

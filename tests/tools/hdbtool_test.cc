// The tool's command line (verbs, help, exit codes) and the verbs that describe a
// file: create, create-store and info.
#include <gtest/gtest.h>

#include <string>

#include "dbengine/storage/disk_page_manager.h"
#include "tool_run.h"

namespace {

using hdbtest::OneLineError;
using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

class HdbtoolTest : public hdbtest::ToolTest {};

TEST_F(HdbtoolTest, CreateThenInfo) {
  ToolRun created = Run("create " + db_ + " --slots 20");
  ASSERT_EQ(created.exitCode, 0) << created.err;
  ToolRun info = Run("info " + db_);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  for (const char* line : {"Page size: 4096\n", "Total page count: 6\n", "Last used page: 4\n",
                           "Database state: 2 (consistent)\n", "  0 PFS Page\n", "  1 EAM Page\n",
                           "  2 FileSystemDirectory Page\n", "  3 ActiveSessionList Page\n", "  4 TableList Page\n",
                           "  kind 2 (active sessions file) at page 3\n", "  kind 1 (table list) at page 4\n",
                           "Table list: 0 entries\n", "Sessions file: 20 slots\n"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  EXPECT_EQ(Slurp(db_).size(), 380u + 6 * 4096);
}

// The census counts a page as in use by its free-space map bit: a freed page and the
// pages never written are free, whatever their bytes say.
TEST_F(HdbtoolTest, InfoCountsPagesInUseByTheFreeSpaceMap) {
  ASSERT_EQ(Run("create " + db_).exitCode, 0);
  {
    hdb::THDBDiskPageManager pm;
    bool multiUser = false, readOnly = false;
    pm.Open(db_, {}, multiUser, false, readOnly);
    std::int32_t added[2];
    for (std::int32_t& no : added) {
      hdb::THDBPinnedPage page(pm, pm.AddPage(0, hdb::ptTableRecord));
      no = page->PageNo();
    }
    pm.CommitPages(0);
    pm.RemovePage(0, added[0]);
    pm.CommitPages(0);
    ASSERT_EQ(added[0], 5);
    ASSERT_EQ(added[1], 6);
  }
  ToolRun info = Run("info " + db_);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  // Pages 0-4 hold the maps and system files, 5 is a freed record page, 6 a record
  // page, and the growth that made page 6 left 7-13 never written.
  for (const char* line : {"Total page count: 14\n", "  PFS Page: 1\n", "  TableRecord Page: 1\n", "  Free: 8\n",
                           "  5 Free\n", "  6 TableRecord Page\n", "  13 Free\n"})
    EXPECT_NE(info.out.find(line), std::string::npos) << line << "\n" << info.out;
  EXPECT_EQ(info.out.find("Unknown Page"), std::string::npos) << info.out;
}

TEST_F(HdbtoolTest, CreateReplacesOnlyWhenAsked) {
  Write(db_, "precious");
  ToolRun refused = Run("create " + db_);
  EXPECT_TRUE(OneLineError(refused)) << refused.err;
  EXPECT_EQ(Slurp(db_), "precious");
  EXPECT_EQ(Run("create " + db_ + " --force --page-size 8192").exitCode, 0);
  EXPECT_NE(Run("info " + db_).out.find("Page size: 8192\n"), std::string::npos);
  EXPECT_EQ(Run("create " + db_ + " --force --page-size 12").exitCode, 2);  // usage
}

TEST_F(HdbtoolTest, BadFilesGiveOneLineErrors) {
  ASSERT_EQ(Run("create " + db_).exitCode, 0);
  std::string good = Slurp(db_);
  struct {
    const char* what;
    std::string content;
    const char* message;
  } cases[] = {
      {"foreign", std::string("SQLite format 3") + std::string(5000, 'x'), "Invalid file format"},
      {"empty", "", "Invalid file format"},
      {"damaged directory", good.substr(0, 380 + 2 * 4096 + 8) + "\x09" + good.substr(380 + 2 * 4096 + 9),
       "Invalid page type"},
      {"truncated", good.substr(0, 380 + 2 * 4096), "Invalid page type"},
  };
  const std::string csv = dir_.File("in.csv");
  Write(csv, "FG\nWBAPH71090A123456\n");
  for (const auto& c : cases) {
    for (const std::string verb : {"info " + db_, "check " + db_, "dump " + db_ + " dsTable",
                                   "import " + db_ + " dsTable " + csv}) {
      Write(db_, c.content);
      ToolRun r = Run(verb);
      EXPECT_TRUE(OneLineError(r)) << c.what << ", " << verb << ": " << r.exitCode << " " << r.err;
      EXPECT_EQ(r.exitCode, 2) << c.what << ", " << verb << ": a file that cannot be read";
      EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ", " << verb << ": " << r.err;
      EXPECT_EQ(Slurp(db_), c.content) << c.what << ", " << verb << ": the file is left as it was";
    }
  }
  ToolRun missing = Run("info " + dir_.File("missing.hdb"));
  EXPECT_TRUE(OneLineError(missing)) << missing.err;
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(missing.exitCode, 2) << "a file that cannot be read";
  EXPECT_NE(missing.err.find("missing.hdb"), std::string::npos) << "the error names the file";
}

// Every verb answers a wrong command line with exit code 2 and one line naming the
// mistake, and --help in the usual form.
TEST_F(HdbtoolTest, UsageErrorsExitTwoWithOneLine) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  struct {
    std::string args;
    const char* says;
  } cases[] = {
      {"", "no verb given"},
      {"frobnicate " + db_, "unknown verb 'frobnicate'"},
      {"info", "info: needs FILE"},
      {"import " + db_ + " dsTable", "import: needs FILE TABLE CSV"},
      {"dump " + db_ + " dsTable extra", "dump: takes only FILE TABLE, not 'extra'"},
      {"check " + db_ + " --fast", "check: unknown option --fast"},
      {"dump " + db_ + " dsTable --index", "dump: --index needs a value NAME"},
      {"create " + dir_.File("new.hdb") + " --slots many", "create: --slots needs a number from 1 to 100000"},
      {"create-store " + dir_.File("new.hdb") + " --force=yes", "create-store: --force takes no value"},
  };
  for (const auto& c : cases) {
    ToolRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, 2) << c.args;
    EXPECT_TRUE(OneLineError(r)) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }
  EXPECT_FALSE(std::ifstream(dir_.File("new.hdb")).good()) << "a refused command line makes no file";

  ToolRun overview = Run("--help");
  EXPECT_EQ(overview.exitCode, 0);
  for (const char* verb : {"create FILE", "create-store FILE", "demo DIR", "info FILE", "check FILE",
                           "dump FILE TABLE", "import FILE TABLE CSV", "Exit codes: 0 done; 1 problems"})
    EXPECT_NE(overview.out.find(verb), std::string::npos) << verb << "\n" << overview.out;
  for (const std::string& args : {std::string("dump --help"), std::string("help dump"), "dump " + db_ + " --help"}) {
    ToolRun help = Run(args);
    EXPECT_EQ(help.exitCode, 0) << args;
    EXPECT_EQ(help.out.rfind("usage: hdbtool dump FILE TABLE [--index NAME] [--filter TEXT] [--case-insensitive] [--partial] [--explain]\n", 0), 0u) << args << "\n" << help.out;
    EXPECT_NE(help.out.find("RFC 4180"), std::string::npos) << "the CSV form is documented";
  }
}

TEST_F(HdbtoolTest, InfoShowsEachTableWithItsFieldsIndexesAndRecordCount) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  ToolRun imported = Run("import " + db_ + " dsTable -",
                         "FG,DAT,MLG,THND,NHND,SSTAT\n"
                         "WBAPH71090A123456,2020-01-05,12000,1,4711001,16513\n"
                         "WBAPH71090A123456,2021-01-05,24000,1,4711001,16513\n");
  ASSERT_EQ(imported.exitCode, 0) << imported.err;
  ToolRun info = Run("info " + db_);
  ASSERT_EQ(info.exitCode, 0) << info.err;
  EXPECT_NE(info.out.find("Tables:\n"
                          "  dsTable: 2 records\n"
                          "    field 0 FG STRING(17) required\n"
                          "    field 1 DAT DATE required\n"
                          "    field 2 MLG LARGEINT required\n"
                          "    field 3 THND WORD required\n"
                          "    field 4 NHND STRING(7) required\n"
                          "    field 5 SSTAT WORD required\n"
                          "    index FGDAT: FG, DAT\n"),
            std::string::npos)
      << info.out;
  ASSERT_EQ(Run("create --force " + db_).exitCode, 0);
  EXPECT_NE(Run("info " + db_).out.find("Tables: none\n"), std::string::npos);
}

}  // namespace

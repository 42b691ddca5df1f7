#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dbengine/storage/disk_page_manager.h"
#include "temp_dir.h"

namespace {

struct ToolRun {
  int exitCode;  // -1 when the tool did not exit normally (a crash)
  std::string out;
  std::string err;
};

class HdbtoolTest : public ::testing::Test {
 protected:
  ToolRun Run(const std::string& args) {
    const std::string out = dir_.File("out.txt"), err = dir_.File("err.txt");
    const std::string cmd = std::string(HDBTOOL_PATH) + " " + args + " >" + out + " 2>" + err;
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
  }
  static std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  static void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  }
  static bool OneLineError(const ToolRun& r) {
    return r.exitCode > 0 && r.err.rfind("hdbtool: ", 0) == 0 && r.err.find('\n') == r.err.size() - 1;
  }

  hdbtest::TempDir dir_;
  std::string db_ = dir_.File("Data.hdb");
};

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
  for (const auto& c : cases) {
    Write(db_, c.content);
    ToolRun r = Run("info " + db_);
    EXPECT_TRUE(OneLineError(r)) << c.what << ": " << r.exitCode << " " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.what << ": " << r.err;
  }
  ToolRun missing = Run("info " + dir_.File("missing.hdb"));
  EXPECT_TRUE(OneLineError(missing)) << missing.err;
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);
  EXPECT_EQ(Run("frobnicate").exitCode, 2);
}

}  // namespace

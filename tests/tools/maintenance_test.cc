// delete and repair: pruning a store by filters leaves exactly the rest, with a sound
// file whose freed pages the next import uses; repair saves every record of the
// readable pages of a damaged file into a sound one and keeps the original as .bak,
// and leaves alone a file it cannot read.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/file_header.h"
#include "dbengine/tables/disk_table_data.h"
#include "tool_run.h"

namespace {

using hdbtest::OneLineError;
using hdbtest::Patch;
using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

std::size_t PageOffset(std::int32_t p) { return 380 + static_cast<std::size_t>(p) * 4096; }
constexpr std::size_t PageTypeOffset = 8;

// The lines of a dump after its header, sorted.
std::vector<std::string> SortedRecords(const std::string& dump) {
  std::vector<std::string> lines;
  std::istringstream in(dump);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) lines.push_back(line + "\n");
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::int64_t InfoCount(const std::string& info, const std::string& label) {
  const std::size_t at = info.find("  " + label + ": ");
  if (at == std::string::npos) return 0;
  return std::stoll(info.substr(at + label.size() + 4));
}

struct Row {
  int vin;
  int year;
  int mileage;
  int dealer;
  std::string Line() const {
    char line[96];
    std::snprintf(line, sizeof line, "WBA%014d,%04d-03-01,%d,%d,4711001,16385\r\n", vin, year, mileage, dealer);
    return line;
  }
};

std::string Csv(const std::vector<Row>& rows) {
  std::string csv = "FG,DAT,MLG,THND,NHND,SSTAT\r\n";
  for (const Row& r : rows) csv += r.Line();
  return csv;
}

class MaintenanceTest : public hdbtest::ToolTest {
 protected:
  // The natural order of the records with the page each one is on.
  std::vector<std::int32_t> RecordPages(const std::string& file) {
    hdb::THDBLocalSession session;
    session.DatabaseName = "Pages";
    session.DatabaseFileName = file;
    session.SetConnected(true);
    hdb::THDBLocalCursor cursor(session);
    cursor.TableName = "dsTable";
    cursor.OpenTable();
    std::vector<std::int32_t> pages;
    cursor.Table()->ForEachRecord(session.SessionID(),
                                  [&](hdb::RecordID id, const std::uint8_t*) { pages.push_back(id.PageNo); });
    return pages;
  }
  std::int32_t IndexRoot(const std::string& file) {
    hdb::THDBLocalSession session;
    session.DatabaseName = "Root";
    session.DatabaseFileName = file;
    session.SetConnected(true);
    hdb::THDBLocalCursor cursor(session);
    cursor.TableName = "dsTable";
    cursor.OpenTable();
    return cursor.IndexDefs[0].RootPageNo;
  }
};

TEST_F(MaintenanceTest, DeletingMostRecordsInFilteredStepsLeavesExactlyTheRest) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  std::vector<Row> rows;
  for (int i = 0; i < 20000; ++i) rows.push_back({i % 2000, 2000 + i / 2000, i, i % 3 == 0 ? 0 : 1});
  const std::string csv = dir_.File("all.csv");
  Write(csv, Csv(rows));
  ASSERT_EQ(Run("import " + db_ + " dsTable " + csv).exitCode, 0);
  const std::int64_t indexPagesBefore = InfoCount(Run("info " + db_).out, "TableIndex Page");

  struct Step {
    std::string filter;
    std::function<bool(const Row&)> goes;
  } steps[] = {
      {"FG < 'WBA00000000000900'", [](const Row& r) { return r.vin < 900; }},
      {"DAT >= DATE '2006-01-01'", [](const Row& r) { return r.year >= 2006; }},
      {"THND = 0 AND MLG < 12000", [](const Row& r) { return r.dealer == 0 && r.mileage < 12000; }},
      {"FG >= 'WBA00000000001500' OR MLG < 2500", [](const Row& r) { return r.vin >= 1500 || r.mileage < 2500; }},
      {"FG = 'WBA99999999999999'", [](const Row&) { return false; }},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.filter);
    const auto goes = std::count_if(rows.begin(), rows.end(), step.goes);
    rows.erase(std::remove_if(rows.begin(), rows.end(), step.goes), rows.end());
    ToolRun r = Run("delete " + db_ + " dsTable \"--filter=" + step.filter + "\"");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "Deleted " + std::to_string(goes) + (goes == 1 ? " record" : " records") + " from dsTable of " +
                         db_ + "\n");
  }
  ASSERT_LT(rows.size(), 3000u) << "most of the records went";
  ASSERT_GT(rows.size(), 500u);
  EXPECT_EQ(SortedRecords(Run("dump " + db_ + " dsTable").out), SortedRecords(Csv(rows)));
  ToolRun check = Run("check " + db_);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
  const std::string info = Run("info " + db_).out;
  EXPECT_LT(InfoCount(info, "TableIndex Page") * 3, indexPagesBefore)
      << "the index shrank with the records:\n" << info;
  EXPECT_GT(InfoCount(info, "Free"), 100) << "the pages of the deleted records are free:\n" << info;

  // The next import fills the freed pages: the file does not grow.
  const std::size_t size = Slurp(db_).size();
  std::vector<Row> more;
  for (int i = 0; i < 10000; ++i) more.push_back({3000 + i % 1000, 2010 + i / 1000, 100000 + i, 1});
  Write(csv, Csv(more));
  ASSERT_EQ(Run("import " + db_ + " dsTable " + csv).exitCode, 0);
  EXPECT_EQ(Slurp(db_).size(), size) << "the import used the freed pages";
  rows.insert(rows.end(), more.begin(), more.end());
  EXPECT_EQ(SortedRecords(Run("dump " + db_ + " dsTable").out), SortedRecords(Csv(rows)));
  check = Run("check " + db_);
  EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
}

TEST_F(MaintenanceTest, DeleteRefusesWhatItCannotDoAndChangesNothing) {
  ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
  ASSERT_EQ(Run("import " + db_ + " dsTable -", Csv({{1, 2020, 100, 1}, {2, 2021, 200, 1}})).exitCode, 0);
  const std::string before = Slurp(db_);
  struct {
    std::string args;
    int exitCode;
    const char* says;
  } cases[] = {
      {"delete " + db_ + " dsTable", 2, "delete: needs --filter TEXT"},
      {"delete " + db_ + " dsTable \"--filter=FG=\"", 2, "filter: "},
      {"delete " + db_ + " dsTable --filter=", 2, "filter: Blank SQL command"},
      {"delete " + db_ + " nosuch --filter=MLG>0", 1, "no table 'nosuch' (tables: dsTable)"},
      {"delete " + dir_.File("missing.hdb") + " dsTable --filter=MLG>0", 2, "missing.hdb"},
  };
  for (const auto& c : cases) {
    ToolRun r = Run(c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << c.args << ": " << r.err;
    EXPECT_TRUE(OneLineError(r)) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(Slurp(db_), before) << c.args;
  }
  ToolRun help = Run("delete --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("usage: hdbtool delete FILE TABLE [--filter TEXT] [--case-insensitive] [--partial]\n", 0), 0u)
      << help.out;
  ToolRun overview = Run("--help");
  for (const char* verb : {"delete FILE TABLE", "repair FILE"})
    EXPECT_NE(overview.out.find(verb), std::string::npos) << verb << "\n" << overview.out;
}

class RepairTest : public MaintenanceTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run("create-store " + db_).exitCode, 0);
    std::vector<Row> rows;
    for (int i = 0; i < 300; ++i) rows.push_back({i % 40, 2010 + i / 40, i * 100, 1});
    ASSERT_EQ(Run("import " + db_ + " dsTable -", Csv(rows)).exitCode, 0);
    dump_ = Run("dump " + db_ + " dsTable").out;
    pages_ = RecordPages(db_);
    ASSERT_EQ(pages_.size(), 300u);
    indexRoot_ = IndexRoot(db_);
  }
  // The lines of the sound dump whose record is not on the page.
  std::string DumpWithout(std::int32_t page) {
    std::istringstream in(dump_);
    std::string line, kept;
    std::getline(in, line);
    kept = line + "\n";
    for (std::size_t i = 0; std::getline(in, line); ++i)
      if (pages_[i] != page) kept += line + "\n";
    return kept;
  }
  void ExpectRepaired(const ToolRun& r, const std::string& damaged) {
    EXPECT_EQ(Slurp(db_ + ".bak"), damaged) << "the original is kept as it was";
    EXPECT_FALSE(std::ifstream(db_ + ".tmp").good()) << "no copy is left beside it";
    ToolRun check = Run("check " + db_);
    EXPECT_EQ(check.exitCode, 0) << check.out << check.err;
    EXPECT_EQ(r.out.rfind("Repaired " + db_ + "; the original is kept as " + db_ + ".bak\n", 0), 0u) << r.out;
  }
  std::string dump_;
  std::vector<std::int32_t> pages_;
  std::int32_t indexRoot_ = -1;
};

TEST_F(RepairTest, ADamagedIndexPageAndADamagedRecordPageLoseOnlyThatPagesRecords) {
  const std::int32_t lost = pages_[150];
  const auto onLost = std::count(pages_.begin(), pages_.end(), lost);
  ASSERT_GT(onLost, 0);
  ASSERT_NE(lost, indexRoot_);
  Patch(db_, PageOffset(indexRoot_) + PageTypeOffset, std::string("\x0a\x00", 2));
  Patch(db_, PageOffset(lost), std::string(4096, '\x5a'));
  const std::string damaged = Slurp(db_);
  ASSERT_EQ(Run("check " + db_).exitCode, 1);

  ToolRun r = Run("repair " + db_);
  EXPECT_EQ(r.exitCode, 1) << "records were lost: " << r.out << r.err;
  EXPECT_TRUE(OneLineError(r)) << r.err;
  EXPECT_NE(r.err.find(db_ + ": repaired, but the records of 1 page could not be saved; the original is kept as " +
                       db_ + ".bak"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.out.find("  dsTable: " + std::to_string(300 - onLost) + " of 300 records saved; record page that "
                       "could not be read: " + std::to_string(lost) + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("Damage found in the original:\n  Table 'dsTable': "), std::string::npos) << r.out;
  ExpectRepaired(r, damaged);
  EXPECT_EQ(Run("dump " + db_ + " dsTable").out, DumpWithout(lost)) << "every record of the readable pages";
  EXPECT_EQ(SortedRecords(Run("dump " + db_ + " dsTable --index FGDAT").out), SortedRecords(DumpWithout(lost)))
      << "the index is built anew from the records";
}

TEST_F(RepairTest, FilesWhoseRecordsAreAllReadableKeepEveryRecord) {
  struct {
    const char* what;
    std::function<void(const std::string&)> damage;
  } cases[] = {
      {"an index page of another type",
       [&](const std::string& f) { Patch(f, PageOffset(indexRoot_) + PageTypeOffset, std::string("\x0a\x00", 2)); }},
      {"a commit that was interrupted",
       [&](const std::string& f) {
         hdb::THDBFileHeader header;
         const std::string bytes = Slurp(f).substr(0, header.Bytes().size());
         std::copy(bytes.begin(), bytes.end(), reinterpret_cast<char*>(header.Bytes().data()));
         header.SetDatabaseState(hdb::DatabaseStateCommitting);
         Patch(f, 0, std::string(reinterpret_cast<const char*>(header.Bytes().data()), header.Bytes().size()));
       }},
  };
  const std::string sound = Slurp(db_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write(db_, sound);
    std::remove((db_ + ".bak").c_str());
    c.damage(db_);
    const std::string damaged = Slurp(db_);
    ASSERT_NE(damaged, sound);
    ToolRun r = Run("repair " + db_);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("  dsTable: 300 records saved\n"), std::string::npos) << r.out;
    ExpectRepaired(r, damaged);
    EXPECT_EQ(Run("dump " + db_ + " dsTable").out, dump_);
    EXPECT_NE(Run("info " + db_).out.find("Needs repair: no\n"), std::string::npos);
  }
}

TEST_F(RepairTest, WhatCannotBeRepairedIsLeftAsItWas) {
  // A backup already there is not replaced unless asked.
  Write(db_ + ".bak", "an older backup");
  const std::string sound = Slurp(db_);
  ToolRun refused = Run("repair " + db_);
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(OneLineError(refused)) << refused.err;
  EXPECT_NE(refused.err.find(db_ + ".bak exists; give --force to replace it"), std::string::npos) << refused.err;
  EXPECT_EQ(Slurp(db_), sound);
  EXPECT_EQ(Slurp(db_ + ".bak"), "an older backup");
  ToolRun forced = Run("repair --force " + db_);
  EXPECT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_EQ(Slurp(db_ + ".bak"), sound);
  std::remove((db_ + ".bak").c_str());

  struct {
    const char* what;
    std::string content;
    const char* says;
  } cases[] = {
      {"foreign", std::string("SQLite format 3") + std::string(5000, 'x'), "Invalid file format"},
      {"empty", "", "Invalid file format"},
      {"a damaged directory", sound.substr(0, PageOffset(2) + PageTypeOffset) + "\x09" + sound.substr(PageOffset(2) + PageTypeOffset + 1),
       "Invalid page type"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Write(db_, c.content);
    ToolRun r = Run("repair " + db_);
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_TRUE(OneLineError(r)) << r.err;
    EXPECT_NE(r.err.find(db_ + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(db_), c.content);
    EXPECT_FALSE(std::ifstream(db_ + ".bak").good());
    EXPECT_FALSE(std::ifstream(db_ + ".tmp").good());
  }
  ToolRun missing = Run("repair " + dir_.File("missing.hdb"));
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_FALSE(std::ifstream(dir_.File("missing.hdb")).good()) << "repair makes no file";
}

}  // namespace

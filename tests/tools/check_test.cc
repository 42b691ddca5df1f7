// check on a sound store and on copies damaged in one way each: every damage is named
// in a line of the report, the exit code is 1, and checking changes nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <sstream>
#include <string>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/disk_table_data.h"
#include "tool_run.h"

namespace {

using hdbtest::OneLineError;
using hdbtest::Patch;
using hdbtest::Slurp;
using hdbtest::ToolRun;
using hdbtest::Write;

// Where page p of a file with 4096-byte pages starts: the pages follow the header region.
std::size_t PageOffset(std::int32_t p) { return 380 + static_cast<std::size_t>(p) * 4096; }
constexpr std::size_t PageTypeOffset = 8;
constexpr std::size_t PageDataOffset = 40;

class CheckTest : public hdbtest::ToolTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(Run("create-store " + sound_).exitCode, 0);
    std::ostringstream csv;
    csv << "FG,DAT,MLG,THND,NHND,SSTAT\n";
    for (int i = 0; i < 300; ++i) {
      char line[80];
      std::snprintf(line, sizeof line, "WBA%014d,20%02d-01-01,%d,1,4711001,16385\n", i % 40, i / 40 + 10, i * 100);
      csv << line;
    }
    ASSERT_EQ(Run("import " + sound_ + " dsTable -", csv.str()).exitCode, 0);
  }

  // The engine's view of the table: the FGDAT root and the first record page.
  void Locate(std::int32_t& indexRoot, std::int32_t& recordPage) {
    hdb::THDBLocalSession session;
    session.DatabaseName = "Check";
    session.DatabaseFileName = sound_;
    session.SetConnected(true);
    hdb::THDBLocalCursor cursor(session);
    cursor.TableName = "dsTable";
    cursor.OpenTable();
    indexRoot = cursor.IndexDefs[0].RootPageNo;
    recordPage = -1;
    cursor.Table()->ForEachRecord(session.SessionID(), [&](hdb::RecordID id, const std::uint8_t*) {
      if (recordPage < 0) recordPage = id.PageNo;
    });
  }

  std::string sound_ = dir_.File("Sound.hdb");
};

TEST_F(CheckTest, EachDamageIsNamedAndExitsOne) {
  ToolRun clean = Run("check " + sound_);
  EXPECT_EQ(clean.exitCode, 0) << clean.out << clean.err;
  EXPECT_EQ(clean.out, sound_ + ": no problems found\n");
  std::int32_t indexRoot, recordPage;
  Locate(indexRoot, recordPage);
  ASSERT_GT(indexRoot, 0);
  ASSERT_GT(recordPage, 0);

  struct {
    const char* what;
    std::function<void(const std::string&)> damage;
    std::string says;
  } cases[] = {
      {"an index page of another type",
       [&](const std::string& f) { Patch(f, PageOffset(indexRoot) + PageTypeOffset, std::string("\x0a\x00", 2)); },
       "table dsTable: index FGDAT: Invalid page type"},
      {"an index entry pointing at a slot that was emptied",
       [&](const std::string& f) {
         // Slot 0 of the record page, cleared in the page's occupancy bitmap.
         std::string page = Slurp(f).substr(PageOffset(recordPage) + PageDataOffset, 1);
         Patch(f, PageOffset(recordPage) + PageDataOffset, std::string(1, static_cast<char>(page[0] & ~1)));
       },
       "table dsTable: record page " + std::to_string(recordPage) + ": "},
      {"a record whose key is no longer the one its index entry holds",
       [&](const std::string& f) {
         // DAT of the record in slot 0: 94 slots of 43 bytes follow a 12-byte occupancy
         // bitmap, and DAT is at 19 in the record. One day later.
         const std::size_t at = PageOffset(recordPage) + PageDataOffset + 12 + 19;
         std::string day = Slurp(f).substr(at, 4);
         day[0] = static_cast<char>(day[0] + 1);
         Patch(f, at, day);
       },
       "table dsTable: index FGDAT: 1 records have no entry with their key"},
      {"a free-space map that disagrees",
       [&](const std::string& f) {
         // The record page's bit in the first PFS page, cleared.
         const std::size_t at = PageOffset(0) + PageDataOffset + static_cast<std::size_t>(recordPage / 8);
         std::string byte = Slurp(f).substr(at, 1);
         Patch(f, at, std::string(1, static_cast<char>(byte[0] & ~(1 << (recordPage % 8)))));
       },
       "free-space maps: "},
      {"a record count that disagrees",
       [&](const std::string& f) {
         hdb::THDBLocalSession session;
         session.DatabaseName = "Damage";
         session.DatabaseFileName = f;
         session.SetConnected(true);
         hdb::THDBLocalCursor cursor(session);
         cursor.TableName = "dsTable";
         cursor.OpenTable();
         hdb::THDBDiskTableData& table = *cursor.Table();
         table.Records().RecordCount += 1;
         table.WriteState(session.SessionID());
         table.CommitIfIdle(session.SessionID(), false);
       },
       "table dsTable: record count: "},
  };
  for (const auto& c : cases) {
    const std::string damaged = dir_.File("Damaged.hdb");
    Write(damaged, Slurp(sound_));
    c.damage(damaged);
    const std::string bytes = Slurp(damaged);
    ASSERT_NE(bytes, Slurp(sound_)) << c.what << ": the fixture changed the file";
    ToolRun r = Run("check " + damaged);
    EXPECT_EQ(r.exitCode, 1) << c.what << ":\n" << r.out << r.err;
    EXPECT_NE(("\n" + r.out).find("\n" + c.says), std::string::npos) << c.what << ":\n" << r.out;
    EXPECT_TRUE(OneLineError(r)) << c.what << ": " << r.err;
    EXPECT_NE(r.err.find(damaged + ": "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("found"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(damaged), bytes) << c.what << ": check changes nothing";
  }
}

}  // namespace

// Walks along an index whose pages were damaged so that its order no longer holds: the
// file the database fuzzing target once went round in circles on (a backward walk along
// FGDAT kept coming back to the same records). Every walk must end, with the engine's
// index integrity error, through the cursor as through the table component, stepping
// record by record or answering a filter along the index.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dbengine/components/engine_error.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/navigation_request.h"
#include "temp_dir.h"

namespace {

using namespace hdb;

// More steps than the table has records: a walk that takes them goes round.
constexpr int StepsAllowed = 1000;

// The native number of what the walk raised; 0 when it ended without an error, -1 when
// it did not end.
int WalkEnds(const std::function<bool()>& step) {
  try {
    for (int n = 0; n < StepsAllowed; ++n)
      if (!step()) return 0;
  } catch (const EHDBEngineError& e) {
    return e.ErrorCode();
  } catch (const EHDBException& e) {
    return e.NativeError();
  }
  return -1;
}

class DamagedIndexWalk : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(std::filesystem::path(HALVARIN_FUZZ_REGRESSIONS) / "btree-cycle.hdb", path_);
  }
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

TEST_F(DamagedIndexWalk, CursorWalksEndWithTheIntegrityError) {
  THDBLocalSession session;
  session.DatabaseName = "Damaged";
  session.DatabaseFileName = path_;
  session.SetConnected(true);
  // What each walk meets first: entries out of order, or an entry whose record is not
  // there. A filtered step goes on from the index path the cursor's last step left, so
  // backward it meets the same disorder as the plain walk; the forward scan of the
  // filter passes no damage before its end.
  struct Case {
    const char* filter;
    bool forward;
    int raised;
  };
  const Case cases[] = {{"", false, Errors::IndexIntegrityOrder.Code},
                        {"", true, Errors::CannotRetrieveRecordForIndex.Code},
                        {"FG >= 'A'", false, Errors::IndexIntegrityOrder.Code},
                        {"FG >= 'A'", true, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.forward ? "forward" : "backward") + " filter '" + c.filter + "'");
    THDBLocalCursor cursor(session);
    cursor.TableName = "dsTable";
    cursor.OpenTable();
    cursor.SetIndexByName("FGDAT");
    if (*c.filter) cursor.SetFilterText(c.filter, false, false);
    std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
    cursor.CurrentRecord = buffer.data();
    if (c.forward) {
      cursor.SetToBegin();
    } else {
      cursor.SetToEnd();
    }
    const int raised = WalkEnds([&] {
      cursor.CurrentRecord = buffer.data();
      return cursor.GetRecord(c.forward ? gmNext : gmPrior) == grOK;
    });
    EXPECT_EQ(raised, c.raised);
    cursor.CloseTable();
  }
}

TEST_F(DamagedIndexWalk, TableComponentWalksEndWithTheIntegrityError) {
  THDBDatabase db;
  db.SetDatabaseName("Damaged");
  db.SetDatabaseFileName(path_);
  db.Open();
  const std::pair<const char*, int> cases[] = {{"", Errors::IndexIntegrityOrder.Code},
                                               {"FG >= 'A'", Errors::IndexIntegrityOrder.Code}};
  for (const auto& [filter, expected] : cases) {
    SCOPED_TRACE(std::string("filter '") + filter + "'");
    THDBTable table;
    table.SetDatabaseName("Damaged");
    table.SetTableName("dsTable");
    table.SetIndexName("FGDAT");
    if (*filter) {
      table.SetFilter(filter);
      table.SetFiltered(true);
    }
    const int raised = WalkEnds([&] {
      if (!table.Active()) {
        table.Open();
        table.GoLast();
      } else {
        table.GoPrior();
      }
      return !table.IsAtStart();
    });
    EXPECT_EQ(raised, expected);
  }
  db.Close();
}

}  // namespace

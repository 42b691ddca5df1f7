// The database and session components on real files: connecting and its messages, the
// session list and its default session, names within a session, the repair of a file
// that was not closed correctly (asked through the handler or the prompts, copied into
// a fresh file that takes the original's place), and a second process that finds the
// file claimed by the first.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "component_test_support.h"
#include "dbengine/components/database_prompts.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_session.h"
#include "dbengine/components/hdb_table.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/cursor/open_databases.h"
#include "forked_child.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using test::MessageOf;
using test::ServiceRow;
using test::Vin;

// Records what the component asks and answers as told.
class ScriptedPrompts final : public THDBDatabasePrompts {
 public:
  ScriptedPrompts() { previous_ = SetDatabasePrompts(this); }
  ~ScriptedPrompts() override { SetDatabasePrompts(previous_); }
  bool Confirm(const std::string& text) override {
    log.push_back("confirm:" + text);
    return answer;
  }
  void Inform(const std::string& text) override { log.push_back("inform:" + text); }
  void Warn(const std::string& text) override { log.push_back("warn:" + text); }
  void ShowError(const std::string& text) override { log.push_back("error:" + text); }
  bool AskPassword(const std::string& name, std::string&) override {
    log.push_back("password:" + name);
    return false;
  }
  void BeginWait(const std::string& caption) override { log.push_back("wait:" + caption); }
  void WaitProgress(int percent) override { percents.push_back(percent); }
  void EndWait() override { log.push_back("endwait"); }

  bool answer = false;
  std::vector<std::string> log;
  std::vector<int> percents;

 private:
  THDBDatabasePrompts* previous_;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void MakeFile(int records = 0) {
    test::CreateServiceFile(path_);
    std::vector<ServiceRow> rows;
    for (int i = 0; i < records; ++i)
      rows.push_back({Vin(i % 7), test::Day(2020, 1, 1) + i, 1000 + i, 1, "AG" + std::to_string(i % 10), 16385});
    test::PutServiceRows(path_, rows);
  }
  void Configure(THDBDatabase& db) {
    db.SetDatabaseName("Dataset");
    db.SetDatabaseFileName(path_);
  }
  std::int64_t CountRecords() {
    THDBDatabase db;
    db.SetDatabaseName("Counter");
    db.SetDatabaseFileName(path_);
    db.SilentMode = true;
    db.Open();
    THDBTable table;
    table.SetDatabaseName("Counter");
    table.SetTableName("dsTable");
    table.Open();
    return table.RecordCount();
  }
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
};

TEST_F(DatabaseTest, ConnectingRefusesWhatCannotBeConnected) {
  THDBDatabase db;
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Database name missing");
  db.SetDatabaseName("Dataset");
  db.SetDatabaseFileName(path_);
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Database file '" + path_ + "' does not exist");
  EXPECT_FALSE(db.Connected());
  EXPECT_FALSE(std::filesystem::exists(path_)) << "connecting never creates the file";
  MakeFile();
  db.SetSessionName("Nowhere");
  EXPECT_EQ(MessageOf([&] { db.Open(); }), "Invalid session name 'Nowhere'");
  db.SetSessionName("");
  EXPECT_EQ(db.SessionName(), "Default");
  db.Open();
  EXPECT_TRUE(db.Connected());
}

TEST_F(DatabaseTest, ConnectingTwiceConnectsOnceAndTheSameFileNameKeepsTheConnection) {
  MakeFile();
  THDBDatabase db;
  Configure(db);
  db.Open();
  THDBLocalSession* first = &db.EngineSession();
  db.SetConnected(true);
  EXPECT_EQ(&db.EngineSession(), first);
  db.SetDatabaseFileName(path_);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(&db.EngineSession(), first);
  db.SetDatabaseFileName(dir_.File("Other.hdb"));
  EXPECT_FALSE(db.Connected()) << "another file name disconnects";
  EXPECT_EQ(MessageOf([&] { db.EngineSession(); }), "Cannot perform this operation on a closed database");
}

TEST_F(DatabaseTest, NamesAreFixedWhileConnected) {
  MakeFile();
  THDBDatabase db;
  Configure(db);
  db.Open();
  EXPECT_EQ(MessageOf([&] { db.SetDatabaseName("Other"); }), "Cannot perform this operation on an open database");
  EXPECT_EQ(MessageOf([&] { db.SetSessionName("Default"); }), "Cannot perform this operation on an open database");
  EXPECT_EQ(db.DatabaseName(), "Dataset");
  db.SetDesigning(true);
  db.SetDatabaseName("Other");
  EXPECT_FALSE(db.Connected()) << "a designer disconnects instead";
  EXPECT_EQ(db.DatabaseName(), "Other");
}

TEST_F(DatabaseTest, ConnectionCopiesTheFilesParametersBack) {
  THDBLocalSession maker;
  maker.DatabaseFileName = path_;
  maker.PageSize = 8192;
  maker.ExtentPageCount = 16;
  maker.MaxConnections = 40;
  maker.CreateDatabase();
  THDBDatabase db;
  Configure(db);
  db.Open();
  EXPECT_EQ(db.PageSize(), 8192);
  EXPECT_EQ(db.ExtentPageCount(), 16);
  EXPECT_EQ(db.MaxConnections, 40);
  EXPECT_FALSE(db.ReadOnly);
  EXPECT_EQ(THDBDatabase::CurrentVersion(), "7.92 ");
}

TEST_F(DatabaseTest, LoadingRemembersConnectedUntilItEnds) {
  MakeFile();
  THDBDatabase db;
  db.BeginLoading();
  db.SetConnected(true);
  Configure(db);
  EXPECT_FALSE(db.Connected());
  db.EndLoading();
  EXPECT_TRUE(db.Connected());
}

TEST_F(DatabaseTest, SessionsAndNamesWithinThem) {
  THDBSessions& sessions = THDBSessions::Instance();
  EXPECT_EQ(sessions.DefaultSession().SessionName(), "Default");
  EXPECT_EQ(&sessions.GetSession(""), &sessions.DefaultSession());
  EXPECT_EQ(&sessions.GetSession("DEFAULT"), &sessions.DefaultSession()) << "names compare without case";
  EXPECT_EQ(MessageOf([] { THDBSession again("default"); }), "Duplicate session name 'default'");

  THDBDatabase a;
  a.SetDatabaseName("Dataset");
  THDBDatabase b;
  EXPECT_EQ(MessageOf([&] { b.SetDatabaseName("DATASET"); }), "Duplicate database name 'DATASET'");

  THDBSession other("Workshop");
  EXPECT_EQ(sessions.FindSession("workshop"), &other);
  b.SetSessionName("Workshop");
  b.SetDatabaseName("Dataset");
  EXPECT_EQ(other.FindDatabase("dataset"), &b);
  EXPECT_EQ(sessions.DefaultSession().FindDatabase("Dataset"), &a);
}

TEST_F(DatabaseTest, ATableFindsItsDatabaseInItsOwnSession) {
  MakeFile(3);
  THDBSession session("Tool");
  THDBTable table;
  table.SetSessionName("Tool");
  table.SetDatabaseName("Dataset");
  table.SetTableName("dsTable");
  // No component of that name in the session: the one the open makes names no file.
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Database file '' does not exist");
  EXPECT_EQ(session.FindDatabase("Dataset"), nullptr) << "a database made for a failed open is not kept";

  THDBDatabase inDefault;
  Configure(inDefault);
  EXPECT_EQ(MessageOf([&] { table.Open(); }), "Database file '' does not exist")
      << "a database of another session is not found";
  THDBDatabase db;
  db.SetSessionName("Tool");
  Configure(db);
  table.Open();
  EXPECT_EQ(table.Database(), &db);
  EXPECT_EQ(db.UseCount(), 1);
  EXPECT_EQ(table.RecordCount(), 3);
  table.Close();
  EXPECT_EQ(db.UseCount(), 0);
  EXPECT_TRUE(db.Connected()) << "KeepConnection holds it";
}

TEST_F(DatabaseTest, TheLastTableClosingDisconnectsADatabaseThatIsNotKept) {
  MakeFile(3);
  THDBDatabase db;
  Configure(db);
  db.SetKeepConnection(false);
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("dsTable");
  table.Open();
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.UseCount(), 1);
  table.Close();
  EXPECT_FALSE(db.Connected());
  db.Open();
  table.Open();
  db.Close();
  EXPECT_FALSE(table.Active()) << "disconnecting closes the tables on the database";
}

TEST_F(DatabaseTest, AFileNotClosedCorrectlyIsRepairedWhenTheHandlerSaysSo) {
  MakeFile(250);
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  std::vector<std::string> events;
  std::vector<int> percents;
  THDBDatabase db;
  Configure(db);
  db.OnNeedRepair = [&](THDBDatabase&) {
    events.push_back("ask");
    return true;
  };
  db.BeforeRepair = [&](THDBDatabase&) {
    events.push_back("before");
    EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
  };
  db.OnRepairProgress = [&](THDBDatabase&, int percent, const std::string& table) {
    EXPECT_EQ(table, "dsTable");
    EXPECT_TRUE(std::filesystem::exists(path_ + ".tmp")) << "the copy is made beside the file";
    percents.push_back(percent);
  };
  db.AfterRepair = [&](THDBDatabase&) { events.push_back("after"); };
  db.Open();
  EXPECT_EQ(events, (std::vector<std::string>{"ask", "before", "after"}));
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
  EXPECT_TRUE(db.Connected());
  EXPECT_EQ(db.EngineSession().NeedsRepair, 0) << "connected again to the repaired file";
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp")) << "the copy took the original's place";
  db.Close();
  EXPECT_EQ(test::DatabaseState(path_), DatabaseStateConsistent);
  EXPECT_EQ(CountRecords(), 250);
}

TEST_F(DatabaseTest, AnsweringNoLeavesTheFileAsItWas) {
  MakeFile(20);
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  const std::vector<char> before = test::FileBytes(path_);
  ScriptedPrompts prompts;
  prompts.answer = false;
  {
    THDBDatabase db;
    Configure(db);
    db.Open();
    EXPECT_TRUE(db.Connected());
    EXPECT_EQ(prompts.log, (std::vector<std::string>{
                               "confirm:Database file was not correctly closed last time. Do you want to repair it?"}));
  }
  EXPECT_EQ(test::FileBytes(path_), before);
  EXPECT_FALSE(std::filesystem::exists(path_ + ".tmp"));
}

TEST_F(DatabaseTest, TheRepairQuestionGoesToThePromptsAndTheWaitWindowShowsTheProgress) {
  MakeFile(40);
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  ScriptedPrompts prompts;
  prompts.answer = true;
  {
    THDBDatabase db;
    Configure(db);
    db.Open();
  }
  ASSERT_GE(prompts.log.size(), 3u);
  EXPECT_EQ(prompts.log[0], "confirm:Database file was not correctly closed last time. Do you want to repair it?");
  EXPECT_EQ(prompts.log[1], "wait:Repairing Database...");
  EXPECT_EQ(prompts.log.back(), "endwait");
  EXPECT_FALSE(prompts.percents.empty());
  EXPECT_EQ(test::DatabaseState(path_), DatabaseStateConsistent);
  EXPECT_EQ(CountRecords(), 40);
}

TEST_F(DatabaseTest, ARepairThatCannotFinishLeavesTheOriginalAsItWas) {
  MakeFile(10);
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  const std::vector<char> before = test::FileBytes(path_);
  // Something in the copy's place that cannot be replaced by a file.
  std::filesystem::create_directories(path_ + ".tmp/inside");
  THDBDatabase db;
  Configure(db);
  db.OnNeedRepair = [](THDBDatabase&) { return true; };
  const std::string message = MessageOf([&] { db.Open(); });
  EXPECT_EQ(message.rfind("Cannot repair database '" + path_ + "': ", 0), 0u) << message;
  EXPECT_FALSE(db.Connected());
  EXPECT_EQ(test::FileBytes(path_), before);
  EXPECT_TRUE(std::filesystem::is_directory(path_ + ".tmp/inside")) << "what was there is not removed";
}

TEST_F(DatabaseTest, SilentModeAsksNothingAndConnectsAsTheFileIs) {
  MakeFile(5);
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  ScriptedPrompts prompts;
  prompts.answer = true;
  THDBDatabase db;
  Configure(db);
  db.SilentMode = true;
  bool asked = false;
  db.OnNeedRepair = [&](THDBDatabase&) { return asked = true; };
  db.Open();
  EXPECT_FALSE(asked);
  EXPECT_TRUE(prompts.log.empty());
  EXPECT_EQ(db.EngineSession().NeedsRepair, 1);
}

TEST_F(DatabaseTest, AnOldFormatFileIsConvertedAfterANotice) {
  MakeFile(12);
  {
    std::fstream f(path_, std::ios::in | std::ios::out | std::ios::binary);
    THDBFileHeader header;
    f.read(reinterpret_cast<char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
    header.SetFormatVersion(2.5);
    f.seekp(0);
    f.write(reinterpret_cast<const char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  }
  ScriptedPrompts prompts;
  prompts.answer = false;  // the notice asks nothing
  THDBDatabase db;
  Configure(db);
  db.Open();
  ASSERT_FALSE(prompts.log.empty());
  EXPECT_EQ(prompts.log[0].rfind("inform:Database file '" + path_ + "' is of old format", 0), 0u) << prompts.log[0];
  EXPECT_EQ(db.EngineSession().NeedsRepair, 0);
  db.Close();
  std::ifstream f(path_, std::ios::binary);
  THDBFileHeader header;
  f.read(reinterpret_cast<char*>(header.Bytes().data()), static_cast<std::streamsize>(header.Bytes().size()));
  EXPECT_DOUBLE_EQ(header.FormatVersion(), CurrentFormatVersion);
  EXPECT_EQ(CountRecords(), 12);
}

TEST_F(DatabaseTest, RepairCopiesBlobValuesAndKeepsDefinitions) {
  test::MakeDatabase(path_);
  test::CreateKindsTable(path_);
  {
    THDBDatabase db;
    Configure(db);
    db.Open();
    THDBTable table;
    table.SetDatabaseName("Dataset");
    table.SetTableName("Kinds");
    table.Open();
    for (int i = 0; i < 30; ++i) {
      table.BeginInsert();
      table.FieldByName("I32").SetAsInteger(i);
      table.FieldByName("MEMO").SetAsString(std::string(static_cast<std::size_t>(100 * i), 'm'));
      if (i % 3 == 0) table.FieldByName("BIN").SetAsString(std::string("\x01\x00\x02", 3));
      table.PostRecord();
    }
  }
  test::SetDatabaseState(path_, DatabaseStateCommitting);
  THDBDatabase db;
  Configure(db);
  db.OnNeedRepair = [](THDBDatabase&) { return true; };
  db.Open();
  THDBTable table;
  table.SetDatabaseName("Dataset");
  table.SetTableName("Kinds");
  table.SetIndexName("ByI32");
  table.Open();
  EXPECT_EQ(table.RecordCount(), 30);
  for (table.GoFirst(); !table.IsAtEnd(); table.GoNext()) {
    const int i = table.FieldByName("I32").AsInteger();
    EXPECT_EQ(table.FieldByName("MEMO").AsString(), std::string(static_cast<std::size_t>(100 * i), 'm'));
    EXPECT_EQ(table.FieldByName("BIN").IsNull(), i % 3 != 0);
    if (i % 3 == 0) EXPECT_EQ(table.FieldByName("BIN").AsString(), std::string("\x01\x00\x02", 3));
    EXPECT_EQ(table.FieldByName("AUTO").AsInteger(), i + 1) << "automatic values keep their numbers";
  }
  table.BeginInsert();
  table.FieldByName("I32").SetAsInteger(99);
  table.PostRecord();
  EXPECT_EQ(table.FieldByName("AUTO").AsInteger(), 31) << "and the counter goes on from them";
}

TEST_F(DatabaseTest, ASecondProcessFindsTheFileClaimedAndWorksReadOnly) {
  MakeFile(4);
  // The child is made before the parent connects, so it shares nothing open with it.
  hdbtest::ForkedChild child([&](hdbtest::ForkedChild& self) {
   try {
    if (self.Receive() != 'x') return 5;
    THDBDatabase other;
    other.SetDatabaseName("Dataset");
    other.SetDatabaseFileName(path_);
    other.Open();
    if (!other.ReadOnly) return 1;
    THDBTable table;
    table.SetDatabaseName("Dataset");
    table.SetTableName("dsTable");
    table.Open();
    if (table.RecordCount() != 4 || !table.ReadOnly()) return 2;
    if (MessageOf([&] { table.DeleteCurrent(); }) != "Dataset is in read only mode") return 3;
    return 0;
   } catch (const std::exception& e) {
    std::fprintf(stderr, "child: %s\n", e.what());
    return 4;
   }
  });
  THDBDatabase db;
  Configure(db);
  db.Open();
  EXPECT_FALSE(db.ReadOnly);
  child.Send('x');
  EXPECT_EQ(child.Wait(), 0);
}

}  // namespace
}  // namespace hdb

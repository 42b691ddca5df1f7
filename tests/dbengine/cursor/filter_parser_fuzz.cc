// Fuzz target of the filter parser: any text goes through the lexer and the parser over
// the service table's fields (both filter options), and whatever parses is evaluated on
// a record with values and on one with NULLs and offered to the index-condition
// extraction. Errors of the language are exceptions of the engine; anything else (a
// crash, a sanitizer report, a leak, a hang) is a fault.
//
// Built as a libFuzzer program with -DHALVARIN_FUZZ=ON and clang; the ordinary build
// links the same function into a replay driver that the test suite runs.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/expression.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/date_time_codec.h"
#include "temp_dir.h"

namespace {

using namespace hdb;

// One table for the whole run.
struct Fixture {
  Fixture() {
    const std::string path = dir.File("Data.hdb");
    {
      THDBLocalSession maker;
      maker.DatabaseName = "Fuzz";
      maker.DatabaseFileName = path;
      maker.CreateDatabase();
    }
    session.DatabaseName = "Fuzz";
    session.DatabaseFileName = path;
    session.SetConnected(true);
    {
      THDBLocalCursor maker(session);
      maker.TableName = "dsTable";
      THDBFieldDefs fields;
      fields.AddField("FG", dtChar, 17);
      fields.AddField("DAT", dtDate);
      fields.AddField("MLG", dtLargeInt);
      fields.AddField("THND", dtWord);
      fields.AddField("NHND", dtChar, 7);
      fields.AddField("W", dtWideString, 10);
      fields.AddField("F", dtDouble);
      fields.AddField("T", dtDateTime);
      fields.RecalcOffsets();
      THDBIndexDefs indexes;
      THDBIndexDef& fgdat = indexes.AddNew();
      fgdat.Name = "FGDAT";
      fgdat.SetColumns({"FG", "DAT"}, {"", ""}, {"", ""});
      THDBIndexDef& nhnd = indexes.AddNew();
      nhnd.Name = "NHNDX";
      nhnd.SetColumns({"NHND"}, {"DESC"}, {"NO_CASE"});
      maker.CreateTable(fields, indexes, THDBConstraintDefs());
    }
    cursor = std::make_unique<THDBLocalCursor>(session);
    cursor->TableName = "dsTable";
    cursor->OpenTable();
    full = cursor->AllocRecordBuffer();
    cursor->InitRecordBuffer(full.data(), false);
    const char fg[18] = "WBA00000000000017";
    const std::int32_t dat = EncodeDayNumber(2020, 1, 1);
    const std::int64_t mlg = 1500;
    const std::uint16_t thnd = 1;
    const char nhnd[8] = "ab";
    const char16_t w[11] = u"wide";
    const double f = 2.5;
    const std::int32_t t[2] = {dat, 3600000};
    cursor->WriteField(0, full.data(), fg);
    cursor->WriteField(1, full.data(), &dat);
    cursor->WriteField(2, full.data(), &mlg);
    cursor->WriteField(3, full.data(), &thnd);
    cursor->WriteField(4, full.data(), nhnd);
    cursor->WriteField(5, full.data(), w);
    cursor->WriteField(6, full.data(), &f);
    cursor->WriteField(7, full.data(), t);
    nulls = cursor->AllocRecordBuffer();
    cursor->InitRecordBuffer(nulls.data(), false);
  }
  ~Fixture() { cursor->CloseTable(); }

  hdbtest::TempDir dir;
  THDBLocalSession session;
  std::unique_ptr<THDBLocalCursor> cursor;
  std::vector<std::uint8_t> full, nulls;
};

void Exercise(Fixture& f, const std::string& text, bool caseInsensitive, bool partial) {
  THDBExpression e(f.cursor.get());
  e.CaseInsensitive = caseInsensitive;
  e.PartialCompare = partial;
  try {
    e.ParseFilter(text);
  } catch (const EHDBException&) {
    return;
  }
  for (const auto* record : {&f.full, &f.nulls}) {
    try {
      e.IsTrue(record->data());
      e.Evaluate(record->data());
    } catch (const EHDBException&) {
    }
  }
  std::vector<THDBScanSearchCondition> conditions;
  try {
    e.ExtractConditions(f.cursor->IndexDefs, f.cursor->TableFields, f.cursor->Session, f.cursor->KeySize, conditions);
  } catch (const EHDBException&) {
  }
  for (const auto& c : conditions) e.Detach(c);
  try {
    e.IsTrue(f.full.data());
  } catch (const EHDBException&) {
  }
  e.ReattachAll();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  const std::string text(reinterpret_cast<const char*>(data), size);
  Exercise(fixture, text, size % 2 == 1, size % 3 == 0);
  // The same text as a default value: a value expression without fields.
  THDBExpression value(nullptr);
  try {
    value.ParseValue(text);
    value.Evaluate(nullptr);
  } catch (const EHDBException&) {
  }
  return 0;
}

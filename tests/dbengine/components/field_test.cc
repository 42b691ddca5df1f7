// Field objects on a table with a field of each kind: what a value written one way
// reads back as, after it was stored and read again, and the conversion and range
// errors of values that do not fit.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "component_test_support.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "temp_dir.h"

namespace hdb {
namespace {

using test::MessageOf;

class FieldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDatabase(path_);
    test::CreateKindsTable(path_);
    db_.SetDatabaseName("Dataset");
    db_.SetDatabaseFileName(path_);
    db_.Open();
    table_.SetDatabaseName("Dataset");
    table_.SetTableName("Kinds");
    table_.SetIndexName("ByI32");
    table_.Open();
  }
  THDBField& F(const std::string& name) { return table_.FieldByName(name); }
  // Writes through `write` into a new record numbered n, posts it and finds it again.
  void StoreAndReload(int n, const std::function<void()>& write) {
    table_.BeginInsert();
    F("I32").SetAsInteger(n);
    write();
    table_.PostRecord();
    table_.GoFirst();
    table_.BeginKeyEntry();
    F("I32").SetAsInteger(n);
    ASSERT_TRUE(table_.SeekKey());
  }
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  THDBDatabase db_;
  THDBTable table_;
};

enum class Write { String, Integer, LargeInt, Float, Boolean, DateTime };

struct Case {
  const char* field;
  Write how;
  std::string text;  // for Write::String
  double number;     // for the others
  std::string asString;
  double asFloat;  // NaN: not compared
};

const double NoFloat = std::nan("");

TEST_F(FieldTest, ValuesReadBackInEveryForm) {
  const Case cases[] = {
      {"STR", Write::String, "abcdefghijklmnop", 0, "abcdefghij", NoFloat},
      {"STR", Write::Integer, "", 42, "42", 42},
      {"STR", Write::Float, "", 2.25, "2.25", 2.25},
      {"WSTR", Write::String, "\xE4" "bcdefg", 0, "\xE4" "bcde", NoFloat},
      {"I8", Write::String, " -128 ", 0, "-128", -128},
      {"I16", Write::Integer, "", 32767, "32767", 32767},
      {"I64", Write::String, "9223372036854775807", 0, "9223372036854775807", NoFloat},
      {"I64", Write::LargeInt, "", -5000000000.0, "-5000000000", -5e9},
      {"U8", Write::Integer, "", 255, "255", 255},
      {"U16", Write::Integer, "", 65535, "65535", 65535},
      {"U32", Write::LargeInt, "", 4294967295.0, "4294967295", 4294967295.0},
      {"I16", Write::Float, "", 2.6, "3", 3},
      {"I16", Write::Boolean, "", 1, "1", 1},
      {"F32", Write::String, "0.5", 0, "0.5", 0.5},
      {"F64", Write::String, "1e300", 0, "1e+300", 1e300},
      {"F64", Write::Integer, "", -7, "-7", -7},
      {"F80", Write::Float, "", 1234.5678, "1234.5678", 1234.5678},
      {"CUR", Write::String, "12.34", 0, "12.34", 12.34},
      {"BOOL", Write::String, "true", 0, "True", NoFloat},
      {"BOOL", Write::String, "n", 0, "False", NoFloat},
      {"D", Write::String, "24.12.2023", 0, "24.12.2023", 45284},
      {"D", Write::DateTime, "", 45284.75, "24.12.2023", 45284},
      {"D", Write::String, "1.1.1900", 0, "01.01.1900", 2},
      {"T", Write::String, "13:45:30", 0, "13:45:30", (13 * 3600 + 45 * 60 + 30) / 86400.0},
      {"DT", Write::DateTime, "", 45284.5, "24.12.2023 12:00:00", 45284.5},
      {"DT", Write::String, "24.12.2023", 0, "24.12.2023", 45284},
      {"DT", Write::DateTime, "", -1.25, "29.12.1899 06:00:00", -1.25},
      {"MEMO", Write::String, std::string(5000, 'x'), 0, std::string(5000, 'x'), NoFloat},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.field) + " <- " + (c.how == Write::String ? c.text : std::to_string(c.number)));
    ++n;
    StoreAndReload(n, [&] {
      THDBField& f = F(c.field);
      switch (c.how) {
        case Write::String: f.SetAsString(c.text); break;
        case Write::Integer: f.SetAsInteger(static_cast<std::int32_t>(c.number)); break;
        case Write::LargeInt: f.SetAsLargeInt(static_cast<std::int64_t>(c.number)); break;
        case Write::Float: f.SetAsFloat(c.number); break;
        case Write::Boolean: f.SetAsBoolean(c.number != 0); break;
        case Write::DateTime: f.SetAsDateTime(c.number); break;
      }
    });
    EXPECT_FALSE(F(c.field).IsNull());
    EXPECT_EQ(F(c.field).AsString(), c.asString);
    if (!std::isnan(c.asFloat)) {
      const double read = c.how == Write::DateTime || c.field[0] == 'D' || c.field[0] == 'T'
                              ? F(c.field).AsDateTime()
                              : F(c.field).AsFloat();
      EXPECT_NEAR(read, c.asFloat, 1e-6 * std::max(1.0, std::fabs(c.asFloat)));
    }
  }
  table_.SetIndexName("");
  EXPECT_EQ(table_.RecordCount(), n);
}

TEST_F(FieldTest, ValuesThatDoNotFitAreRefused) {
  struct Refusal {
    const char* field;
    std::function<void(THDBField&)> write;
    std::string message;
  };
  const Refusal refusals[] = {
      {"I64", [](THDBField& f) { f.SetAsString("12a"); }, "'12a' is not a valid integer value"},
      {"I16", [](THDBField& f) { f.SetAsString("40000"); },
       "40000 is not a valid value for field 'I16'. The allowed range is -32768 to 32767"},
      {"I8", [](THDBField& f) { f.SetAsInteger(128); },
       "128 is not a valid value for field 'I8'. The allowed range is -128 to 127"},
      {"U16", [](THDBField& f) { f.SetAsInteger(-1); },
       "-1 is not a valid value for field 'U16'. The allowed range is 0 to 65535"},
      {"U8", [](THDBField& f) { f.SetAsFloat(255.6); },
       "255.6 is not a valid value for field 'U8'. The allowed range is 0 to 255"},
      {"F64", [](THDBField& f) { f.SetAsString("1,5"); }, "'1,5' is not a valid floating point value"},
      {"BOOL", [](THDBField& f) { f.SetAsString("maybe"); }, "'maybe' is not a valid boolean value"},
      {"D", [](THDBField& f) { f.SetAsString("31.02.2023"); }, "'31.02.2023' is not a valid date"},
      {"T", [](THDBField& f) { f.SetAsString("25:00"); }, "'25:00' is not a valid time"},
      {"DT", [](THDBField& f) { f.SetAsDateTime(1e300); }, "'1e+300' is not a valid date and time"},
      {"D", [](THDBField& f) { f.SetAsBoolean(true); }, "Cannot access field 'D' as type Boolean"},
      {"MEMO", [](THDBField& f) { f.SetAsInteger(1); }, "Cannot access field 'MEMO' as type Integer"},
  };
  table_.BeginInsert();
  for (const Refusal& r : refusals) {
    SCOPED_TRACE(r.field);
    EXPECT_EQ(MessageOf([&] { r.write(F(r.field)); }), r.message);
    EXPECT_TRUE(F(r.field).IsNull()) << "a refused value leaves the field as it was";
  }
  table_.CancelRecord();

  StoreAndReload(1, [&] {
    F("I64").SetAsLargeInt(5000000000);
    F("STR").SetAsString("x1");
  });
  EXPECT_EQ(MessageOf([&] { F("I64").AsInteger(); }),
            "5000000000 is not a valid value for field 'I64'. The allowed range is -2147483648 to 2147483647");
  EXPECT_EQ(MessageOf([&] { F("STR").AsInteger(); }), "'x1' is not a valid integer value");
}

TEST_F(FieldTest, EmptyTextAndClearMakeNullAndNullReadsAsNothing) {
  StoreAndReload(1, [&] {
    F("I16").SetAsString("");
    F("D").SetAsString(" ");
    F("STR").SetAsString("");
    F("MEMO").SetAsString("kept?");
    F("MEMO").Clear();
  });
  EXPECT_TRUE(F("I16").IsNull());
  EXPECT_EQ(F("I16").AsInteger(), 0);
  EXPECT_TRUE(F("D").IsNull());
  EXPECT_EQ(F("D").AsString(), "");
  EXPECT_FALSE(F("STR").IsNull()) << "an empty string is a value";
  EXPECT_EQ(F("STR").AsString(), "");
  EXPECT_TRUE(F("MEMO").IsNull());
  EXPECT_EQ(F("MEMO").AsString(), "");
  EXPECT_TRUE(F("AUTO").AsInteger() > 0) << "the engine assigned the automatic value";
}

TEST_F(FieldTest, ValidationAndChangeHandlersRunAroundAWrite) {
  std::vector<std::string> seen;
  THDBField& f = F("I32");
  f.OnValidate = [&](THDBField&, const void* value) {
    seen.push_back(value ? "validate" : "validate-null");
    if (value && *static_cast<const std::int32_t*>(value) < 0) throw EDatabaseError("no negatives");
  };
  f.OnChange = [&](THDBField&) { seen.push_back("change"); };
  table_.BeginInsert();
  EXPECT_FALSE(table_.Modified());
  f.SetAsInteger(3);
  EXPECT_TRUE(table_.Modified());
  EXPECT_EQ(MessageOf([&] { f.SetAsInteger(-3); }), "no negatives");
  EXPECT_EQ(f.AsInteger(), 3);
  f.Clear();
  EXPECT_EQ(seen, (std::vector<std::string>{"validate", "change", "validate", "validate-null", "change"}));
  table_.CancelRecord();
}

}  // namespace
}  // namespace hdb

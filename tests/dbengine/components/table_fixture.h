// The fixture of the table component tests: a file with dsTable filled with known
// records, a connected database component "Dataset" on it, and tables opened on it
// with the program's persistent field objects.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "component_test_support.h"
#include "dbengine/components/hdb_database.h"
#include "dbengine/components/hdb_table.h"
#include "temp_dir.h"

namespace hdb::test {

// The program's view of dsTable: one persistent field object per field.
struct ServiceTable {
  explicit ServiceTable(const std::string& databaseName = "Dataset") {
    table.SetDatabaseName(databaseName);
    table.SetTableName("dsTable");
    FG = &table.CreateField<THDBStringField>("FG", 17, ftFixedChar);
    DAT = &table.CreateField<THDBDateField>("DAT");
    MLG = &table.CreateField<THDBLargeintField>("MLG");
    THND = &table.CreateField<THDBWordField>("THND");
    NHND = &table.CreateField<THDBStringField>("NHND", 7, ftFixedChar);
    SSTAT = &table.CreateField<THDBWordField>("SSTAT");
  }
  std::string Key() const { return FG->AsString() + "/" + DAT->AsString(); }
  // The keys from the current record to the end (forward) or the start (backward).
  std::vector<std::string> Walk(bool forward) {
    std::vector<std::string> keys;
    if (forward) {
      for (table.GoFirst(); !table.IsAtEnd(); table.GoNext()) keys.push_back(Key());
    } else {
      for (table.GoLast(); !table.IsAtStart(); table.GoPrior()) keys.push_back(Key());
    }
    return keys;
  }
  void Fill(const std::string& fg, const std::string& dat, std::int64_t mlg, const std::string& nhnd = "AG1",
            std::uint16_t sstat = 16385) {
    FG->SetAsString(fg);
    DAT->SetAsString(dat);
    MLG->SetAsLargeInt(mlg);
    THND->SetAsInteger(1);
    NHND->SetAsString(nhnd);
    SSTAT->SetAsInteger(sstat);
  }
  THDBTable table;
  THDBStringField* FG;
  THDBDateField* DAT;
  THDBLargeintField* MLG;
  THDBWordField* THND;
  THDBStringField* NHND;
  THDBWordField* SSTAT;
};

class TableTest : public ::testing::Test {
 protected:
  // Three vehicles: VIN 1 with three records, VIN 2 with one, VIN 3 with two, put in
  // an order that is neither the index's nor the dates'.
  void SetUp() override {
    CreateServiceFile(path_);
    PutServiceRows(path_, {
                              {Vin(2), Day(2021, 5, 1), 30000, 1, "AG2", 16385},
                              {Vin(1), Day(2020, 3, 1), 10000, 1, "AG1", 16385},
                              {Vin(3), Day(2022, 1, 1), 5000, 0, "X3", 32769},
                              {Vin(1), Day(2022, 3, 1), 30000, 1, "AG1", 16385},
                              {Vin(1), Day(2021, 3, 1), 20000, 1, "AG1", 16385},
                              {Vin(3), Day(2020, 1, 1), 1000, 0, "X3", 32769},
                          });
    db_.SetDatabaseName("Dataset");
    db_.SetDatabaseFileName(path_);
    db_.Open();
  }
  static std::string K(int vin, const std::string& date) { return Vin(vin) + "/" + date; }
  hdbtest::TempDir dir_;
  std::string path_ = dir_.File("Data.hdb");
  THDBDatabase db_;
};

}  // namespace hdb::test

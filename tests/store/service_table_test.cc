// The service record table as the store defines it, made in a real file: the record
// layout the program's buffers rely on, the required fields, the index selected by name
// and by its field list, and the SSTAT packing with the item codes the head unit gets.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "dbengine/cursor/cursor.h"
#include "dbengine/cursor/local_session.h"
#include "dbengine/tables/constraint_defs.h"
#include "dbengine/tables/field_defs.h"
#include "dbengine/tables/index_defs.h"
#include "store/service_items.h"
#include "store/service_status.h"
#include "store/service_table.h"
#include "temp_dir.h"

namespace {

class ServiceTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session_.DatabaseName = "Dataset";
    session_.DatabaseFileName = dir_.File(store::DataFileName);
    session_.CreateDatabase();
    session_.SetConnected(true);
    store::CreateServiceTable(session_);
  }

  hdbtest::TempDir dir_;
  hdb::THDBLocalSession session_;
};

TEST_F(ServiceTableTest, TheStoredTableHasTheProgramsLayoutRequiredFieldsAndIndex) {
  hdb::THDBLocalCursor cursor(session_);
  cursor.TableName = "DSTABLE";  // names are matched without regard to case
  cursor.OpenTable();
  ASSERT_EQ(cursor.TableFields.Count(), store::ServiceFieldCount);
  // The record buffer the program reads: NullBitmap, FG at 1, DAT 19, MLG 23, THND 31,
  // NHND 33, SSTAT 41, 43 bytes in all.
  const std::int32_t offsets[] = {1, 19, 23, 31, 33, 41};
  for (int i = 0; i < store::ServiceFieldCount; ++i) {
    EXPECT_EQ(cursor.TableFields[i].Name, store::ServiceFieldNames[i]);
    EXPECT_EQ(cursor.TableFields[i].MemoryOffset, offsets[i]) << cursor.TableFields[i].Name;
  }
  EXPECT_EQ(cursor.DataSize, 43u);

  EXPECT_TRUE(cursor.FindIndexForFields({"FG", "DAT"}, {"", ""}, {"", ""}));
  EXPECT_EQ(cursor.CreateIndexForFields({"FG", "DAT"}, {"", ""}, {"", ""}), store::ServiceIndexName);
  cursor.SetIndexByName("fgdat");
  EXPECT_NE(cursor.IndexID, -1);

  // Every field is required: a record with each value but one is refused naming it.
  std::vector<std::uint8_t> buffer = cursor.AllocRecordBuffer();
  for (int missing = 0; missing < store::ServiceFieldCount; ++missing) {
    cursor.InitRecordBuffer(buffer.data(), true);
    const char vin[18] = "WBAPH71090A123456", agent[8] = "4711001";
    const std::int32_t date = 737790;
    const std::int64_t mileage = 1000;
    const std::uint16_t dealer = 1, sstat = store::PackServiceStatus(store::StatusCarriedOut, 1);
    const void* values[] = {vin, &date, &mileage, &dealer, agent, &sstat};
    for (int i = 0; i < store::ServiceFieldCount; ++i) cursor.WriteField(i, buffer.data(), i == missing ? nullptr : values[i]);
    cursor.CurrentRecord = buffer.data();
    cursor.WriteRecord(true);
    EXPECT_EQ(cursor.LastResult, hdb::wrErrorText) << store::ServiceFieldNames[missing];
    EXPECT_NE(cursor.LastErrorText.find(std::string("Value in field '") + store::ServiceFieldNames[missing] + "' cannot be null"),
              std::string::npos)
        << cursor.LastErrorText;
  }
  EXPECT_EQ(cursor.GetRecordCount(), 0);
}

TEST(ServiceStatus, PackingAndTheItemCodesOfItsBits) {
  struct {
    std::uint16_t status, items, sstat;
    std::vector<std::string> codes;
  } cases[] = {
      {store::StatusCarriedOut, 1 | 128, 16513, {"1", "3"}},  // engine oil, brake fluid
      {store::StatusOverdue, store::ServiceItemMask, 65535,
       {"1", "4", "11", "12", "10", "2", "6", "3", "5", "100", "32", "33", "20", "21"}},
      {store::StatusCarriedOutLate, 1 << 9, 32768 + 512, {"100"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(store::PackServiceStatus(c.status, c.items), c.sstat);
    EXPECT_EQ(store::StatusOf(c.sstat), c.status);
    EXPECT_EQ(store::ItemsOf(c.sstat), c.items);
    std::vector<std::string> codes;
    for (int bit = 0; bit < store::ServiceItemBits; ++bit)
      if (store::HasItem(c.sstat, bit)) codes.push_back(store::ServiceItems[static_cast<std::size_t>(bit)].code);
    EXPECT_EQ(codes, c.codes) << c.sstat;
    EXPECT_TRUE(store::IsStorableStatus(c.sstat));
  }
  EXPECT_FALSE(store::IsStorableStatus(store::PackServiceStatus(store::StatusNone, 1)));
  EXPECT_FALSE(store::IsStorableStatus(store::PackServiceStatus(store::StatusCarriedOut, 0)));
}

}  // namespace

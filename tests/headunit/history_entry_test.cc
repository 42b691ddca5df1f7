// The parameter of "steuern_servicehistory_add" made from a service record: the date
// without leading zeros, the constant 0, mileage, dealer flag and agent number as
// stored, the status in "0x" form, the item count and one group per item in bit order
// with the head unit's item code.
#include <gtest/gtest.h>

#include <string>

#include "dbengine/tables/date_time_codec.h"
#include "headunit/history_transfer.h"
#include "store/service_status.h"

namespace {

struct EntryCase {
  const char* name;
  store::TServiceRecord record;
  std::string entry;
};

store::TServiceRecord Record(int year, int month, int day, std::int64_t mileage, std::uint16_t dealer,
                             const char* agent, std::uint16_t sstat) {
  return store::TServiceRecord{"WBAPH71090A123456", hdb::EncodeDayNumber(year, month, day), mileage, dealer, agent,
                               sstat};
}

class HistoryEntryTest : public ::testing::TestWithParam<EntryCase> {};

TEST_P(HistoryEntryTest, BuildsTheJobParameter) {
  EXPECT_EQ(headunit::BuildHistoryEntry(GetParam().record), GetParam().entry);
}

INSTANTIATE_TEST_SUITE_P(
    Records, HistoryEntryTest,
    ::testing::Values(
        EntryCase{"OilAndBrakeFluid", Record(2021, 3, 5, 45000, 1, "1234567", 16384 + 1 + 128),
                  "5;3;2021;0;45000;1;1234567;0x1;2;1;0x1;0;0;3;0x1;0;0;"},
        EntryCase{"NewYearWithoutLeadingZeros", Record(2020, 1, 1, 0, 0, "A", store::PackServiceStatus(3, 1u << 9)),
                  "1;1;2020;0;0;0;A;0x3;1;100;0x1;0;0;"},
        EntryCase{"TwoDigitDayAndMonth", Record(2019, 12, 31, 123456, 1, "4711001", store::PackServiceStatus(2, 1u << 13)),
                  "31;12;2019;0;123456;1;4711001;0x2;1;21;0x1;0;0;"},
        EntryCase{"EveryItemInBitOrder", Record(2022, 7, 14, 99, 1, "X", 65535),
                  "14;7;2022;0;99;1;X;0x3;14;1;0x1;0;0;4;0x1;0;0;11;0x1;0;0;12;0x1;0;0;10;0x1;0;0;2;0x1;0;0;"
                  "6;0x1;0;0;3;0x1;0;0;5;0x1;0;0;100;0x1;0;0;32;0x1;0;0;33;0x1;0;0;20;0x1;0;0;21;0x1;0;0;"},
        // What the editor never stores still gives an entry the head unit can refuse.
        EntryCase{"NoStatusNoItems", Record(2023, 2, 3, 10, 0, "", 0), "3;2;2023;0;10;0;;0x0;0;"}),
    [](const ::testing::TestParamInfo<EntryCase>& info) { return info.param.name; });

}  // namespace

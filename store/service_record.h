// TServiceRecord: one service record as the program handles it outside the table, the
// six fields of dsTable as plain values (DAT as a day number, 0001-01-01 = 1).
//
// A plain value; thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace store {

struct TServiceRecord {
  std::string FG;  // VIN
  std::int32_t DAT = 0;
  std::int64_t MLG = 0;
  std::uint16_t THND = 0;
  std::string NHND;
  std::uint16_t SSTAT = 0;
};

}  // namespace store

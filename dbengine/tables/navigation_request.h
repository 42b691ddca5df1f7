// THDBNavigationRequest, one step of a cursor handed down to the record manager
// (natural order) or to an index (index order): the mode, the record to step from and
// the buffer the record found is copied into, the cursor's two end flags, and the
// result. The caller owns the buffer; the request is a plain value.
#pragma once

#include <cstdint>

#include "dbengine/storage/record_id.h"

namespace hdb {

enum THDBGetMode : std::uint8_t { gmCurrent = 0, gmNext = 1, gmPrior = 2 };
enum THDBGetResult : std::uint8_t { grOK = 0, grBOF = 1, grEOF = 2, grError = 3 };

struct THDBNavigationRequest {
  std::uint8_t Mode = gmCurrent;
  std::int32_t IndexNo = -1;  // -1: natural order
  RecordID ID;                // in: the record to step from; out: the record found
  std::uint8_t* Record = nullptr;
  bool BeforeFirst = false;
  bool AfterLast = false;
  std::uint8_t Result = grOK;
};

}  // namespace hdb

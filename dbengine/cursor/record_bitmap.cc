#include "dbengine/cursor/record_bitmap.h"

namespace hdb {

void THDBRecordBitmap::Reset(std::int32_t changeStamp, bool indexNumbered, std::int64_t bits) {
  Bits.Resize(0);
  Bits.Resize(bits);
  Valid = false;
  IndexNumbered = indexNumbered;
  ChangeStamp = changeStamp;
}

}  // namespace hdb

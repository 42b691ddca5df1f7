// THDBRecordID: where a stored record lives, 6 bytes on disk: the page number
// (int32) then the slot of the record in that page (uint16). It identifies a record
// for locks and doubles as the dataset bookmark. A plain value; nothing to guard.
#pragma once

#include <cstdint>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

namespace RecordIDLayout {
using PageNo = le::Field<std::int32_t, 0>;
using Slot = le::Field<std::uint16_t, 4>;
inline constexpr std::uint32_t Size = 6;
static_assert(Slot::end == Size);
}  // namespace RecordIDLayout

struct THDBRecordID {
  std::int32_t PageNo = -1;
  std::uint16_t Slot = 0;

  static THDBRecordID Load(const void* base) {
    return {RecordIDLayout::PageNo::Get(base), RecordIDLayout::Slot::Get(base)};
  }
  void Store(void* base) const {
    RecordIDLayout::PageNo::Set(base, PageNo);
    RecordIDLayout::Slot::Set(base, Slot);
  }
  friend bool operator==(const THDBRecordID&, const THDBRecordID&) = default;
};

}  // namespace hdb

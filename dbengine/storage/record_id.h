// RecordID, the address of a stored record: the record page (int32) and the slot on it
// (uint16), packed into 6 bytes wherever it is stored (record locks, index leaf
// entries, cursor buffers, bookmarks). Its order, where one is needed, is page number
// as signed 32-bit first, then slot as unsigned 16-bit. A plain value.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

struct RecordID {
  std::int32_t PageNo = -1;
  std::uint16_t SlotNo = 0;
  friend bool operator==(const RecordID&, const RecordID&) = default;
};

namespace RecordIDLayout {
using PageNo = le::Field<std::int32_t, 0>;
using SlotNo = le::Field<std::uint16_t, 4>;
inline constexpr std::size_t Size = 6;
static_assert(SlotNo::end == Size);
}  // namespace RecordIDLayout

inline RecordID LoadRecordID(const void* packed) {
  return {RecordIDLayout::PageNo::Get(packed), RecordIDLayout::SlotNo::Get(packed)};
}
inline void StoreRecordID(void* packed, RecordID id) {
  RecordIDLayout::PageNo::Set(packed, id.PageNo);
  RecordIDLayout::SlotNo::Set(packed, id.SlotNo);
}

inline int CompareRecordIDs(RecordID a, RecordID b) {
  if (a.PageNo != b.PageNo) return a.PageNo < b.PageNo ? -1 : 1;
  if (a.SlotNo != b.SlotNo) return a.SlotNo < b.SlotNo ? -1 : 1;
  return 0;
}
inline int CompareRecordIDs(const void* a, const void* b) { return CompareRecordIDs(LoadRecordID(a), LoadRecordID(b)); }

}  // namespace hdb

// The kinds of table lock (TableLockType) and the two relations between them that
// every lock decision uses: whether a lock held by another session allows a request,
// and whether one kind held by a session already protects as much as another.
// Constant data only; nothing to guard.
#pragma once

#include <cstdint>

namespace hdb {

enum TableLockType : std::uint8_t {
  tlShared = 0,       // table open in shared mode
  tlRead = 1,         // around reads
  tlRecordEdit = 2,   // the session has records locked on the table (edit, commit)
  tlModified = 3,     // the table was changed in the current transaction
  tlCommit = 4,       // the changes of the table are being written
  tlRecord = 5,       // a record lock; its byte is followed by the record's id
  tlExclusive = 6,    // table open exclusively: the "LockFile" byte itself
};
inline constexpr int TableLockTypeCount = 7;

inline constexpr bool IsValidTableLockType(int type) { return type >= 0 && type < TableLockTypeCount; }

namespace table_lock_detail {
// Row: the kind held by another session; column: the kind requested.
inline constexpr bool Compatible[TableLockTypeCount][TableLockTypeCount] = {
    {1, 1, 1, 1, 1, 1, 0},  //
    {1, 1, 1, 1, 0, 1, 0},  //
    {1, 1, 1, 0, 1, 1, 0},  //
    {1, 1, 0, 0, 0, 1, 0},  //
    {1, 0, 1, 0, 0, 1, 0},  //
    {1, 1, 1, 1, 1, 1, 0},  //
    {0, 0, 0, 0, 0, 0, 0},  //
};
}  // namespace table_lock_detail

// True when a lock of kind `held` owned by another session allows a request of kind
// `requested`. The relation is symmetric.
inline constexpr bool IsTableLockCompatible(TableLockType held, TableLockType requested) {
  return table_lock_detail::Compatible[held][requested];
}

// A kind `a` covers a kind `b` when every kind that `a` lets others take is also
// allowed by `b`: holding `a`, a session needs no file lock of its own for `b`.
inline constexpr bool TableLockCovers(TableLockType a, TableLockType b) {
  for (int r = 0; r < TableLockTypeCount; ++r) {
    if (IsTableLockCompatible(a, static_cast<TableLockType>(r)) &&
        !IsTableLockCompatible(b, static_cast<TableLockType>(r)))
      return false;
  }
  return true;
}

static_assert(TableLockCovers(tlExclusive, tlShared) && TableLockCovers(tlExclusive, tlRecord));
static_assert(TableLockCovers(tlModified, tlRecordEdit) && !TableLockCovers(tlModified, tlCommit));
static_assert(TableLockCovers(tlCommit, tlRead) && !TableLockCovers(tlCommit, tlModified));

}  // namespace hdb

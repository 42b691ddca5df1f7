#include "dbengine/tables/btree_key_ref.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "dbengine/platform/collation.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/index_defs.h"
#include "dbengine/tables/indexed_table.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {

namespace {

constexpr std::uint8_t NullMarker = 0x01;

constexpr bool IsTextBaseType(std::uint8_t t) { return IsStringBaseType(t) || t == btBytes; }

// The characters of a text slot of valueBytes bytes a comparison may look at: for
// single-byte texts at most narrowLimit, for wide texts the whole units of the slot.
// Values are always terminated inside their slot, so the limit only matters for a
// damaged page; it keeps every comparison inside the key.
std::int32_t TextLimit(std::uint8_t type, std::int32_t valueBytes, std::int32_t narrowLimit) {
  if (IsWideStringBaseType(type)) return valueBytes / 2;
  return std::min(valueBytes, narrowLimit);
}

// Whether the stored characters of a truncated column hold no terminator: the value
// was (or may have been) cut.
bool FillsSlot(const THDBKeyColumn& c, const std::uint8_t* key) {
  const std::uint8_t* value = key + c.IndexKeyOffset + 1;
  if (key[c.IndexKeyOffset] != 0) return false;  // NULL
  const std::int32_t bytes = c.IndexKeySlotSize - c.TruncationTail - 1;
  if (IsWideStringBaseType(c.BaseType)) {
    for (std::int32_t i = 0; i + 1 < bytes; i += 2)
      if (le::Load<std::uint16_t>(value, static_cast<std::size_t>(i)) == 0) return false;
    return true;
  }
  return std::memchr(value, 0, static_cast<std::size_t>(bytes)) == nullptr;
}

// The characters a truncated column keeps.
std::int32_t StoredChars(const THDBKeyColumn& c) {
  const std::int32_t bytes = c.IndexKeySlotSize - c.TruncationTail - 1;
  return IsWideStringBaseType(c.BaseType) ? bytes / 2 : bytes;
}

// The stored characters of two non-NULL truncated slots, by base letters only.
int ComparePrefixes(const THDBKeyColumn& c, const std::uint8_t* key1, const std::uint8_t* key2) {
  const std::uint8_t* a = key1 + c.IndexKeyOffset + 1;
  const std::uint8_t* b = key2 + c.IndexKeyOffset + 1;
  const std::int32_t chars = StoredChars(c);
  int status = 0, r;
  if (IsWideStringBaseType(c.BaseType)) {
    std::u16string wa, wb;
    for (std::int32_t i = 0; i < chars && le::Load<std::uint16_t>(a, 2 * static_cast<std::size_t>(i)); ++i)
      wa.push_back(static_cast<char16_t>(le::Load<std::uint16_t>(a, 2 * static_cast<std::size_t>(i))));
    for (std::int32_t i = 0; i < chars && le::Load<std::uint16_t>(b, 2 * static_cast<std::size_t>(i)); ++i)
      wb.push_back(static_cast<char16_t>(le::Load<std::uint16_t>(b, 2 * static_cast<std::size_t>(i))));
    r = platform::CollateWide(wa.data(), wa.size(), wb.data(), wb.size(), platform::CollationLevel::Primary, &status);
    if (r == platform::CollationFailed) RaiseHDB(Errors::WideCollationFailed, status);
    return r;
  }
  const auto* ca = reinterpret_cast<const char*>(a);
  const auto* cb = reinterpret_cast<const char*>(b);
  r = platform::CollateAnsi(ca, strnlen(ca, static_cast<std::size_t>(chars)), cb,
                            strnlen(cb, static_cast<std::size_t>(chars)), platform::CollationLevel::Primary, &status);
  if (r == platform::CollationFailed) RaiseHDB(Errors::UnknownCollationResult, status);
  return r;
}

std::int32_t EffectiveLength(std::int32_t compareLength, std::int32_t limit) {
  return compareLength < 0 ? limit : std::min(compareLength, limit);
}

}  // namespace

// ---- THDBBTreeKeyRef ---------------------------------------------------------------

void THDBBTreeKeyRef::SetColumnCount(std::int32_t count) {
  CompareColumnCount = std::clamp(count, 0, ColumnCount());
}


// ---- THDBRecordKeyRef --------------------------------------------------------------

void THDBRecordKeyRef::Prepare(const THDBIndexDef& def, const THDBBaseFieldManager* fields) {
  if (!fields) RaiseHDB(Errors::KeyPrepareNoFieldManager);
  fields_ = fields;
  const THDBFieldDefs& fieldDefs = fields->FieldDefs();
  Columns.clear();
  std::int32_t indexOffset = 0, fullOffset = 0;
  for (const THDBIndexColumn& column : def.Columns) {
    const int fieldNo = fieldDefs.FindByName(column.Name);
    if (fieldNo < 0) RaiseHDB(Errors::IndexFieldNotFound, column.Name);
    const THDBFieldDef& field = fieldDefs.Field(fieldNo);
    if (IsBlobBaseType(field.BaseType)) RaiseHDB(Errors::IndexBlobField, field.Name);
    THDBKeyColumn c;
    c.IndexKeyOffset = indexOffset;
    c.FullKeyOffset = fullOffset;
    c.MemoryOffset = field.MemoryOffset;
    c.FieldNo = fieldNo;
    c.FullKeySlotSize = field.MemoryDataSize + 1;
    // Only texts are cut to their leading characters; numbers and dates are never
    // longer than the default length, and a cut number would have no order.
    const std::int32_t indexed = std::max(column.IndexedLength, 0);
    if (IsTextBaseType(field.BaseType) && indexed < field.MemoryDataSize) {
      c.IndexKeySlotSize = indexed + 3;
      c.TruncationTail = 2;
    } else {
      c.IndexKeySlotSize = field.MemoryDataSize + 1;
      c.TruncationTail = 0;
    }
    c.BaseType = field.BaseType;
    c.Descending = column.Descending;
    c.CaseInsensitive = column.CaseInsensitive;
    indexOffset += c.IndexKeySlotSize;
    fullOffset += c.FullKeySlotSize;
    Columns.push_back(c);
  }
  IndexKeySize = indexOffset;
  FullKeySize = fullOffset;
  LeafRefSize = RecordIDLayout::Size;
  CompareColumnCount = ColumnCount();
  hasTruncatedColumn_ =
      std::any_of(Columns.begin(), Columns.end(), [](const THDBKeyColumn& c) { return c.TruncationTail != 0; });
  compareLength_.assign(Columns.size(), -1);
  fullKey1_.assign(static_cast<std::size_t>(FullKeySize), 0);
  fullKey2_.assign(static_cast<std::size_t>(FullKeySize), 0);
  scratchRecord_.assign(static_cast<std::size_t>(fields->MemoryRecordSize()), 0);
}

void THDBRecordKeyRef::BuildIndexKey(const std::uint8_t* record, std::uint8_t* key) {
  lastRecord_ = record;
  for (const THDBKeyColumn& c : Columns) {
    std::uint8_t* slot = key + c.IndexKeyOffset;
    if (NullBitmap::IsNull(record, c.FieldNo)) {
      slot[0] = NullMarker;
      continue;
    }
    slot[0] = 0;
    const std::int32_t valueBytes = c.IndexKeySlotSize - c.TruncationTail - 1;
    std::memcpy(slot + 1, record + c.MemoryOffset, static_cast<std::size_t>(valueBytes));
    if (c.TruncationTail) std::memset(slot + 1 + valueBytes, 0, static_cast<std::size_t>(c.TruncationTail));
  }
}

void THDBRecordKeyRef::BuildFullKey(const std::uint8_t* record, std::uint8_t* key) const {
  for (const THDBKeyColumn& c : Columns) {
    std::uint8_t* slot = key + c.FullKeyOffset;
    if (NullBitmap::IsNull(record, c.FieldNo)) {
      slot[0] = NullMarker;
      continue;
    }
    slot[0] = 0;
    std::memcpy(slot + 1, record + c.MemoryOffset, static_cast<std::size_t>(c.FullKeySlotSize - 1));
  }
}

void THDBRecordKeyRef::BuildKeyFromRecordID(SessionID session, RecordID id, std::uint8_t* key) {
  if (!table_ || !table_->ReadIndexedRecord(session, id, scratchRecord_.data()))
    RaiseHDB(Errors::CannotRetrieveRecordForIndex);
  BuildFullKey(scratchRecord_.data(), key);
}

void THDBRecordKeyRef::SetCompareLengths(const std::uint8_t* keyRecord, bool partial) {
  compareLength_.assign(Columns.size(), -1);
  if (!partial || !fields_) return;
  for (std::size_t i = 0; i < Columns.size(); ++i) {
    const THDBKeyColumn& c = Columns[i];
    if (NullBitmap::IsNull(keyRecord, c.FieldNo) || !IsStringBaseType(c.BaseType)) continue;
    const std::uint8_t* value = keyRecord + c.MemoryOffset;
    const std::int32_t bytes = c.FullKeySlotSize - 1;
    std::int32_t n = 0;
    if (IsWideStringBaseType(c.BaseType)) {
      while (n < bytes / 2 && le::Load<std::uint16_t>(value, 2 * static_cast<std::size_t>(n)) != 0) ++n;
    } else {
      while (n < bytes && value[n] != 0) ++n;
    }
    compareLength_[i] = n;
  }
}

void THDBRecordKeyRef::ResetCompare() {
  CompareColumnCount = ColumnCount();
  std::fill(compareLength_.begin(), compareLength_.end(), -1);
}

int THDBRecordKeyRef::CompareColumn(const THDBKeyColumn& c, std::int32_t index, const std::uint8_t* a,
                                    const std::uint8_t* b, std::int32_t offset, std::int32_t limit) const {
  const bool null1 = a[offset] != 0, null2 = b[offset] != 0;
  // Both slots of one column hold its own type: CompareValues would go straight on to
  // CompareSameType (memos are never key columns).
  if (null1 || null2) return null1 && null2 ? 0 : (null1 ? -1 : 1);
  return CompareSameType(a + offset + 1, b + offset + 1, c.BaseType,
                         EffectiveLength(compareLength_[static_cast<std::size_t>(index)], limit), c.CaseInsensitive);
}

std::int32_t THDBRecordKeyRef::SlotLength(const THDBKeyColumn& c, std::int32_t valueBytes) const {
  return TextLimit(c.BaseType, valueBytes, c.IndexKeySlotSize - c.TruncationTail);
}

int THDBRecordKeyRef::CompareKeys(const std::uint8_t* key1, const std::uint8_t* key2, const RecordID* entryID,
                                  const RecordID* otherID, SessionID session, bool mayFetch) {
  for (std::int32_t i = 0; i < CompareColumnCount; ++i) {
    const THDBKeyColumn& c = Columns[static_cast<std::size_t>(i)];
    const std::int32_t limit = SlotLength(c, c.IndexKeySlotSize - 1);
    const std::int32_t length = compareLength_[static_cast<std::size_t>(i)];
    int e;
    if (c.TruncationTail && !(length >= 0 && length <= StoredChars(c)) && key1[c.IndexKeyOffset] == 0 &&
        key2[c.IndexKeyOffset] == 0) {
      // A cut text: its leading characters first, by base letters only, which orders
      // them as the whole texts would be ordered; when those agree and either text
      // may go on beyond them, only the whole values can tell.
      e = ComparePrefixes(c, key1, key2);
      if (e == 0) {
        if (FillsSlot(c, key1) || FillsSlot(c, key2)) {
          if (!mayFetch || !entryID) return 0;
          if (otherID) {
            BuildKeyFromRecordID(session, *otherID, fullKey1_.data());
          } else if (lastRecord_) {
            BuildFullKey(lastRecord_, fullKey1_.data());
          } else {
            return 0;
          }
          BuildKeyFromRecordID(session, *entryID, fullKey2_.data());
          return CompareFullKeys(fullKey1_.data(), fullKey2_.data());
        }
        e = CompareColumn(c, i, key1, key2, c.IndexKeyOffset, limit);
      }
    } else if (std::memcmp(key1 + c.IndexKeyOffset, key2 + c.IndexKeyOffset,
                           static_cast<std::size_t>(c.IndexKeySlotSize)) == 0) {
      // The same stored bytes (marker and value) are the same value in every order;
      // neighbouring entries mostly share their leading columns.
      e = 0;
    } else {
      e = CompareColumn(c, i, key1, key2, c.IndexKeyOffset, limit);
    }
    if (c.Descending) e = -e;
    if (e != 0) return e;
  }
  return 0;
}

int THDBRecordKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) {
  for (std::int32_t i = 0; i < CompareColumnCount; ++i) {
    const THDBKeyColumn& c = Columns[static_cast<std::size_t>(i)];
    const std::int32_t limit = TextLimit(c.BaseType, c.FullKeySlotSize - 1, c.FullKeySlotSize);
    int e = CompareColumn(c, i, key1, key2, c.FullKeyOffset, limit);
    if (c.Descending) e = -e;
    if (e != 0) return e;
  }
  return 0;
}

// ---- THDBPageKeyRef ----------------------------------------------------------------

THDBPageKeyRef::THDBPageKeyRef() {
  IndexKeySize = FullKeySize = 4;
  LeafRefSize = 2;
  CompareColumnCount = 1;
  THDBKeyColumn c;
  c.IndexKeySlotSize = c.FullKeySlotSize = 4;
  c.BaseType = btInteger;
  Columns.push_back(c);
}

int THDBPageKeyRef::CompareKeys(const std::uint8_t* key1, const std::uint8_t* key2, const RecordID*, const RecordID*,
                                SessionID, bool) {
  return CompareFullKeys(key1, key2);
}

int THDBPageKeyRef::CompareFullKeys(const std::uint8_t* key1, const std::uint8_t* key2) {
  const std::int32_t a = le::Load<std::int32_t>(key1, 0), b = le::Load<std::int32_t>(key2, 0);
  return a < b ? -1 : (a > b ? 1 : 0);
}

// ---- THDBCompareScope --------------------------------------------------------------

THDBCompareScope::THDBCompareScope(THDBRecordKeyRef& keyRef, std::int32_t columnCount, const std::uint8_t* keyRecord,
                                   bool partial)
    : keyRef_(keyRef) {
  keyRef_.SetColumnCount(columnCount);
  if (keyRecord) keyRef_.SetCompareLengths(keyRecord, partial);
}

}  // namespace hdb

#include "dbengine/tables/field_manager.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

namespace {

constexpr bool IsNarrowTextBase(std::uint8_t t) { return t == btFixedChar || t == btString; }

constexpr bool IsTextValueType(std::uint8_t t) { return IsStringBaseType(t) || t == btMemo || t == btWideMemo; }

// Copies a zero-terminated text into a text field of `size` bytes: the characters up to
// the terminator, at most size - 1 units, then zeros to the end of the field.
void CopyText(std::uint8_t* slot, const std::uint8_t* text, std::size_t available, std::int32_t size, bool wide) {
  std::size_t unit = wide ? 2 : 1;
  std::size_t maxUnits = static_cast<std::size_t>(size) / unit - 1;
  std::size_t units = 0;
  while (units < maxUnits && (units + 1) * unit <= available) {
    bool zero = wide ? le::Load<std::uint16_t>(text, units * 2) == 0 : text[units] == 0;
    if (zero) break;
    ++units;
  }
  if (units) std::memcpy(slot, text, units * unit);
  std::memset(slot + units * unit, 0, static_cast<std::size_t>(size) - units * unit);
}

// Copies a byte array into its slot of `size` bytes: at most the declared size - 1
// bytes, the slot's last byte zero. Byte arrays collate like texts up to their first
// zero byte, and this one keeps that comparison inside the slot.
void CopyByteArray(std::uint8_t* slot, const std::uint8_t* bytes, std::size_t available, std::int32_t size) {
  if (size <= 0) return;
  std::size_t count = static_cast<std::size_t>(size) - 1;
  if (std::size_t n = std::min(available, count)) std::memcpy(slot, bytes, n);
  slot[count] = 0;
}

}  // namespace

void THDBBaseFieldManager::SetFieldDefs(const THDBFieldDefs& defs) {
  fieldDefs_.Assign(defs);
  DefinitionsChanged();
}

void THDBBaseFieldManager::DefinitionsChanged() {
  fieldDefs_.RecalcOffsets();
  MakeCopyPlan();
  InitCounters();
}

void THDBBaseFieldManager::MakeCopyPlan() {
  diskToMemory_.clear();
  auto add = [&](std::int32_t from, std::int32_t to, std::int32_t size) {
    if (size <= 0) return;
    if (!diskToMemory_.empty()) {
      CopyRun& last = diskToMemory_.back();
      if (last.From + last.Size == from && last.To + last.Size == to) {
        last.Size += size;
        return;
      }
    }
    diskToMemory_.push_back({from, to, size});
  };
  add(0, 0, NullBitmapSize());
  for (int i = 0; i < FieldCount(); ++i) {
    const THDBFieldDef& f = Field(i);
    add(f.DiskOffset, f.MemoryOffset, f.DiskDataSize);
  }
}

void THDBBaseFieldManager::MemoryToDisk(const std::uint8_t* memory, std::uint8_t* disk) const {
  std::memset(disk, 0, static_cast<std::size_t>(DiskRecordSize()));
  std::memcpy(disk, memory, static_cast<std::size_t>(NullBitmapSize()));
  for (int i = 0; i < FieldCount(); ++i) {
    const THDBFieldDef& f = Field(i);
    std::memcpy(disk + f.DiskOffset, memory + f.MemoryOffset, static_cast<std::size_t>(f.DiskDataSize));
  }
}

void THDBBaseFieldManager::DiskToMemory(const std::uint8_t* disk, std::uint8_t* memory) const {
  std::memset(memory, 0, static_cast<std::size_t>(MemoryRecordSize()));
  for (const CopyRun& run : diskToMemory_)
    std::memcpy(memory + run.To, disk + run.From, static_cast<std::size_t>(run.Size));
}

void THDBBaseFieldManager::InitRecord(std::uint8_t* record, bool applyDefaults) const {
  std::size_t bitmap = static_cast<std::size_t>(NullBitmapSize());
  std::memset(record, 0xFF, bitmap);
  std::memset(record + bitmap, 0, static_cast<std::size_t>(MemoryRecordSize()) - bitmap);
  if (applyDefaults) ApplyDefaults(record);
}

void THDBBaseFieldManager::WriteDefault(const THDBFieldDef& f, const THDBVariant& value,
                                        std::uint8_t* record) const {
  std::uint8_t* slot = record + f.MemoryOffset;
  if (!(IsTextValueType(value.ValueType()) && value.IsEmptyString())) {
    const std::uint8_t* bytes = value.Data();
    std::size_t size = value.Size();
    THDBValueBuffer padded, converted;
    if (value.ValueType() != 0 && value.ValueType() != f.BaseType) {
      // The conversion reads a whole value of its type and a text up to its terminator;
      // a stored value short of either (a damaged or foreign definition) is read from a
      // zero-padded copy so that it never reads beyond the value.
      std::size_t typeSize =
          value.ValueType() <= BaseTypeCount ? static_cast<std::size_t>(MemoryDataSizeOf(value.ValueType(), 0)) : 0;
      std::size_t room = std::max(size, typeSize) + 4;
      std::uint8_t* copy = padded.Reserve(room);
      std::memset(copy, 0, room);
      if (size) std::memcpy(copy, bytes, size);
      ConvertValue(copy, value.ValueType(), f.BaseType, converted);
      bytes = converted.Data();
      size = converted.Size();
    }
    if (IsStringBaseType(f.BaseType)) {
      CopyText(slot, bytes, size, f.MemoryDataSize, IsWideStringBaseType(f.BaseType));
    } else if (f.BaseType == btBytes) {
      CopyByteArray(slot, bytes, size, f.MemoryDataSize);
    } else if (std::size_t n = std::min(size, static_cast<std::size_t>(f.MemoryDataSize))) {
      // A stored default without bytes has no data block at all: nothing to copy.
      std::memcpy(slot, bytes, n);
    }
  }
}

void THDBBaseFieldManager::ApplyDefaults(std::uint8_t* record) const {
  THDBVariant computed;
  for (int i = 0; i < FieldCount(); ++i) {
    const THDBFieldDef& f = Field(i);
    if (IsBlobBaseType(f.BaseType) || f.DefaultValue.IsNull()) continue;
    const THDBVariant* value = &f.DefaultValue;
    if (f.DefaultExpression) {
      f.DefaultExpression->Evaluate(computed);
      if (computed.IsNull()) continue;
      value = &computed;
    }
    WriteDefault(f, *value, record);
    NullBitmap::ClearNull(record, i);
  }
}

bool THDBBaseFieldManager::IsFieldNull(std::int32_t fieldNo, const std::uint8_t* record) const {
  if (fieldNo < 0 || fieldNo >= FieldCount()) RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, FieldCount());
  return NullBitmap::IsNull(record, fieldNo);
}

bool THDBBaseFieldManager::GetFieldValue(std::int32_t fieldNo, const std::uint8_t* record,
                                         void* destination) const {
  if (fieldNo < 0 || fieldNo >= FieldCount()) RaiseHDB(Errors::InvalidFieldNumberGet, fieldNo, FieldCount());
  if (NullBitmap::IsNull(record, fieldNo)) return false;
  const THDBFieldDef& f = Field(fieldNo);
  if (IsBlobLikeDeclaredType(f.DeclaredType)) return true;
  const std::uint8_t* slot = record + f.MemoryOffset;
  switch (f.DeclaredType) {
    case dtShortInt:
      le::Store<std::int16_t>(destination, 0, le::Load<std::int8_t>(slot, 0));
      break;
    case dtCardinal:
      le::Store<std::uint64_t>(destination, 0, le::Load<std::uint32_t>(slot, 0));
      break;
    case dtSingle:
      le::Store<double>(destination, 0, le::Load<float>(slot, 0));
      break;
    case dtExtended:
      le::Store<double>(destination, 0, ExtendedToDouble(slot));
      break;
    default:
      std::memcpy(destination, slot, static_cast<std::size_t>(f.MemoryDataSize));
  }
  return true;
}

void THDBBaseFieldManager::SetFieldValue(std::int32_t fieldNo, const void* source, std::uint8_t* record) const {
  if (fieldNo < 0 || fieldNo >= FieldCount()) RaiseHDB(Errors::InvalidFieldNumberSet, fieldNo, FieldCount());
  const THDBFieldDef& f = Field(fieldNo);
  const auto* src = static_cast<const std::uint8_t*>(source);
  bool empty = false;
  if (src) {
    switch (f.DeclaredType) {
      case dtChar:
      case dtString:
      case dtGuid:
        empty = src[0] == 0;
        break;
      case dtWideChar:
      case dtWideString:
        empty = le::Load<std::uint16_t>(src, 0) == 0;
        break;
      default:
        break;
    }
  }
  if (!src || empty) {
    NullBitmap::SetNull(record, fieldNo);
    return;
  }
  NullBitmap::ClearNull(record, fieldNo);
  std::uint8_t* slot = record + f.MemoryOffset;
  switch (f.DeclaredType) {
    case dtShortInt:
      slot[0] = static_cast<std::uint8_t>(le::Load<std::int16_t>(src, 0));
      return;
    case dtCardinal:
      le::Store<std::uint32_t>(slot, 0, static_cast<std::uint32_t>(le::Load<std::uint64_t>(src, 0)));
      return;
    case dtSingle:
      le::Store<float>(slot, 0, static_cast<float>(le::Load<double>(src, 0)));
      return;
    case dtExtended:
      DoubleToExtended(le::Load<double>(src, 0), slot);
      return;
    default:
      if (IsStringBaseType(f.BaseType)) {
        CopyText(slot, src, static_cast<std::size_t>(f.MemoryDataSize), f.MemoryDataSize,
                 IsWideStringBaseType(f.BaseType));
      } else if (f.BaseType == btBytes) {
        CopyByteArray(slot, src, static_cast<std::size_t>(f.MemoryDataSize), f.MemoryDataSize);
      } else {
        std::memcpy(slot, src, static_cast<std::size_t>(f.MemoryDataSize));
      }
  }
}

bool THDBBaseFieldManager::RecordsEqual(const std::uint8_t* a, const std::uint8_t* b) const {
  const std::int32_t count = FieldCount();
  for (std::int32_t i = 0; i < NullBitmapSize(); ++i)
    if ((a[i] ^ b[i]) & NullBitmap::UsedBits(count, i)) return false;
  for (std::int32_t i = 0; i < count; ++i) {
    if (NullBitmap::IsNull(a, i)) continue;  // both NULL: their bytes mean nothing
    const THDBFieldDef& f = Field(i);
    const std::uint8_t* x = a + f.MemoryOffset;
    const std::uint8_t* y = b + f.MemoryOffset;
    const std::size_t size = static_cast<std::size_t>(f.DiskDataSize);
    if (IsNarrowTextBase(f.BaseType)) {
      for (std::size_t k = 0; k < size; ++k) {
        if (x[k] != y[k]) return false;
        if (y[k] == 0) break;
      }
    } else if (IsWideStringBaseType(f.BaseType)) {
      for (std::size_t k = 0; k + 1 < size; k += 2) {
        std::uint16_t u = le::Load<std::uint16_t>(y, k);
        if (le::Load<std::uint16_t>(x, k) != u) return false;
        if (u == 0) break;
      }
    } else if (std::memcmp(x, y, size) != 0) {
      return false;
    }
  }
  return true;
}

std::int64_t THDBBaseFieldManager::NextAutoinc(std::int32_t fieldNo) {
  if (fieldNo < 0 || fieldNo >= FieldCount()) RaiseHDB(Errors::AutoincFieldNotFound, fieldNo);
  if (static_cast<std::size_t>(fieldNo) >= autoincCounters_.size()) RaiseHDB(Errors::AutoincCounterNotFound, fieldNo);
  const THDBFieldDef& f = Field(fieldNo);
  std::int64_t step = f.AutoincIncrement != 0 ? f.AutoincIncrement : 1;
  std::int64_t counter = 0;
  // Running past the end of the 64-bit range counts as exceeding the maximum.
  bool overflow = __builtin_add_overflow(autoincCounters_[fieldNo], step, &counter);
  if (overflow || (f.AutoincMaxValue != 0 && counter > f.AutoincMaxValue)) {
    if (!f.AutoincCycle) RaiseHDB(Errors::AutoincMaxExceeded, f.Name);
    counter = f.AutoincMinValue;
  }
  autoincCounters_[fieldNo] = counter;
  return counter;
}

void THDBBaseFieldManager::AssignAutoincValues(SessionID session, std::uint8_t* record) {
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const THDBFieldDef& f = Field(i);
    if (!IsAutoincDeclaredType(f.DeclaredType)) continue;
    std::uint8_t* slot = record + f.MemoryOffset;
    if (NullBitmap::IsNull(record, i)) {
      std::int64_t value = NextAutoinc(i);
      StoreIntegerValue(slot, f.BaseType, value);
      NullBitmap::ClearNull(record, i);
      RecordLastValue(session, f.ObjectID, value);
    } else {
      // Given values are read in their own type: a negative value of a signed field
      // must not become a huge counter.
      std::int64_t value = LoadIntegerValue(slot, f.BaseType);
      if (static_cast<std::size_t>(i) < autoincCounters_.size() && value > autoincCounters_[i]) {
        autoincCounters_[i] = value;
        RecordLastValue(session, f.ObjectID, value);
      }
    }
  }
}

std::int64_t THDBBaseFieldManager::LastAutoinc(SessionID session, std::int32_t fieldNo, bool demand) const {
  if (fieldNo < 0 || fieldNo >= FieldCount()) RaiseHDB(Errors::AutoincFieldNotFound, fieldNo);
  const THDBFieldDef& f = Field(fieldNo);
  for (const LastValue& v : lastValues_)
    if (v.Session == session && v.Sequence == f.ObjectID) return v.Value;
  if (demand) RaiseHDB(Errors::NoSequenceLastValue, f.Name);
  if (!IsAutoincDeclaredType(f.DeclaredType) || static_cast<std::size_t>(fieldNo) >= autoincCounters_.size()) return 0;
  return autoincCounters_[fieldNo];
}

void THDBBaseFieldManager::ForgetSession(SessionID session) {
  std::erase_if(lastValues_, [session](const LastValue& v) { return v.Session == session; });
}

void THDBBaseFieldManager::RecordLastValue(SessionID session, std::int32_t sequence, std::int64_t value) {
  for (LastValue& v : lastValues_) {
    if (v.Session == session && v.Sequence == sequence) {
      v.Value = value;
      return;
    }
  }
  lastValues_.push_back({session, sequence, value});
}

void THDBBaseFieldManager::InitCounters() {
  autoincCounters_.assign(static_cast<std::size_t>(FieldCount()), 0);
  for (std::int32_t i = 0; i < FieldCount(); ++i)
    if (IsAutoincDeclaredType(Field(i).DeclaredType)) autoincCounters_[i] = Field(i).AutoincInitialValue;
}

void THDBBaseFieldManager::SaveCounters(THDBStream& stream) const {
  stream.WriteValue<std::int32_t>(static_cast<std::int32_t>(autoincCounters_.size()));
  for (std::int64_t c : autoincCounters_) stream.WriteValue<std::int64_t>(c);
}

void THDBBaseFieldManager::LoadCounters(THDBStream& stream) {
  // A damaged count must not allocate more than the stream can hold.
  std::int32_t count = stream.ReadCount(sizeof(std::int64_t));
  std::vector<std::int64_t> counters(static_cast<std::size_t>(count));
  for (std::int64_t& c : counters) c = stream.ReadValue<std::int64_t>();
  autoincCounters_ = std::move(counters);
}

bool THDBBaseFieldManager::HasBlobFields() const {
  bool any = false;
  for (std::int32_t i = 0; i < FieldCount(); ++i) {
    const THDBFieldDef& f = Field(i);
    if (!IsBlobBaseType(f.BaseType)) continue;
    if (f.BlobBlockSize <= 0) RaiseHDB(Errors::BlobBlockSizeZero, f.Name);
    any = true;
  }
  return any;
}

}  // namespace hdb

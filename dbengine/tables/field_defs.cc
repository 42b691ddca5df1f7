#include "dbengine/tables/field_defs.h"

#include <atomic>
#include <cassert>
#include <cstdint>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/hdb_stream.h"
#include "dbengine/tables/null_bitmap.h"

namespace hdb {

namespace {

std::atomic<THDBDefaultExpressionBuilder> g_defaultExpressionBuilder{nullptr};

// Texts and byte arrays take their slot size from the declared size: a negative one,
// or one whose slot alone would not fit the largest record, describes no field.
bool IsDamagedDeclaredSize(std::uint8_t baseType, std::int32_t size) {
  if (!IsStringBaseType(baseType) && baseType != btBytes && baseType != btVarBytes) return false;
  std::int64_t slot = (std::int64_t{size} + 1) * (IsWideStringBaseType(baseType) ? 2 : 1);
  return size < 0 || slot > MaxFieldDataSize;
}

// The shortest stored field record: an empty name, no BLOB settings, a NULL default.
constexpr std::size_t MinFieldRecordSize = 1 + 4 + 2 + 4 + 4 * 8 + 1 + 2;

}  // namespace

void SetDefaultExpressionBuilder(THDBDefaultExpressionBuilder builder) { g_defaultExpressionBuilder.store(builder); }

THDBFieldDef::~THDBFieldDef() = default;

void THDBFieldDef::Assign(const THDBMetaObjectDef& other) {
  THDBMetaObjectDef::Assign(other);
  const auto& o = dynamic_cast<const THDBFieldDef&>(other);
  BaseType = o.BaseType;
  DeclaredType = o.DeclaredType;
  DeclaredSize = o.DeclaredSize;
  DiskDataSize = o.DiskDataSize;
  MemoryDataSize = o.MemoryDataSize;
  DiskOffset = o.DiskOffset;
  MemoryOffset = o.MemoryOffset;
  FieldPosition = o.FieldPosition;
  DefaultValue = o.DefaultValue;
  BlobCompression = o.BlobCompression;
  BlobCompressionLevel = o.BlobCompressionLevel;
  BlobBlockSize = o.BlobBlockSize;
  AutoincIncrement = o.AutoincIncrement;
  AutoincInitialValue = o.AutoincInitialValue;
  AutoincMinValue = o.AutoincMinValue;
  AutoincMaxValue = o.AutoincMaxValue;
  AutoincCycle = o.AutoincCycle;
  RebuildDefaultExpression();
}

void THDBFieldDef::LoadFromStream(THDBStream& stream) {
  THDBMetaObjectDef::LoadFromStream(stream);
  // Values are stored by the base type and exchanged by the declared one: a pair the
  // type table does not have would move values of one size through a slot of another.
  const std::size_t typesAt = stream.Position();
  BaseType = stream.ReadValue<std::uint8_t>();
  DeclaredType = stream.ReadValue<std::uint8_t>();
  if (!IsTypeTablePair(DeclaredType, BaseType)) stream.RaiseDamagedItem(typesAt, 2);
  DeclaredSize = stream.ReadValue<std::int32_t>();
  if (IsDamagedDeclaredSize(BaseType, DeclaredSize)) stream.RaiseDamagedSize(DeclaredSize);
  if (IsBlobBaseType(BaseType)) {
    BlobCompression = stream.ReadValue<std::uint8_t>();
    BlobCompressionLevel = stream.ReadValue<std::uint8_t>();
    BlobBlockSize = stream.ReadValue<std::int32_t>();
  }
  AutoincIncrement = stream.ReadValue<std::int64_t>();
  AutoincInitialValue = stream.ReadValue<std::int64_t>();
  AutoincMinValue = stream.ReadValue<std::int64_t>();
  AutoincMaxValue = stream.ReadValue<std::int64_t>();
  AutoincCycle = stream.ReadBool();
  DefaultValue.LoadFromStream(stream);
  RebuildDefaultExpression();
  RecalcSizes();
}

void THDBFieldDef::SaveToStream(THDBStream& stream) const {
  THDBMetaObjectDef::SaveToStream(stream);
  stream.WriteValue<std::uint8_t>(BaseType);
  stream.WriteValue<std::uint8_t>(DeclaredType);
  stream.WriteValue<std::int32_t>(DeclaredSize);
  if (IsBlobBaseType(BaseType)) {
    stream.WriteValue<std::uint8_t>(BlobCompression);
    stream.WriteValue<std::uint8_t>(BlobCompressionLevel);
    stream.WriteValue<std::int32_t>(BlobBlockSize);
  }
  stream.WriteValue<std::int64_t>(AutoincIncrement);
  stream.WriteValue<std::int64_t>(AutoincInitialValue);
  stream.WriteValue<std::int64_t>(AutoincMinValue);
  stream.WriteValue<std::int64_t>(AutoincMaxValue);
  stream.WriteBool(AutoincCycle);
  DefaultValue.SaveToStream(stream);
}

std::unique_ptr<THDBMetaObjectDef> THDBFieldDef::Clone() const {
  auto copy = std::make_unique<THDBFieldDef>();
  copy->Assign(*this);
  return copy;
}

void THDBFieldDef::SetType(std::uint8_t declaredType, std::int32_t size) {
  std::uint8_t base = DeclaredToBaseType(declaredType);
  if (base == 0) RaiseHDB(Errors::UnsupportedDataType, DeclaredTypeWord(declaredType));
  BaseType = base;
  DeclaredType = declaredType;
  DeclaredSize = size;
  RecalcSizes();
}

void THDBFieldDef::RecalcSizes() {
  MemoryDataSize = MemoryDataSizeOf(BaseType, DeclaredSize);
  DiskDataSize = DiskDataSizeOf(BaseType, DeclaredSize);
}

void THDBFieldDef::RebuildDefaultExpression() {
  DefaultExpression.reset();
  THDBDefaultExpressionBuilder builder = g_defaultExpressionBuilder.load();
  bool isText = IsStringBaseType(DefaultValue.ValueType()) || DefaultValue.ValueType() == btMemo ||
                DefaultValue.ValueType() == btWideMemo;
  if (builder && !DefaultValue.IsNull() && isText && !DefaultValue.IsEmptyString())
    DefaultExpression = builder(*this);
}

THDBFieldDef& THDBFieldDefs::AddNew() {
  auto def = std::make_unique<THDBFieldDef>();
  THDBFieldDef& ref = *def;
  Add(std::move(def));
  return ref;
}

THDBFieldDef& THDBFieldDefs::AddField(std::string_view name, std::uint8_t declaredType, std::int32_t size) {
  auto def = std::make_unique<THDBFieldDef>();
  def->Name = std::string(name);
  def->SetType(declaredType, size);
  THDBFieldDef& ref = *def;
  Add(std::move(def));
  return ref;
}

std::size_t THDBFieldDefs::MinStoredRecordSize() const { return MinFieldRecordSize; }

void THDBFieldDefs::LoadFromStream(THDBStream& stream) {
  THDBMetaObjectDefs::LoadFromStream(stream);
  // No table stores a record larger than a page can hold.
  std::int64_t recordSize = NullBitmap::Size(Count());
  for (int i = 0; i < Count(); ++i) recordSize += Field(i).DiskDataSize;
  if (recordSize > MaxDiskRecordSize) stream.RaiseDamagedSize(recordSize);
  RecalcOffsets();
}

void THDBFieldDefs::Assign(const THDBMetaObjectDefs& other) {
  THDBMetaObjectDefs::Assign(other);
  RecalcOffsets();
}

void THDBFieldDefs::RecalcOffsets() {
  nullBitmapSize_ = NullBitmap::Size(Count());
  std::int32_t memory = nullBitmapSize_, disk = nullBitmapSize_;
  for (int i = 0; i < Count(); ++i) {
    THDBFieldDef& f = Field(i);
    f.RecalcSizes();
    f.MemoryOffset = memory;
    f.DiskOffset = disk;
    memory += f.MemoryDataSize;
    disk += f.DiskDataSize;
  }
  memoryRecordSize_ = memory;
  diskRecordSize_ = disk;
}

}  // namespace hdb

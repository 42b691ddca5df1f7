// THDBFieldDef, the definition of one field of a table, and THDBFieldDefs, the table's
// ordered field list, which also lays out the record (RecalcOffsets): after the
// NullBitmap each field gets its place in the memory form (what cursors and datasets
// exchange) and in the disk form (what record pages hold).
//
// Stored field record: prefix, BaseType (uint8), DeclaredType (uint8), DeclaredSize
// (int32), for BLOB base types BlobCompression (uint8), BlobCompressionLevel (uint8)
// and BlobBlockSize (int32), the four autoincrement int64 values (increment, initial,
// min, max), AutoincCycle (uint8), DefaultValue (stored THDBVariant). Sizes and offsets
// are never stored; they follow from BaseType and DeclaredSize.
//
// A default that is an expression (a text the expression layer parses and whose value
// differs from the text) is computed each time it is applied; the expression layer
// plugs its parser in through SetDefaultExpressionBuilder.
//
// Guarded like every definition by the owning database object's lock.
#pragma once

#include <cstdint>
#include <limits>
#include <memory>

#include "dbengine/storage/page_header.h"
#include "dbengine/tables/hdb_variant.h"
#include "dbengine/tables/meta_object_defs.h"

namespace hdb {

class THDBFieldDef;

// A parsed default expression owned by a field.
class THDBDefaultExpression {
 public:
  virtual ~THDBDefaultExpression() = default;
  // The default value now, of any base type (ApplyDefaults converts it to the field's).
  virtual void Evaluate(THDBVariant& result) = 0;
};

// Returns the parsed expression of field.DefaultValue, or nullptr when the default is
// a constant. Called for fields whose default is a non-empty text.
using THDBDefaultExpressionBuilder = std::unique_ptr<THDBDefaultExpression> (*)(const THDBFieldDef& field);
// Process-wide; set once by the expression layer at start-up, before tables are opened.
// Without one every default is a constant.
void SetDefaultExpressionBuilder(THDBDefaultExpressionBuilder builder);

inline constexpr std::int32_t DefaultBlobBlockSize = 102400;

// The largest record any table can store: a record page must hold at least one record
// with its occupancy bit and the byte the bitmap rounds up to, inside the data area of
// the largest page (page sizes are 16-bit, and every page starts with its header).
// Creating a table with a larger record fails, so a stored field list laying out one is
// damaged.
inline constexpr std::int32_t MaxDiskRecordSize = 0xFFFF - PageHeaderLayout::Size - 2;
// The largest slot one field can have: the record less its one-byte NullBitmap.
inline constexpr std::int32_t MaxFieldDataSize = MaxDiskRecordSize - 1;

class THDBFieldDef : public THDBMetaObjectDef {
 public:
  THDBFieldDef() = default;
  ~THDBFieldDef() override;

  void Assign(const THDBMetaObjectDef& other) override;
  // Refuses, with the stream message, a type pair the type table does not have and a
  // declared size whose slot no record could hold.
  void LoadFromStream(THDBStream& stream) override;
  void SaveToStream(THDBStream& stream) const override;
  std::unique_ptr<THDBMetaObjectDef> Clone() const override;

  // BaseType = the mapped code of declaredType ("Unsupported data type '%s'" when it has
  // none), DeclaredSize = size, then the sizes are recomputed.
  void SetType(std::uint8_t declaredType, std::int32_t size);
  // MemoryDataSize and DiskDataSize from BaseType and DeclaredSize.
  void RecalcSizes();
  // Rebuilds DefaultExpression from DefaultValue through the registered builder.
  void RebuildDefaultExpression();

  std::uint8_t BaseType = 0;
  std::uint8_t DeclaredType = 0;
  std::int32_t DeclaredSize = 0;
  // Computed (RecalcSizes, RecalcOffsets), never stored.
  std::int32_t DiskDataSize = 0;
  std::int32_t MemoryDataSize = 0;
  std::int32_t DiskOffset = 0;
  std::int32_t MemoryOffset = 0;
  // Position of the field in the table, set by cursors for projected field lists.
  std::int32_t FieldPosition = -1;
  THDBVariant DefaultValue;  // NULL = no default
  std::unique_ptr<THDBDefaultExpression> DefaultExpression;
  std::uint8_t BlobCompression = 0;
  std::uint8_t BlobCompressionLevel = 0;
  std::int32_t BlobBlockSize = DefaultBlobBlockSize;
  std::int64_t AutoincIncrement = 1;
  std::int64_t AutoincInitialValue = 0;
  std::int64_t AutoincMinValue = 0;
  std::int64_t AutoincMaxValue = std::numeric_limits<std::int64_t>::max();
  bool AutoincCycle = false;
};

class THDBFieldDefs : public THDBMetaObjectDefs {
 public:
  THDBFieldDef& AddNew() override;
  // Refuses, with the stream message, a list whose record no page could hold.
  void LoadFromStream(THDBStream& stream) override;
  void Assign(const THDBMetaObjectDefs& other) override;
  const char* ClassName() const override { return "THDBFieldDefs"; }

  THDBFieldDef& Field(int index) const { return static_cast<THDBFieldDef&>(Item(index)); }
  THDBFieldDef& operator[](int index) const { return Field(index); }
  // Appends a new field of the declared type.
  THDBFieldDef& AddField(std::string_view name, std::uint8_t declaredType, std::int32_t size = 0);

  // Lays the record out: sizes of every field, offsets after the NullBitmap in both
  // forms, the record sizes. Loading and assigning the list do it; after adding,
  // deleting or changing fields the owner calls it again.
  void RecalcOffsets();
  std::int32_t NullBitmapSize() const { return nullBitmapSize_; }
  std::int32_t MemoryRecordSize() const { return memoryRecordSize_; }
  std::int32_t DiskRecordSize() const { return diskRecordSize_; }

 protected:
  std::size_t MinStoredRecordSize() const override;

 private:
  std::int32_t nullBitmapSize_ = 0;
  std::int32_t memoryRecordSize_ = 0;
  std::int32_t diskRecordSize_ = 0;
};

}  // namespace hdb

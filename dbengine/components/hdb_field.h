// THDBField and its kinds, the field objects through which a dataset's current record
// is read and written: one object per table field (or per calculated field), bound to
// its dataset by name when the dataset opens. Each kind keeps its value in a native
// form (strings: their characters and a terminating zero, cut to Size; integers,
// floats and booleans: the engine's own form; a date: days with 693594 = 1899-12-30; a
// time: milliseconds since midnight; a date-time: a double of milliseconds counted
// from day 0) and converts between that form and AsString, AsInteger, AsLargeInt,
// AsFloat, AsBoolean and AsDateTime (days since 1899-12-30, the fraction the time of
// day). A value that does not fit the field raises EDatabaseError with the conversion
// error ("'%s' is not a valid integer value", a range error, ...).
//
// A field belongs to one dataset, which owns it, and is used on its thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "dbengine/tables/data_types.h"

namespace hdb {

class THDBDataSet;

enum THDBFieldKind : std::uint8_t { fkData = 0, fkCalculated = 1 };

// The text of a dataset field type ("String", "Integer", ...), for messages.
const char* FieldTypeName(THDBDatasetFieldType type);

class THDBField {
 public:
  THDBField(THDBDatasetFieldType dataType, std::int32_t size);
  THDBField(const THDBField&) = delete;
  THDBField& operator=(const THDBField&) = delete;
  virtual ~THDBField() = default;

  const std::string& FieldName() const { return fieldName_; }
  // "Cannot perform this operation on an open dataset" while its dataset is open.
  void SetFieldName(const std::string& name);
  std::string DisplayLabel;
  // DisplayLabel, else FieldName.
  const std::string& DisplayName() const { return DisplayLabel.empty() ? fieldName_ : DisplayLabel; }
  THDBDatasetFieldType DataType() const { return dataType_; }
  // Characters of a string field; 0 for the others.
  std::int32_t Size() const { return size_; }
  void SetSize(std::int32_t size);
  // 1-based position of the table field it is bound to; 0 for calculated fields and
  // while unbound.
  std::int32_t FieldNo() const { return fieldNo_; }
  THDBFieldKind FieldKind = fkData;
  bool Calculated() const { return FieldKind == fkCalculated; }
  // A post with this field NULL fails with "Field '%s' must have a value".
  bool Required = false;
  // Writes fail with "Field '%s' cannot be modified".
  bool ReadOnly = false;
  THDBDataSet* DataSet() const { return dataset_; }

  bool IsNull() const;
  void Clear() { SetData(nullptr); }

  virtual std::string AsString() const = 0;
  virtual void SetAsString(const std::string& value) = 0;
  virtual std::int32_t AsInteger() const;
  virtual void SetAsInteger(std::int32_t value);
  virtual std::int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(std::int64_t value);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual double AsDateTime() const;
  virtual void SetAsDateTime(double value);

  // Runs before a value is stored, with the native value about to be written (nullptr
  // for NULL); raising refuses the value.
  std::function<void(THDBField&, const void* value)> OnValidate;
  // Runs after a value was stored in edit or insert state.
  std::function<void(THDBField&)> OnChange;

  // Bytes of the native form.
  virtual std::size_t DataSize() const = 0;
  // The native value of the record the dataset's state addresses; false for NULL or
  // when there is no record.
  bool GetData(void* value) const;
  // Stores a native value (nullptr: NULL) into that record.
  void SetData(const void* value);

  // Base type of the engine value behind the native form (set when the field is bound).
  std::uint8_t BaseType() const { return baseType_; }

 protected:
  [[noreturn]] void RaiseConversion(const char* kind, const std::string& text) const;
  [[noreturn]] void RaiseRange(long double value, long double low, long double high) const;
  [[noreturn]] void RaiseCannotAccess(const char* kind) const;

 private:
  friend class THDBDataSet;
  std::string fieldName_;
  THDBDatasetFieldType dataType_;
  std::int32_t size_;
  std::int32_t fieldNo_ = 0;
  std::uint8_t baseType_ = 0;
  // Offset of a calculated field's slot in the calculated area (a present byte, then
  // the native value).
  std::size_t calcOffset_ = 0;
  THDBDataSet* dataset_ = nullptr;
};

// Single-byte text of at most Size characters (fixed-capacity and variable strings);
// longer text is cut.
class THDBStringField : public THDBField {
 public:
  explicit THDBStringField(std::int32_t size = 20, THDBDatasetFieldType type = ftString) : THDBField(type, size) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  double AsDateTime() const override;
  void SetAsDateTime(double value) override;
  std::size_t DataSize() const override;
};

// Text of UTF-16 characters; AsString converts through Windows-1252.
class THDBWideStringField : public THDBStringField {
 public:
  explicit THDBWideStringField(std::int32_t size = 20) : THDBStringField(size, ftWideString) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::size_t DataSize() const override;
};

// Integers within the range of the bound field's type (32-bit by default).
class THDBIntegerField : public THDBField {
 public:
  explicit THDBIntegerField(THDBDatasetFieldType type = ftInteger) : THDBField(type, 0) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  std::size_t DataSize() const override;
  // The range of the bound type.
  std::int64_t MinValue() const;
  std::int64_t MaxValue() const;
};

class THDBSmallintField : public THDBIntegerField {
 public:
  THDBSmallintField() : THDBIntegerField(ftSmallint) {}
};

class THDBWordField : public THDBIntegerField {
 public:
  THDBWordField() : THDBIntegerField(ftWord) {}
};

class THDBAutoIncField : public THDBIntegerField {
 public:
  THDBAutoIncField() : THDBIntegerField(ftAutoInc) {}
};

// 64-bit integers (and unsigned 32-bit ones).
class THDBLargeintField : public THDBIntegerField {
 public:
  THDBLargeintField() : THDBIntegerField(ftLargeint) {}
};

class THDBFloatField : public THDBField {
 public:
  explicit THDBFloatField(THDBDatasetFieldType type = ftFloat) : THDBField(type, 0) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  std::int64_t AsLargeInt() const override;
  void SetAsLargeInt(std::int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  std::size_t DataSize() const override;
};

class THDBCurrencyField : public THDBFloatField {
 public:
  THDBCurrencyField() : THDBFloatField(ftCurrency) {}
};

class THDBBooleanField : public THDBField {
 public:
  THDBBooleanField() : THDBField(ftBoolean, 0) {}
  // "True" / "False"; SetAsString takes any case and a leading part of either word.
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::int32_t AsInteger() const override;
  void SetAsInteger(std::int32_t value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  std::size_t DataSize() const override { return 2; }
};

// Dates, times and date-times; texts as dd.MM.yyyy and hh:mm:ss.
class THDBDateTimeField : public THDBField {
 public:
  explicit THDBDateTimeField(THDBDatasetFieldType type = ftDateTime) : THDBField(type, 0) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  double AsDateTime() const override;
  void SetAsDateTime(double value) override;
  std::size_t DataSize() const override;
};

class THDBDateField : public THDBDateTimeField {
 public:
  THDBDateField() : THDBDateTimeField(ftDate) {}
};

class THDBTimeField : public THDBDateTimeField {
 public:
  THDBTimeField() : THDBDateTimeField(ftTime) {}
};

// BLOB and memo values, read and written whole through the dataset's BLOB streams.
class THDBBlobField : public THDBField {
 public:
  explicit THDBBlobField(THDBDatasetFieldType type = ftBlob) : THDBField(type, 0) {}
  std::string AsString() const override;
  void SetAsString(const std::string& value) override;
  std::size_t DataSize() const override { return 0; }
};

class THDBMemoField : public THDBBlobField {
 public:
  THDBMemoField() : THDBBlobField(ftMemo) {}
};

}  // namespace hdb

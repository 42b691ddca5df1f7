#include "dbengine/components/hdb_field.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "dbengine/components/database_error.h"
#include "dbengine/components/hdb_dataset.h"
#include "dbengine/platform/ansi_charset.h"
#include "dbengine/storage/byte_layout.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/date_time_codec.h"
#include "dbengine/tables/extended_float.h"
#include "dbengine/tables/value_conversion.h"

namespace hdb {

namespace {

// Room for a native value: numbers, dates and texts of up to 64 bytes inline (a read
// of a short field allocates nothing), longer values on the heap.
class NativeValue {
 public:
  explicit NativeValue(std::size_t size) : size_(size) {
    if (size > sizeof inline_) heap_.resize(size);
    std::memset(Data(), 0, size);
  }
  std::uint8_t* Data() { return size_ > sizeof inline_ ? heap_.data() : inline_; }

 private:
  alignas(8) std::uint8_t inline_[64];
  std::vector<std::uint8_t> heap_;
  std::size_t size_;
};

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool ParseInteger(std::string_view text, std::int64_t& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParseFloat(std::string_view text, double& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
  return ec == std::errc() && end == text.data() + text.size() && std::isfinite(value);
}

std::string FormatFloat(long double value) {
  char text[64];
  auto r = std::to_chars(text, text + sizeof text, static_cast<double>(value), std::chars_format::general, 15);
  return std::string(text, r.ptr);
}

std::string FormatNumber(long double value) {
  if (value == std::floor(value) && std::fabs(value) < 1e18L) return std::to_string(static_cast<std::int64_t>(value));
  return FormatFloat(value);
}

// Reads a word of "True"/"False" (any case, or a leading part of either, "Yes"/"No").
bool ParseBoolean(std::string_view text, bool& value) {
  text = Trim(text);
  if (text.empty()) return false;
  const std::string upper = platform::AnsiUpperCase(text);
  auto prefixOf = [&](std::string_view word) { return word.substr(0, upper.size()) == upper; };
  if (prefixOf("TRUE") || prefixOf("YES")) {
    value = true;
    return true;
  }
  if (prefixOf("FALSE") || prefixOf("NO")) {
    value = false;
    return true;
  }
  return false;
}

std::uint8_t DefaultBaseType(THDBDatasetFieldType type) {
  switch (type) {
    case ftSmallint: return btSmallInt;
    case ftWord: return btWord;
    case ftInteger:
    case ftAutoInc: return btInteger;
    case ftLargeint: return btLargeInt;
    case ftFloat: return btDouble;
    case ftCurrency: return btCurrency;
    case ftBoolean: return btLogical;
    case ftDate: return btDate;
    case ftTime: return btTime;
    case ftDateTime:
    case ftTimeStamp: return btDateTime;
    case ftWideString: return btWideString;
    case ftFixedChar:
    case ftGuid: return btFixedChar;
    case ftMemo:
    case ftFmtMemo: return btMemo;
    case ftBlob:
    case ftGraphic: return btBlob;
    default: return btString;
  }
}

}  // namespace

const char* FieldTypeName(THDBDatasetFieldType type) {
  switch (type) {
    case ftString: return "String";
    case ftSmallint: return "Smallint";
    case ftInteger: return "Integer";
    case ftWord: return "Word";
    case ftBoolean: return "Boolean";
    case ftFloat: return "Float";
    case ftCurrency: return "Currency";
    case ftBCD: return "BCD";
    case ftDate: return "Date";
    case ftTime: return "Time";
    case ftDateTime: return "DateTime";
    case ftBytes: return "Bytes";
    case ftVarBytes: return "VarBytes";
    case ftAutoInc: return "AutoInc";
    case ftBlob: return "Blob";
    case ftMemo: return "Memo";
    case ftGraphic: return "Graphic";
    case ftFmtMemo: return "FmtMemo";
    case ftFixedChar: return "FixedChar";
    case ftWideString: return "WideString";
    case ftLargeint: return "Largeint";
    case ftGuid: return "Guid";
    case ftTimeStamp: return "TimeStamp";
  }
  return "Unknown";
}

// ---- THDBField ---------------------------------------------------------------------------

THDBField::THDBField(THDBDatasetFieldType dataType, std::int32_t size)
    : dataType_(dataType), size_(size), baseType_(DefaultBaseType(dataType)) {}

void THDBField::SetFieldName(const std::string& name) {
  if (dataset_ && dataset_->Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  fieldName_ = name;
}

void THDBField::SetSize(std::int32_t size) {
  if (dataset_ && dataset_->Active()) throw EDatabaseError(DatasetTexts::DatasetOpen);
  size_ = size;
}

bool THDBField::GetData(void* value) const { return dataset_ && dataset_->GetFieldData(*this, value); }

void THDBField::SetData(const void* value) {
  if (!dataset_) throw EDatabaseError(Format(DatasetTexts::FieldHasNoDataset, DisplayName()));
  dataset_->SetFieldData(*this, value);
}

bool THDBField::IsNull() const { return !dataset_ || dataset_->IsFieldNull(*this); }

void THDBField::RaiseConversion(const char* pattern, const std::string& text) const {
  throw EDatabaseError(Format(pattern, text));
}

void THDBField::RaiseRange(long double value, long double low, long double high) const {
  throw EDatabaseError(
      Format(DatasetTexts::FieldRangeError, FormatNumber(value), DisplayName(), FormatNumber(low), FormatNumber(high)));
}

void THDBField::RaiseCannotAccess(const char* kind) const {
  throw EDatabaseError(Format(DatasetTexts::FieldAccessError, DisplayName(), kind));
}

std::int32_t THDBField::AsInteger() const { RaiseCannotAccess("Integer"); }
void THDBField::SetAsInteger(std::int32_t) { RaiseCannotAccess("Integer"); }
std::int64_t THDBField::AsLargeInt() const { RaiseCannotAccess("Largeint"); }
void THDBField::SetAsLargeInt(std::int64_t) { RaiseCannotAccess("Largeint"); }
double THDBField::AsFloat() const { RaiseCannotAccess("Float"); }
void THDBField::SetAsFloat(double) { RaiseCannotAccess("Float"); }
bool THDBField::AsBoolean() const { RaiseCannotAccess("Boolean"); }
void THDBField::SetAsBoolean(bool) { RaiseCannotAccess("Boolean"); }
double THDBField::AsDateTime() const { RaiseCannotAccess("DateTime"); }
void THDBField::SetAsDateTime(double) { RaiseCannotAccess("DateTime"); }

// ---- strings -----------------------------------------------------------------------------

std::size_t THDBStringField::DataSize() const { return static_cast<std::size_t>(Size()) + 1; }

std::string THDBStringField::AsString() const {
  NativeValue v(DataSize());
  if (!GetData(v.Data())) return std::string();
  const char* text = reinterpret_cast<const char*>(v.Data());
  return std::string(text, ::strnlen(text, static_cast<std::size_t>(Size())));
}

void THDBStringField::SetAsString(const std::string& value) {
  NativeValue v(DataSize());
  std::memcpy(v.Data(), value.data(), std::min(value.size(), static_cast<std::size_t>(Size())));
  SetData(v.Data());
}

std::int32_t THDBStringField::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) RaiseConversion(DatasetTexts::InvalidIntegerValue, AsString());
  return static_cast<std::int32_t>(v);
}
void THDBStringField::SetAsInteger(std::int32_t value) { SetAsString(std::to_string(value)); }

std::int64_t THDBStringField::AsLargeInt() const {
  const std::string text = AsString();
  std::int64_t v = 0;
  if (Trim(text).empty()) return 0;
  if (!ParseInteger(text, v)) RaiseConversion(DatasetTexts::InvalidIntegerValue, text);
  return v;
}
void THDBStringField::SetAsLargeInt(std::int64_t value) { SetAsString(std::to_string(value)); }

double THDBStringField::AsFloat() const {
  const std::string text = AsString();
  double v = 0;
  if (Trim(text).empty()) return 0;
  if (!ParseFloat(text, v)) RaiseConversion(DatasetTexts::InvalidFloatValue, text);
  return v;
}
void THDBStringField::SetAsFloat(double value) { SetAsString(FormatFloat(value)); }

bool THDBStringField::AsBoolean() const {
  const std::string text = AsString();
  bool v = false;
  if (Trim(text).empty()) return false;
  if (!ParseBoolean(text, v)) RaiseConversion(DatasetTexts::InvalidBooleanValue, text);
  return v;
}
void THDBStringField::SetAsBoolean(bool value) { SetAsString(value ? "True" : "False"); }

double THDBStringField::AsDateTime() const {
  const std::string text = AsString();
  if (Trim(text).empty()) return 0;
  THDBTimeStamp stamp;
  if (!ParseDateTimeText(text, stamp)) RaiseConversion(DatasetTexts::InvalidDateTimeValue, text);
  return TimeStampToDateTime(stamp);
}

void THDBStringField::SetAsDateTime(double value) {
  if (!HasTimeStamp(value)) RaiseConversion(DatasetTexts::InvalidDateTimeValue, FormatFloat(value));
  char text[DateTimeTextRoom];
  const std::size_t n = FormatDateTimeText(DateTimeToTimeStamp(value), text);
  SetAsString(std::string(text, n));
}

std::size_t THDBWideStringField::DataSize() const { return (static_cast<std::size_t>(Size()) + 1) * 2; }

std::string THDBWideStringField::AsString() const {
  NativeValue v(DataSize());
  if (!GetData(v.Data())) return std::string();
  std::string text;
  for (std::int32_t i = 0; i < Size(); ++i) {
    const auto c = le::Load<std::uint16_t>(v.Data(), 2 * static_cast<std::size_t>(i));
    if (c == 0) break;
    text.push_back(static_cast<char>(platform::UnicodeToAnsi(c)));
  }
  return text;
}

void THDBWideStringField::SetAsString(const std::string& value) {
  NativeValue v(DataSize());
  const std::size_t n = std::min(value.size(), static_cast<std::size_t>(Size()));
  for (std::size_t i = 0; i < n; ++i)
    le::Store<std::uint16_t>(v.Data(), 2 * i, platform::AnsiToUnicode(static_cast<unsigned char>(value[i])));
  SetData(v.Data());
}

// ---- integers ----------------------------------------------------------------------------

std::size_t THDBIntegerField::DataSize() const { return static_cast<std::size_t>(MemoryDataSizeOf(BaseType(), 0)); }

std::int64_t THDBIntegerField::MinValue() const {
  switch (BaseType()) {
    case btShortInt: return INT8_MIN;
    case btSmallInt: return INT16_MIN;
    case btInteger: return INT32_MIN;
    case btLargeInt: return INT64_MIN;
    default: return 0;
  }
}

std::int64_t THDBIntegerField::MaxValue() const {
  switch (BaseType()) {
    case btShortInt: return INT8_MAX;
    case btSmallInt: return INT16_MAX;
    case btInteger: return INT32_MAX;
    case btByte: return UINT8_MAX;
    case btWord: return UINT16_MAX;
    case btCardinal: return UINT32_MAX;
    default: return INT64_MAX;
  }
}

std::int64_t THDBIntegerField::AsLargeInt() const {
  NativeValue v(DataSize());
  if (!GetData(v.Data())) return 0;
  return LoadIntegerValue(v.Data(), BaseType());
}

void THDBIntegerField::SetAsLargeInt(std::int64_t value) {
  if (value < MinValue() || value > MaxValue())
    RaiseRange(static_cast<long double>(value), static_cast<long double>(MinValue()),
               static_cast<long double>(MaxValue()));
  NativeValue v(DataSize());
  StoreIntegerValue(v.Data(), BaseType(), value);
  SetData(v.Data());
}

std::int32_t THDBIntegerField::AsInteger() const {
  const std::int64_t v = AsLargeInt();
  if (v < INT32_MIN || v > INT32_MAX) RaiseRange(static_cast<long double>(v), INT32_MIN, INT32_MAX);
  return static_cast<std::int32_t>(v);
}
void THDBIntegerField::SetAsInteger(std::int32_t value) { SetAsLargeInt(value); }

std::string THDBIntegerField::AsString() const {
  if (IsNull()) return std::string();
  return std::to_string(AsLargeInt());
}

void THDBIntegerField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  std::int64_t v = 0;
  if (!ParseInteger(value, v)) RaiseConversion(DatasetTexts::InvalidIntegerValue, value);
  SetAsLargeInt(v);
}

double THDBIntegerField::AsFloat() const { return static_cast<double>(AsLargeInt()); }

void THDBIntegerField::SetAsFloat(double value) {
  const long double rounded = std::nearbyint(static_cast<long double>(value));
  if (!std::isfinite(value) || rounded < static_cast<long double>(MinValue()) ||
      rounded > static_cast<long double>(MaxValue()))
    RaiseRange(value, static_cast<long double>(MinValue()), static_cast<long double>(MaxValue()));
  SetAsLargeInt(static_cast<std::int64_t>(rounded));
}

bool THDBIntegerField::AsBoolean() const { return AsLargeInt() != 0; }
void THDBIntegerField::SetAsBoolean(bool value) { SetAsLargeInt(value ? 1 : 0); }

// ---- floats ------------------------------------------------------------------------------

std::size_t THDBFloatField::DataSize() const { return static_cast<std::size_t>(MemoryDataSizeOf(BaseType(), 0)); }

double THDBFloatField::AsFloat() const {
  NativeValue v(DataSize());
  if (!GetData(v.Data())) return 0;
  return static_cast<double>(LoadNumericValue(v.Data(), BaseType()));
}

void THDBFloatField::SetAsFloat(double value) {
  if (!std::isfinite(value)) RaiseConversion(DatasetTexts::InvalidFloatValue, FormatFloat(value));
  NativeValue v(DataSize());
  switch (BaseType()) {
    case btSingle:
      if (std::fabs(value) > std::numeric_limits<float>::max())
        RaiseRange(value, -std::numeric_limits<float>::max(), std::numeric_limits<float>::max());
      le::Store<float>(v.Data(), 0, static_cast<float>(value));
      break;
    case btExtended:
      LongDoubleToExtended(value, v.Data());
      break;
    default:
      le::Store<double>(v.Data(), 0, value);
      break;
  }
  SetData(v.Data());
}

std::string THDBFloatField::AsString() const {
  if (IsNull()) return std::string();
  return FormatFloat(AsFloat());
}

void THDBFloatField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  double v = 0;
  if (!ParseFloat(value, v)) RaiseConversion(DatasetTexts::InvalidFloatValue, value);
  SetAsFloat(v);
}

std::int32_t THDBFloatField::AsInteger() const {
  const long double v = std::nearbyint(static_cast<long double>(AsFloat()));
  if (v < INT32_MIN || v > INT32_MAX) RaiseRange(v, INT32_MIN, INT32_MAX);
  return static_cast<std::int32_t>(v);
}
void THDBFloatField::SetAsInteger(std::int32_t value) { SetAsFloat(value); }

std::int64_t THDBFloatField::AsLargeInt() const {
  const long double v = std::nearbyint(static_cast<long double>(AsFloat()));
  if (v < -9.2233720368547758e18L || v >= 9.2233720368547758e18L)
    RaiseRange(v, static_cast<long double>(INT64_MIN), static_cast<long double>(INT64_MAX));
  return static_cast<std::int64_t>(v);
}
void THDBFloatField::SetAsLargeInt(std::int64_t value) { SetAsFloat(static_cast<double>(value)); }

// ---- booleans ----------------------------------------------------------------------------

bool THDBBooleanField::AsBoolean() const {
  std::uint8_t v[2] = {0, 0};
  if (!GetData(v)) return false;
  return le::Load<std::int16_t>(v, 0) != 0;
}

void THDBBooleanField::SetAsBoolean(bool value) {
  std::uint8_t v[2];
  le::Store<std::int16_t>(v, 0, value ? 1 : 0);
  SetData(v);
}

std::string THDBBooleanField::AsString() const {
  if (IsNull()) return std::string();
  return AsBoolean() ? "True" : "False";
}

void THDBBooleanField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  bool v = false;
  if (!ParseBoolean(value, v)) RaiseConversion(DatasetTexts::InvalidBooleanValue, value);
  SetAsBoolean(v);
}

std::int32_t THDBBooleanField::AsInteger() const { return AsBoolean() ? 1 : 0; }
void THDBBooleanField::SetAsInteger(std::int32_t value) { SetAsBoolean(value != 0); }

// ---- dates and times ---------------------------------------------------------------------

std::size_t THDBDateTimeField::DataSize() const { return DataType() == ftDate || DataType() == ftTime ? 4 : 8; }

double THDBDateTimeField::AsDateTime() const {
  std::uint8_t v[8] = {};
  if (!GetData(v)) return 0;
  switch (DataType()) {
    case ftDate: return TimeStampToDateTime({le::Load<std::int32_t>(v, 0), 0});
    case ftTime: return TimeStampToDateTime({DateDelta, le::Load<std::int32_t>(v, 0)});
    default: {
      const double ms = le::Load<double>(v, 0);
      const double days = std::floor(ms / MSecsPerDay);
      return TimeStampToDateTime(
          {static_cast<std::int32_t>(days), static_cast<std::int32_t>(ms - days * MSecsPerDay)});
    }
  }
}

void THDBDateTimeField::SetAsDateTime(double value) {
  const char* invalid = DataType() == ftDate   ? DatasetTexts::InvalidDateValue
                        : DataType() == ftTime ? DatasetTexts::InvalidTimeValue
                                               : DatasetTexts::InvalidDateTimeValue;
  if (!HasTimeStamp(value)) RaiseConversion(invalid, FormatFloat(value));
  const THDBTimeStamp stamp = DateTimeToTimeStamp(value);
  if (DataType() != ftTime && stamp.Date < 1) RaiseConversion(invalid, FormatFloat(value));
  std::uint8_t v[8] = {};
  switch (DataType()) {
    case ftDate: le::Store<std::int32_t>(v, 0, stamp.Date); break;
    case ftTime: le::Store<std::int32_t>(v, 0, stamp.Time); break;
    default: le::Store<double>(v, 0, static_cast<double>(stamp.Date) * MSecsPerDay + stamp.Time); break;
  }
  SetData(v);
}

std::string THDBDateTimeField::AsString() const {
  if (IsNull()) return std::string();
  const THDBTimeStamp stamp = DateTimeToTimeStamp(AsDateTime());
  char text[DateTimeTextRoom];
  std::size_t n;
  switch (DataType()) {
    case ftDate: n = FormatDateText(stamp.Date, text); break;
    case ftTime: n = FormatTimeText(stamp.Time, text); break;
    default: n = FormatDateTimeText(stamp, text); break;
  }
  return std::string(text, n);
}

void THDBDateTimeField::SetAsString(const std::string& value) {
  if (Trim(value).empty()) {
    Clear();
    return;
  }
  THDBTimeStamp stamp;
  switch (DataType()) {
    case ftDate:
      if (!ParseDateText(value, stamp.Date)) RaiseConversion(DatasetTexts::InvalidDateValue, value);
      break;
    case ftTime:
      if (!ParseTimeText(value, stamp.Time)) RaiseConversion(DatasetTexts::InvalidTimeValue, value);
      break;
    default:
      if (!ParseDateTimeText(value, stamp)) RaiseConversion(DatasetTexts::InvalidDateTimeValue, value);
      break;
  }
  SetAsDateTime(TimeStampToDateTime(stamp));
}

// ---- BLOB and memo -----------------------------------------------------------------------

std::string THDBBlobField::AsString() const {
  if (!DataSet()) return std::string();
  return DataSet()->GetBlobData(*this);
}

void THDBBlobField::SetAsString(const std::string& value) {
  if (!DataSet()) throw EDatabaseError(Format(DatasetTexts::FieldHasNoDataset, DisplayName()));
  DataSet()->SetBlobData(*this, value);
}

}  // namespace hdb

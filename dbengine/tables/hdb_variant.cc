#include "dbengine/tables/hdb_variant.h"

#include <cstring>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/hdb_stream.h"

namespace hdb {

THDBVariant THDBVariant::Null(std::uint8_t type) {
  THDBVariant v;
  v.valueType_ = type;
  return v;
}

THDBVariant THDBVariant::FromBytes(std::uint8_t type, const void* bytes, std::size_t size) {
  THDBVariant v;
  v.valueType_ = type;
  v.isNull_ = false;
  v.data_.assign(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size);
  return v;
}

THDBVariant THDBVariant::FromString(std::string_view text, std::uint8_t type) {
  THDBVariant v = FromBytes(type, text.data(), text.size());
  v.data_.push_back(0);
  return v;
}

THDBVariant THDBVariant::FromWideString(std::u16string_view text, std::uint8_t type) {
  THDBVariant v;
  v.valueType_ = type;
  v.isNull_ = false;
  v.data_.resize((text.size() + 1) * 2);
  for (std::size_t i = 0; i < text.size(); ++i) le::Store<std::uint16_t>(v.data_.data(), 2 * i, text[i]);
  return v;
}

bool THDBVariant::IsEmptyString() const {
  if (isNull_) return false;
  if (data_.empty()) return true;
  if (IsWideStringBaseType(valueType_) || valueType_ == btWideMemo)
    return data_.size() < 2 || le::Load<std::uint16_t>(data_.data(), 0) == 0;
  return data_[0] == 0;
}

std::string THDBVariant::AsString() const {
  if (isNull_ || data_.empty()) return {};
  const char* p = reinterpret_cast<const char*>(data_.data());
  const void* end = std::memchr(p, 0, data_.size());
  return std::string(p, end ? static_cast<const char*>(end) - p : static_cast<std::ptrdiff_t>(data_.size()));
}

void THDBVariant::LoadFromStream(THDBStream& stream) {
  valueType_ = stream.ReadValue<std::uint8_t>();
  isNull_ = stream.ReadValue<std::uint8_t>() != 0;
  data_.clear();
  if (isNull_) return;
  std::int32_t size = stream.ReadValue<std::int32_t>();
  // A damaged size must not allocate more than the stream could ever deliver.
  if (size < 0 || static_cast<std::size_t>(size) > stream.Remaining()) stream.RaiseDamagedSize(size);
  data_.resize(static_cast<std::size_t>(size));
  if (size) stream.ReadBuffer(data_.data(), data_.size());
}

void THDBVariant::SaveToStream(THDBStream& stream) const {
  stream.WriteValue<std::uint8_t>(valueType_);
  stream.WriteValue<std::uint8_t>(isNull_ ? 0xFF : 0x00);
  if (isNull_) return;
  stream.WriteValue<std::int32_t>(static_cast<std::int32_t>(data_.size()));
  if (!data_.empty()) stream.WriteBuffer(data_.data(), data_.size());
}

}  // namespace hdb

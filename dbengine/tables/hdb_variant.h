// THDBVariant, one typed value in the storage encoding of its base type, as field
// defaults and the bounds of check constraints hold it. Untyped (type 0) values carry
// raw bytes. Stored form: value type (uint8), null state (uint8; 0 = a value follows,
// written 0xFF for NULL), then for a value its size (int32) and that many bytes.
// Texts carry their terminating zero (an empty single-byte text has size 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

class THDBStream;

class THDBVariant {
 public:
  THDBVariant() = default;  // untyped NULL

  static THDBVariant Null(std::uint8_t type = 0);
  static THDBVariant FromBytes(std::uint8_t type, const void* bytes, std::size_t size);
  // A single-byte text of base type 3 (or another text type given), zero-terminated.
  static THDBVariant FromString(std::string_view text, std::uint8_t type = 3);
  // A UTF-16 text of base type 4, zero-terminated.
  static THDBVariant FromWideString(std::u16string_view text, std::uint8_t type = 4);
  template <le::Scalar T>
  static THDBVariant FromScalar(std::uint8_t type, T value) {
    std::uint8_t raw[sizeof(T)];
    le::Store<T>(raw, 0, value);
    return FromBytes(type, raw, sizeof(T));
  }

  std::uint8_t ValueType() const { return valueType_; }
  bool IsNull() const { return isNull_; }
  const std::uint8_t* Data() const { return data_.data(); }
  std::size_t Size() const { return data_.size(); }
  // A text value without characters (size 0, or a zero first character).
  bool IsEmptyString() const;
  // The single-byte text of a narrow text value (up to its terminator).
  std::string AsString() const;

  void LoadFromStream(THDBStream& stream);
  void SaveToStream(THDBStream& stream) const;

  friend bool operator==(const THDBVariant&, const THDBVariant&) = default;

 private:
  std::uint8_t valueType_ = 0;
  bool isNull_ = true;
  std::vector<std::uint8_t> data_;
};

}  // namespace hdb

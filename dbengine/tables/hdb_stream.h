// THDBStream, the byte stream definitions, counters and table headers are written to
// and read from: a growable in-memory buffer with a position. Every transfer the stored
// formats make is checked: a read that finds fewer bytes than asked raises "Cannot read
// from stream..." and a write that cannot place all its bytes (a stream with a capacity
// limit) raises "Cannot write to stream...". Integers are little-endian through the
// byte-layout helper. Not thread-safe; a stream belongs to the operation using it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

class THDBStream {
 public:
  THDBStream() = default;
  // A stream over a copy of bytes, positioned at its start.
  explicit THDBStream(std::vector<std::uint8_t> bytes) : data_(std::move(bytes)) {}
  THDBStream(const void* bytes, std::size_t size);

  std::size_t Position() const { return position_; }
  void SetPosition(std::size_t position) { position_ = position; }
  std::size_t Size() const { return data_.size(); }
  // Bytes between the position and the end.
  std::size_t Remaining() const { return position_ < data_.size() ? data_.size() - position_ : 0; }
  const std::vector<std::uint8_t>& Bytes() const { return data_; }
  std::vector<std::uint8_t> TakeBytes() { position_ = 0; return std::move(data_); }
  void Clear() { data_.clear(); position_ = 0; }
  // Writes beyond this many bytes fail (SIZE_MAX = unlimited).
  void SetCapacityLimit(std::size_t limit) { limit_ = limit; }

  // Unchecked transfers: they move as many bytes as they can and say how many.
  std::size_t Read(void* buffer, std::size_t count);
  std::size_t Write(const void* buffer, std::size_t count);

  // Checked transfers.
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);
  // A size just read that no stored record can have (negative, more than the stream
  // still holds, or past what a record can lay out): a damaged stream, reported as the
  // short read of that many bytes.
  [[noreturn]] void RaiseDamagedSize(std::int64_t size) const;
  // An item of `width` bytes at `at`, already read, that no stored definition can hold
  // (a type pair the type table does not have, a name whose two lengths disagree): a
  // damaged stream, reported as a read of that item that took none of its bytes.
  [[noreturn]] void RaiseDamagedItem(std::size_t at, std::size_t width) const;
  // An int32 count of items that each take at least minItemSize bytes: a negative
  // count, or more items than the rest of the stream can hold, is damage.
  std::int32_t ReadCount(std::size_t minItemSize);

  template <le::Scalar T>
  T ReadValue() {
    std::uint8_t raw[sizeof(T)];
    ReadBuffer(raw, sizeof(T));
    return le::Load<T>(raw, 0);
  }
  template <le::Scalar T>
  void WriteValue(T value) {
    std::uint8_t raw[sizeof(T)];
    le::Store<T>(raw, 0, value);
    WriteBuffer(raw, sizeof(T));
  }

  // One byte: 0 = false, anything else = true; written as 0xFF.
  bool ReadBool() { return ReadValue<std::uint8_t>() != 0; }
  void WriteBool(bool value) { WriteValue<std::uint8_t>(value ? 0xFF : 0x00); }

  // A length byte followed by that many single-byte characters. Longer texts keep
  // their first 255 characters, as a short string does.
  std::string ReadShortString();
  void WriteShortString(std::string_view text);

 private:
  std::vector<std::uint8_t> data_;
  std::size_t position_ = 0;
  std::size_t limit_ = SIZE_MAX;
};

}  // namespace hdb

#include "dbengine/tables/hdb_stream.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "dbengine/storage/hdb_exception.h"

namespace hdb {

THDBStream::THDBStream(const void* bytes, std::size_t size)
    : data_(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + size) {}

std::size_t THDBStream::Read(void* buffer, std::size_t count) {
  std::size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
  std::size_t n = std::min(count, available);
  if (n) std::memcpy(buffer, data_.data() + position_, n);
  position_ += n;
  return n;
}

std::size_t THDBStream::Write(const void* buffer, std::size_t count) {
  std::size_t room = position_ < limit_ ? limit_ - position_ : 0;
  std::size_t n = std::min(count, room);
  if (n == 0) return 0;
  if (position_ + n > data_.size()) data_.resize(position_ + n);
  std::memcpy(data_.data() + position_, buffer, n);
  position_ += n;
  return n;
}

void THDBStream::ReadBuffer(void* buffer, std::size_t count) {
  std::size_t start = position_;
  std::size_t n = Read(buffer, count);
  if (n != count)
    RaiseHDB(Errors::StreamReadFailed, static_cast<std::int64_t>(start), static_cast<std::int64_t>(data_.size()),
             static_cast<std::int64_t>(count), static_cast<std::int64_t>(n));
}

void THDBStream::WriteBuffer(const void* buffer, std::size_t count) {
  std::size_t start = position_;
  std::size_t n = Write(buffer, count);
  if (n != count)
    RaiseHDB(Errors::StreamWriteFailed, static_cast<std::int64_t>(start), static_cast<std::int64_t>(data_.size()),
             static_cast<std::int64_t>(count), static_cast<std::int64_t>(n));
}

void THDBStream::RaiseDamagedSize(std::int64_t size) const {
  RaiseHDB(Errors::StreamReadFailed, static_cast<std::int64_t>(position_), static_cast<std::int64_t>(data_.size()),
           size, static_cast<std::int64_t>(size < 0 ? 0 : Remaining()));
}

void THDBStream::RaiseDamagedItem(std::size_t at, std::size_t width) const {
  RaiseHDB(Errors::StreamReadFailed, static_cast<std::int64_t>(at), static_cast<std::int64_t>(data_.size()),
           static_cast<std::int64_t>(width), std::int64_t{0});
}

std::int32_t THDBStream::ReadCount(std::size_t minItemSize) {
  assert(minItemSize > 0);
  std::int32_t count = ReadValue<std::int32_t>();
  if (count < 0 || static_cast<std::size_t>(count) > Remaining() / minItemSize)
    RaiseDamagedSize(static_cast<std::int64_t>(count) * static_cast<std::int64_t>(minItemSize));
  return count;
}

std::string THDBStream::ReadShortString() {
  std::uint8_t length = ReadValue<std::uint8_t>();
  std::string text(length, '\0');
  if (length) ReadBuffer(text.data(), length);
  return text;
}

void THDBStream::WriteShortString(std::string_view text) {
  std::size_t length = std::min<std::size_t>(text.size(), 255);
  WriteValue<std::uint8_t>(static_cast<std::uint8_t>(length));
  if (length) WriteBuffer(text.data(), length);
}

}  // namespace hdb

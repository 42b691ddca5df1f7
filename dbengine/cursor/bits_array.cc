#include "dbengine/cursor/bits_array.h"

#include <array>
#include <bit>

#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/hdb_stream.h"

namespace hdb {

namespace {

// Set bits of every byte value.
constexpr std::array<std::uint8_t, 256> BitCounts = [] {
  std::array<std::uint8_t, 256> t{};
  for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(std::popcount(static_cast<unsigned>(i)));
  return t;
}();

// The bits of byte `index` that lie inside an array of `bits` bits.
std::uint8_t InsideMask(std::int64_t bits, std::size_t index) {
  const std::int64_t left = bits - static_cast<std::int64_t>(index) * 8;
  return left >= 8 ? 0xFF : static_cast<std::uint8_t>((1u << left) - 1);
}

}  // namespace

void THDBBitsArray::Check(std::int64_t bit) const {
  if (bit < 0 || bit >= bits_) RaiseHDB(Errors::InvalidBitNo, bit, bits_);
}

void THDBBitsArray::Recount() {
  set_ = 0;
  for (std::uint8_t b : bytes_) set_ += BitCounts[b];
}

void THDBBitsArray::Resize(std::int64_t bits) {
  if (bits < 0) bits = 0;
  const bool shrinking = bits < bits_;
  bytes_.resize(static_cast<std::size_t>((bits + 7) / 8), 0);
  bits_ = bits;
  if (shrinking) {
    if (!bytes_.empty()) bytes_.back() &= InsideMask(bits_, bytes_.size() - 1);
    Recount();
  }
}

bool THDBBitsArray::Get(std::int64_t bit) const {
  Check(bit);
  return (bytes_[static_cast<std::size_t>(bit >> 3)] >> (bit & 7)) & 1;
}

void THDBBitsArray::Set(std::int64_t bit, bool value) {
  Check(bit);
  std::uint8_t& b = bytes_[static_cast<std::size_t>(bit >> 3)];
  const std::uint8_t mask = static_cast<std::uint8_t>(1u << (bit & 7));
  if (((b & mask) != 0) == value) return;
  b = static_cast<std::uint8_t>(value ? b | mask : b & ~mask);
  set_ += value ? 1 : -1;
}

void THDBBitsArray::SetAll(bool value) {
  for (std::size_t i = 0; i < bytes_.size(); ++i) bytes_[i] = value ? InsideMask(bits_, i) : 0;
  set_ = value ? bits_ : 0;
}

std::int64_t THDBBitsArray::Rank(std::int64_t bit) const {
  if (bit < 0) return 0;
  if (bit >= bits_) return set_;
  const std::size_t full = static_cast<std::size_t>(bit >> 3);
  std::int64_t n = 0;
  for (std::size_t i = 0; i < full; ++i) n += BitCounts[bytes_[i]];
  return n + BitCounts[bytes_[full] & static_cast<std::uint8_t>((2u << (bit & 7)) - 1)];
}

std::int64_t THDBBitsArray::Select(std::int64_t n) const {
  if (n < 1 || n > set_) return None;
  if (set_ == bits_) return n - 1;
  std::int64_t seen = 0;
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    const std::uint8_t b = bytes_[i];
    if (seen + BitCounts[b] < n) {
      seen += BitCounts[b];
      continue;
    }
    for (int k = 0; k < 8; ++k)
      if ((b >> k) & 1 && ++seen == n) return static_cast<std::int64_t>(i) * 8 + k;
  }
  return None;
}

std::int64_t THDBBitsArray::Next(std::int64_t bit) const {
  for (std::int64_t at = bit + 1; at < bits_;) {
    const std::size_t i = static_cast<std::size_t>(at >> 3);
    const std::uint8_t b = static_cast<std::uint8_t>(bytes_[i] >> (at & 7));
    if (b) return at + std::countr_zero(static_cast<unsigned>(b));
    at = static_cast<std::int64_t>(i + 1) * 8;
  }
  return None;
}

std::int64_t THDBBitsArray::Prior(std::int64_t bit) const {
  for (std::int64_t at = std::min(bit, bits_) - 1; at >= 0;) {
    const std::size_t i = static_cast<std::size_t>(at >> 3);
    const unsigned b = bytes_[i] & ((2u << (at & 7)) - 1);
    if (b) return static_cast<std::int64_t>(i) * 8 + (31 - std::countl_zero(b));
    at = static_cast<std::int64_t>(i) * 8 - 1;
  }
  return None;
}

void THDBBitsArray::SaveToStream(THDBStream& stream) const {
  stream.WriteValue<std::int64_t>(bits_);
  stream.WriteValue<std::int64_t>(set_);
  if (!bytes_.empty()) stream.WriteBuffer(bytes_.data(), bytes_.size());
}

void THDBBitsArray::LoadFromStream(THDBStream& stream) {
  const std::int64_t bits = stream.ReadValue<std::int64_t>();
  stream.ReadValue<std::int64_t>();  // recounted from the bytes
  if (bits < 0 || (bits + 7) / 8 > static_cast<std::int64_t>(stream.Remaining())) stream.RaiseDamagedSize(bits);
  bits_ = bits;
  bytes_.assign(static_cast<std::size_t>((bits + 7) / 8), 0);
  if (!bytes_.empty()) stream.ReadBuffer(bytes_.data(), bytes_.size());
  if (!bytes_.empty()) bytes_.back() &= InsideMask(bits_, bytes_.size() - 1);
  Recount();
}

}  // namespace hdb

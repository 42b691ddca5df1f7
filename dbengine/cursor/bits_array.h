// THDBBitsArray, a growable array of bits (least significant bit first in each byte)
// that keeps its number of set bits current through every change, and answers rank
// (set bits up to a position), select (the position of the n-th set bit) and the
// nearest set bit in either direction. The record bitmap of a cursor is one.
//
// A plain value; not thread-safe (it belongs to one cursor).
#pragma once

#include <cstdint>
#include <vector>

namespace hdb {

class THDBStream;

class THDBBitsArray {
 public:
  static constexpr std::int64_t None = -1;

  std::int64_t Size() const { return bits_; }
  std::int64_t Count() const { return set_; }
  // Growing keeps every bit and adds clear ones; shrinking drops the bits past the end.
  void Resize(std::int64_t bits);
  // "Invalid bit no = %d, number of bits = %d" outside the array.
  bool Get(std::int64_t bit) const;
  void Set(std::int64_t bit, bool value);
  void SetAll(bool value);
  // Set bits at or before `bit`.
  std::int64_t Rank(std::int64_t bit) const;
  // The position of the n-th set bit (1-based), None when there are fewer.
  std::int64_t Select(std::int64_t n) const;
  std::int64_t First() const { return Next(-1); }
  std::int64_t Last() const { return Prior(bits_); }
  // The first set bit after / before `bit`; None when there is none.
  std::int64_t Next(std::int64_t bit) const;
  std::int64_t Prior(std::int64_t bit) const;

  // Number of bits (int64), number of set bits (int64), then ceil(bits / 8) bytes.
  void SaveToStream(THDBStream& stream) const;
  void LoadFromStream(THDBStream& stream);

 private:
  void Check(std::int64_t bit) const;
  void Recount();
  std::vector<std::uint8_t> bytes_;
  std::int64_t bits_ = 0;
  std::int64_t set_ = 0;
};

}  // namespace hdb

// The one helper for every fixed little-endian layout of the database file: file
// header, page header, B-tree header, internal file header, table list entries,
// definitions. A layout is declared once as a list of `Field<T, Offset>` descriptors;
// code reads and writes through them and never computes an offset by hand.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace hdb::le {

template <class T>
concept Scalar = std::is_arithmetic_v<T> || std::is_enum_v<T>;

template <Scalar T>
inline T Load(const void* base, std::size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const unsigned char*>(base) + offset, sizeof(T));
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  return value;
}

template <Scalar T>
inline void Store(void* base, std::size_t offset, T value) {
  if constexpr (std::endian::native == std::endian::big && sizeof(T) > 1) {
    auto* b = reinterpret_cast<unsigned char*>(&value);
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  std::memcpy(static_cast<unsigned char*>(base) + offset, &value, sizeof(T));
}

// One field of a fixed layout.
template <Scalar T, std::size_t Offset>
struct Field {
  using Type = T;
  static constexpr std::size_t offset = Offset;
  static constexpr std::size_t size = sizeof(T);
  static constexpr std::size_t end = Offset + sizeof(T);
  static T Get(const void* base) { return Load<T>(base, Offset); }
  static void Set(void* base, T value) { Store<T>(base, Offset, value); }
};

// A run of raw bytes inside a fixed layout (signatures, reserved areas).
template <std::size_t Offset, std::size_t Size>
struct Bytes {
  static constexpr std::size_t offset = Offset;
  static constexpr std::size_t size = Size;
  static constexpr std::size_t end = Offset + Size;
  static const unsigned char* Ptr(const void* base) { return static_cast<const unsigned char*>(base) + Offset; }
  static unsigned char* Ptr(void* base) { return static_cast<unsigned char*>(base) + Offset; }
  static void Fill(void* base, unsigned char value) { std::memset(Ptr(base), value, Size); }
  static void Set(void* base, const void* src) { std::memcpy(Ptr(base), src, Size); }
  static bool Equals(const void* base, const void* other) { return std::memcmp(Ptr(base), other, Size) == 0; }
};

}  // namespace hdb::le

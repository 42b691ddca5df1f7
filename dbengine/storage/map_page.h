// THDBMapPage: one PFS or EAM page in memory for the length of one free-space step.
// It belongs to no session: it is read from the file, or from the manager's copy of it
// where that is known to be current (THDBMapPageCache), with a type check that raises
// the caller's code, changed through bit and code setters that remember
// whether a byte changed, and written back by Release only then. A map page that is
// not released (an error path) is dropped without writing.
#pragma once

#include <cstdint>

#include "dbengine/storage/page.h"

namespace hdb {

class THDBDiskPageManager;

class THDBMapPage {
 public:
  // Reads page pageNo and checks that its type is expectedType.
  THDBMapPage(THDBDiskPageManager& manager, std::int32_t pageNo, std::uint16_t expectedType, int typeErrorCode);
  // A new map page: fresh buffer, its type and data byte 0 = 1, written at once.
  static void Create(THDBDiskPageManager& manager, std::int32_t pageNo, std::uint16_t type);

  std::int32_t PageNo() const { return page_.PageNo(); }
  std::uint32_t DataSize() const;
  std::uint8_t Byte(std::uint32_t index) const { return Data()[index]; }

  // PFS: bit k of the page's range.
  bool Bit(std::int32_t k) const { return (Data()[k >> 3] >> (k & 7)) & 1; }
  void SetBit(std::int32_t k, bool value);
  // EAM: the 2-bit code of extent slot x of the page's range.
  std::uint8_t Code(std::int32_t x) const { return (Data()[x >> 2] >> (2 * (x & 3))) & 3; }
  void SetCode(std::int32_t x, std::uint8_t code);
  // PFS: the lowest clear bit, or -1.
  std::int32_t LowestClearBit() const;

  void Release();

 private:
  const std::uint8_t* Data() const { return page_.Buffer() + PageHeaderLayout::Size; }
  std::uint8_t* Data() { return page_.Buffer() + PageHeaderLayout::Size; }
  void SetByte(std::uint32_t index, std::uint8_t value);
  // Writes the page to the file and the manager's copy.
  static void Write(THDBDiskPageManager& manager, THDBPage& page);

  THDBDiskPageManager& manager_;
  THDBPage page_;
  bool changed_ = false;
};

}  // namespace hdb

// The fixed regions at the start of a database file, as byte images with typed
// access: the 76-byte file header, the 280-byte security block, the 20-byte lock
// block and the 4-byte object-id counter. Offsets are relative to the file header's
// position (0 in an ordinary file). Reserved bytes are kept as read.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

inline constexpr char FileSignature[] = "HALVARINDATABASE";
inline constexpr std::size_t FileSignatureSize = 16;
inline constexpr double CurrentFormatVersion = 7.92;
inline constexpr double OldFormatLimit = 2.99;
inline constexpr std::uint8_t DatabaseStateCommitting = 1;
inline constexpr std::uint8_t DatabaseStateConsistent = 2;

namespace FileHeaderLayout {
using Signature = le::Bytes<0, 16>;
using HeaderSize = le::Field<std::int16_t, 16>;
using FormatVersion = le::Field<double, 18>;
using PageSize = le::Field<std::uint16_t, 26>;
using ExtentPageCount = le::Field<std::uint16_t, 28>;
using TotalPageCount = le::Field<std::int32_t, 30>;
using LastUsedPageNo = le::Field<std::int32_t, 34>;
using ChangeCounter = le::Field<std::int32_t, 38>;
using DatabaseState = le::Field<std::uint8_t, 42>;
using EncryptedFlag = le::Field<std::uint8_t, 43>;
using Reserved = le::Bytes<44, 32>;
inline constexpr std::size_t Size = 76;
static_assert(Reserved::end == Size);
}  // namespace FileHeaderLayout

namespace SecurityBlockLayout {
using BlockSize = le::Field<std::int16_t, 0>;
using CipherType = le::Field<std::uint8_t, 2>;
using CheckData = le::Bytes<4, 256>;
using CheckCRC = le::Field<std::uint32_t, 260>;
using Reserved = le::Bytes<264, 16>;
inline constexpr std::size_t Size = 280;
static_assert(Reserved::end == Size);
}  // namespace SecurityBlockLayout

namespace LockBlockLayout {
using BlockSize = le::Field<std::int16_t, 0>;
inline constexpr std::size_t Size = 20;
// Lock bytes inside the block (never written, only byte-locked).
inline constexpr std::int64_t TablesLockByte = 3;
inline constexpr std::int64_t HeaderLockByte = 4;
}  // namespace LockBlockLayout

inline constexpr std::size_t ObjectIDCounterSize = 4;
// Header, security block, lock block and counter of a file this engine writes.
inline constexpr std::int64_t DefaultPagesOffset =
    FileHeaderLayout::Size + SecurityBlockLayout::Size + LockBlockLayout::Size + ObjectIDCounterSize;
static_assert(DefaultPagesOffset == 380);

// The 76-byte file header.
class THDBFileHeader {
 public:
  using Image = std::array<std::uint8_t, FileHeaderLayout::Size>;
  // The header of a new file: signature, size 76, version 7.92, no pages, state 2.
  static THDBFileHeader Fresh(std::uint16_t pageSize = 4096, std::uint16_t extentPageCount = 8);

  Image& Bytes() { return image_; }
  const Image& Bytes() const { return image_; }

  bool HasSignature() const;
  std::string SignatureText() const;
  std::int16_t HeaderSize() const { return FileHeaderLayout::HeaderSize::Get(image_.data()); }
  double FormatVersion() const { return FileHeaderLayout::FormatVersion::Get(image_.data()); }
  std::uint16_t PageSize() const { return FileHeaderLayout::PageSize::Get(image_.data()); }
  std::uint16_t ExtentPageCount() const { return FileHeaderLayout::ExtentPageCount::Get(image_.data()); }
  std::int32_t TotalPageCount() const { return FileHeaderLayout::TotalPageCount::Get(image_.data()); }
  std::int32_t LastUsedPageNo() const { return FileHeaderLayout::LastUsedPageNo::Get(image_.data()); }
  std::int32_t ChangeCounter() const { return FileHeaderLayout::ChangeCounter::Get(image_.data()); }
  std::uint8_t DatabaseState() const { return FileHeaderLayout::DatabaseState::Get(image_.data()); }
  std::uint8_t EncryptedFlag() const { return FileHeaderLayout::EncryptedFlag::Get(image_.data()); }

  void SetHeaderSize(std::int16_t v) { FileHeaderLayout::HeaderSize::Set(image_.data(), v); }
  void SetFormatVersion(double v) { FileHeaderLayout::FormatVersion::Set(image_.data(), v); }
  void SetPageSize(std::uint16_t v) { FileHeaderLayout::PageSize::Set(image_.data(), v); }
  void SetExtentPageCount(std::uint16_t v) { FileHeaderLayout::ExtentPageCount::Set(image_.data(), v); }
  void SetTotalPageCount(std::int32_t v) { FileHeaderLayout::TotalPageCount::Set(image_.data(), v); }
  void SetLastUsedPageNo(std::int32_t v) { FileHeaderLayout::LastUsedPageNo::Set(image_.data(), v); }
  void SetChangeCounter(std::int32_t v) { FileHeaderLayout::ChangeCounter::Set(image_.data(), v); }
  void SetDatabaseState(std::uint8_t v) { FileHeaderLayout::DatabaseState::Set(image_.data(), v); }
  void SetEncryptedFlag(std::uint8_t v) { FileHeaderLayout::EncryptedFlag::Set(image_.data(), v); }

  // An interrupted commit (state other than 2) or an old-format file.
  bool NeedsRepair() const;

 private:
  Image image_{};
};

// The 280-byte security block.
class THDBSecurityBlock {
 public:
  using Image = std::array<std::uint8_t, SecurityBlockLayout::Size>;
  static THDBSecurityBlock Fresh();

  Image& Bytes() { return image_; }
  const Image& Bytes() const { return image_; }
  std::int16_t BlockSize() const { return SecurityBlockLayout::BlockSize::Get(image_.data()); }
  std::uint8_t CipherType() const { return SecurityBlockLayout::CipherType::Get(image_.data()); }
  std::uint32_t CheckCRC() const { return SecurityBlockLayout::CheckCRC::Get(image_.data()); }

 private:
  Image image_{};
};

// The 20-byte lock block.
class THDBLockBlock {
 public:
  using Image = std::array<std::uint8_t, LockBlockLayout::Size>;
  static THDBLockBlock Fresh();

  Image& Bytes() { return image_; }
  const Image& Bytes() const { return image_; }
  std::int16_t BlockSize() const { return LockBlockLayout::BlockSize::Get(image_.data()); }

 private:
  Image image_{};
};

// The password of an encrypted file: its text and the cipher type (0..7).
struct THDBPassword {
  std::string Text;
  std::uint8_t CipherType = 0;
};

}  // namespace hdb

// The 40-byte header at the start of every page, and the page types. The data area
// (PageSize - 40 bytes) follows it and belongs to whoever owns the page.
#pragma once

#include <cstdint>

#include "dbengine/storage/byte_layout.h"

namespace hdb {

inline constexpr char PageSignature[] = "HDBP";
// PageVersion of a freed page on disk and of an unreadable page in memory.
inline constexpr std::int32_t FreedPageVersion = 0x7FFFFFFF;
// Version counting wraps from here to 0, so it never produces the three top values.
inline constexpr std::int32_t PageVersionWrap = 0x7FFFFFFD;

namespace PageHeaderLayout {
using Signature = le::Bytes<0, 4>;
using PageVersion = le::Field<std::int32_t, 4>;
using PageType = le::Field<std::uint16_t, 8>;
using NextPageNo = le::Field<std::int32_t, 10>;
using DataCRC = le::Field<std::uint32_t, 14>;
using Reserved18 = le::Bytes<18, 2>;
using CipherType = le::Field<std::uint8_t, 20>;
using Reserved21 = le::Field<std::uint8_t, 21>;
using OwnerTableID = le::Field<std::int32_t, 22>;
using Reserved26 = le::Field<std::int32_t, 26>;
using Reserved30 = le::Field<std::int16_t, 30>;
using Reserved32 = le::Bytes<32, 8>;
inline constexpr std::uint16_t Size = 40;
static_assert(Reserved32::end == Size);
}  // namespace PageHeaderLayout

enum THDBPageType : std::uint16_t {
  ptUnknown = 0,
  ptEmpty = 1,
  ptEAM = 2,
  ptPFS = 3,
  ptFileSystemDirectory = 4,
  ptActiveSessionList = 5,
  ptTableList = 6,
  ptTableLocks = 7,
  ptTableMetaData = 8,
  ptTableMostUpdated = 9,
  ptTableRecord = 10,
  ptTableBlob = 11,
  ptTableIndex = 12,
};
// GetPage's expected type that accepts every page.
inline constexpr std::uint16_t AnyPageType = 255;

// The engine's name of a page type ("PFS Page", ...); a type above 12 raises 30382.
const char* PageTypeName(std::uint16_t type);

// Gives a zero-filled page buffer its fresh header.
void InitPageHeader(void* buffer);

}  // namespace hdb

// THDBDiskBlobManager, the BLOB store of one table in a database file. A BLOB field's
// stored slot is a THDBBlobRef (page, BLOB number); the value's bytes live in pages of
// type 11 ("TableBlob Page") owned by the table, in one of two forms chosen by size
// alone:
// - small (S + 24 < PageDataSize): packed with others in a shared BLOB page, whose data
//   area is the BLOB count (uint16) and then each BLOB as its 22-byte header and its S
//   bytes. The table's BLOB page index lists every shared page with the bytes used on
//   it (S + 22 per BLOB) and tells where a new small BLOB fits.
// - large (otherwise): fresh pages of their own. The first one holds the header at data
//   offset 0, the locator of the page list at 22 and the first bytes from 32 on; the
//   bytes go on at offset 0 of further pages. Behind the last byte follow the numbers
//   of all data pages as int32 values, on a new page when the last data page is full,
//   spread over further pages linked through NextPageNo. The ref holds BLOB number -1.
// A ref with BLOB number 255 is read in the form its first page's sizes suggest, and in
// the other form when that fails.
//
// The stream layer's three values in each header are written as: compression 0
// (stored as given), and the size before compression in two halves, which for a stored
// value is S.
//
// The manager also holds the values of records being written, in memory, behind the
// 4-byte handle of a BLOB slot's memory form; it owns those values and the BLOB page
// index (whose root the table data object keeps in the definition file). Every size and
// page number read from a page is checked before use: damage raises an engine error.
// Used under the database object's lock, like everything the table data object owns.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "dbengine/storage/byte_layout.h"
#include "dbengine/tables/btree_page_index.h"
#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBPageManager;
class THDBPinnedPage;
class THDBBaseFieldManager;

// The stored part of a BLOB slot; (-1, -1) = no value.
struct THDBBlobRef {
  std::int32_t PageNo = -1;
  std::int16_t BlobNo = -1;
  friend bool operator==(const THDBBlobRef&, const THDBBlobRef&) = default;
};

// A BLOB slot: the ref (stored), then the in-memory handle (memory form only).
namespace BlobSlotLayout {
using PageNo = le::Field<std::int32_t, 0>;
using BlobNo = le::Field<std::int16_t, 4>;
using Handle = le::Field<std::uint32_t, 6>;
}  // namespace BlobSlotLayout

// The header in front of every BLOB's bytes.
namespace BlobHeaderLayout {
using BlobNo = le::Field<std::int16_t, 0>;
using Compression = le::Field<std::uint32_t, 2>;
using Size = le::Field<std::int64_t, 6>;
using OriginalSizeLow = le::Field<std::uint32_t, 14>;
using OriginalSizeHigh = le::Field<std::uint32_t, 18>;
inline constexpr std::uint32_t Length = 22;
static_assert(OriginalSizeHigh::end == Length);
}  // namespace BlobHeaderLayout

// Where a large BLOB's page list starts, behind its header on the first page.
namespace BlobLocatorLayout {
using ListPageNo = le::Field<std::int32_t, 0>;
using ListOffset = le::Field<std::uint16_t, 4>;
using DataPageCount = le::Field<std::int32_t, 6>;
inline constexpr std::uint32_t Length = 10;
static_assert(DataPageCount::end == Length);
}  // namespace BlobLocatorLayout

// The data area of a shared BLOB page: the count, then the BLOBs from offset 2.
namespace BlobPageLayout {
using BlobCount = le::Field<std::uint16_t, 0>;
inline constexpr std::uint32_t FirstBlob = 2;
}  // namespace BlobPageLayout

// Data offsets on a large BLOB's first page.
inline constexpr std::uint32_t LargeBlobLocatorOffset = BlobHeaderLayout::Length;
inline constexpr std::uint32_t LargeBlobDataOffset = BlobHeaderLayout::Length + BlobLocatorLayout::Length;
// The BLOB number of a large BLOB, and the number read in either form.
inline constexpr std::int16_t LargeBlobNo = -1;
inline constexpr std::int16_t AmbiguousBlobNo = 255;

THDBBlobRef LoadBlobRef(const void* slot);
void StoreBlobRef(void* slot, THDBBlobRef ref);
// Whether a ref points to a stored value: (-1, -1) does not, and neither does the
// all-zero slot of a fresh record (page 0 is the file's first map page).
inline bool HasBlobValue(THDBBlobRef ref) { return ref.PageNo > 0; }

class THDBDiskBlobManager {
 public:
  THDBDiskBlobManager(THDBPageManager& pages, const THDBBaseFieldManager& fields, std::int32_t tableID);
  THDBDiskBlobManager(const THDBDiskBlobManager&) = delete;
  THDBDiskBlobManager& operator=(const THDBDiskBlobManager&) = delete;

  // The BLOB page index: a new empty root (for a new table), or the stored one.
  std::int32_t CreatePageIndexRoot(SessionID session);
  std::int32_t PageIndexRoot() const { return pageIndex_.RootPageNo(); }
  void SetPageIndexRoot(std::int32_t pageNo) { pageIndex_.SetRootPageNo(pageNo); }
  THDBBTreeBlobPageIndex& PageIndex() { return pageIndex_; }

  // Whether a value of `size` stored bytes goes into a shared page.
  bool IsSmall(std::int64_t size) const;

  // Stores a value, small or large by its size; returns its ref.
  THDBBlobRef AddBlob(SessionID session, const std::uint8_t* data, std::int64_t size);
  // The stored bytes of a value; none for a ref without value.
  std::vector<std::uint8_t> ReadBlob(SessionID session, THDBBlobRef ref);
  // Frees a value: a small one leaves its page (the page goes when it is its last), a
  // large one frees every data and list page. A ref without value does nothing.
  void RemoveBlob(SessionID session, THDBBlobRef ref);

  // Values held in memory for records being written, by handle (never 0). Value and
  // SetValue raise "Invalid blob handle" for a handle not handed out; DropValue ignores it.
  std::uint32_t NewValue(std::vector<std::uint8_t> bytes);
  void SetValue(std::uint32_t handle, std::vector<std::uint8_t> bytes);
  const std::vector<std::uint8_t>& Value(std::uint32_t handle) const;
  void DropValue(std::uint32_t handle);
  std::size_t ValueCount() const { return values_.size(); }

  // The hooks of the table data object, for every BLOB field of a memory-form record.
  // Insert (storedRecord nullptr) and update (storedRecord: the record as stored before,
  // in memory form): a field with a handle gets the handle's value stored (nothing for
  // an empty value or a NULL field: ref (-1, -1)), its previous stored value removed,
  // the new ref written and the handle dropped and set to 0. A field without a handle
  // keeps its ref (a slot without value is written as (-1, -1)). Every new value is
  // stored before anything is removed or written: a failure leaves the record and its
  // handles as they were.
  void WriteBlobFields(SessionID session, std::uint8_t* record, const std::uint8_t* storedRecord);
  // Removes the stored values of a record (delete), NULL fields included: a field set
  // NULL without a new value still holds its ref.
  void ClearBlobFields(SessionID session, const std::uint8_t* record);
  // Drops the values held in memory for a record (a cancelled insert or edit).
  void PrepareBlobFields(std::uint8_t* record);
  // Frees every BLOB page of the table (empty or delete table): the large values
  // through the refs of the memory-form records forEachRecord hands to its callback,
  // the shared pages through the page index and those refs. The page index is then
  // cleared, its root kept.
  using RecordVisitor = std::function<void(const std::uint8_t* record)>;
  void FreeBlobPages(SessionID session, const std::function<void(const RecordVisitor&)>& forEachRecord);
  // Frees the page index, its root too (delete table, after FreeBlobPages); the root
  // becomes -1. Nothing for a table without one.
  void DropPageIndex(SessionID session);

 private:
  // A small BLOB found on its shared page: data offsets of its header and of the end of
  // the page's BLOBs, its size and the page's count.
  struct SmallBlobPlace {
    std::uint32_t Offset = 0;
    std::int64_t Size = 0;
    std::uint32_t End = 0;
    std::uint16_t Count = 0;
  };
  // A large BLOB's pages, checked: its size, the data pages in order and the further
  // pages of its page list.
  struct LargeBlobPages {
    std::int64_t Size = 0;
    std::vector<std::int32_t> DataPages;
    std::vector<std::int32_t> ListPages;
  };
  enum class Form { Small, Large };

  THDBBlobRef AddSmallBlob(SessionID session, const std::uint8_t* data, std::int64_t size);
  THDBBlobRef AddLargeBlob(SessionID session, const std::uint8_t* data, std::int64_t size);
  void RemoveSmallBlob(SessionID session, THDBBlobRef ref);

  // The form of a stored value, by its BLOB number (and the 255 rule).
  Form FormOf(SessionID session, THDBBlobRef ref);
  // Whether the first page's sizes read as those of a large BLOB.
  bool SizesSuggestLarge(SessionID session, std::int32_t pageNo);
  // Raises unless the page number can name a page of a file of pageCount pages.
  void CheckPageNo(std::int32_t pageNo, std::int32_t pageCount, THDBBlobRef ref) const;
  // A pinned BLOB page of this table; raises for any other page (the page layer itself
  // refuses map pages and pages beyond the file).
  THDBPinnedPage GetBlobPage(SessionID session, std::int32_t pageNo, THDBBlobRef ref);
  // Walks a shared page's BLOBs, checking each against the data area; `blobNo` is
  // looked for (Offset 0 when the page has none) and every number is reported to `seen`.
  SmallBlobPlace ScanSmallPage(const std::uint8_t* data, std::int32_t pageNo, std::int16_t blobNo,
                               std::vector<std::int16_t>* seen) const;
  // The small BLOB of the ref on its page, which stays pinned in `page`; "Blob not
  // found" when the page has none of that number.
  SmallBlobPlace FindSmallBlob(SessionID session, THDBBlobRef ref, THDBPinnedPage& page);
  // A large BLOB's pages, each of them checked; its bytes too when asked for.
  LargeBlobPages LoadLargeBlob(SessionID session, THDBBlobRef ref, std::vector<std::uint8_t>* bytes);

  std::uint32_t DataSize() const { return pageDataSize_; }
  // Data pages of a large BLOB of `size` bytes, and where its page list starts on the
  // last of them (PageDataSize: on a page of its own).
  std::int64_t LargeDataPageCount(std::int64_t size) const;
  std::uint32_t LargeListOffset(std::int64_t size) const;

  THDBPageManager& pages_;
  const THDBBaseFieldManager& fields_;
  std::int32_t tableID_;
  std::uint32_t pageDataSize_;
  THDBBTreeBlobPageIndex pageIndex_;
  std::unordered_map<std::uint32_t, std::vector<std::uint8_t>> values_;
  std::uint32_t nextHandle_ = 1;
};

}  // namespace hdb

// The BLOB store of a table: small values packed into shared pages with the BLOB page
// index, large values over pages of their own with their page list, the 255 number
// rule, damaged pages refused, and the record hooks of the table data object.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>

#include "dbengine/storage/disk_page_manager.h"
#include "dbengine/storage/free_space_check.h"
#include "dbengine/tables/blob_manager.h"
#include "dbengine/tables/field_manager.h"
#include "dbengine/tables/null_bitmap.h"
#include "temp_dir.h"
#include "test_tables.h"

namespace hdb {
namespace {

using test::Raised;
using test::RaisedError;
using Bytes = std::vector<std::uint8_t>;

constexpr SessionID S0 = 0;
constexpr std::int32_t TableID = 77;
constexpr std::uint32_t Data = PageHeaderLayout::Size;

Bytes Pattern(std::size_t size, std::uint32_t seed) {
  Bytes out(size);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 23);
  }
  return out;
}

class BlobManagerTest : public ::testing::Test {
 protected:
  BlobManagerTest() {
    THDBFieldDefs defs;
    defs.AddField("ID", dtInteger);
    defs.AddField("DATA", dtBlob);
    defs[0].ObjectID = 100;
    defs[1].ObjectID = 101;
    fields_.SetFieldDefs(defs);
  }
  ~BlobManagerTest() override {
    blobs_.reset();
    if (pages_ && pages_->IsOpen()) {
      pages_->RollbackPages(S0);
      pages_->Close();
    }
  }

  void Open(std::uint16_t pageSize = 4096) {
    blobs_.reset();
    if (pages_) {
      pages_->RollbackPages(S0);
      pages_->Close();
    }
    pages_ = std::make_unique<THDBDiskPageManager>();
    pages_->Create(dir_.File("Data.hdb"), {}, 8, pageSize);
    blobs_ = std::make_unique<THDBDiskBlobManager>(*pages_, fields_, TableID);
    root_ = blobs_->CreatePageIndexRoot(S0);
    Commit();
  }
  void Reopen() {
    Commit();
    blobs_.reset();
    pages_->Close();
    pages_ = std::make_unique<THDBDiskPageManager>();
    bool multiUser = false, readOnly = false;
    pages_->Open(dir_.File("Data.hdb"), {}, multiUser, false, readOnly);
    blobs_ = std::make_unique<THDBDiskBlobManager>(*pages_, fields_, TableID);
    blobs_->SetPageIndexRoot(root_);
  }
  void Commit() { pages_->CommitPages(S0); }

  THDBBlobRef Add(const Bytes& value) {
    return blobs_->AddBlob(S0, value.data(), static_cast<std::int64_t>(value.size()));
  }
  Bytes Read(THDBBlobRef ref) { return blobs_->ReadBlob(S0, ref); }

  std::map<std::int32_t, std::int32_t> IndexEntries() {
    std::map<std::int32_t, std::int32_t> out;
    THDBBTreeBlobPageIndex& index = blobs_->PageIndex();
    for (bool more = index.First(S0); more; more = index.Next(S0)) out[index.ReadPageNo(S0)] = index.ReadCount(S0);
    return out;
  }
  // Pages the session added or removed since its last commit.
  std::size_t Added() const {
    const auto* entry = pages_->FindSession(S0);
    return entry ? entry->AddedPages.size() : 0;
  }
  std::size_t Removed() const {
    const auto* entry = pages_->FindSession(S0);
    return entry ? entry->RemovedPages.size() : 0;
  }
  std::int32_t LastUsedPage() {
    pages_->GetPageCount();  // reads the header
    return pages_->Header().LastUsedPageNo();
  }
  // The whole page as it is now.
  Bytes Page(std::int32_t pageNo) {
    THDBPinnedPage page(*pages_, pages_->GetPage(S0, pageNo));
    return Bytes(page->Buffer(), page->Buffer() + pages_->PageSize());
  }
  // Changes a page and commits it, as damage on disk would leave it.
  void Damage(std::int32_t pageNo, const std::function<void(std::uint8_t* data, THDBPage& page)>& change) {
    {
      THDBPinnedPage page(*pages_, pages_->GetPage(S0, pageNo));
      change(page->Buffer() + Data, *page.Get());
      page.SetDirty();
    }
    Commit();
  }

  // A memory-form record of the two fields, both NULL.
  Bytes NewRecord() const {
    Bytes record(static_cast<std::size_t>(fields_.MemoryRecordSize()));
    fields_.InitRecord(record.data(), false);
    return record;
  }
  std::uint8_t* Slot(Bytes& record) const { return record.data() + fields_.Field(1).MemoryOffset; }
  // A record whose BLOB field holds a value in memory.
  Bytes RecordWith(const Bytes& value) {
    Bytes record = NewRecord();
    NullBitmap::ClearNull(record.data(), 1);
    BlobSlotLayout::Handle::Set(Slot(record), blobs_->NewValue(value));
    return record;
  }
  THDBBlobRef RefOf(Bytes& record) const { return LoadBlobRef(Slot(record)); }
  std::uint32_t HandleOf(Bytes& record) const { return BlobSlotLayout::Handle::Get(Slot(record)); }

  hdbtest::TempDir dir_;
  THDBBaseFieldManager fields_;
  std::unique_ptr<THDBDiskPageManager> pages_;
  std::unique_ptr<THDBDiskBlobManager> blobs_;
  std::int32_t root_ = -1;
};

// ---- Small values ---------------------------------------------------------------------

TEST_F(BlobManagerTest, SmallValuesArePackedIntoOnePageWithTheirNumbers) {
  Open();
  const Bytes a = Pattern(10, 1), b, c = Pattern(100, 3);
  const THDBBlobRef ra = Add(a), rb = Add(b), rc = Add(c);
  EXPECT_EQ(ra, (THDBBlobRef{ra.PageNo, 0}));
  EXPECT_EQ(rb, (THDBBlobRef{ra.PageNo, 1}));
  EXPECT_EQ(rc, (THDBBlobRef{ra.PageNo, 2}));
  EXPECT_EQ(IndexEntries(), (std::map<std::int32_t, std::int32_t>{{ra.PageNo, 32 + 22 + 122}}));

  // The count, then each BLOB's header right behind the bytes of the one before.
  const Bytes page = Page(ra.PageNo);
  const std::uint8_t* data = page.data() + Data;
  EXPECT_EQ(le::Load<std::uint16_t>(data, 0), 3);
  const std::uint8_t* third = data + 2 + (22 + 10) + (22 + 0);
  EXPECT_EQ(BlobHeaderLayout::BlobNo::Get(third), 2);
  EXPECT_EQ(BlobHeaderLayout::Compression::Get(third), 0u);
  EXPECT_EQ(BlobHeaderLayout::Size::Get(third), 100);
  EXPECT_EQ(BlobHeaderLayout::OriginalSizeLow::Get(third), 100u);
  EXPECT_EQ(BlobHeaderLayout::OriginalSizeHigh::Get(third), 0u);
  EXPECT_EQ(Bytes(third + 22, third + 122), c);
  EXPECT_EQ(page[PageHeaderLayout::PageType::offset], ptTableBlob);
  EXPECT_EQ(PageHeaderLayout::OwnerTableID::Get(page.data()), TableID);

  Reopen();
  EXPECT_EQ(Read(ra), a);
  EXPECT_EQ(Read(rb), b);
  EXPECT_EQ(Read(rc), c);

  // A new number is the page's count, raised until no BLOB of the page carries it.
  blobs_->RemoveBlob(S0, rb);  // numbers 0, 2
  EXPECT_EQ(Add(a).BlobNo, 3);
  EXPECT_EQ(Add(a).BlobNo, 4);  // count 3: 3 and 4 are taken
  blobs_->RemoveBlob(S0, ra);   // numbers 2, 3, 4
  EXPECT_EQ(Add(a).BlobNo, 5);
  EXPECT_EQ(Read(rc), c);
}

TEST_F(BlobManagerTest, APageTakesValuesUntilTheNextOneNeedsItsLastByte) {
  // 4056 data bytes: the count and each BLOB's 22-byte header plus its bytes; a value
  // goes in while used + size + 22 < 4054.
  struct Case {
    const char* what;
    std::vector<std::int64_t> sizes;
    std::vector<int> page;  // 0: the first page, 1: a new one
  };
  const std::vector<Case> cases = {
      {"one byte to spare", {978, 978, 978, 978, 31}, {0, 0, 0, 0, 0}},
      {"no byte to spare", {978, 978, 978, 978, 32}, {0, 0, 0, 0, 1}},
      {"the largest small value", {4031, 0}, {0, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    std::vector<std::int32_t> pages;
    std::map<std::int32_t, std::int32_t> used;
    for (std::size_t i = 0; i < c.sizes.size(); ++i) {
      const Bytes value = Pattern(static_cast<std::size_t>(c.sizes[i]), static_cast<std::uint32_t>(i));
      const THDBBlobRef ref = Add(value);
      ASSERT_GE(ref.BlobNo, 0) << "small form";
      if (static_cast<std::size_t>(c.page[i]) == pages.size()) pages.push_back(ref.PageNo);
      EXPECT_EQ(ref.PageNo, pages[static_cast<std::size_t>(c.page[i])]) << "value " << i;
      used[ref.PageNo] += static_cast<std::int32_t>(c.sizes[i]) + 22;
      EXPECT_EQ(Read(ref), value);
    }
    EXPECT_EQ(IndexEntries(), used);
  }
}

TEST_F(BlobManagerTest, AValueThePageCannotTakeAfterAllIsRefused) {
  Open();
  std::int32_t pageNo = -1;
  for (int i = 0; i < 4; ++i) pageNo = Add(Pattern(978, 1)).PageNo;  // 4002 bytes of 4056 in use
  blobs_->PageIndex().SetCount(S0, pageNo, 100);                    // an index that disagrees
  const RaisedError full = Raised([&] { Add(Pattern(500, 2)); });
  EXPECT_EQ(full.code, 20290);
  EXPECT_NE(full.what.find("Cannot add blob. Page is full: BlobCount=4, BlobOffset=4002, BlobSize=500, "
                           "PageDataSize=4056, SizeInBlobPageIndex=100"),
            std::string::npos)
      << full.what;
  // A value that does fit is stored, and the index learns what the page holds.
  const THDBBlobRef ref = Add(Pattern(10, 3));
  EXPECT_EQ(ref, (THDBBlobRef{pageNo, 4}));
  EXPECT_EQ(IndexEntries(), (std::map<std::int32_t, std::int32_t>{{pageNo, 4000 + 32}}));
}

TEST_F(BlobManagerTest, RemovalMovesTheFollowingValuesDownAndFreesTheEmptiedPage) {
  Open();
  const std::int32_t before = LastUsedPage();
  const Bytes a = Pattern(10, 1), b = Pattern(20, 2), c = Pattern(30, 3);
  const THDBBlobRef ra = Add(a), rb = Add(b), rc = Add(c);
  Commit();

  blobs_->RemoveBlob(S0, rb);
  const Bytes page = Page(ra.PageNo);
  const std::uint8_t* data = page.data() + Data;
  EXPECT_EQ(le::Load<std::uint16_t>(data, 0), 2);
  const std::uint8_t* moved = data + 2 + 22 + 10;
  EXPECT_EQ(BlobHeaderLayout::BlobNo::Get(moved), 2);
  EXPECT_EQ(Bytes(moved + 22, moved + 52), c);
  EXPECT_EQ(Bytes(moved + 52, moved + 52 + 42), Bytes(42, 0)) << "the freed tail is cleared";
  EXPECT_EQ(IndexEntries(), (std::map<std::int32_t, std::int32_t>{{ra.PageNo, 32 + 52}}));
  EXPECT_EQ(Read(ra), a);
  EXPECT_EQ(Read(rc), c);
  EXPECT_EQ(Raised([&] { Read(rb); }).code, 20294);

  blobs_->RemoveBlob(S0, ra);
  blobs_->RemoveBlob(S0, rc);
  EXPECT_TRUE(IndexEntries().empty());
  EXPECT_EQ(Removed(), 1u);
  Commit();
  EXPECT_EQ(LastUsedPage(), before);
  EXPECT_EQ(CheckFreeSpaceMaps(*pages_), std::vector<std::string>{});
  // A ref without value reads empty and removes nothing.
  EXPECT_TRUE(Read({}).empty());
  blobs_->RemoveBlob(S0, {});
}

// ---- Large values ---------------------------------------------------------------------

TEST_F(BlobManagerTest, LargeValuesAroundThePageBoundariesReadBackAfterAReopenAndFreeEveryPage) {
  // 4056 data bytes a page (472 on 512-byte pages): 32 bytes of header and locator
  // first, then the value, then 4 bytes per data page for the page list.
  struct Case {
    const char* what;
    std::uint16_t pageSize;
    std::int64_t size;
    std::int32_t dataPages;
    std::uint16_t listOffset;  // on the last data page; 0: on a page of its own
    std::size_t pages;
  };
  const std::vector<Case> cases = {
      {"the smallest large value", 4096, 4032, 2, 8, 2},
      {"a page size of bytes", 4096, 4056, 2, 32, 2},
      {"the page list ending exactly at the page end", 4096, 8072, 2, 4048, 2},
      {"the page list split over two pages", 4096, 8079, 2, 4055, 3},
      {"exactly full data pages: the list on a page of its own", 4096, 8080, 2, 0, 3},
      {"one byte more", 4096, 8081, 3, 1, 3},
      {"1 MB", 4096, 1 << 20, 259, 2160, 259},
      {"1 MB over 512-byte pages: the list over 19 more pages", 512, 1 << 20, 2222, 296, 2241},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.pageSize);
    const std::int32_t before = LastUsedPage();
    const Bytes value = Pattern(static_cast<std::size_t>(c.size), static_cast<std::uint32_t>(c.size));
    const THDBBlobRef ref = Add(value);
    EXPECT_EQ(ref.BlobNo, -1);
    EXPECT_EQ(Added(), c.pages);
    EXPECT_TRUE(IndexEntries().empty()) << "large values are not in the page index";

    const Bytes first = Page(ref.PageNo);
    const std::uint8_t* data = first.data() + Data;
    EXPECT_EQ(BlobHeaderLayout::BlobNo::Get(data), -1);
    EXPECT_EQ(BlobHeaderLayout::Size::Get(data), c.size);
    const std::uint8_t* locator = data + 22;
    EXPECT_EQ(BlobLocatorLayout::DataPageCount::Get(locator), c.dataPages);
    EXPECT_EQ(BlobLocatorLayout::ListOffset::Get(locator), c.listOffset);
    EXPECT_EQ(Bytes(data + 32, data + 64), Bytes(value.begin(), value.begin() + 32));
    // The pages holding the list, chained through NextPageNo.
    std::size_t chain = 0;
    for (std::int32_t p = BlobLocatorLayout::ListPageNo::Get(locator); p != -1; ++chain)
      p = PageHeaderLayout::NextPageNo::Get(Page(p).data());
    EXPECT_EQ(chain, c.pages - static_cast<std::size_t>(c.dataPages) + (c.listOffset ? 1 : 0));

    Reopen();
    EXPECT_EQ(Read(ref), value);
    blobs_->RemoveBlob(S0, ref);
    EXPECT_EQ(Removed(), c.pages);
    Commit();
    EXPECT_EQ(LastUsedPage(), before);
    EXPECT_EQ(CheckFreeSpaceMaps(*pages_), std::vector<std::string>{});
  }
}

// ---- The 255 number rule --------------------------------------------------------------

TEST_F(BlobManagerTest, Number255ReadsAsEitherForm) {
  // A large value named with 255: its sizes say large.
  Open();
  const Bytes large = Pattern(5000, 5);
  const THDBBlobRef ref = Add(large);
  const THDBBlobRef alias{ref.PageNo, 255};
  EXPECT_EQ(Read(alias), large);
  blobs_->RemoveBlob(S0, alias);
  EXPECT_EQ(Removed(), 2u);

  // Neither form: the error of the form the sizes suggest. The first BLOB's size at the
  // large header's place reads 65536: large.
  Open();
  const THDBBlobRef one = Add(Bytes{'x'});
  EXPECT_EQ(Raised([&] { Read({one.PageNo, 255}); }).code, 20291);

  // A small value numbered 255 on a shared page (256 values fit on 8192-byte pages):
  // the sizes suggest large, which fails, and the small form is read.
  Open(8192);
  const THDBBlobRef x = Add(Bytes{'x'});
  for (int i = 1; i < 255; ++i) Add({});
  const THDBBlobRef last = Add(Bytes{'o', 'k'});
  ASSERT_EQ(last, (THDBBlobRef{x.PageNo, 255}));
  Reopen();
  EXPECT_EQ(Read(last), (Bytes{'o', 'k'}));
  blobs_->RemoveBlob(S0, last);
  EXPECT_EQ(Read(x), Bytes{'x'});
  EXPECT_EQ(IndexEntries(), (std::map<std::int32_t, std::int32_t>{{x.PageNo, 23 + 254 * 22}}));
}

// ---- Damage ---------------------------------------------------------------------------

TEST_F(BlobManagerTest, DamagedPagesAreRefusedAndNothingIsFreed) {
  // A small value (10 bytes, number 0) followed by a second one; or a large value of
  // 8081 bytes (3 data pages, the list at offset 1 of the third) or of 8079 bytes (the
  // list split from the second data page onto a third page).
  auto listPage = [&](THDBBlobRef ref) {
    return BlobLocatorLayout::ListPageNo::Get(Page(ref.PageNo).data() + Data + 22);
  };
  auto listEntry = [&](THDBBlobRef ref, int i) {
    return le::Load<std::int32_t>(Page(listPage(ref)).data(), Data + 1 + 4 * i);
  };
  using Change = std::function<void(THDBBlobRef)>;
  auto onFirst = [&](const std::function<void(std::uint8_t*, THDBPage&)>& change) {
    return Change([&, change](THDBBlobRef ref) { Damage(ref.PageNo, change); });
  };
  struct Case {
    const char* what;
    std::int64_t size;
    Change change;
    int code;
  };
  const std::vector<Case> cases = {
      {"count beyond the page's BLOBs", 10,
       onFirst([](std::uint8_t* d, THDBPage&) { le::Store<std::uint16_t>(d, 0, 500); }), 20291},
      {"a size past the data area", 10,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d + 2, 5000); }), 20291},
      {"a negative size", 10, onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d + 2, -1); }),
       20291},
      {"the second BLOB's size past the data area", 10,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d + 2 + 32, 4100); }), 20291},
      {"two BLOBs of one number", 10,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::BlobNo::Set(d + 2 + 32, 0); }), 20291},
      {"the number gone", 10, onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::BlobNo::Set(d + 2, 7); }),
       20294},
      {"another table's page", 10, onFirst([](std::uint8_t*, THDBPage& p) { p.SetOwnerTableID(5); }), 20291},
      {"a record page", 10, onFirst([](std::uint8_t*, THDBPage& p) { p.SetPageType(ptTableRecord); }), 20153},
      {"a large size read as small", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d, 100); }), 20291},
      {"a size beyond the file", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d, std::int64_t{1} << 60); }), 20291},
      {"a negative large size", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobHeaderLayout::Size::Set(d, -5000); }), 20291},
      {"another data page count", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobLocatorLayout::DataPageCount::Set(d + 22, 2); }), 20291},
      {"another list offset", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobLocatorLayout::ListOffset::Set(d + 22, 4000); }), 20291},
      {"a list page beyond the file", 8081,
       onFirst([](std::uint8_t* d, THDBPage&) { BlobLocatorLayout::ListPageNo::Set(d + 22, 1 << 30); }), 20296},
      {"page 0 in the list", 8081,
       [&](THDBBlobRef ref) {
         Damage(listPage(ref), [](std::uint8_t* d, THDBPage&) { le::Store<std::int32_t>(d, 1 + 4, 0); });
       },
       20296},
      {"a page twice in the list", 8081,
       [&](THDBBlobRef ref) {
         const std::int32_t first = listEntry(ref, 0);
         Damage(listPage(ref), [first](std::uint8_t* d, THDBPage&) { le::Store<std::int32_t>(d, 1 + 4, first); });
       },
       20296},
      {"a list not starting at the ref's page", 8081,
       [&](THDBBlobRef ref) {
         const std::int32_t second = listEntry(ref, 1), first = listEntry(ref, 0);
         Damage(listPage(ref), [first, second](std::uint8_t* d, THDBPage&) {
           le::Store<std::int32_t>(d, 1, second);
           le::Store<std::int32_t>(d, 1 + 4, first);
         });
       },
       20296},
      {"a data page of another table", 8081,
       [&](THDBBlobRef ref) { Damage(listEntry(ref, 1), [](std::uint8_t*, THDBPage& p) { p.SetOwnerTableID(5); }); },
       20291},
      {"a list that loops", 8079,
       [&](THDBBlobRef ref) {
         const std::int32_t p = listPage(ref);
         Damage(p, [p](std::uint8_t*, THDBPage& page) { page.SetNextPageNo(p); });
       },
       20296},
      {"a list that ends early", 8079,
       [&](THDBBlobRef ref) { Damage(listPage(ref), [](std::uint8_t*, THDBPage& page) { page.SetNextPageNo(-1); }); },
       20296},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Open();
    const THDBBlobRef ref = Add(Pattern(static_cast<std::size_t>(c.size), 1));
    if (ref.BlobNo >= 0) Add(Pattern(20, 2));
    Commit();
    c.change(ref);
    EXPECT_EQ(Raised([&] { Read(ref); }).code, c.code);
    EXPECT_EQ(Raised([&] { blobs_->RemoveBlob(S0, ref); }).code, c.code);
    EXPECT_EQ(Removed(), 0u);
    EXPECT_EQ(Added(), 0u);
  }
}

TEST_F(BlobManagerTest, RefsToFreedOrMissingPagesAreRefused) {
  Open();
  const THDBBlobRef gone = Add(Pattern(10, 1));
  Add(Pattern(5000, 2));  // keeps the freed page inside the file
  Commit();
  blobs_->RemoveBlob(S0, gone);
  Commit();
  EXPECT_EQ(Raised([&] { Read(gone); }).code, 20291) << "a freed page";
  // The page layer reads a page beyond the file's end as a zero page: no BLOB page.
  EXPECT_EQ(Raised([&] { Read({1 << 20, 0}); }).code, 20153) << "a page beyond the file";
  EXPECT_EQ(Raised([&] { Read({1 << 20, -1}); }).code, 20291);
  EXPECT_EQ(Raised([&] { Read({-7, -1}); }).code, 0) << "no value";
  EXPECT_EQ(Raised([&] { Read({1, 0}); }).code, 30434) << "a map page";
}

// ---- Record hooks ---------------------------------------------------------------------

TEST_F(BlobManagerTest, WriteBlobFieldsStoresTheHandlesValuesAndKeepsTheOtherRefs) {
  Open();
  const Bytes large = Pattern(6000, 9), small = Pattern(40, 4);

  // Insert: the value is stored, its ref written, the handle dropped.
  Bytes stored = RecordWith(large);
  blobs_->WriteBlobFields(S0, stored.data(), nullptr);
  const THDBBlobRef first = RefOf(stored);
  EXPECT_EQ(first.BlobNo, -1);
  EXPECT_EQ(HandleOf(stored), 0u);
  EXPECT_EQ(blobs_->ValueCount(), 0u);
  EXPECT_EQ(Read(first), large);
  Commit();

  // Update: the new value is stored and the one stored before is removed.
  Bytes updated = stored;
  const std::uint32_t handle = blobs_->NewValue({});
  blobs_->SetValue(handle, small);
  BlobSlotLayout::Handle::Set(Slot(updated), handle);
  blobs_->WriteBlobFields(S0, updated.data(), stored.data());
  const THDBBlobRef second = RefOf(updated);
  EXPECT_GE(second.BlobNo, 0);
  EXPECT_EQ(Read(second), small);
  EXPECT_EQ(Removed(), 2u) << "both pages of the large value";
  Commit();

  // Without a handle the ref stays and nothing is removed; a slot without value is
  // written as (-1, -1).
  Bytes same = updated;
  blobs_->WriteBlobFields(S0, same.data(), updated.data());
  EXPECT_EQ(same, updated);
  Bytes fresh = NewRecord();
  EXPECT_EQ(RefOf(fresh), (THDBBlobRef{0, 0}));
  blobs_->WriteBlobFields(S0, fresh.data(), nullptr);
  EXPECT_EQ(RefOf(fresh), THDBBlobRef{});
  EXPECT_EQ(Removed() + Added(), 0u);

  // An empty value and a NULL field store nothing; on an update the old value goes.
  for (bool null : {false, true}) {
    Bytes record = RecordWith(null ? small : Bytes{});
    if (null) NullBitmap::SetNull(record.data(), 1);
    blobs_->WriteBlobFields(S0, record.data(), nullptr);
    EXPECT_EQ(RefOf(record), THDBBlobRef{});
    EXPECT_EQ(HandleOf(record), 0u);
    EXPECT_EQ(Added(), 0u);
  }
  Bytes emptied = updated;
  BlobSlotLayout::Handle::Set(Slot(emptied), blobs_->NewValue({}));
  blobs_->WriteBlobFields(S0, emptied.data(), updated.data());
  EXPECT_EQ(RefOf(emptied), THDBBlobRef{});
  EXPECT_TRUE(IndexEntries().empty());
  EXPECT_EQ(blobs_->ValueCount(), 0u);
}

TEST_F(BlobManagerTest, AFailedWriteLeavesTheRecordAndItsValueAsTheyWere) {
  Open();
  const THDBBlobRef kept = Add(Pattern(10, 1));
  const auto entries = IndexEntries();
  Commit();
  // The stored record names a number its page does not hold.
  Bytes stored = NewRecord();
  StoreBlobRef(Slot(stored), {kept.PageNo, 9});
  Bytes record = RecordWith(Pattern(30, 2));
  const Bytes before = record;
  EXPECT_EQ(Raised([&] { blobs_->WriteBlobFields(S0, record.data(), stored.data()); }).code, 20294);
  EXPECT_EQ(record, before);
  EXPECT_EQ(blobs_->Value(HandleOf(record)), Pattern(30, 2));
  EXPECT_EQ(IndexEntries(), entries) << "the value stored meanwhile is removed again";

  BlobSlotLayout::Handle::Set(Slot(record), 12345);
  EXPECT_EQ(Raised([&] { blobs_->WriteBlobFields(S0, record.data(), nullptr); }).code, 20297);
  EXPECT_EQ(Raised([&] { blobs_->SetValue(12345, {}); }).code, 20297);
  blobs_->DropValue(12345);
}

TEST_F(BlobManagerTest, ClearAndPrepareBlobFields) {
  Open();
  // A delete removes the stored value, also of a field set NULL since.
  Bytes record = RecordWith(Pattern(30, 1));
  blobs_->WriteBlobFields(S0, record.data(), nullptr);
  const THDBBlobRef ref = RefOf(record);
  NullBitmap::SetNull(record.data(), 1);
  blobs_->ClearBlobFields(S0, record.data());
  EXPECT_TRUE(IndexEntries().empty());
  EXPECT_EQ(Removed(), 1u) << "its page went with it";
  EXPECT_EQ(Raised([&] { Read(ref); }).code, 20294);
  // A record never written has nothing to remove.
  Bytes fresh = NewRecord();
  blobs_->ClearBlobFields(S0, fresh.data());

  // A cancelled insert or edit drops the values held in memory.
  Bytes cancelled = RecordWith(Pattern(6000, 2));
  blobs_->PrepareBlobFields(cancelled.data());
  EXPECT_EQ(HandleOf(cancelled), 0u);
  EXPECT_EQ(blobs_->ValueCount(), 0u);
  blobs_->PrepareBlobFields(cancelled.data());
}

TEST_F(BlobManagerTest, FreeBlobPagesFreesEveryPageOfTheTableOnce) {
  Open();
  const std::int32_t before = LastUsedPage();
  std::vector<Bytes> records;
  for (const Bytes& value : {Pattern(10, 1), Pattern(3000, 2), Pattern(3000, 3), Pattern(5000, 4),
                             Pattern(1 << 20, 5), Bytes{}}) {
    records.push_back(RecordWith(value));
    blobs_->WriteBlobFields(S0, records.back().data(), nullptr);
  }
  records.push_back(records[4]);  // two refs to one value must not free its pages twice
  Commit();
  ASSERT_EQ(IndexEntries().size(), 2u);

  blobs_->FreeBlobPages(S0, [&](const THDBDiskBlobManager::RecordVisitor& visit) {
    for (const Bytes& record : records) visit(record.data());
  });
  EXPECT_TRUE(IndexEntries().empty());
  EXPECT_EQ(blobs_->PageIndexRoot(), root_);
  Commit();
  EXPECT_EQ(LastUsedPage(), before);
  EXPECT_EQ(CheckFreeSpaceMaps(*pages_), std::vector<std::string>{});

  const THDBBlobRef again = Add(Pattern(10, 6));
  EXPECT_EQ(Read(again), Pattern(10, 6));

  // Deleting the table: the page index goes too.
  blobs_->FreeBlobPages(S0, {});
  blobs_->DropPageIndex(S0);
  EXPECT_EQ(blobs_->PageIndexRoot(), -1);
  Commit();
  EXPECT_LT(LastUsedPage(), before);
  EXPECT_EQ(CheckFreeSpaceMaps(*pages_), std::vector<std::string>{});
}

}  // namespace
}  // namespace hdb

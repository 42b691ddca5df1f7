// Record indexes against a sorted model: tens of thousands of inserts, deletes and key
// changes on 512-byte pages (so the trees get deep), with duplicate keys, NULLs, texts
// cut to their indexed length, descending and case-insensitive columns, commits and
// rollbacks. After every batch the tree is checked and its order, ranks and condition
// searches are compared with the model's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "btree_test_table.h"
#include "dbengine/tables/btree_page.h"
#include "dbengine/tables/data_types.h"
#include "dbengine/tables/null_bitmap.h"
#include "dbengine/tables/value_compare.h"

namespace hdb {
namespace {

using test::BTreeTestTable;
using test::Record;

constexpr SessionID S0 = 0;

// S string(30), N integer, D date.
void RandomFields(THDBFieldDefs& defs) {
  defs.AddField("S", dtString, 30);
  defs.AddField("N", dtInteger);
  defs.AddField("D", dtDate);
}

struct IndexShape {
  const char* name;
  std::vector<THDBIndexColumn> columns;
};

std::ostream& operator<<(std::ostream& out, const IndexShape& shape) { return out << shape.name; }

class BTreeRandomTest : public ::testing::TestWithParam<IndexShape> {
 protected:
  struct Entry {
    RecordID id;
    Record record;
  };

  void SetUp() override {
    test::SetIndexDef(def_, GetParam().columns);
    index_ = table_.MakeIndex(def_);
    rootPageNo_ = def_.RootPageNo;
    table_.Pages().CommitPages(S0);
  }

  // The model's order: whole values column by column in the engine's value order, then
  // the RecordID. `columns` leading columns; `partial` compares texts only as far as
  // the second record's own text goes.
  int Compare(const Record& a, const Record& b, std::size_t columns, bool partial = false) const {
    const THDBFieldDefs& fields = table_.IndexFieldManager().FieldDefs();
    for (std::size_t i = 0; i < columns; ++i) {
      const THDBIndexColumn& column = def_.Columns[i];
      const int f = fields.FindByName(column.Name);
      const THDBFieldDef& field = fields[f];
      const bool nullA = NullBitmap::IsNull(a.data(), f), nullB = NullBitmap::IsNull(b.data(), f);
      std::int32_t length = -1;
      if (partial && !nullB && IsStringBaseType(field.BaseType))
        length = static_cast<std::int32_t>(std::strlen(reinterpret_cast<const char*>(b.data() + field.MemoryOffset)));
      int r = CompareValues(a.data() + field.MemoryOffset, b.data() + field.MemoryOffset, field.BaseType,
                            field.BaseType, nullA, nullB, length, column.CaseInsensitive);
      if (column.Descending) r = -r;
      if (r != 0) return r;
    }
    return 0;
  }
  bool Less(const Entry& a, const Entry& b) const {
    const int r = Compare(a.record, b.record, def_.Columns.size());
    return r != 0 ? r < 0 : CompareRecordIDs(a.id, b.id) < 0;
  }
  std::vector<Entry> Sorted() const {
    std::vector<Entry> out;
    for (const auto& [id, record] : table_.records) out.push_back({id, record});
    std::sort(out.begin(), out.end(), [&](const Entry& a, const Entry& b) { return Less(a, b); });
    return out;
  }

  // Texts that share their first 20 characters (so the stored key cuts them), short
  // ones, and the same letters in both cases.
  Record RandomRecord() {
    Record r = table_.NewRecord();
    static const char* const stems[] = {"", "a", "A", "ab", "AB", "b", "prefix-prefix-prefix"};
    const int pick = Next(10);
    if (pick > 0) {
      std::string text = stems[Next(7)];
      const int tail = Next(4);
      for (int i = 0; i < tail; ++i) text += "aAbB"[Next(4)];
      if (text.size() > 30) text.resize(30);
      table_.SetText(r, 0, text);
    }
    if (Next(10) > 0) table_.SetInt(r, 1, Next(7) - 3);
    if (Next(10) > 1) table_.SetInt(r, 2, Next(5));
    return r;
  }

  int Next(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random_); }

  void Insert() {
    const RecordID id{1 + Next(40), nextSlot_++};
    table_.records[id] = RandomRecord();
    index_->AddRecordKey({S0, id, table_.records[id].data()});
  }
  RecordID AnyRecord() {
    auto it = table_.records.begin();
    std::advance(it, Next(static_cast<int>(table_.records.size())));
    return it->first;
  }
  void Remove() {
    const RecordID id = AnyRecord();
    index_->RemoveRecordKey({S0, id, table_.records[id].data()});
    table_.records.erase(id);
  }
  // As the table does it: every index's delete phase, the record rewritten, then every
  // index's insert phase.
  void Change() {
    const RecordID id = AnyRecord();
    const Record old = table_.records[id];
    Record changed = Next(3) == 0 ? old : RandomRecord();
    if (Next(3) == 0) {  // only the case of the text changes
      changed = old;
      for (int i = 0; i < 30 && changed[static_cast<std::size_t>(table_.IndexFieldManager().Field(0).MemoryOffset + i)];
           ++i) {
        auto& c = changed[static_cast<std::size_t>(table_.IndexFieldManager().Field(0).MemoryOffset + i)];
        c = static_cast<std::uint8_t>(std::isupper(c) ? std::tolower(c) : std::toupper(c));
      }
    }
    index_->ChangeRecordKey({S0, id, changed.data(), old.data()}, true);
    table_.records[id] = changed;
    index_->ChangeRecordKey({S0, id, changed.data(), old.data()}, false);
  }

  std::vector<RecordID> Scan(bool forward) {
    std::vector<RecordID> out;
    auto state = index_->NewScanState();
    RecordID id;
    for (bool first = true; index_->ScanNext(S0, first, *state, id, nullptr, nullptr, nullptr, forward); first = false)
      out.push_back(id);
    return out;
  }

  void Verify() {
    const std::vector<Entry> model = Sorted();
    index_->CheckIntegrity(S0);
    ASSERT_EQ(index_->EntryCount(S0), static_cast<std::int64_t>(model.size()));
    std::vector<RecordID> expected;
    for (const Entry& e : model) expected.push_back(e.id);
    ASSERT_EQ(Scan(true), expected);
    std::reverse(expected.begin(), expected.end());
    ASSERT_EQ(Scan(false), expected);
    if (model.empty()) return;
    for (int n = 0; n < 5; ++n) {
      const std::size_t at = static_cast<std::size_t>(Next(static_cast<int>(model.size())));
      ASSERT_EQ(index_->RankOf(S0, model[at].id, model[at].record.data()), static_cast<std::int64_t>(at + 1));
      ASSERT_EQ(index_->RecordAtRank(S0, static_cast<std::int64_t>(at + 1)), model[at].id);
    }
    for (int n = 0; n < 6; ++n) {
      Record key = n % 2 ? model[static_cast<std::size_t>(Next(static_cast<int>(model.size())))].record : RandomRecord();
      for (std::int32_t fields = 1; fields <= static_cast<std::int32_t>(def_.Columns.size()); ++fields)
        for (std::uint8_t condition = ctEqual; condition <= ctGreaterOrEqual; ++condition)
          for (bool forward : {true, false}) CheckSearch(model, key, fields, condition, forward, false);
    }
    // The texts that begin with a given text stand together in the order only where
    // letter case does not count and nothing follows the text column; there a partial
    // search finds the first and the last of them.
    if (def_.Columns[0].Name == "S" && def_.Columns[0].CaseInsensitive) {
      for (int n = 0; n < 4; ++n) {
        Record key = model[static_cast<std::size_t>(Next(static_cast<int>(model.size())))].record;
        auto& text = key[static_cast<std::size_t>(table_.IndexFieldManager().Field(0).MemoryOffset)];
        char* chars = reinterpret_cast<char*>(&text);
        chars[Next(static_cast<int>(std::strlen(chars)) + 1)] = 0;
        for (std::uint8_t condition = ctEqual; condition <= ctGreaterOrEqual; ++condition)
          for (bool forward : {true, false}) CheckSearch(model, key, 1, condition, forward, true);
      }
    }
  }

  void CheckSearch(const std::vector<Entry>& model, const Record& key, std::int32_t fields, std::uint8_t condition,
                   bool forward, bool partial) {
    auto satisfies = [&](const Entry& e) {
      const int r = Compare(e.record, key, static_cast<std::size_t>(fields), partial);
      switch (condition) {
        case ctEqual: return r == 0;
        case ctLess: return r < 0;
        case ctGreater: return r > 0;
        case ctLessOrEqual: return r <= 0;
        default: return r >= 0;
      }
    };
    const Entry* expected = nullptr;
    if (forward) {
      for (const Entry& e : model)
        if (satisfies(e)) {
          expected = &e;
          break;
        }
    } else {
      for (auto it = model.rbegin(); it != model.rend(); ++it)
        if (satisfies(*it)) {
          expected = &*it;
          break;
        }
    }
    THDBKeyCondition bound{condition, key.data(), fields, partial};
    auto state = index_->NewScanState();
    RecordID id;
    const bool found =
        index_->ScanNext(S0, true, *state, id, nullptr, forward ? &bound : nullptr, forward ? nullptr : &bound, forward);
    SCOPED_TRACE("condition " + std::to_string(condition) + " over " + std::to_string(fields) +
                 (forward ? " forward" : " backward") + (partial ? " partial" : ""));
    ASSERT_EQ(found, expected != nullptr);
    if (found) {
      ASSERT_EQ(id, expected->id) << "key " << Describe(key) << ", found " << Describe(table_.records[id])
                                  << ", expected " << Describe(expected->record);
    }
  }

  std::string Describe(const Record& r) const {
    const THDBBaseFieldManager& f = table_.IndexFieldManager();
    std::string out = "(";
    for (int i = 0; i < 3; ++i) {
      if (i) out += ", ";
      if (NullBitmap::IsNull(r.data(), i)) {
        out += "NULL";
      } else if (i == 0) {
        out += "'" + std::string(reinterpret_cast<const char*>(r.data() + f.Field(0).MemoryOffset)) + "'";
      } else {
        out += std::to_string(le::Load<std::int32_t>(r.data(), static_cast<std::size_t>(f.Field(i).MemoryOffset)));
      }
    }
    return out + ")";
  }

  bool RootIsEmptyLeaf() {
    THDBPinnedPage page(table_.Pages(), table_.Pages().GetPage(S0, rootPageNo_));
    const std::uint8_t* data = page->Buffer() + PageHeaderLayout::Size;
    return data[0] == 1 && data[1] == 1 && le::Load<std::uint16_t>(data, 14) == 0;
  }

  BTreeTestTable table_{512, RandomFields};
  THDBIndexDef def_;
  std::unique_ptr<THDBBTreeRecordIndex> index_;
  std::int32_t rootPageNo_ = -1;
  std::mt19937 random_{20261210};
  std::uint16_t nextSlot_ = 0;
};

TEST_P(BTreeRandomTest, MatchesASortedModel) {
  const int batches = 60, operations = 250;
  for (int batch = 0; batch < batches; ++batch) {
    auto saved = table_.records;
    // Grow for two thirds of the run, then shrink to nothing.
    const bool shrinking = batch >= batches * 2 / 3;
    for (int op = 0; op < operations; ++op) {
      const int dice = Next(100);
      if (table_.records.empty() || (!shrinking && dice < 55)) {
        if (!shrinking || table_.records.empty()) Insert();
      } else if (shrinking ? dice < 80 : dice < 80) {
        Remove();
      } else {
        Change();
      }
      if (shrinking && table_.records.empty()) break;
    }
    if (batch % 9 == 4) {
      table_.Pages().RollbackPages(S0);
      table_.records = saved;
    } else {
      table_.Pages().CommitPages(S0);
    }
    ASSERT_NO_FATAL_FAILURE(Verify()) << "after batch " << batch;
  }
  while (!table_.records.empty()) Remove();
  table_.Pages().CommitPages(S0);
  ASSERT_NO_FATAL_FAILURE(Verify());
  EXPECT_EQ(def_.RootPageNo, rootPageNo_);
  EXPECT_TRUE(RootIsEmptyLeaf()) << "the emptied tree collapses into its root page";
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, BTreeRandomTest,
    ::testing::Values(IndexShape{"CutTextThenNumber", {{"S"}, {"N"}}},
                      IndexShape{"CaseInsensitiveTextThenDescendingNumber", {{"S", false, true}, {"N", true}}},
                      IndexShape{"NumberWithManyDuplicates", {{"N"}}},
                      IndexShape{"DescendingDateThenTextThenNumber", {{"D", true}, {"S", false, false, 4}, {"N"}}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace hdb

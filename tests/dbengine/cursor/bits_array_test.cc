// The bits of a record bitmap: counts kept through every change, rank and select,
// the nearest set bit either way, resizing and the stream form.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dbengine/cursor/bits_array.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/tables/hdb_stream.h"

namespace hdb {
namespace {

TEST(BitsArray, AgreesWithAVectorOfBools) {
  std::mt19937 random(5);
  for (std::int64_t size : {0, 1, 7, 8, 9, 64, 1000}) {
    SCOPED_TRACE(size);
    THDBBitsArray bits;
    bits.Resize(size);
    std::vector<bool> model(static_cast<std::size_t>(size));
    for (int i = 0; i < 3 * size; ++i) {
      const std::int64_t at = static_cast<std::int64_t>(random() % static_cast<unsigned>(size));
      const bool v = random() % 3 != 0;
      bits.Set(at, v);
      model[static_cast<std::size_t>(at)] = v;
    }
    std::int64_t count = 0;
    std::vector<std::int64_t> positions;
    for (std::int64_t i = 0; i < size; ++i) {
      if (model[static_cast<std::size_t>(i)]) {
        ++count;
        positions.push_back(i);
      }
      ASSERT_EQ(bits.Rank(i), count);
    }
    ASSERT_EQ(bits.Count(), count);
    for (std::size_t n = 0; n < positions.size(); ++n) ASSERT_EQ(bits.Select(static_cast<std::int64_t>(n + 1)), positions[n]);
    EXPECT_EQ(bits.Select(count + 1), THDBBitsArray::None);
    for (std::int64_t i = -1; i <= size; ++i) {
      auto next = std::upper_bound(positions.begin(), positions.end(), i);
      ASSERT_EQ(bits.Next(i), next == positions.end() ? THDBBitsArray::None : *next);
      auto prior = std::lower_bound(positions.begin(), positions.end(), i);
      ASSERT_EQ(bits.Prior(i), prior == positions.begin() ? THDBBitsArray::None : *(prior - 1));
    }
    THDBStream stream;
    bits.SaveToStream(stream);
    stream.SetPosition(0);
    THDBBitsArray loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.Count(), count);
    EXPECT_EQ(loaded.Size(), size);
  }
}

TEST(BitsArray, SetAllResizeAndBounds) {
  THDBBitsArray bits;
  bits.Resize(13);
  bits.SetAll(true);
  EXPECT_EQ(bits.Count(), 13);
  EXPECT_EQ(bits.Select(5), 4) << "every bit set: the n-th is n - 1";
  bits.Resize(20);
  EXPECT_EQ(bits.Count(), 13) << "growing adds clear bits";
  bits.Resize(4);
  EXPECT_EQ(bits.Count(), 4) << "shrinking recounts";
  bits.Resize(13);
  EXPECT_EQ(bits.Count(), 4) << "the dropped bits stay dropped";
  try {
    bits.Get(13);
    FAIL();
  } catch (const EHDBException& e) {
    EXPECT_STREQ(e.what(), "Invalid bit no = 13, number of bits = 13 - Native error: 30483");
  }
}

}  // namespace
}  // namespace hdb

// The database file fuzzing target in the test suite: the seed databases, a bounded
// number of their mutations (every byte of the regions at the start of the file, and
// random changes anywhere), and the inputs that once found faults, each run through
// the target. Only EHDBException may come out; the sanitizer pass catches the rest.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#include "open_database_target.h"
#include "temp_dir.h"

namespace {

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class OpenDatabaseReplay : public ::testing::Test {
 protected:
  void Run(const std::string& bytes) {
    hdbfuzz::OpenDatabaseFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), target_);
  }
  hdbtest::TempDir dir_;
  std::string target_ = dir_.File("input.hdb");
};

TEST_F(OpenDatabaseReplay, SeedsAndTheirMutations) {
  const std::vector<std::string> seeds = hdbfuzz::MakeSeedDatabases(dir_.Path().string());
  ASSERT_EQ(seeds.size(), 4u);
  std::mt19937 random(17);
  for (const std::string& seed : seeds) {
    SCOPED_TRACE(seed);
    const std::string original = ReadAll(seed);
    ASSERT_GT(original.size(), 380u);
    Run(original);
    // Every byte of the header, security block, lock block and counter.
    for (std::size_t at = 0; at < 380; ++at) {
      SCOPED_TRACE("byte " + std::to_string(at));
      std::string damaged = original;
      damaged[at] = static_cast<char>(damaged[at] ^ (at % 2 ? 0xFF : 0x41));
      Run(damaged);
    }
    // A few bytes changed anywhere, or the file cut short.
    std::uniform_int_distribution<std::size_t> position(0, original.size() - 1);
    for (int round = 0; round < 150; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      std::string damaged = original;
      for (int n = 0; n < 1 + round % 8; ++n) damaged[position(random)] = static_cast<char>(random());
      if (round % 10 == 9) damaged.resize(position(random));
      Run(damaged);
    }
  }
}

// Inputs the fuzzer once crashed on, each kept with the fix it led to.
TEST_F(OpenDatabaseReplay, InputsThatOnceFoundFaults) {
  const std::filesystem::path folder = std::filesystem::path(HALVARIN_FUZZ_REGRESSIONS);
  ASSERT_TRUE(std::filesystem::is_directory(folder));
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file() || entry.path().extension() != ".hdb") continue;
    SCOPED_TRACE(entry.path().filename().string());
    Run(ReadAll(entry.path()));
  }
}

}  // namespace

// The App.cfg and runtime answers fuzzing targets in the test suite: each runs on its seed
// corpus and on a bounded number of edits of it. A broken rule of a target fails the
// test with its text; the sanitizer pass catches what goes wrong in memory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>

#include "app_config_target.h"
#include "replay_mutations.h"
#include "runtime_answers_target.h"
#include "temp_dir.h"

namespace {

std::vector<std::string> ReadCorpus(const std::filesystem::path& folder) {
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  }
  return seeds;
}

void Replay(const std::string& corpus, int edits, const std::function<void(const std::string&)>& run) {
  const std::vector<std::string> seeds = ReadCorpus(std::filesystem::path(HALVARIN_FUZZ_CORPORA) / corpus);
  ASSERT_GE(seeds.size(), 3u);
  for (std::size_t i = 0; i < seeds.size(); ++i) {
    SCOPED_TRACE("seed " + std::to_string(i));
    ASSERT_NO_THROW(run(seeds[i]));
  }
  std::mt19937 random(17);
  for (int i = 0; i < edits; ++i) {
    const std::string input = hdbfuzz::Mutate(seeds, random);
    SCOPED_TRACE("edit " + std::to_string(i));
    ASSERT_NO_THROW(run(input));
  }
}

TEST(AppConfigReplay, SeedsAndTheirEdits) {
  // Every input truncates and writes two small files; in memory when the system has a
  // memory file system, so the run takes seconds whatever the disk is doing.
  const bool shm = ::access("/dev/shm", W_OK) == 0;
  hdbtest::TempDir dir;
  const std::string path =
      shm ? "/dev/shm/halvarin-cfg-replay-" + std::to_string(::getpid()) + ".cfg" : dir.File("App.cfg");
  Replay("app_config", 10000, [&](const std::string& bytes) {
    hdbfuzz::ReadAppConfigFromBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), path);
  });
  if (shm) {
    std::filesystem::remove(path);
    std::filesystem::remove(path + ".out");
  }
}

TEST(RuntimeAnswersReplay, SeedsAndTheirEdits) {
  Replay("runtime_answers", 20000, [&](const std::string& bytes) {
    hdbfuzz::RunOnRuntimeAnswers(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 HALVARIN_SCRIPTED_RUNTIME);
  });
}

}  // namespace

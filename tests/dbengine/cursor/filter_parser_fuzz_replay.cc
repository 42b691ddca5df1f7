// Runs the filter parser's fuzz function without libFuzzer: every file of the seed
// corpus, then a fixed number of texts made from them by deterministic random edits
// (tokens of the language inserted, characters dropped, replaced or doubled), so the
// ordinary test run, and its sanitizer pass, feed the parser a bounded set of inputs.
//
// Usage: filter_parser_fuzz_replay CORPUS_DIR [COUNT]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

const char* const Pieces[] = {
    "(", ")", "'", "\"", "[", "]", "`", "\\", "--", "/*", "*/", " AND ", " OR ", " NOT ", " LIKE ", "%", "_",
    " ESCAPE ", " IS ", " NULL ", " BETWEEN ", " IN ", ",", " DATE ", "'2020-01-01'", " TIME '10:00:00'",
    " TIMESTAMP ", "FG", "MLG", "DAT", "W", "F", "T", "NHND", "UPPER(", "LOWER(", "SUBSTRING(", "POS(", "||",
    "+", "-", "*", "/", "=", "<>", "<=", ">", "1e5", ".5", "99999999999999999999", ":", ":p", "?", ";", "\n",
    "\r", " CASE ", " WHEN ", " THEN ", " ELSE ", " END ", "CAST(", " AS ", " VARCHAR", " TRUE", " FALSE",
    " UNKNOWN", "SUM(", "(SELECT", " ANY ", "ROWNUM", "EXTRACT(", " FROM ", " FOR ", "TOSTRING(", "TODATE(",
    "MIMETOBIN(", "ROUND(", ", HALFEVEN", "'*'", "'W%'", "''", "\xff", "\x01", "0", "END-EXEC",
};

std::string Read(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Mutate(std::string s, std::mt19937& r) {
  const int edits = 1 + static_cast<int>(r() % 6);
  for (int i = 0; i < edits; ++i) {
    const std::size_t at = s.empty() ? 0 : r() % (s.size() + 1);
    switch (r() % 5) {
      case 0:
      case 1:
        s.insert(at, Pieces[r() % (sizeof Pieces / sizeof Pieces[0])]);
        break;
      case 2:
        if (at < s.size()) s.erase(at, 1 + r() % 4);
        break;
      case 3:
        if (at < s.size()) s[at] = static_cast<char>(r() % 256);
        break;
      default:
        if (at < s.size()) s.insert(at, s.substr(at, 1 + r() % 8));
        break;
    }
  }
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [COUNT]\n", argv[0]);
    return 2;
  }
  const long count = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 20000;
  std::vector<std::string> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1]))
    if (entry.is_regular_file()) seeds.push_back(Read(entry.path()));
  if (seeds.empty()) {
    std::fprintf(stderr, "no seeds in %s\n", argv[1]);
    return 2;
  }
  auto run = [](const std::string& s) {
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  };
  for (const std::string& s : seeds) run(s);
  std::mt19937 r(2024);
  for (long i = 0; i < count; ++i) {
    std::string s = seeds[r() % seeds.size()];
    // Now and then a text made of two seeds.
    if (r() % 8 == 0) s += seeds[r() % seeds.size()];
    run(Mutate(s, r));
  }
  std::printf("%zu seeds and %ld edited texts parsed\n", seeds.size(), count);
  return 0;
}

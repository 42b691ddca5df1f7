// The edits the replay tests make to their seeds, in place of a fuzzer's: a few bytes
// replaced, inserted, dropped or doubled, and now and then the input cut short or two
// seeds joined. Deterministic for a given generator.
#pragma once

#include <random>
#include <string>
#include <vector>

namespace hdbfuzz {

inline std::string Mutate(const std::vector<std::string>& seeds, std::mt19937& random) {
  std::string s = seeds[random() % seeds.size()];
  if (random() % 8 == 0) s += seeds[random() % seeds.size()];
  const int edits = 1 + static_cast<int>(random() % 8);
  for (int i = 0; i < edits; ++i) {
    const std::size_t at = s.empty() ? 0 : random() % s.size();
    switch (random() % 6) {
      case 0:
      case 1:
        if (!s.empty()) s[at] = static_cast<char>(random());
        break;
      case 2:
        s.insert(at, 1 + random() % 4, static_cast<char>(random()));
        break;
      case 3:
        if (!s.empty()) s.erase(at, 1 + random() % 4);
        break;
      case 4:
        if (!s.empty()) s.insert(at, s.substr(at, 1 + random() % 16));
        break;
      default:
        if (!s.empty()) s[at] = static_cast<char>(s[at] ^ (1 << (random() % 8)));
        break;
    }
  }
  if (random() % 16 == 0 && !s.empty()) s.resize(random() % s.size());
  return s;
}

}  // namespace hdbfuzz

// THDBKeyPath, a root-to-leaf position in a B-tree: per level the page, the entry
// position on it and the page's entry count when the level was recorded. Level 0 is
// the root, the last recorded level the leaf. A plain value owned by its user (a
// cursor's position cache, a scan, one tree operation).
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

namespace hdb {

class THDBKeyPath {
 public:
  static constexpr int MaxLevels = 32;
  struct Level {
    std::int32_t PageNo = -1;
    std::int32_t EntryNo = 0;
    std::int32_t EntryCount = 0;
  };

  // Writes the level at the current level and moves both counters on. A tree deeper
  // than MaxLevels can only be a damaged one: "Invalid index key path".
  void Push(std::int32_t pageNo, std::int32_t entryNo, std::int32_t entryCount);
  void Pop();
  void Clear() { levelCount_ = currentLevel_ = 0; }
  // Copies the recorded levels only (a path is copied on every cached step).
  void Assign(const THDBKeyPath& other) {
    const std::int32_t used = other.levelCount_ > other.currentLevel_ ? other.levelCount_ : other.currentLevel_;
    std::copy_n(other.levels_.begin(), used, levels_.begin());
    levelCount_ = other.levelCount_;
    currentLevel_ = other.currentLevel_;
    Carried = other.Carried;
  }

  std::int32_t LevelCount() const { return levelCount_; }
  std::int32_t CurrentLevel() const { return currentLevel_; }
  bool IsEmpty() const { return levelCount_ == 0; }
  Level& At(std::int32_t level) { return levels_[static_cast<std::size_t>(level)]; }
  const Level& At(std::int32_t level) const { return levels_[static_cast<std::size_t>(level)]; }
  Level& Leaf() { return At(levelCount_ - 1); }
  const Level& Leaf() const { return At(levelCount_ - 1); }

  // Two values carried along with copies of the path.
  std::array<std::int32_t, 2> Carried{};

 private:
  std::array<Level, MaxLevels> levels_{};
  std::int32_t levelCount_ = 0;
  std::int32_t currentLevel_ = 0;
};

// -1 / 0 / 1 by the first level whose entry position differs. Paths of different
// depth (20051), or that reach different pages before they part (20052), raise
// "Invalid index key path".
int ComparePaths(const THDBKeyPath& a, const THDBKeyPath& b);

// The path's place among the entries as a fraction in [0, 1), weighting each level's
// entry position by the entry counts below it.
double ApproximatePosition(const THDBKeyPath& path);

}  // namespace hdb

// THDBScanSearchCondition, one requirement a search puts on the records it looks for:
// either an expression the record must satisfy, or a key condition on an index (the
// record's key <type> the condition's key, over the first KeyFieldCount columns), and
// THDBScanSearchConditionArray, the list a search builds, with the intersection that
// combines the key conditions on one index into the ranges they leave.
//
// Plain values owned by one search call; the key buffers are owned copies.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "dbengine/tables/engine_ids.h"

namespace hdb {

class THDBSearchExpression;

struct THDBScanSearchCondition {
  THDBSearchExpression* Expression = nullptr;  // an expression item
  std::uint8_t Type = 0;                       // ConditionType of a key condition
  std::vector<std::uint8_t> KeyBuffer;         // record layout, DataSize + 6 bytes
  std::int32_t KeyFieldCount = 0;
  ObjectID IndexNo = -1;
  bool FromExpression = false;
  bool Partial = false;
  // For a condition taken from an expression: the comparisons it stands for, taken out
  // of the expression while the index answers them.
  std::vector<void*> SourceNodes;

  bool IsKeyCondition() const { return Expression == nullptr && IndexNo != -1; }
};

// The outcome of combining two key conditions P and Q on one index.
enum class THDBIntersection : std::uint8_t { P, Q, Fewer, More, Both, Equal, Empty };

// The cell of the intersection table for P's and Q's types, the comparison rc of P's
// key with Q's key (over the smaller key field count) and the two key field counts.
THDBIntersection Intersect(std::uint8_t p, std::uint8_t q, int rc, std::int32_t nP, std::int32_t nQ);

class THDBScanSearchConditionArray {
 public:
  std::vector<THDBScanSearchCondition>& Items() { return items_; }
  const std::vector<THDBScanSearchCondition>& Items() const { return items_; }
  int Count() const { return static_cast<int>(items_.size()); }
  THDBScanSearchCondition& operator[](int i) { return items_[static_cast<std::size_t>(i)]; }

  void AppendExpression(THDBSearchExpression* expression);
  // A copy; a condition with neither an expression nor an index is refused: "Invalid
  // scan condition - indexID = %d, count = %d".
  void AppendCopy(const THDBScanSearchCondition& condition);
  // The same, taking the condition over (its key buffer is not copied).
  void Append(THDBScanSearchCondition&& condition);
  // "Invalid item number - ItemNo = %d, ItemCount = %d" outside the list.
  void DeleteAt(int i);

  // Combines the key conditions index by index. `compare` gives rc for two conditions
  // on one index over n key columns. False when no record can pass them all.
  template <class Compare>
  bool IntersectKeyConditions(Compare compare);
  // Drops key conditions that are exact duplicates; expression items go last.
  template <class Compare>
  void DropDuplicates(Compare compare);

 private:
  std::vector<THDBScanSearchCondition> items_;
};

template <class Compare>
bool THDBScanSearchConditionArray::IntersectKeyConditions(Compare compare) {
  std::vector<THDBScanSearchCondition> keys, expressions;
  std::vector<ObjectID> order;
  for (auto& c : items_) {
    if (!c.IsKeyCondition()) {
      expressions.push_back(std::move(c));
      continue;
    }
    bool seen = false;
    for (ObjectID id : order) seen = seen || id == c.IndexNo;
    if (!seen) order.push_back(c.IndexNo);
    keys.push_back(std::move(c));
  }
  std::vector<THDBScanSearchCondition> kept;
  for (ObjectID index : order) {
    std::vector<THDBScanSearchCondition> mine;
    for (auto& q : keys) {
      if (q.IndexNo != index) continue;
      bool join = true;
      for (std::size_t i = 0; i < mine.size();) {
        THDBScanSearchCondition& p = mine[i];
        const bool eqP = p.Type == 1, eqQ = q.Type == 1;
        const bool strictP = p.Type == 2 || p.Type == 3, strictQ = q.Type == 2 || q.Type == 3;
        // "=" against "<" or ">" combines only when the "=" covers at least as many columns.
        if ((eqP && strictQ && p.KeyFieldCount < q.KeyFieldCount) ||
            (eqQ && strictP && q.KeyFieldCount < p.KeyFieldCount)) {
          ++i;
          continue;
        }
        const int rc = compare(p, q, std::min(p.KeyFieldCount, q.KeyFieldCount));
        switch (Intersect(p.Type, q.Type, rc, p.KeyFieldCount, q.KeyFieldCount)) {
          case THDBIntersection::Empty:
            return false;
          case THDBIntersection::P:
            join = false;
            break;
          case THDBIntersection::Q:
            p = q;
            join = false;
            break;
          case THDBIntersection::Fewer:
            if (q.KeyFieldCount < p.KeyFieldCount) p = q;
            join = false;
            break;
          case THDBIntersection::More:
            if (q.KeyFieldCount > p.KeyFieldCount) p = q;
            join = false;
            break;
          case THDBIntersection::Equal:
            p.Type = 1;
            join = false;
            break;
          case THDBIntersection::Both:
            break;
        }
        ++i;
      }
      if (join) mine.push_back(q);
    }
    for (auto& c : mine) kept.push_back(std::move(c));
  }
  items_ = std::move(kept);
  for (auto& e : expressions) items_.push_back(std::move(e));
  return true;
}

template <class Compare>
void THDBScanSearchConditionArray::DropDuplicates(Compare compare) {
  std::vector<THDBScanSearchCondition> out;
  for (auto& c : items_) {
    bool duplicate = false;
    if (c.IsKeyCondition())
      for (const auto& o : out)
        if (o.IsKeyCondition() && o.IndexNo == c.IndexNo && o.Type == c.Type && o.KeyFieldCount == c.KeyFieldCount &&
            compare(o, c, c.KeyFieldCount) == 0)
          duplicate = true;
    if (!duplicate) out.push_back(std::move(c));
  }
  std::stable_partition(out.begin(), out.end(), [](const THDBScanSearchCondition& c) { return c.IsKeyCondition(); });
  items_ = std::move(out);
}

}  // namespace hdb

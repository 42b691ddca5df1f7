// A fault plan for the file layer's test hook: counts the file operations (writes,
// flushes, size changes, removals) made from its installation on and applies one fault
// at the operation numbered `at`, or at every one from there on. Removed again when it
// goes out of scope.
#pragma once

#include <vector>

#include "dbengine/platform/posix_file.h"

namespace hdbtest {

class FaultPlan {
 public:
  using Op = hdb::platform::FileOp;
  using Fault = hdb::platform::FileFault;

  explicit FaultPlan(int at = -1, Fault fault = {}, bool from = false) : at_(at), fault_(fault), from_(from) {
    hdb::platform::SetFileFaultHook([this](Op op, std::size_t) {
      const int k = seen_++;
      ops_.push_back(op);
      return k == at_ || (from_ && k > at_) ? fault_ : Fault{};
    });
  }
  ~FaultPlan() { hdb::platform::SetFileFaultHook({}); }
  FaultPlan(const FaultPlan&) = delete;
  FaultPlan& operator=(const FaultPlan&) = delete;

  int Seen() const { return seen_; }
  const std::vector<Op>& Ops() const { return ops_; }

  // The process dies before the operation, after it, or (a write) half way through.
  static Fault KillBefore() { return {0, true, 0}; }
  static Fault KillAfter() { return {static_cast<std::size_t>(-1), true, 0}; }
  static Fault KillHalfWay() { return {2000, true, 0}; }
  static Fault Fail(int err) { return {0, false, err}; }

 private:
  int at_;
  Fault fault_;
  bool from_;
  int seen_ = 0;
  std::vector<Op> ops_;
};

}  // namespace hdbtest

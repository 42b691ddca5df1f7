// Small helpers shared by the storage tests: raw file bytes, expecting an engine
// error, a sleep hook that counts instead of waiting, a hand-made session, engine
// errors reported from a child process (optionally under a memory limit).
#pragma once

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/storage/session_link.h"
#include "forked_child.h"

namespace hdbtest {

inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFileBytes(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

template <class Fn>
hdb::EHDBException CatchHDB(Fn&& fn) {
  try {
    fn();
  } catch (const hdb::EHDBException& e) {
    return e;
  }
  ADD_FAILURE() << "no EHDBException";
  return hdb::EHDBException(0, "");
}

// An engine session as the database object sees it, with its requests set by hand.
struct TestSession : hdb::THDBSessionLink {
  explicit TestSession(bool multiUser = false, bool exclusive = false) : multi(multiUser), excl(exclusive) {}
  bool ExclusiveRequested() const override { return excl; }
  bool MultiUserRequested() const override { return multi; }
  std::int32_t SessionID() const override { return id; }
  void SetSessionID(std::int32_t v) override { id = v; }
  void SetOpenResult(bool repair, bool multiUser) override {
    needsRepair = repair;
    openedMultiUser = multiUser;
  }
  bool InTransaction() const override { return inTransaction; }
  bool multi, excl;
  bool inTransaction = false;
  std::int32_t id = -1;
  bool needsRepair = false, openedMultiUser = false;
};

// What a step raised, as a number that crosses a pipe: the native error number, 0
// when it raised nothing, NotEngineError for anything else (std::bad_alloc under a
// memory limit, say).
inline constexpr int NotEngineError = -1;
inline constexpr int ChildGone = -2;

inline int NativeErrorOf(const std::function<void()>& step) {
  try {
    step();
  } catch (const hdb::EHDBException& e) {
    return e.NativeError();
  } catch (...) {
    return NotEngineError;
  }
  return 0;
}

inline void SendInt(ForkedChild& side, int value) {
  char bytes[sizeof value];
  std::memcpy(bytes, &value, sizeof value);
  for (char b : bytes) side.Send(b);
}

// A side that went away gives 0 bytes: the caller tells that apart by the child's
// exit code.
inline int ReceiveInt(ForkedChild& side) {
  char bytes[sizeof(int)];
  for (char& b : bytes) b = side.Receive();
  int value = 0;
  std::memcpy(&value, bytes, sizeof value);
  return value;
}

// Runs `step` in a forked child whose address space is limited to 1 GB, so that a
// damaged size that makes the engine allocate gigabytes shows as a failure (an error
// that is no engine error) rather than as a slow pass. Returns what the step raised
// (see NativeErrorOf), ChildGone when the child did not finish. AddressSanitizer
// reserves far more address space for its shadow memory than the limit allows, so
// sanitizer builds run the step without it.
inline int NativeErrorInLimitedChild(const std::function<void()>& step) {
  ForkedChild child([&](ForkedChild& self) {
#if !defined(__SANITIZE_ADDRESS__)
    const rlimit limit{rlim_t{1} << 30, rlim_t{1} << 30};
    if (::setrlimit(RLIMIT_AS, &limit) != 0) return 1;
#endif
    SendInt(self, NativeErrorOf(step));
    return 0;
  });
  const int result = ReceiveInt(child);
  return child.Wait() == 0 ? result : ChildGone;
}

// Replaces the engine's pauses for the life of the object and counts them.
class CountingSleep {
 public:
  CountingSleep() { previous_ = hdb::platform::SetSleepHook(&Count); Calls() = 0; }
  ~CountingSleep() { hdb::platform::SetSleepHook(previous_); }
  static int& Calls() {
    static int calls = 0;
    return calls;
  }

 private:
  static void Count(std::uint32_t) { ++Calls(); }
  hdb::platform::SleepHook previous_;
};

}  // namespace hdbtest

// Small helpers shared by the storage tests: raw file bytes, expecting an engine
// error, a sleep hook that counts instead of waiting.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "dbengine/platform/system_services.h"
#include "dbengine/storage/hdb_exception.h"

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

#include "dbengine/platform/system_services.h"

#include <unistd.h>

#include <atomic>
#include <cassert>
#include <chrono>
#include <mutex>
#include <random>
#include <thread>

namespace hdb::platform {

namespace {
std::atomic<SleepHook> g_sleepHook{nullptr};

std::mt19937_64& Generator() {
  static std::mt19937_64 gen{[] {
    std::random_device rd;
    return (static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(::getpid());
  }()};
  return gen;
}
std::mutex g_randomMutex;

// A forked child must not repeat its parent's sequence.
[[maybe_unused]] const int g_atForkRegistered = [] {
  ::pthread_atfork(nullptr, nullptr, [] {
    std::random_device rd;
    Generator().seed((static_cast<std::uint64_t>(rd()) << 32) ^ rd() ^ static_cast<std::uint64_t>(::getpid()));
  });
  return 0;
}();
}  // namespace

void SleepMs(std::uint32_t milliseconds) {
  if (SleepHook hook = g_sleepHook.load()) {
    hook(milliseconds);
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

SleepHook SetSleepHook(SleepHook hook) { return g_sleepHook.exchange(hook); }

std::uint64_t AvailablePhysicalMemory() {
  long pages = ::sysconf(_SC_AVPHYS_PAGES);
  long pageSize = ::sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

std::uint32_t RandomBelow(std::uint32_t bound) {
  assert(bound > 0);
  std::lock_guard<std::mutex> lock(g_randomMutex);
  return std::uniform_int_distribution<std::uint32_t>(0, bound - 1)(Generator());
}

void RandomBytes(void* buffer, std::uint32_t count) {
  std::lock_guard<std::mutex> lock(g_randomMutex);
  auto* out = static_cast<unsigned char*>(buffer);
  for (std::uint32_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(Generator()() & 0xFF);
}

}  // namespace hdb::platform

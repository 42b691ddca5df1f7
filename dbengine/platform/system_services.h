// Process-wide services of the operating system that the engine needs besides files:
// pauses between retries, available memory and random numbers.
//
// Pauses go through a replaceable hook so tests can count the retries of a bounded
// wait without spending its time. The hook is process-wide and not locked: set it
// before any engine work starts, as the tests do.
#pragma once

#include <cstdint>

namespace hdb::platform {

using SleepHook = void (*)(std::uint32_t milliseconds);

void SleepMs(std::uint32_t milliseconds);
// Replaces the pause; nullptr restores the real one. Returns the previous hook.
SleepHook SetSleepHook(SleepHook hook);

// Physical memory the system reports as available, in bytes.
std::uint64_t AvailablePhysicalMemory();

// Uniformly distributed in [0, bound); bound must be > 0. Thread-safe.
std::uint32_t RandomBelow(std::uint32_t bound);
// Fills count bytes with random values.
void RandomBytes(void* buffer, std::uint32_t count);

}  // namespace hdb::platform

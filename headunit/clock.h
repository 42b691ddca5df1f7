// Pauses and the local time of day, behind one interface so that animations and the
// fixed pauses of the head-unit operations can be tested without waiting.
#pragma once

#include <cstdint>

namespace headunit {

struct TTimeOfDay {
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class TClock {
 public:
  virtual ~TClock() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  virtual TTimeOfDay Now() = 0;
};

}  // namespace headunit

// The clock as the tests run it: pauses return at once and are recorded; the time of
// day is whatever the test sets.
#pragma once

#include <vector>

#include "headunit/clock.h"

namespace uitest {

class TRecordingClock : public headunit::TClock {
 public:
  void Sleep(std::uint32_t milliseconds) override { sleeps.push_back(milliseconds); }
  headunit::TTimeOfDay Now() override { return now; }

  std::vector<std::uint32_t> sleeps;
  headunit::TTimeOfDay now{14, 3, 27, 115};
};

}  // namespace uitest

// The program's clock: real pauses on the user-interface thread and the local time.
#pragma once

#include "headunit/clock.h"

namespace app {

class TQtClock : public headunit::TClock {
 public:
  void Sleep(std::uint32_t milliseconds) override;
  headunit::TTimeOfDay Now() override;
};

}  // namespace app

#include "app/log_line.h"

#include <cstdio>

namespace app {

std::string FormatLogLine(const headunit::TTimeOfDay& time, headunit::LogKind kind, const std::string& message) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%02d.%02d.%02d.%03d", time.hour % 100, time.minute % 100, time.second % 100,
                time.millisecond % 1000);
  return std::string(stamp) + " - [" + headunit::LogKindLabel(kind) + "] - " + message;
}

}  // namespace app

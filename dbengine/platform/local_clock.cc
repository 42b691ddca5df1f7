#include "dbengine/platform/local_clock.h"

#include <sys/time.h>
#include <time.h>

namespace hdb::platform {

LocalDateTime NowLocal() {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm parts{};
  const time_t seconds = now.tv_sec;
  localtime_r(&seconds, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
          parts.tm_min,         parts.tm_sec,     static_cast<int>(now.tv_usec / 1000)};
}

}  // namespace hdb::platform

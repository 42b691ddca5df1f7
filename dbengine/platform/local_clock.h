// The local date and time of the host, to the millisecond, for the current date and
// time functions of expressions. Thread-safe.
#pragma once

namespace hdb::platform {

struct LocalDateTime {
  int Year, Month, Day, Hour, Minute, Second, Millisecond;
};

LocalDateTime NowLocal();

}  // namespace hdb::platform

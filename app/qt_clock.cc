#include "app/qt_clock.h"

#include <QThread>
#include <QTime>

namespace app {

void TQtClock::Sleep(std::uint32_t milliseconds) { QThread::msleep(milliseconds); }

headunit::TTimeOfDay TQtClock::Now() {
  const QTime now = QTime::currentTime();
  return headunit::TTimeOfDay{now.hour(), now.minute(), now.second(), now.msec()};
}

}  // namespace app

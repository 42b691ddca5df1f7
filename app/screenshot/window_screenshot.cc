// halvarin-screenshot <picture.png> <program> [arguments...]
//
// Starts the program on the current display, waits until its window has appeared and
// stopped changing, saves the part of the screen it covers as a PNG and stops the
// program again. Meant for a display without a screen (Xvfb), where nobody can look at
// the window: the run command uses it there.
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTextStream>
#include <QTimer>
#include <cstdio>

namespace {

QImage GrabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

// The smallest rectangle holding every pixel that differs from the empty screen.
QRect ChangedArea(const QImage& baseline, const QImage& now) {
  int left = now.width(), top = now.height(), right = -1, bottom = -1;
  for (int y = 0; y < now.height(); ++y)
    for (int x = 0; x < now.width(); ++x)
      if (now.pixel(x, y) != baseline.pixel(x, y)) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  const QStringList arguments = application.arguments();
  if (arguments.size() < 3) {
    std::fprintf(stderr, "usage: halvarin-screenshot <picture.png> <program> [arguments...]\n");
    return 2;
  }
  const QString picture = arguments[1];
  const QImage baseline = GrabScreen();

  QProcess program;
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start(arguments[2], arguments.mid(3));
  if (!program.waitForStarted(10000)) {
    std::fprintf(stderr, "halvarin-screenshot: cannot start %s\n", qPrintable(arguments[2]));
    return 1;
  }

  int result = 1;
  int polls = 0;
  int stablePolls = 0;
  QImage previous;
  QTimer poll;
  auto finish = [&](int code) {
    result = code;
    poll.stop();
    if (program.state() != QProcess::NotRunning) {
      program.terminate();
      if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(2000);
      }
    }
    application.quit();
  };
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (program.state() == QProcess::NotRunning) {
      std::fprintf(stderr, "halvarin-screenshot: the program ended before its window was seen\n");
      finish(1);
      return;
    }
    if (++polls > 150) {  // 30 s
      std::fprintf(stderr, "halvarin-screenshot: no window appeared\n");
      finish(1);
      return;
    }
    const QImage now = GrabScreen();
    const bool shown = now != baseline;
    stablePolls = shown && now == previous ? stablePolls + 1 : 0;
    previous = now;
    if (stablePolls < 3) return;
    const QRect area = ChangedArea(baseline, now);
    if (!now.copy(area).save(picture, "PNG")) {
      std::fprintf(stderr, "halvarin-screenshot: cannot write %s\n", qPrintable(picture));
      finish(1);
      return;
    }
    finish(0);
  });
  poll.start(200);
  application.exec();
  return result;
}

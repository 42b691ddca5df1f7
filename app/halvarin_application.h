// THalvarinApplication: the application object. Its event dispatch is the program's
// general error handler: an exception that leaves an event handler is shown in a
// message box with its text, and the program goes on.
#pragma once

#include <QApplication>

#include "headunit/dialogs.h"

namespace app {

class THalvarinApplication : public QApplication {
 public:
  THalvarinApplication(int& argc, char** argv);

  // The dialogs the error handler shows its boxes with; must outlive the dispatch.
  void SetErrorDialogs(headunit::TDialogs* dialogs) { dialogs_ = dialogs; }

  bool notify(QObject* receiver, QEvent* event) override;

 private:
  void ShowError(const std::string& text);

  headunit::TDialogs* dialogs_ = nullptr;
};

}  // namespace app

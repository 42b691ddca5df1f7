#include "app/halvarin_application.h"

#include <QMessageBox>
#include <exception>

#include "settings/ansi_text.h"

namespace app {

THalvarinApplication::THalvarinApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(headunit::AppCaption);
}

bool THalvarinApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowError(error.what());
  } catch (...) {
    ShowError("Unknown error");
  }
  return false;
}

void THalvarinApplication::ShowError(const std::string& text) {
  if (dialogs_ != nullptr) {
    dialogs_->ShowMessage(text, headunit::AppCaption, headunit::TMessageIcon::Error);
    return;
  }
  QMessageBox::critical(activeWindow(), headunit::AppCaption, settings::AnsiToQString(text));
}

}  // namespace app

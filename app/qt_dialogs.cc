#include "app/qt_dialogs.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QProgressDialog>

#include "settings/ansi_text.h"

namespace app {

namespace {

QMessageBox::Icon IconOf(headunit::TMessageIcon icon) {
  switch (icon) {
    case headunit::TMessageIcon::None: return QMessageBox::NoIcon;
    case headunit::TMessageIcon::Information: return QMessageBox::Information;
    case headunit::TMessageIcon::Question: return QMessageBox::Question;
    case headunit::TMessageIcon::Warning: return QMessageBox::Warning;
    case headunit::TMessageIcon::Error: return QMessageBox::Critical;
  }
  return QMessageBox::NoIcon;
}

// The program writes its line breaks as "\n\r"; a label wants "\n" alone.
QString DisplayText(const std::string& text) {
  QString shown = settings::AnsiToQString(text);
  shown.replace("\n\r", "\n");
  shown.replace("\r\n", "\n");
  shown.replace('\r', '\n');
  return shown;
}

}  // namespace

void TQtDialogs::ShowMessage(const std::string& text, const std::string& caption, headunit::TMessageIcon icon) {
  QMessageBox box(IconOf(icon), settings::AnsiToQString(caption), DisplayText(text), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

headunit::TDialogAnswer TQtDialogs::Ask(const std::string& text, const std::string& caption,
                                        headunit::TMessageIcon icon, headunit::TDialogButtons buttons) {
  QMessageBox::StandardButtons offered;
  switch (buttons) {
    case headunit::TDialogButtons::OkCancel: offered = QMessageBox::Ok | QMessageBox::Cancel; break;
    case headunit::TDialogButtons::AbortIgnore: offered = QMessageBox::Abort | QMessageBox::Ignore; break;
    case headunit::TDialogButtons::YesNo: offered = QMessageBox::Yes | QMessageBox::No; break;
  }
  QMessageBox box(IconOf(icon), settings::AnsiToQString(caption), DisplayText(text), offered,
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  const int answer = box.exec();
  // Closing the box answers with its second button.
  switch (buttons) {
    case headunit::TDialogButtons::OkCancel:
      return answer == QMessageBox::Ok ? headunit::TDialogAnswer::Ok : headunit::TDialogAnswer::Cancel;
    case headunit::TDialogButtons::AbortIgnore:
      return answer == QMessageBox::Ignore ? headunit::TDialogAnswer::Ignore : headunit::TDialogAnswer::Abort;
    case headunit::TDialogButtons::YesNo:
      return answer == QMessageBox::Yes ? headunit::TDialogAnswer::Yes : headunit::TDialogAnswer::No;
  }
  return headunit::TDialogAnswer::Cancel;
}

TQtDialogs::TQtDialogs() = default;

TQtDialogs::~TQtDialogs() = default;

void TQtDialogs::BeginWait(const std::string& caption) {
  wait_ = std::make_unique<QProgressDialog>(settings::AnsiToQString(caption), QString(), 0, 100,
                                            QApplication::activeWindow());
  wait_->setWindowTitle(settings::AnsiToQString(caption));
  wait_->setWindowModality(Qt::ApplicationModal);
  wait_->setMinimumDuration(0);
  wait_->setAutoClose(false);
  wait_->setAutoReset(false);
  wait_->setValue(0);
  wait_->show();
  QCoreApplication::processEvents();
}

void TQtDialogs::WaitProgress(int percentDone) {
  if (!wait_) return;
  // A modal progress dialog lets the events through as its value changes.
  wait_->setValue(percentDone);
}

void TQtDialogs::EndWait() { wait_.reset(); }

}  // namespace app

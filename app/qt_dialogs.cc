#include "app/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>

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
  const bool okCancel = buttons == headunit::TDialogButtons::OkCancel;
  QMessageBox box(IconOf(icon), settings::AnsiToQString(caption), DisplayText(text),
                  okCancel ? (QMessageBox::Ok | QMessageBox::Cancel) : (QMessageBox::Abort | QMessageBox::Ignore),
                  QApplication::activeWindow());
  box.setTextFormat(Qt::PlainText);
  const int answer = box.exec();
  if (okCancel) return answer == QMessageBox::Ok ? headunit::TDialogAnswer::Ok : headunit::TDialogAnswer::Cancel;
  return answer == QMessageBox::Ignore ? headunit::TDialogAnswer::Ignore : headunit::TDialogAnswer::Abort;
}

}  // namespace app

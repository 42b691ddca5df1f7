// Halvarin: the application object, the main window and its settings dialog, and the
// event loop until the main window closes.
#include <QCoreApplication>

#include "app/halvarin_application.h"
#include "app/main_form.h"
#include "app/qt_clock.h"
#include "app/qt_dialogs.h"

int main(int argc, char** argv) {
  app::THalvarinApplication application(argc, argv);
  app::TQtDialogs dialogs;
  app::TQtClock clock;
  application.SetErrorDialogs(&dialogs);

  app::TFormEnvironment environment;
  environment.programFolder = QCoreApplication::applicationDirPath().toStdString() + "/";
  environment.dialogs = &dialogs;
  environment.clock = &clock;
  app::TForm1 form(environment);
  form.show();
  return application.exec();
}

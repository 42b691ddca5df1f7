// Test classes of the main window; one program runs them all under the program's own
// application object, so its general error handler is in place.
#pragma once

#include <QObject>

namespace app {
class THalvarinApplication;
}

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void logLinesCarryTimeKindAndMessage();
  void startsWithTheDesignedWindow();
  void slideControl_data();
  void slideControl();
  void missingRuntimeLibraryShowsUpOnlyOnConnect();
  void runtimeThatWillNotStart();
  void connectReadsTheCarAndOffersTheNewVin();
  void connectNewVinOpensTheEditor();
  void cancelSlidesTheEditorBack();
  void connectOutcomes_data();
  void connectOutcomes();
  void failedConnectDisablesTheHeadUnitCommands();
  void rebootTries_data();
  void rebootTries();
  void eraseHistory_data();
  void eraseHistory();
  void syncronizeWritesTheSettingsThenThePartnerData();
  void syncronizeWithoutRuntimeLibrary();
  void damagedSettingsTextReachesTheUnitWhole();
  void partnerCheck_data();
  void partnerCheck();
  void connectChecksThePartnerDataBeforeTheVinLookup();
  void settingsMenuShowsTheDialogModally();
  void startWithoutSettingsFileReportsItOnce();
  void uncaughtErrorsAreShownAndTheProgramGoesOn();

 private:
  app::THalvarinApplication* application_ = nullptr;
};

class ScreenshotTest : public QObject {
  Q_OBJECT

 private slots:
  void rendersTheWindowsIntoTheBuildFolder();
  void rendersTheDemoFolderAfterAConnect();
};

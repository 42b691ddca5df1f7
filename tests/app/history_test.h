// Test classes of the history view, the record editor and the history transfer: the
// window on a real Data.hdb with the real engine and libapi32.so, dialogs scripted.
#pragma once

#include <QObject>

namespace app {
class THalvarinApplication;
}

class HistoryViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void startUpWithoutUsableStore_data();
  void startUpWithoutUsableStore();
  void startUpAfterAnInterruptedCommit_data();
  void startUpAfterAnInterruptedCommit();
  void vinListIsSortedWithoutDuplicates();
  void treeShowsNewestFirstWithItemsInBitOrder();
  void vinBoxKeys();
  void treeClicksEnableTheRecordCommands();
  void connectOpensTheVehicleHistory();

 private:
  app::THalvarinApplication* application_ = nullptr;
};

class RecordEditorTest : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void saveWarnsInOrder_data();
  void saveWarnsInOrder();
  void mileageQuestion_data();
  void mileageQuestion();
  void addStoresTheStatusWordAndRefreshesTheView();
  void dateCollisionRefusedOnAddAllowedOnEdit();
  void dealerBoxAndTheAliasName();
  void editAndDeleteKeepTheFileConsistent();
  void editSavesTheLoadedRecordWhateverTheViewBecame();
  void mileageThatIsNoNumberLeavesNothingPending();

 private:
  app::THalvarinApplication* application_ = nullptr;
};

class HistoryTransferTest : public QObject {
  Q_OBJECT

 private slots:
  void currentServiceSendsTheSelectedRecord();
  void currentServiceStopsOnAJobError();
  void transferWithoutRuntimeReportsNoSuccess();
  void fullListSendsNewestFirst_data();
  void fullListSendsNewestFirst();
  void jobErrorStopsTheFullList();
  void fullListSendsOnlyTheShownVehicle();
};

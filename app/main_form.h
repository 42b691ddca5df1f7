// TForm1: the main window. It owns the service store (the database and table
// components on Data.hdb), the settings record, the runtime binding and the head-unit
// context for the whole run, lays out the vehicle panel, the record editor (hidden
// under the history panel until it slides into the left column), the history panel
// with the VIN box and the history tree, and the activity log, and wires the menus to
// the record commands, the head-unit commands and the settings dialog. Everything runs
// on the user-interface thread.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "dbengine/storage/record_id.h"
#include "headunit/clock.h"
#include "headunit/dialogs.h"
#include "headunit/ediabas_api.h"
#include "headunit/head_unit_context.h"
#include "headunit/log_sink.h"
#include "headunit/vehicle_connect.h"
#include "settings/app_settings.h"
#include "store/service_record.h"

class QAction;
class QCheckBox;
class QComboBox;
class QDateEdit;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QSplitter;
class QTreeWidget;
class QTreeWidgetItem;

namespace store {
class TServiceStore;
}

namespace settings {
class TProgrammConfigForm;
}

namespace app {

class TDialogDatabasePrompts;

enum class EditorState : std::uint8_t { esAdd = 0, esEdit = 1, esDelete = 2, esIdle = 3 };

// What the window is given from outside: where the program lives, which runtime library
// to load and how to talk to the user and to the clock.
struct TFormEnvironment {
  std::string programFolder;  // with its trailing separator
  std::string runtimeLibrary = headunit::RuntimeLibraryName;
  headunit::TDialogs* dialogs = nullptr;
  headunit::TClock* clock = nullptr;
};

// Colours as the window uses them (0x00BBGGRR colour references).
inline constexpr std::uint32_t LogAreaColor = 11468799;
inline constexpr std::uint32_t ProgressBarColor = 0x8000;
inline constexpr std::uint32_t InvalidFieldColor = 8421631;
inline constexpr std::uint32_t VinBoxColor = 0xFFFFFF;

// Left positions of the two panels that share the left column.
inline constexpr int LeftColumn = 10;
inline constexpr int HiddenColumn = 230;

class TForm1 : public QMainWindow, public headunit::TLogSink, private headunit::TConnectView {
  Q_OBJECT

 public:
  explicit TForm1(const TFormEnvironment& environment);
  ~TForm1() override;

  void AddLog(headunit::LogKind kind, const std::string& message) override;
  void SlideControl(QWidget* control, int target);
  static std::string GetVersionString();
  void ShowEditor();
  void HideEditor();

  // The VIN list and the history tree.
  void ReloadVinList();
  // Filters the table to the VIN box's text and rebuilds the tree; the number of
  // records shown.
  int ShowHistory();
  // Makes the record of a record or item node the table's current record.
  bool LocateRecordByNode(QTreeWidgetItem* node);
  // The record editor's save.
  void SaveRecord();

  EditorState editorState() const { return editorState_; }
  store::TServiceStore& serviceStore() { return *store_; }
  // The database file the window opened (or tried to).
  const std::string& databaseFileName() const { return databaseFileName_; }
  const settings::TAppSettings& appSettings() const { return settings_; }
  headunit::TEdiabasApi& ediabasApi() { return api_; }
  settings::TProgrammConfigForm* ProgrammConfigForm() const { return configForm_; }

  // Controls, named as the window's design names them.
  QProgressBar* ProgressBar1 = nullptr;
  QWidget* Panel1 = nullptr;  // the upper area
  QWidget* Panel4 = nullptr;
  QLabel* FGNRLbl = nullptr;
  QLabel* MlgLbl = nullptr;
  QLabel* HUTLbl = nullptr;
  QGroupBox* CBSGroupBox = nullptr;
  QWidget* Panel6 = nullptr;
  QCheckBox* THNDCB = nullptr;
  QLineEdit* NHNDEdt = nullptr;
  QDateEdit* DATTP = nullptr;
  QLineEdit* MLGEdt = nullptr;
  QComboBox* SSTATCB = nullptr;
  QListWidget* SSTATLB = nullptr;
  QPushButton* SaveBtn = nullptr;
  QPushButton* CloseBtn = nullptr;
  QWidget* Panel3 = nullptr;
  QComboBox* FGListCB = nullptr;
  QTreeWidget* TreeView1 = nullptr;
  QLabel* FooterLbl = nullptr;
  QSplitter* Splitter1 = nullptr;
  QWidget* Panel2 = nullptr;
  QPlainTextEdit* LogMemo = nullptr;

  QAction* ConnecttoHeadUnit1 = nullptr;
  QAction* Exit1 = nullptr;
  QAction* ClearservicehistoryMenu = nullptr;
  QAction* RebootMenu = nullptr;
  QMenu* TransfertoHU1 = nullptr;
  QAction* Currentservice1 = nullptr;
  QAction* Fullservicelist1 = nullptr;
  QMenu* Montagemode1 = nullptr;
  QAction* Parkingbrake1 = nullptr;
  QAction* Settings1 = nullptr;
  QAction* Constructor1 = nullptr;
  QAction* Verifydataset1 = nullptr;
  QAction* Repairdatabase1 = nullptr;

  QMenu* PopupMenu1 = nullptr;
  QAction* N1 = nullptr;  // Add new record
  QAction* N2 = nullptr;  // Edit
  QAction* N3 = nullptr;  // Delete
  QAction* N4 = nullptr;  // separator
  QMenu* N5 = nullptr;    // Transfer to HU...
  QAction* N6 = nullptr;  // Current service
  QAction* N7 = nullptr;  // Full service list

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildMenus();
  void BuildUpperArea();
  void BuildVehiclePanel();
  void BuildEditorPanel();
  void BuildHistoryPanel();
  void BuildLogArea();
  void LayoutUpperArea();
  void FormCreate();

  void ConnecttoHeadUnit1Click();
  void Exit1Click();
  void ClearservicehistoryMenuClick();
  void RebootMenuClick();
  void Settings1Click();
  void CloseBtnClick();
  void SaveBtnClick();
  void THNDCBClick();
  void FGListCBChange();
  // True when the key is swallowed.
  bool FGListCBKeyPress(int key);
  void TreeView1MouseDown(const QPoint& at);
  void N1Click();
  void N2Click();
  void N3Click();
  void N6Click();
  void N7Click();
  // Enables or disables Edit, Delete and both "Transfer to HU..." items.
  void EnableRecordCommands(bool enabled);
  QTreeWidgetItem* SelectedNode() const;
  // The record of a record or item node (located in the table), or nothing.
  std::optional<store::TServiceRecord> RecordOfNode(QTreeWidgetItem* node);
  void MarkInvalid(QWidget* field);
  void ClearMark(QWidget* field);

  // headunit::TConnectView
  void SetProgressMaximum(int maximum) override;
  void SetProgressPosition(int position) override;
  int ProgressPosition() override;
  void ProcessEvents() override;
  void ShowVin(const std::string& vin) override;
  void ShowMileage(const std::string& mileage) override;
  void ShowHeadUnitType(const std::string& variant) override;

  TFormEnvironment environment_;
  headunit::TDialogs& dialogs_;
  headunit::TClock& clock_;
  settings::TAppSettings settings_;
  headunit::TEdiabasApi api_;
  headunit::THeadUnitContext headUnit_;
  // The database component asks its questions (the repair of a file that was not
  // closed correctly) through the window's dialogs; installed before the store
  // connects and kept until the store is gone.
  std::unique_ptr<TDialogDatabasePrompts> databasePrompts_;
  std::unique_ptr<store::TServiceStore> store_;
  std::string databaseFileName_;
  EditorState editorState_ = EditorState::esAdd;
  // The record loaded for an edit, by its record address: a save edits that record,
  // whatever the table's view has become meanwhile.
  std::optional<hdb::RecordID> editBookmark_;
  // The VIN box's text when its change handler last ran.
  QString changedVinText_;
  settings::TProgrammConfigForm* configForm_ = nullptr;  // owned as a child dialog
};

}  // namespace app

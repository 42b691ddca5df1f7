// TForm1: the main window. It owns the settings record, the runtime binding and the
// head-unit context for the whole run, lays out the vehicle panel, the record editor
// (hidden under the history panel until it slides into the left column), the history
// panel and the activity log, and wires the menus to the head-unit commands and the
// settings dialog. Everything runs on the user-interface thread.
#pragma once

#include <QMainWindow>
#include <cstdint>
#include <memory>
#include <string>

#include "headunit/clock.h"
#include "headunit/dialogs.h"
#include "headunit/ediabas_api.h"
#include "headunit/head_unit_context.h"
#include "headunit/log_sink.h"
#include "headunit/vehicle_connect.h"
#include "settings/app_settings.h"

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

namespace settings {
class TProgrammConfigForm;
}

namespace app {

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

  EditorState editorState() const { return editorState_; }
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
  EditorState editorState_ = EditorState::esAdd;
  settings::TProgrammConfigForm* configForm_ = nullptr;  // owned as a child dialog
};

}  // namespace app

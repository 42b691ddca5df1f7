#include "app/main_form.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateEdit>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <cassert>
#include <cstdlib>

#include "app/log_line.h"
#include "headunit/head_unit_commands.h"
#include "headunit/partner_data.h"
#include "settings/ansi_text.h"
#include "settings/programm_config_form.h"
#include "settings/settings_file.h"
#include "store/service_items.h"

namespace app {

namespace {

using headunit::LogKind;
using settings::AnsiToQString;

QColor ColorRef(std::uint32_t value) {
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

void SetBackground(QWidget* widget, std::uint32_t color) {
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Base, ColorRef(color));
  widget->setPalette(palette);
}

QFont WindowFont(bool bold) {
  QFont font("MS Sans Serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPointSize(8);
  font.setBold(bold);
  return font;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QRect geometry, const char* name = nullptr) {
  auto* label = new QLabel(text, parent);
  if (name) label->setObjectName(name);
  label->setGeometry(geometry);
  return label;
}

// A panel with a raised edge.
QFrame* MakePanel(QWidget* parent) {
  auto* panel = new QFrame(parent);
  panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
  return panel;
}

// The VIN box takes what is typed in upper case.
class TUpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    input = input.toUpper();
    return Acceptable;
  }
};

// Design sizes of the upper area.
constexpr int ProgressBarHeight = 13;
constexpr int PanelTop = 20;
constexpr int PanelWidth = 211;
constexpr int EditorWidth = 210;
constexpr int EditorHeight = 331;
constexpr int HistoryLeft = 226;
constexpr int HistoryTop = 14;
constexpr int FooterHeight = 16;

}  // namespace

TForm1::TForm1(const TFormEnvironment& environment)
    : environment_(environment),
      dialogs_(*environment.dialogs),
      clock_(*environment.clock),
      headUnit_{api_, *this, *environment.dialogs, *environment.clock} {
  assert(environment.dialogs != nullptr && environment.clock != nullptr);
  setObjectName("Form1");
  setWindowTitle(headunit::AppCaption);
  setFont(WindowFont(false));
  resize(574, 550);
  setMinimumSize(512, 550);
  setMaximumSize(700, 750);

  BuildMenus();
  Splitter1 = new QSplitter(Qt::Vertical, this);
  Splitter1->setObjectName("Splitter1");
  Splitter1->setHandleWidth(6);
  Splitter1->setOpaqueResize(true);  // live resize
  Splitter1->setChildrenCollapsible(false);
  BuildUpperArea();
  BuildLogArea();
  Splitter1->addWidget(Panel1);
  Splitter1->addWidget(Panel2);
  Splitter1->setStretchFactor(0, 1);
  Splitter1->setStretchFactor(1, 0);
  Splitter1->setSizes({550, 60});
  setCentralWidget(Splitter1);

  FormCreate();
  // The settings dialog comes right after the window, created hidden.
  configForm_ = new settings::TProgrammConfigForm(this, settings_, environment_.programFolder + settings::SettingsFileName,
                                                  headUnit_);
}

TForm1::~TForm1() = default;

void TForm1::BuildMenus() {
  QMenu* program = menuBar()->addMenu("Program");
  program->setObjectName("Program1");
  ConnecttoHeadUnit1 = program->addAction("Connect...");
  program->addSeparator();
  Exit1 = program->addAction("Exit");

  QMenu* toolset = menuBar()->addMenu("Toolset");
  toolset->setObjectName("Toolset1");
  ClearservicehistoryMenu = toolset->addAction("Clear service history");
  RebootMenu = toolset->addAction("Reboot HU");
  TransfertoHU1 = toolset->addMenu("Transfer to HU...");
  Currentservice1 = TransfertoHU1->addAction("Current service");
  Fullservicelist1 = TransfertoHU1->addAction("Full service list");
  toolset->addSeparator();
  Montagemode1 = toolset->addMenu("Montage mode...");
  Parkingbrake1 = Montagemode1->addAction("Parking brake");
  toolset->addSeparator();
  Settings1 = toolset->addAction("Settings");

  QMenu* bde = menuBar()->addMenu("BDE");
  bde->setObjectName("BDE1");
  Constructor1 = bde->addAction("Constructor");
  Verifydataset1 = bde->addAction("Verify dataset");
  Repairdatabase1 = bde->addAction("Repair database");

  ConnecttoHeadUnit1->setObjectName("ConnecttoHeadUnit1");
  Exit1->setObjectName("Exit1");
  ClearservicehistoryMenu->setObjectName("ClearservicehistoryMenu");
  RebootMenu->setObjectName("RebootMenu");
  TransfertoHU1->setObjectName("TransfertoHU1");
  Montagemode1->setObjectName("Montagemode1");
  Settings1->setObjectName("Settings1");

  for (QAction* action : {ClearservicehistoryMenu, RebootMenu, TransfertoHU1->menuAction(), Montagemode1->menuAction(),
                          Parkingbrake1, Constructor1, Verifydataset1, Repairdatabase1})
    action->setEnabled(false);

  connect(ConnecttoHeadUnit1, &QAction::triggered, this, &TForm1::ConnecttoHeadUnit1Click);
  connect(Exit1, &QAction::triggered, this, &TForm1::Exit1Click);
  connect(ClearservicehistoryMenu, &QAction::triggered, this, &TForm1::ClearservicehistoryMenuClick);
  connect(RebootMenu, &QAction::triggered, this, &TForm1::RebootMenuClick);
  connect(Settings1, &QAction::triggered, this, &TForm1::Settings1Click);

  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  N1 = PopupMenu1->addAction("Add new record");
  N2 = PopupMenu1->addAction("Edit");
  N3 = PopupMenu1->addAction("Delete");
  N4 = PopupMenu1->addSeparator();
  N5 = PopupMenu1->addMenu("Transfer to HU...");
  N6 = N5->addAction("Current service");
  N7 = N5->addAction("Full service list");
  for (QAction* action : {N2, N3, N4, N5->menuAction()}) action->setEnabled(false);
}

void TForm1::BuildUpperArea() {
  Panel1 = new QWidget;
  Panel1->setObjectName("Panel1");
  Panel1->setMinimumHeight(310);
  Panel1->installEventFilter(this);

  ProgressBar1 = new QProgressBar(Panel1);
  ProgressBar1->setObjectName("ProgressBar1");
  ProgressBar1->setTextVisible(false);
  ProgressBar1->setRange(0, 100);
  ProgressBar1->setValue(0);

  BuildVehiclePanel();
  BuildEditorPanel();
  BuildHistoryPanel();

  FooterLbl = new QLabel("Halvarin service history", Panel1);
  FooterLbl->setObjectName("FooterLbl");
  FooterLbl->setFont(WindowFont(true));
  QPalette palette = FooterLbl->palette();
  palette.setColor(QPalette::WindowText, QColor(200, 200, 200));  // the scroll-bar colour
  FooterLbl->setPalette(palette);

  // The history panel is drawn above the editor, which waits underneath it.
  Panel3->raise();
  LayoutUpperArea();
}

void TForm1::BuildVehiclePanel() {
  Panel4 = MakePanel(Panel1);
  Panel4->setObjectName("Panel4");
  Panel4->setFont(WindowFont(true));
  Panel4->setGeometry(LeftColumn, PanelTop, PanelWidth, 389);
  MakeLabel(Panel4, "VIN :", QRect(8, 12, 70, 16));
  MakeLabel(Panel4, "Mileage :", QRect(8, 34, 70, 16));
  MakeLabel(Panel4, "HU type :", QRect(8, 56, 70, 16));
  // The values in regular type, so that a whole VIN fits beside its caption.
  FGNRLbl = MakeLabel(Panel4, "...", QRect(76, 12, 131, 16), "FGNRLbl");
  MlgLbl = MakeLabel(Panel4, "...", QRect(76, 34, 131, 16), "MlgLbl");
  HUTLbl = MakeLabel(Panel4, "...", QRect(76, 56, 131, 16), "HUTLbl");
  for (QLabel* value : {FGNRLbl, MlgLbl, HUTLbl}) value->setFont(WindowFont(false));
  CBSGroupBox = new QGroupBox(" CBS Data ", Panel4);
  CBSGroupBox->setObjectName("CBSGroupBox");
  CBSGroupBox->setEnabled(false);
}

void TForm1::BuildEditorPanel() {
  Panel6 = MakePanel(Panel1);
  Panel6->setObjectName("Panel6");
  Panel6->setFont(WindowFont(true));
  Panel6->setGeometry(HiddenColumn, PanelTop, EditorWidth, EditorHeight);
  // Neither visible nor usable until it stands in the left column.
  Panel6->setEnabled(false);

  THNDCB = new QCheckBox("BMW Dealer", Panel6);
  THNDCB->setObjectName("THNDCB");
  THNDCB->setChecked(true);
  THNDCB->setToolTip("Official Dealer / Third party");
  THNDCB->setGeometry(8, 8, 194, 20);

  NHNDEdt = new QLineEdit(Panel6);
  NHNDEdt->setObjectName("NHNDEdt");
  NHNDEdt->setToolTip("If remove check from the dealer, the value from the settings will be entered");
  NHNDEdt->setGeometry(8, 32, 194, 22);

  DATTP = new QDateEdit(QDate(2020, 11, 2), Panel6);
  DATTP->setObjectName("DATTP");
  DATTP->setDisplayFormat("dd.MM.yyyy");
  DATTP->setCalendarPopup(true);
  DATTP->setGeometry(8, 58, 194, 22);

  MLGEdt = new QLineEdit("0", Panel6);
  MLGEdt->setObjectName("MLGEdt");
  MLGEdt->setToolTip("Mileage in km");
  MLGEdt->setGeometry(8, 84, 160, 22);
  MakeLabel(Panel6, "km", QRect(174, 87, 28, 16));

  SSTATCB = new QComboBox(Panel6);
  SSTATCB->setObjectName("SSTATCB");
  SSTATCB->addItems({"Service carried out", "Carried out late", "Overdue maintenance"});
  SSTATCB->setCurrentIndex(0);
  SSTATCB->setGeometry(8, 110, 194, 22);

  SSTATLB = new QListWidget(Panel6);
  SSTATLB->setObjectName("SSTATLB");
  for (const store::TServiceItem& item : store::ServiceItems) {
    auto* entry = new QListWidgetItem(item.caption, SSTATLB);
    entry->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
    entry->setCheckState(Qt::Unchecked);
  }
  SSTATLB->setGeometry(8, 136, 194, 158);

  SaveBtn = new QPushButton("Save", Panel6);
  SaveBtn->setObjectName("SaveBtn");
  SaveBtn->setFlat(true);
  SaveBtn->setGeometry(8, 300, 94, 24);
  CloseBtn = new QPushButton("Cancel", Panel6);
  CloseBtn->setObjectName("CloseBtn");
  CloseBtn->setFlat(true);
  CloseBtn->setGeometry(108, 300, 94, 24);
  connect(CloseBtn, &QPushButton::clicked, this, &TForm1::CloseBtnClick);
}

void TForm1::BuildHistoryPanel() {
  Panel3 = MakePanel(Panel1);
  Panel3->setObjectName("Panel3");
  Panel3->setFont(WindowFont(true));
  Panel3->setAutoFillBackground(true);  // covers the editor beneath it
  auto* layout = new QVBoxLayout(Panel3);
  layout->setContentsMargins(4, 6, 4, 4);
  layout->setSpacing(6);
  auto* row = new QHBoxLayout;
  row->setSpacing(4);
  row->addWidget(new QLabel(">>", Panel3));
  FGListCB = new QComboBox(Panel3);
  FGListCB->setObjectName("FGListCB");
  FGListCB->setEditable(true);
  FGListCB->setInsertPolicy(QComboBox::NoInsert);
  FGListCB->setValidator(new TUpperCaseValidator(FGListCB));
  FGListCB->setToolTip("On Enter - Look up records by partial;  On Spase - Clear field");
  FGListCB->setEditText(" ");
  row->addWidget(FGListCB, 1);
  layout->addLayout(row);

  TreeView1 = new QTreeWidget(Panel3);
  TreeView1->setObjectName("TreeView1");
  TreeView1->setHeaderHidden(true);
  TreeView1->setIndentation(19);
  TreeView1->setEditTriggers(QAbstractItemView::NoEditTriggers);
  TreeView1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(TreeView1, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { PopupMenu1->popup(TreeView1->viewport()->mapToGlobal(at)); });
  layout->addWidget(TreeView1, 1);
}

void TForm1::BuildLogArea() {
  Panel2 = new QWidget;
  Panel2->setObjectName("Panel2");
  Panel2->setMinimumHeight(60);
  Panel2->setMaximumHeight(150);
  auto* layout = new QVBoxLayout(Panel2);
  layout->setContentsMargins(0, 0, 0, 0);
  LogMemo = new QPlainTextEdit(Panel2);
  LogMemo->setObjectName("LogMemo");
  LogMemo->setReadOnly(true);
  LogMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  LogMemo->setLineWrapMode(QPlainTextEdit::NoWrap);
  SetBackground(LogMemo, LogAreaColor);
  layout->addWidget(LogMemo);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == Panel1 && event->type() == QEvent::Resize) LayoutUpperArea();
  return QMainWindow::eventFilter(watched, event);
}

// Anchors of the upper area: the progress bar spans the top, the vehicle panel stretches
// with the height, the history panel to the right and down; the editor keeps its size.
void TForm1::LayoutUpperArea() {
  const int width = Panel1->width();
  const int height = Panel1->height();
  ProgressBar1->setGeometry(0, 0, width, ProgressBarHeight);
  Panel4->setGeometry(Panel4->x(), PanelTop, PanelWidth, std::max(100, height - PanelTop - FooterHeight - 8));
  CBSGroupBox->setGeometry(8, 82, PanelWidth - 16, std::max(20, Panel4->height() - 90));
  Panel6->setGeometry(Panel6->x(), PanelTop, EditorWidth, EditorHeight);
  Panel3->setGeometry(HistoryLeft, HistoryTop, std::max(100, width - HistoryLeft - 8),
                      std::max(100, height - HistoryTop - 6));
  FooterLbl->setGeometry(LeftColumn, height - FooterHeight - 4, HistoryLeft - LeftColumn - 4, FooterHeight);
}

void TForm1::FormCreate() {
  setWindowTitle(windowTitle() + " - " + QString::fromStdString(GetVersionString()) + " [Private build]");
  // Opening the store belongs here, between the title and the settings: the database
  // file is the program folder + "Data.hdb", then the database component connects, the
  // table component opens dsTable and the VIN list is filled. Until the store exists
  // the window comes up with an empty VIN list and no message.
  settings::ReadSettings(environment_.programFolder + settings::SettingsFileName, settings_, dialogs_);
  // A library that cannot be loaded is not reported here; "Connect..." reports it.
  api_.LoadRuntimeLibrary(environment_.runtimeLibrary);
  QPalette palette = ProgressBar1->palette();
  palette.setColor(QPalette::Highlight, ColorRef(ProgressBarColor));
  ProgressBar1->setPalette(palette);
}

std::string TForm1::GetVersionString() {
  // The file version as the version resource holds it: two 32-bit words.
  const std::uint32_t ms = (static_cast<std::uint32_t>(HALVARIN_VERSION_MAJOR) << 16) | HALVARIN_VERSION_MINOR;
  const std::uint32_t ls = (static_cast<std::uint32_t>(HALVARIN_VERSION_PATCH) << 16) | HALVARIN_VERSION_TWEAK;
  return std::to_string(ms >> 16) + "." + std::to_string(ms & 0xFFFF) + "." + std::to_string(ls >> 16) + "." +
         std::to_string(ls & 0xFFFF);
}

void TForm1::AddLog(LogKind kind, const std::string& message) {
  LogMemo->appendPlainText(AnsiToQString(FormatLogLine(clock_.Now(), kind, message)));
  LogMemo->verticalScrollBar()->setValue(LogMemo->verticalScrollBar()->maximum());
}

void TForm1::SlideControl(QWidget* control, int target) {
  int step = (target - control->x()) / 20;  // truncates toward zero
  // A distance of 6 to 19 px would give a step of 0 and never arrive; creep instead.
  if (step == 0 && std::abs(target - control->x()) > 5) step = target > control->x() ? 1 : -1;
  if (control == Panel6 && target != LeftColumn) Panel6->setEnabled(false);
  do {
    clock_.Sleep(5);
    control->move(control->x() + step, control->y());
    QCoreApplication::processEvents();
  } while (std::abs(control->x() - target) > 5);
  clock_.Sleep(150);
  if (control == Panel6) Panel6->setEnabled(Panel6->x() == LeftColumn);
}

void TForm1::ShowEditor() {
  SlideControl(Panel4, HiddenColumn);
  SlideControl(Panel6, LeftColumn);
}

void TForm1::HideEditor() {
  SlideControl(Panel6, HiddenColumn);
  SlideControl(Panel4, LeftColumn);
}

void TForm1::ConnecttoHeadUnit1Click() {
  const headunit::TConnectResult result = headunit::ConnectVehicle(headUnit_, *this);
  if (!result.runtimeReady) return;
  if (result.finalError.code > 0) {
    RebootMenu->setEnabled(false);
    ClearservicehistoryMenu->setEnabled(false);
    TransfertoHU1->menuAction()->setEnabled(false);
    return;
  }
  RebootMenu->setEnabled(true);
  ClearservicehistoryMenu->setEnabled(true);
  if (settings_.VerifyPartnerData()) headunit::SyncPartnerData(headUnit_, settings::PartnerDataOf(settings_));

  const QString vin = AnsiToQString(result.vin);
  for (int i = 0; i < FGListCB->count(); ++i) {
    if (FGListCB->itemText(i) == vin) {
      FGListCB->setCurrentIndex(i);
      SetBackground(FGListCB, VinBoxColor);
      // The vehicle's history is shown here once the history view is part of the window.
      return;
    }
  }
  if (dialogs_.Ask("New FGNR : " + result.vin + "\n\r" + "Add to database?", headunit::AppCaption,
                   headunit::TMessageIcon::Information, headunit::TDialogButtons::OkCancel) == headunit::TDialogAnswer::Ok) {
    FGListCB->setEditText(vin);
    editorState_ = EditorState::esAdd;
    ShowEditor();
  }
}

void TForm1::Exit1Click() { close(); }

void TForm1::ClearservicehistoryMenuClick() {
  if (dialogs_.Ask("Service history will be delete.\n\rAre you sure?", headunit::AppCaption,
                   headunit::TMessageIcon::Question, headunit::TDialogButtons::OkCancel) == headunit::TDialogAnswer::Ok)
    headunit::EraseServiceHistory(headUnit_, settings_.RebootAfterClean());
}

void TForm1::RebootMenuClick() { headunit::RebootHeadUnit(headUnit_); }

void TForm1::Settings1Click() { configForm_->exec(); }

// Cancel: the editor slides back under the history panel and the vehicle panel returns;
// the fields keep their contents. Once the table is part of the window, the record
// pending in it is cancelled first.
void TForm1::CloseBtnClick() {
  HideEditor();
  TreeView1->setEnabled(true);
  editorState_ = EditorState::esIdle;
}

void TForm1::SetProgressMaximum(int maximum) { ProgressBar1->setMaximum(maximum); }
void TForm1::SetProgressPosition(int position) { ProgressBar1->setValue(position); }
int TForm1::ProgressPosition() { return ProgressBar1->value(); }
void TForm1::ProcessEvents() { QCoreApplication::processEvents(); }
void TForm1::ShowVin(const std::string& vin) { FGNRLbl->setText(AnsiToQString(vin)); }

void TForm1::ShowMileage(const std::string& mileage) {
  MlgLbl->setText(AnsiToQString(mileage));
  MLGEdt->setText(AnsiToQString(mileage));
}

void TForm1::ShowHeadUnitType(const std::string& variant) { HUTLbl->setText(AnsiToQString(variant)); }

}  // namespace app

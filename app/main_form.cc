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
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QValidator>
#include <cassert>
#include <cstdlib>

#include "app/dialog_database_prompts.h"
#include "app/log_line.h"
#include "dbengine/storage/error_messages.h"
#include "dbengine/storage/hdb_exception.h"
#include "dbengine/components/database_error.h"
#include "dbengine/tables/date_time_codec.h"
#include "headunit/head_unit_commands.h"
#include "headunit/history_transfer.h"
#include "headunit/partner_data.h"
#include "settings/ansi_text.h"
#include "settings/programm_config_form.h"
#include "settings/settings_file.h"
#include "store/service_items.h"
#include "store/service_status.h"
#include "store/service_store.h"
#include "store/service_table.h"

namespace app {

namespace {

using headunit::LogKind;
using headunit::TMessageIcon;
using settings::AnsiToQString;
using settings::QStringToAnsi;

// The caption of the editor's warnings and of its "Record not found" boxes.
const std::string EditorCaption = std::string(headunit::AppCaption) + " ";

// The level of a history tree node: 0 the VIN, 1 a record, 2 an item.
int Level(const QTreeWidgetItem* node) {
  int level = 0;
  for (const QTreeWidgetItem* p = node->parent(); p != nullptr; p = p->parent()) ++level;
  return level;
}

QDate DateOfDay(std::int32_t day) {
  int year = 0, month = 0, dayOfMonth = 0;
  hdb::DecodeDayNumber(day, year, month, dayOfMonth);
  return QDate(year, month, dayOfMonth);
}

std::int32_t DayOfDate(const QDate& date) { return hdb::EncodeDayNumber(date.year(), date.month(), date.day()); }

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
      headUnit_{api_, *this, *environment.dialogs, *environment.clock},
      databasePrompts_(std::make_unique<TDialogDatabasePrompts>(*environment.dialogs)) {
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

  store_ = std::make_unique<store::TServiceStore>();
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
  connect(N1, &QAction::triggered, this, &TForm1::N1Click);
  connect(N2, &QAction::triggered, this, &TForm1::N2Click);
  connect(N3, &QAction::triggered, this, &TForm1::N3Click);
  connect(N6, &QAction::triggered, this, &TForm1::N6Click);
  connect(N7, &QAction::triggered, this, &TForm1::N7Click);
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
  connect(SaveBtn, &QPushButton::clicked, this, &TForm1::SaveBtnClick);
  // Set by a click or by loading a record: an unchecked box brings the alias name.
  connect(THNDCB, &QCheckBox::toggled, this, &TForm1::THNDCBClick);
  // A marked field is cleared when it is entered (the agent number: when clicked).
  for (QWidget* field : std::initializer_list<QWidget*>{SSTATCB, MLGEdt, DATTP, NHNDEdt}) field->installEventFilter(this);
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
  // The box completes nothing by itself: Enter looks a partial VIN up.
  FGListCB->setCompleter(nullptr);
  FGListCB->setEditText(" ");
  FGListCB->lineEdit()->installEventFilter(this);
  // A change is what the user types or picks from the list. The box also reports the
  // entry matching its text as picked when it loses the focus; that is no change and
  // must not rebuild the tree the user is about to click.
  connect(FGListCB->lineEdit(), &QLineEdit::textEdited, this, &TForm1::FGListCBChange);
  connect(FGListCB, &QComboBox::activated, this, [this] {
    if (FGListCB->currentText() != changedVinText_) FGListCBChange();
  });
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
  TreeView1->viewport()->installEventFilter(this);
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
  switch (event->type()) {
    case QEvent::Resize:
      if (watched == Panel1) LayoutUpperArea();
      break;
    case QEvent::KeyPress:
      if (watched == FGListCB->lineEdit() && FGListCBKeyPress(static_cast<QKeyEvent*>(event)->key())) return true;
      break;
    case QEvent::MouseButtonPress:
      // The handler runs before the tree's own press handling, which then selects as usual.
      if (watched == TreeView1->viewport()) TreeView1MouseDown(static_cast<QMouseEvent*>(event)->position().toPoint());
      if (watched == NHNDEdt) ClearMark(NHNDEdt);  // NHNDEdtClick
      break;
    case QEvent::FocusIn:
      // SSTATCBEnter, MLGEdtEnter, DATTPEnter
      if (watched == SSTATCB || watched == MLGEdt || watched == DATTP) ClearMark(static_cast<QWidget*>(watched));
      break;
    default: break;
  }
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
  // The store: whatever fails (a missing, damaged or locked file) is reported by this
  // one message, and the window comes up with an empty VIN list and a closed table.
  databaseFileName_ = environment_.programFolder + store::DataFileName;
  try {
    store_->Open(databaseFileName_);
    ReloadVinList();
  } catch (const std::exception& error) {
    try {
      store_->Close();
    } catch (const std::exception&) {
      // The one message below is all the user hears of the store.
    }
    dialogs_.ShowMessage(databaseFileName_ + " - does not exist.",
                         std::string(headunit::AppCaption) + "  - " + hdb::ExceptionClassName(error),
                         TMessageIcon::Error);
  }
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
      changedVinText_ = FGListCB->currentText();
      ShowHistory();
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

// Cancel: whatever is pending in the table is discarded, the editor slides back under
// the history panel and the vehicle panel returns; the fields keep their contents.
void TForm1::CloseBtnClick() {
  store_->CancelRecord();
  HideEditor();
  TreeView1->setEnabled(true);
  editorState_ = EditorState::esIdle;
}

// ---- VIN list and history tree ------------------------------------------------------

void TForm1::ReloadVinList() {
  const std::vector<std::string> vins = store_->ReloadVinList();
  QStringList items;
  items.reserve(static_cast<qsizetype>(vins.size()));
  for (const std::string& vin : vins) items << AnsiToQString(vin);
  // Refilling a combo box moves its text to the first entry; the box's text stays.
  QLineEdit* edit = FGListCB->lineEdit();
  const QString text = edit->text();
  const int cursor = edit->cursorPosition();
  const QSignalBlocker blocker(FGListCB);
  const QSignalBlocker editBlocker(edit);
  FGListCB->clear();
  FGListCB->addItems(items);
  FGListCB->setCurrentIndex(-1);
  edit->setText(text);
  edit->setCursorPosition(cursor);
}

int TForm1::ShowHistory() {
  std::vector<store::TServiceRecord> records;
  const std::string root = store_->ShowVehicle(QStringToAnsi(FGListCB->currentText()), records);
  TreeView1->clear();
  auto* rootNode = new QTreeWidgetItem(TreeView1, QStringList{AnsiToQString(root)});
  for (const store::TServiceRecord& record : records) {
    auto* recordNode = new QTreeWidgetItem(
        rootNode, QStringList{AnsiToQString(hdb::DateText(record.DAT)) + " - " + QString::number(record.MLG)});
    for (int bit = 0; bit < store::ServiceItemBits; ++bit)
      if (store::HasItem(record.SSTAT, bit))
        new QTreeWidgetItem(recordNode, QStringList{store::ServiceItems[static_cast<std::size_t>(bit)].caption});
  }
  rootNode->setExpanded(true);
  // The selection went with the old tree, and with it what the record commands act on.
  EnableRecordCommands(false);
  return static_cast<int>(records.size());
}

void TForm1::FGListCBChange() {
  changedVinText_ = FGListCB->currentText();
  SetBackground(FGListCB, VinBoxColor);
  if (FGListCB->currentText().size() == store::VinLength) ShowHistory();
}

bool TForm1::FGListCBKeyPress(int key) {
  store_->ClearFilter();
  if (key == Qt::Key_Space) {
    FGListCB->setEditText(QString());
    return true;
  }
  if (key != Qt::Key_Return && key != Qt::Key_Enter) return false;
  const QString typed = FGListCB->currentText();
  if (typed.isEmpty()) return true;
  for (int i = 0; i < FGListCB->count(); ++i) {
    const QString entry = FGListCB->itemText(i);
    const qsizetype at = entry.indexOf(typed, 0, Qt::CaseSensitive);
    if (at < 0) continue;
    FGListCB->setEditText(entry);
    FGListCB->lineEdit()->setSelection(static_cast<int>(at), static_cast<int>(typed.size()));
    FGListCBChange();
    break;
  }
  return true;
}

QTreeWidgetItem* TForm1::SelectedNode() const {
  const QList<QTreeWidgetItem*> selected = TreeView1->selectedItems();
  return selected.isEmpty() ? nullptr : selected.first();
}

void TForm1::EnableRecordCommands(bool enabled) {
  for (QAction* command : {N2, N3, N5->menuAction(), TransfertoHU1->menuAction()}) command->setEnabled(enabled);
}

void TForm1::TreeView1MouseDown(const QPoint& at) {
  if (SelectedNode() == nullptr) {
    EnableRecordCommands(false);
    return;
  }
  QTreeWidgetItem* node = TreeView1->itemAt(at);
  if (node == nullptr) {
    TreeView1->clearSelection();
    TreeView1->setCurrentItem(nullptr);
    EnableRecordCommands(false);
    return;
  }
  TreeView1->setCurrentItem(node);
  EnableRecordCommands(Level(node) > 0);
}

// The tree has three levels, so the first record node at or before a node in the flat
// order is the node itself (a record), its parent (an item) or none (the VIN).
bool TForm1::LocateRecordByNode(QTreeWidgetItem* node) {
  QTreeWidgetItem* recordNode = node;
  while (recordNode != nullptr && Level(recordNode) > 1) recordNode = recordNode->parent();
  if (recordNode == nullptr || Level(recordNode) != 1) return false;
  const QString dateText = recordNode->text(0).left(10);
  std::int32_t day = 0;
  if (!hdb::ParseDateText(QStringToAnsi(dateText), day))
    throw hdb::EDatabaseError(hdb::Format(hdb::DatasetTexts::InvalidDateValue, QStringToAnsi(dateText)));
  return store_->LocateRecord(QStringToAnsi(TreeView1->topLevelItem(0)->text(0)), day);
}

std::optional<store::TServiceRecord> TForm1::RecordOfNode(QTreeWidgetItem* node) {
  if (node == nullptr || !LocateRecordByNode(node)) return std::nullopt;
  return store_->CurrentRecord();
}

// ---- record editor --------------------------------------------------------------------

void TForm1::MarkInvalid(QWidget* field) {
  QPalette palette = field->palette();
  for (QPalette::ColorRole role : {QPalette::Base, QPalette::Button, QPalette::Window})
    palette.setColor(role, ColorRef(InvalidFieldColor));
  field->setPalette(palette);
}

void TForm1::ClearMark(QWidget* field) { field->setPalette(field->parentWidget()->palette()); }

void TForm1::THNDCBClick() {
  if (!THNDCB->isChecked()) NHNDEdt->setText(AnsiToQString(settings_.AliasName()));
}

void TForm1::N1Click() {
  editorState_ = EditorState::esAdd;
  TreeView1->setEnabled(false);
  ShowEditor();
  THNDCB->setChecked(true);
  MLGEdt->setText("0");
  SSTATCB->setCurrentIndex(0);
  for (int i = 0; i < SSTATLB->count(); ++i) SSTATLB->item(i)->setCheckState(Qt::Unchecked);
}

void TForm1::N2Click() {
  QTreeWidgetItem* node = SelectedNode();
  if (node == nullptr) return;
  if (!LocateRecordByNode(node)) {
    dialogs_.ShowMessage("Record not found.", EditorCaption, TMessageIcon::Error);
    return;
  }
  const store::TServiceRecord record = store_->CurrentRecord();
  editBookmark_ = store_->CurrentBookmark();
  MLGEdt->setText(QString::number(record.MLG));
  DATTP->setDate(DateOfDay(record.DAT));
  THNDCB->setChecked(record.THND != 0);
  NHNDEdt->setText(AnsiToQString(record.NHND));  // the stored number wins over the alias
  for (int bit = 0; bit < SSTATLB->count(); ++bit)
    SSTATLB->item(bit)->setCheckState(store::HasItem(record.SSTAT, bit) ? Qt::Checked : Qt::Unchecked);
  SSTATCB->setCurrentIndex(store::StatusOf(record.SSTAT) - 1);
  SaveBtn->setEnabled(true);
  editorState_ = EditorState::esEdit;
  AddLog(LogKind::System, "Edit record - " + record.FG + " in " + hdb::DateText(record.DAT));
  ShowEditor();
  TreeView1->setEnabled(false);
}

void TForm1::N3Click() {
  editorState_ = EditorState::esDelete;
  QTreeWidgetItem* node = SelectedNode();
  if (node == nullptr) return;
  if (!LocateRecordByNode(node)) {
    dialogs_.ShowMessage("Record not found", EditorCaption, TMessageIcon::Error);
    return;
  }
  if (dialogs_.Ask("Delete This Record?", headunit::AppCaption, TMessageIcon::Question,
                   headunit::TDialogButtons::OkCancel) != headunit::TDialogAnswer::Ok)
    return;
  const store::TServiceRecord record = store_->CurrentRecord();
  AddLog(LogKind::System, "Record was delete - " + record.FG + " in " + hdb::DateText(record.DAT));
  store_->DeleteCurrent();
  ReloadVinList();
  ShowHistory();
}

void TForm1::SaveBtnClick() { SaveRecord(); }

void TForm1::SaveRecord() {
  auto warn = [this](QWidget* field, const std::string& text) {
    if (field != nullptr) MarkInvalid(field);
    dialogs_.ShowMessage(text, EditorCaption, TMessageIcon::Warning);
  };
  if (FGListCB->currentText().size() != store::VinLength)
    return warn(FGListCB, "Select from the list or write the full VIN (17 char)");
  if (NHNDEdt->text().isEmpty())
    return warn(NHNDEdt, "Alias name is empty.\n\rInsert the agent number or unchecked dealer.");
  if (SSTATCB->currentIndex() < 0) return warn(SSTATCB, "Maintenance is Empty. ");
  if (MLGEdt->text().isEmpty()) return warn(MLGEdt, "Mielage is Empty. ");

  const std::string vin = QStringToAnsi(FGListCB->currentText());
  const std::int32_t day = DayOfDate(DATTP->date());
  if (editorState_ == EditorState::esAdd) {
    const store::TAddScan scan = store_->ScanVehicle(vin, day);
    if (scan.collision)
      return warn(DATTP,
                  "Collision detected  in Date! \n\rAdding new record is not possible.\n\r"
                  "Use editing or change the date.");
    const std::int32_t mileage = store::MileageFromText(QStringToAnsi(MLGEdt->text()));
    if (scan.highest >= mileage &&
        dialogs_.Ask("Mileage is less or equal of the found records (" + std::to_string(scan.newestMileage) + "km)" +
                         "\n\r" + "If you specify a lower value, you may have mistake in Service History.",
                     EditorCaption, TMessageIcon::Warning,
                     headunit::TDialogButtons::AbortIgnore) == headunit::TDialogAnswer::Abort)
      return;
  }
  std::uint16_t items = 0;
  for (int bit = 0; bit < SSTATLB->count(); ++bit)
    if (SSTATLB->item(bit)->checkState() == Qt::Checked) items |= static_cast<std::uint16_t>(1u << bit);
  if (items == 0) return warn(nullptr, "You should select some Maintenance items.");
  if (editorState_ != EditorState::esAdd && editorState_ != EditorState::esEdit) {
    store_->CancelRecord();
    return;
  }

  store::TServiceRecord record;
  record.FG = vin;
  record.DAT = day;
  // Converted before the table is touched: a text that is no number leaves nothing
  // pending that a later change of the view could post.
  record.MLG = store::MileageFromText(QStringToAnsi(MLGEdt->text()));
  record.THND = THNDCB->isChecked() ? 1 : 0;
  record.NHND = QStringToAnsi(NHNDEdt->text()).substr(0, store::AgentNumberLength);
  record.SSTAT = store::PackServiceStatus(static_cast<std::uint16_t>(SSTATCB->currentIndex() + 1), items);
  if (editorState_ == EditorState::esAdd) {
    store_->Insert(record);
  } else {
    assert(editBookmark_.has_value());
    store_->Update(*editBookmark_, record);
  }
  // The editor starts the next record afresh.
  MLGEdt->setText("0");
  SSTATCB->setCurrentIndex(0);
  for (int i = 0; i < SSTATLB->count(); ++i) SSTATLB->item(i)->setCheckState(Qt::Unchecked);
  if (editorState_ == EditorState::esAdd)
    AddLog(LogKind::System, "Added new record - " + record.FG + " in " + hdb::DateText(record.DAT));

  TreeView1->setEnabled(true);
  ReloadVinList();
  ShowHistory();
  HideEditor();
  editorState_ = EditorState::esIdle;
  editBookmark_.reset();
}

// ---- history transfer ---------------------------------------------------------------------

void TForm1::N6Click() {
  QTreeWidgetItem* node = SelectedNode();
  if (node == nullptr) return;
  const std::optional<store::TServiceRecord> record = RecordOfNode(node);
  if (!record) {
    dialogs_.ShowMessage("Record not found", headunit::AppCaption, TMessageIcon::Error);
    return;
  }
  headunit::SendCurrentService(headUnit_, *record);
}

void TForm1::N7Click() {
  // Only the vehicle the tree shows: its filter is set again, whatever the VIN box did
  // to the table's view since, and its records are read before the first is sent.
  if (TreeView1->topLevelItemCount() == 0) return;
  const std::string vin = QStringToAnsi(TreeView1->topLevelItem(0)->text(0));
  if (vin.empty()) return;
  store_->FilterVehicle(vin);
  const std::vector<store::TServiceRecord> records = store_->NewestFirst();
  headunit::TTransferPolicy policy;
  policy.rebootAfterEach = settings_.RebootAfterEach();
  policy.rebootAfterLast = settings_.RebootAfterLast();
  headunit::SendFullServiceList(headUnit_, records, policy, *this);
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

// The main window driven through its menus and controls, with the real libapi32.so
// behind it: start-up, the log, the panel slide, connect, reboot, erase, the partner
// data and the settings dialog, and the general error handler.
#include "main_window_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <stdexcept>

#include "app/halvarin_application.h"
#include "history_test.h"
#include "settings/programm_config_form.h"
#include "window_fixture.h"

using app::TForm1;
using headunit::TDialogAnswer;
using headunit::TMessageIcon;
using uitest::TWindowFixture;

namespace {

constexpr char Vin[] = "WBAPH71090A123456";
const std::string PartnerBlock = "ID;0xD0D5;Auto Service;Main Street 1;Berlin;Germany;030123;;Auto Service;;;";

std::vector<std::string> Strings(std::initializer_list<const char*> items) {
  return std::vector<std::string>(items.begin(), items.end());
}

settings::TAppSettings WorkshopSettings() {
  settings::TAppSettings record;
  record.SetText(settings::TSettingsText::Name, "Auto Service");
  record.SetText(settings::TSettingsText::Telephone, "030123");
  record.SetText(settings::TSettingsText::Country, "Germany");
  record.SetText(settings::TSettingsText::City, "Berlin");
  record.SetText(settings::TSettingsText::Street, "Main Street 1");
  record.SetText(settings::TSettingsText::AliasName, "4711001");
  return record;
}

// Connects to the car, answering the new-VIN question with Cancel.
void ConnectAndStay(TWindowFixture& f) {
  f.dialogs.answers.push_back(TDialogAnswer::Cancel);
  f.form->ConnecttoHeadUnit1->trigger();
  QVERIFY(f.dialogs.answers.empty());
}

// The runtime calls as "init, job, job x5, end": repeated tries of one job counted.
QString CallSummary(const std::vector<std::string>& calls) {
  QStringList summary;
  for (std::size_t i = 0; i < calls.size();) {
    std::size_t same = i;
    while (same < calls.size() && calls[same] == calls[i]) ++same;
    const QString name = QString::fromStdString(calls[i]);
    summary << (same - i > 1 ? name + " x" + QString::number(same - i) : name);
    i = same;
  }
  return summary.join(", ");
}

// Whether the widget at the point of the upper area belongs to `panel`.
bool PanelOnTop(TForm1& form, QWidget* panel, QPoint at) {
  QWidget* hit = form.Panel1->childAt(at);
  return hit != nullptr && (hit == panel || panel->isAncestorOf(hit));
}

}  // namespace

void MainWindowTest::init() { application_ = static_cast<app::THalvarinApplication*>(QCoreApplication::instance()); }

void MainWindowTest::logLinesCarryTimeKindAndMessage() {
  TWindowFixture f;
  TForm1& form = f.Open();
  f.clock.now = {9, 5, 7, 42};
  form.AddLog(headunit::LogKind::System, "Start");
  form.AddLog(headunit::LogKind::Process, "Reboot - OK");
  f.clock.now = {23, 59, 59, 999};
  form.AddLog(headunit::LogKind::Error, "Reboot failure.");
  form.AddLog(headunit::LogKind::System, "Partner M\xFCller");  // Windows-1252
  QCOMPARE(form.LogMemo->toPlainText(), QString::fromUtf8("09.05.07.042 - [System] - Start\n"
                                                          "09.05.07.042 - [Process] - Reboot - OK\n"
                                                          "23.59.59.999 - [Error] - Reboot failure.\n"
                                                          "23.59.59.999 - [System] - Partner Müller"));
}

void MainWindowTest::startsWithTheDesignedWindow() {
  TWindowFixture f;
  TForm1& form = f.Open();
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  QVERIFY(f.dialogs.shown.empty());
  QCOMPARE(form.windowTitle(), QString("Halvarin - 0.1.0.3 [Private build]"));
  QCOMPARE(form.size(), QSize(574, 550));
  const QSize vehiclePanel = form.Panel4->size();
  const QSize historyPanel = form.Panel3->size();
  form.resize(300, 300);
  QCOMPARE(form.size(), QSize(512, 550));
  form.resize(900, 900);
  QCOMPARE(form.size(), QSize(700, 750));
  QCoreApplication::processEvents();
  // The vehicle panel grows with the height, the history panel also with the width;
  // the log area keeps within its bounds.
  QCOMPARE(form.Panel4->width(), vehiclePanel.width());
  QVERIFY(form.Panel4->height() > vehiclePanel.height());
  QVERIFY(form.Panel3->width() > historyPanel.width() && form.Panel3->height() > historyPanel.height());
  QVERIFY(form.Panel2->height() >= 60 && form.Panel2->height() <= 150);
  QCOMPARE(form.ProgressBar1->width(), form.Panel1->width());
  form.resize(574, 550);
  QCoreApplication::processEvents();

  QVERIFY(form.ConnecttoHeadUnit1->isEnabled() && form.Exit1->isEnabled() && form.Settings1->isEnabled());
  for (QAction* off : {form.ClearservicehistoryMenu, form.RebootMenu, form.TransfertoHU1->menuAction(),
                       form.Montagemode1->menuAction(), form.Parkingbrake1, form.Constructor1, form.Verifydataset1,
                       form.Repairdatabase1, form.N2, form.N3, form.N4, form.N5->menuAction()})
    QVERIFY2(!off->isEnabled(), qPrintable(off->text()));
  QVERIFY(form.N1->isEnabled());

  QCOMPARE(form.FGNRLbl->text(), QString("..."));
  QCOMPARE(form.MlgLbl->text(), QString("..."));
  QCOMPARE(form.HUTLbl->text(), QString("..."));
  QVERIFY(!form.CBSGroupBox->isEnabled());
  QCOMPARE(form.FGListCB->currentText(), QString(" "));
  QCOMPARE(form.FGListCB->count(), 0);
  QCOMPARE(form.TreeView1->indentation(), 19);
  QCOMPARE(form.ProgressBar1->value(), 0);
  QCOMPARE(form.ProgressBar1->height(), 13);
  QCOMPARE(form.ProgressBar1->palette().color(QPalette::Highlight), QColor(0, 0x80, 0));
  QCOMPARE(form.LogMemo->palette().color(QPalette::Base), QColor(0xFF, 0xFF, 0xAE));
  QVERIFY(form.LogMemo->isReadOnly());
  QCOMPARE(form.Panel2->minimumHeight(), 60);
  QCOMPARE(form.Panel2->maximumHeight(), 150);
  QCOMPARE(form.Panel1->minimumHeight(), 310);
  QCOMPARE(form.Splitter1->handleWidth(), 6);
  QVERIFY(form.editorState() == app::EditorState::esAdd);

  // The editor waits under the history panel, neither visible nor usable.
  QCOMPARE(form.Panel4->pos(), QPoint(10, 20));
  QCOMPARE(form.Panel6->geometry(), QRect(230, 20, 210, 331));
  QVERIFY(!form.Panel6->isEnabled());
  QVERIFY(PanelOnTop(form, form.Panel3, form.Panel6->geometry().center()));
  QVERIFY(PanelOnTop(form, form.Panel4, QPoint(60, 200)));
  QVERIFY(form.THNDCB->isChecked());
  QCOMPARE(form.MLGEdt->text(), QString("0"));
  QCOMPARE(form.DATTP->date(), QDate(2020, 11, 2));
  QCOMPARE(form.SSTATCB->currentText(), QString("Service carried out"));
  QCOMPARE(form.SSTATLB->count(), 14);
  QCOMPARE(form.SSTATLB->item(7)->text(), QString("Brake fluid"));

  form.Exit1->trigger();
  QVERIFY(!form.isVisible());
}

void MainWindowTest::slideControl_data() {
  QTest::addColumn<int>("start");
  QTest::addColumn<int>("target");
  QTest::addColumn<int>("steps");
  QTest::addColumn<int>("end");
  QTest::newRow("into the left column") << 230 << 10 << 20 << 10;
  QTest::newRow("out of the left column") << 10 << 230 << 20 << 230;
  QTest::newRow("where it stands") << 10 << 10 << 1 << 10;
  QTest::newRow("a short distance still arrives") << 22 << 10 << 7 << 15;
}

void MainWindowTest::slideControl() {
  QFETCH(int, start);
  QFETCH(int, target);
  QFETCH(int, steps);
  QFETCH(int, end);
  TWindowFixture f;
  TForm1& form = f.Open();
  form.Panel6->move(start, form.Panel6->y());
  form.SlideControl(form.Panel6, target);
  std::vector<std::uint32_t> expected(static_cast<std::size_t>(steps), 5);
  expected.push_back(150);
  QVERIFY(f.clock.sleeps == expected);
  QCOMPARE(form.Panel6->x(), end);
  QCOMPARE(form.Panel6->isEnabled(), end == 10);
}

void MainWindowTest::missingRuntimeLibraryShowsUpOnlyOnConnect() {
  TWindowFixture f;
  TForm1& form = f.Open("libapi32-absent.so");
  QList<int> progress;
  connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { progress << v; });
  QVERIFY(f.dialogs.shown.empty());
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(f.Log(), QStringList{"[Error] - Runtime not loaded - libapi32-absent.so: cannot open shared object file: "
                                "No such file or directory"});
  QVERIFY(f.dialogs.shown.empty());
  QVERIFY(progress.isEmpty());
  QVERIFY(f.calls.empty());
  QVERIFY(!form.RebootMenu->isEnabled() && !form.ClearservicehistoryMenu->isEnabled());
}

void MainWindowTest::runtimeThatWillNotStart() {
  TWindowFixture f;
  f.car.Write("[RUNTIME]\nINIT = fail\n");
  TForm1& form = f.Open();
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(f.Log(), QStringList{"[Error] - Ediabas.ini - interface not correct"});
  QVERIFY(f.calls == Strings({"init"}));
}

void MainWindowTest::connectReadsTheCarAndOffersTheNewVin() {
  TWindowFixture f;
  TForm1& form = f.Open();
  QList<int> progress;
  connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { progress << v; });
  ConnectAndStay(f);
  QCOMPARE(progress, (QList<int>{1, 5, 6, 10, 11, 0}));
  QCOMPARE(form.ProgressBar1->maximum(), 15);
  QCOMPARE(f.Log(), (QStringList{"[System] - FGNR : WBAPH71090A123456", "[System] - CPS correct"}));
  QCOMPARE(form.FGNRLbl->text(), QString(Vin));
  QCOMPARE(form.MlgLbl->text(), QString("87412"));
  QCOMPARE(form.MLGEdt->text(), QString("87412"));
  QCOMPARE(form.HUTLbl->text(), QString("CIC_R"));
  QVERIFY(f.jobs == Strings({"status_fahrgestellnummer ", "status_kilometerstand ", "cps_lesen "}));
  QVERIFY(f.calls == Strings({"init", "status_fahrgestellnummer", "status_kilometerstand", "cps_lesen", "end"}));
  QVERIFY(form.RebootMenu->isEnabled() && form.ClearservicehistoryMenu->isEnabled());
  QVERIFY(!form.TransfertoHU1->menuAction()->isEnabled());

  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(f.dialogs.shown[0].text, std::string("New FGNR : WBAPH71090A123456\n\rAdd to database?"));
  QVERIFY(f.dialogs.shown[0].icon == TMessageIcon::Information);
  // Cancel: nothing more happens.
  QCOMPARE(form.FGListCB->currentText(), QString(" "));
  QCOMPARE(form.Panel6->x(), 230);
  QVERIFY(f.clock.sleeps.empty());
}

void MainWindowTest::connectNewVinOpensTheEditor() {
  TWindowFixture f;
  TForm1& form = f.Open();
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(form.FGListCB->currentText(), QString(Vin));
  QVERIFY(form.editorState() == app::EditorState::esAdd);
  QCOMPARE(form.Panel4->x(), 230);
  QCOMPARE(form.Panel6->x(), 10);
  QVERIFY(form.Panel6->isEnabled());
  QCOMPARE(form.MLGEdt->text(), QString("87412"));
  std::vector<std::uint32_t> slide(20, 5);
  slide.push_back(150);
  std::vector<std::uint32_t> expected = slide;
  expected.insert(expected.end(), slide.begin(), slide.end());
  QVERIFY(f.clock.sleeps == expected);
}

void MainWindowTest::cancelSlidesTheEditorBack() {
  TWindowFixture f;
  TForm1& form = f.Open();
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(form.Panel6->x(), 10);
  form.MLGEdt->setText("90000");
  f.clock.sleeps.clear();

  QTest::mouseClick(form.CloseBtn, Qt::LeftButton);
  // The editor slides out first, then the vehicle panel in.
  std::vector<std::uint32_t> slide(20, 5);
  slide.push_back(150);
  std::vector<std::uint32_t> expected = slide;
  expected.insert(expected.end(), slide.begin(), slide.end());
  QVERIFY(f.clock.sleeps == expected);
  QCOMPARE(form.Panel6->x(), 230);
  QCOMPARE(form.Panel4->x(), 10);
  QVERIFY(!form.Panel6->isEnabled());
  QVERIFY(PanelOnTop(form, form.Panel3, form.Panel6->geometry().center()));
  QVERIFY(PanelOnTop(form, form.Panel4, QPoint(60, 200)));
  QVERIFY(form.editorState() == app::EditorState::esIdle);
  QVERIFY(form.TreeView1->isEnabled());
  QCOMPARE(form.MLGEdt->text(), QString("90000"));  // the fields keep their contents
  QCOMPARE(form.FGListCB->currentText(), QString(Vin));
  QVERIFY(f.dialogs.answers.empty());
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});

  // The editor can be opened again.
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(form.Panel6->x(), 10);
  QVERIFY(form.editorState() == app::EditorState::esAdd);
}

void MainWindowTest::connectOutcomes_data() {
  QTest::addColumn<QString>("faults");
  QTest::addColumn<QList<int>>("progress");
  QTest::addColumn<QStringList>("log");
  QTest::addColumn<bool>("enabled");
  QTest::addColumn<QString>("question");
  // VIN, mileage and head-unit type as the vehicle panel shows them afterwards.
  QTest::addColumn<QStringList>("labels");
  const QStringList carRead = {Vin, "87412", "CIC_R"};

  QTest::newRow("every attempt fails")
      << "[G_CAS]\nstatus_fahrgestellnummer.fail_first = 5\nstatus_kilometerstand.fail_first = 5\n"
         "[G_MMI]\ncps_lesen.fail_first = 5\ncps_lesen.fail_text = SIM: no answer from G_MMI\n"
      << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 0}
      << QStringList{"[Error] - SIM: no answer from G_MMI"} << false << "" << QStringList{"...", "...", "..."};
  QTest::newRow("VIN unreadable, stamp read")
      << "[G_CAS]\nstatus_fahrgestellnummer.fail_first = 5\n" << QList<int>{1, 2, 3, 4, 5, 6, 10, 11, 0}
      << QStringList{"[Error] - CPS not correct"} << true << "New FGNR : \n\rAdd to database?"
      << QStringList{"...", "87412", "CIC_R"};
  QTest::newRow("stamp of another car")
      << "[G_MMI]\nCPS = Z999999\n" << QList<int>{1, 5, 6, 10, 11, 0}
      << QStringList{"[System] - FGNR : WBAPH71090A123456", "[Error] - CPS not correct"} << true
      << "New FGNR : WBAPH71090A123456\n\rAdd to database?" << carRead;
  QTest::newRow("empty stamp") << "[G_MMI]\nCPS =\n" << QList<int>{1, 5, 6, 10, 11, 0}
                               << QStringList{"[System] - FGNR : WBAPH71090A123456", "[Error] - CPS not correct"}
                               << true << "New FGNR : WBAPH71090A123456\n\rAdd to database?" << carRead;
  QTest::newRow("an empty mileage is read at once")
      << "[G_CAS]\nKILOMETERSTAND =\n" << QList<int>{1, 5, 6, 10, 11, 0}
      << QStringList{"[System] - FGNR : WBAPH71090A123456", "[System] - CPS correct"} << true
      << "New FGNR : WBAPH71090A123456\n\rAdd to database?" << QStringList{Vin, "", "CIC_R"};
  QTest::newRow("each job on a later try")
      << "[G_CAS]\nstatus_fahrgestellnummer.fail_first = 1\nstatus_kilometerstand.fail_first = 4\n"
         "[G_MMI]\ncps_lesen.fail_first = 2\n"
      << QList<int>{1, 2, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0}
      << QStringList{"[System] - FGNR : WBAPH71090A123456", "[System] - CPS correct"} << true
      << "New FGNR : WBAPH71090A123456\n\rAdd to database?" << carRead;
}

void MainWindowTest::connectOutcomes() {
  QFETCH(QString, faults);
  QFETCH(QList<int>, progress);
  QFETCH(QStringList, log);
  QFETCH(bool, enabled);
  QFETCH(QString, question);
  QFETCH(QStringList, labels);
  TWindowFixture f;
  f.car.Write(faults.toStdString());
  TForm1& form = f.Open();
  QList<int> seen;
  connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { seen << v; });
  f.dialogs.answers.push_back(TDialogAnswer::Cancel);
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(seen, progress);
  QCOMPARE(f.Log(), log);
  QCOMPARE(form.RebootMenu->isEnabled(), enabled);
  QCOMPARE(form.ClearservicehistoryMenu->isEnabled(), enabled);
  QCOMPARE(f.dialogs.Texts(), question.isEmpty() ? std::vector<std::string>{}
                                                 : std::vector<std::string>{question.toStdString()});
  QCOMPARE((QStringList{form.FGNRLbl->text(), form.MlgLbl->text(), form.HUTLbl->text()}), labels);
}

void MainWindowTest::failedConnectDisablesTheHeadUnitCommands() {
  TWindowFixture f;
  TForm1& form = f.Open();
  ConnectAndStay(f);
  QVERIFY(form.RebootMenu->isEnabled());
  form.TransfertoHU1->menuAction()->setEnabled(true);  // as a selected history node leaves it
  f.car.Write("[G_MMI]\ncps_lesen.fail_first = 5\n");
  form.ConnecttoHeadUnit1->trigger();
  QVERIFY(!form.RebootMenu->isEnabled());
  QVERIFY(!form.ClearservicehistoryMenu->isEnabled());
  QVERIFY(!form.TransfertoHU1->menuAction()->isEnabled());
  QCOMPARE(f.Log().last(), QString("[Error] - SIM: no response from control unit"));
}

void MainWindowTest::rebootTries_data() {
  QTest::addColumn<QString>("faults");
  QTest::addColumn<QStringList>("log");
  QTest::addColumn<int>("tries");
  const QStringList fiveTries = {"[Process] - Try reboot 1", "[Process] - Try reboot 2", "[Process] - Try reboot 3",
                                 "[Process] - Try reboot 4", "[Process] - Try reboot 5", "[Error] - Reboot failure."};
  QTest::newRow("acknowledged at once") << "" << QStringList{"[Process] - Reboot - OK"} << 1;
  QTest::newRow("acknowledged on try 3")
      << "[G_MMI]\nsteuergeraete_reset.fail_first = 2\n"
      << QStringList{"[Process] - Try reboot 1", "[Process] - Try reboot 2", "[Process] - Reboot - OK"} << 3;
  QTest::newRow("never acknowledged") << "[G_MMI]\nsteuergeraete_reset.fail_first = 5\n" << fiveTries << 5;
  QTest::newRow("another response byte") << "[G_MMI]\nRESET_RESPONSE = 0x7F\n" << fiveTries << 5;
  QTest::newRow("no response") << "[G_MMI]\nRESET_RESPONSE = none\n" << fiveTries << 5;
}

void MainWindowTest::rebootTries() {
  QFETCH(QString, faults);
  QFETCH(QStringList, log);
  QFETCH(int, tries);
  TWindowFixture f;
  f.car.Write(faults.toStdString());
  TForm1& form = f.Open();
  ConnectAndStay(f);
  const qsizetype mark = f.Log().size();
  f.jobs.clear();
  f.calls.clear();
  form.RebootMenu->trigger();
  QCOMPARE(f.LogSince(mark), log);
  QCOMPARE(f.jobs, std::vector<std::string>(static_cast<std::size_t>(tries), "steuergeraete_reset "));
  std::vector<std::string> calls(static_cast<std::size_t>(tries), "steuergeraete_reset");
  calls.insert(calls.begin(), "init");
  calls.push_back("end");
  QVERIFY(f.calls == calls);
  QVERIFY(f.clock.sleeps.empty());  // no pause between tries
}

void MainWindowTest::eraseHistory_data() {
  QTest::addColumn<bool>("rebootAfterClean");
  QTest::addColumn<QString>("faults");
  QTest::addColumn<bool>("confirm");
  QTest::addColumn<QStringList>("log");
  QTest::addColumn<QString>("entriesLeft");
  // The runtime as the erase uses it; a reset after the erase starts and ends the
  // runtime within the erase's own start and end.
  QTest::addColumn<QStringList>("calls");
  const QString erase = "steuern_servicehistory_erase";
  const QString reset = "steuergeraete_reset";
  QTest::newRow("erase") << false << "" << true << QStringList{"[System] - Service history erase - OKAY"} << "0"
                         << QStringList{"init", erase, "end"};
  QTest::newRow("erase, then reboot")
      << true << "" << true << QStringList{"[System] - Service history erase - OKAY", "[Process] - Reboot - OK"}
      << "0" << QStringList{"init", erase, "init", reset, "end", "end"};
  QTest::newRow("erase, then a reboot on its third try")
      << true << "[G_MMI]\nsteuergeraete_reset.fail_first = 2\n" << true
      << QStringList{"[System] - Service history erase - OKAY", "[Process] - Try reboot 1", "[Process] - Try reboot 2",
                     "[Process] - Reboot - OK"}
      << "0" << QStringList{"init", erase, "init", reset, reset, reset, "end", "end"};
  QTest::newRow("erase on the last try")
      << false << "[G_MMI]\nsteuern_servicehistory_erase.fail_first = 4\n" << true
      << QStringList{"[System] - Service history erase - OKAY"} << "0"
      << QStringList{"init", erase, erase, erase, erase, erase, "end"};
  QTest::newRow("cancelled") << true << "" << false << QStringList{} << "2" << QStringList{};
  QTest::newRow("erase fails five times")
      << true << "[G_MMI]\nsteuern_servicehistory_erase.fail_first = 5\nsteuern_servicehistory_erase.fail_text = SIM: busy\n"
      << true << QStringList{"[Error] - Service history erase - SIM: busy"} << "2"
      << QStringList{"init", erase, erase, erase, erase, erase, "end"};
}

void MainWindowTest::eraseHistory() {
  QFETCH(bool, rebootAfterClean);
  QFETCH(QString, faults);
  QFETCH(bool, confirm);
  QFETCH(QStringList, log);
  QFETCH(QString, entriesLeft);
  QFETCH(QStringList, calls);
  TWindowFixture f;
  settings::TAppSettings record;
  record.SetFlag(settings::TSettingsFlag::RebootAfterClean, rebootAfterClean);
  f.WriteSettings(record);
  f.car.Write(faults.toStdString());
  f.car.WriteState("[G_MMI]\nHISTORY_COUNT = 2\nHISTORY_1 = 1;1;2020;0;100;1;A;0x1;0;\n"
                   "HISTORY_2 = 2;1;2020;0;200;1;A;0x1;0;\n");
  TForm1& form = f.Open();
  ConnectAndStay(f);
  const qsizetype mark = f.Log().size();
  f.dialogs.shown.clear();
  f.calls.clear();
  f.dialogs.answers.push_back(confirm ? TDialogAnswer::Ok : TDialogAnswer::Cancel);
  form.ClearservicehistoryMenu->trigger();
  QCOMPARE(f.dialogs.Texts(), std::vector<std::string>{"Service history will be delete.\n\rAre you sure?"});
  QCOMPARE(f.LogSince(mark), log);
  QStringList issued;
  for (const std::string& call : f.calls) issued << QString::fromStdString(call);
  QCOMPARE(issued, calls);
  QCOMPARE(QString::fromStdString(f.car.State("HISTORY_COUNT")), entriesLeft);
}

void MainWindowTest::syncronizeWritesTheSettingsThenThePartnerData() {
  TWindowFixture f;
  TForm1& form = f.Open();
  settings::TProgrammConfigForm& dialog = *form.ProgrammConfigForm();
  dialog.show();
  dialog.NSDEdt->setText("Auto Service");
  dialog.TSDEdt->setText("030123");
  dialog.CoSDEdt->setText("Germany");
  dialog.CiSDEdt->setText("Berlin");
  dialog.SSDEdt->setText("Main Street 1");
  bool settingsWrittenFirst = false;
  bool firstCall = true;
  f.beforeCall = [&](const headunit::TApiCall&) {
    if (!firstCall) return;
    firstCall = false;
    std::ifstream in(f.SettingsPath(), std::ios::binary);
    std::string head(13, '\0');
    in.read(head.data(), 13);
    settingsWrittenFirst = head == "\x0C" "Auto Service";
  };
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  bool visibleDuringSync = false;
  f.dialogs.onShow = [&](const uitest::TShownDialog&) { visibleDuringSync = dialog.isVisible(); };
  QTest::mouseClick(dialog.SendSDBtn, Qt::LeftButton);

  QVERIFY(settingsWrittenFirst);
  QVERIFY(visibleDuringSync);
  QVERIFY(!dialog.isVisible());
  QCOMPARE(f.dialogs.Texts(), (std::vector<std::string>{"Data is not equal.\n\rTransfer?", "tlf", PartnerBlock}));
  QCOMPARE(f.Log(), (QStringList{"[Process] - Telephone number - OK", "[Process] - Partner Data - OK"}));
  QVERIFY(f.jobs == (std::vector<std::string>{"status_lesen ID;0xD0D5", "lesen_telefonnummern ",
                                               "schreiben_telefonnummern 0800111 ;030123;0800222 ;0800333 ;",
                                               "steuern " + PartnerBlock}));
  QVERIFY(f.calls == Strings({"init", "status_lesen", "lesen_telefonnummern", "schreiben_telefonnummern", "steuern",
                              "end"}));
  QCOMPARE(f.car.State("PARTNER_BLOCK"), PartnerBlock);
  QCOMPARE(f.car.State("NR_HEIMATHAENDLER"), std::string("030123"));
  QCOMPARE(f.car.State("NR_BEREITSCHAFTSDIENST"), std::string("0800111"));
  QCOMPARE(f.car.State("NR_PASSO"), std::string("0800222"));
  QCOMPARE(f.car.State("NR_HOTLINE"), std::string("0800333"));
}

void MainWindowTest::syncronizeWithoutRuntimeLibrary() {
  // The settings are applied; the partner data are not reported as written, since
  // nothing could be sent.
  TWindowFixture f;
  TForm1& form = f.Open("libapi32-absent.so");
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  settings::TProgrammConfigForm& dialog = *form.ProgrammConfigForm();
  dialog.show();
  dialog.NSDEdt->setText("Auto Service");
  dialog.TSDEdt->setText("030123");
  QTest::mouseClick(dialog.SendSDBtn, Qt::LeftButton);
  QVERIFY(f.dialogs.shown.empty());
  QCOMPARE(f.Log(), QStringList{"[Error] - Runtime not loaded - libapi32-absent.so: cannot open shared object file: "
                                "No such file or directory"});
  QVERIFY(f.calls.empty());
  QVERIFY(!f.car.HasState());
  QVERIFY(!dialog.isVisible());
  QCOMPARE(form.appSettings().Name(), std::string("Auto Service"));
  std::ifstream in(f.SettingsPath(), std::ios::binary);
  std::string head(13, '\0');
  in.read(head.data(), 13);
  QCOMPARE(head, std::string("\x0C" "Auto Service"));
}

void MainWindowTest::damagedSettingsTextReachesTheUnitWhole() {
  // A length byte beyond the name's capacity: the name still ends before the field's
  // zero padding, in the dialog, in App.cfg after Apply and in what the unit receives.
  TWindowFixture f;
  settings::TAppSettings record = WorkshopSettings();
  record.Bytes()[0] = 200;
  f.WriteSettings(record);
  TForm1& form = f.Open();
  settings::TProgrammConfigForm& dialog = *form.ProgrammConfigForm();
  dialog.show();
  QCOMPARE(dialog.NSDEdt->text(), QString("Auto Service"));
  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  QTest::mouseClick(dialog.SendSDBtn, Qt::LeftButton);
  QCOMPARE(f.Log(), (QStringList{"[Process] - Telephone number - OK", "[Process] - Partner Data - OK"}));
  QCOMPARE(CallSummary(f.calls),
           QString("init, status_lesen, lesen_telefonnummern, schreiben_telefonnummern, steuern, end"));
  QCOMPARE(f.car.State("PARTNER_BLOCK"), PartnerBlock);
  std::ifstream in(f.SettingsPath(), std::ios::binary);
  std::string head(13, '\0');
  in.read(head.data(), 13);
  QCOMPARE(head, std::string("\x0C" "Auto Service"));
}

void MainWindowTest::partnerCheck_data() {
  QTest::addColumn<QString>("car");
  QTest::addColumn<bool>("confirm");
  QTest::addColumn<QStringList>("dialogs");
  QTest::addColumn<QStringList>("writes");
  QTest::addColumn<QStringList>("log");
  // The runtime's start, its jobs (with the number of tries) and its end.
  QTest::addColumn<QString>("calls");
  const QString read = "init, status_lesen, lesen_telefonnummern";
  const QString sameUnit = "[G_MMI]\nPARTNER_NAME = Auto Service\nPARTNER_TELEPHONE = 030123\n";
  QTest::newRow("unit holds the settings") << sameUnit + "NR_HEIMATHAENDLER = 030123\n" << true << QStringList{}
                                           << QStringList{} << QStringList{} << read + ", end";
  QTest::newRow("only the home-dealer number differs")
      << sameUnit << true
      << QStringList{"Data is not equal.\n\rTransfer?", "tlf", QString::fromStdString(PartnerBlock)}
      << QStringList{"schreiben_telefonnummern 0800111 ;030123;0800222 ;0800333 ;",
                     QString::fromStdString("steuern " + PartnerBlock)}
      << QStringList{"[Process] - Telephone number - OK", "[Process] - Partner Data - OK"}
      << read + ", schreiben_telefonnummern, steuern, end";
  QTest::newRow("only the telephone differs")
      << "[G_MMI]\nPARTNER_NAME = Auto Service\nNR_HEIMATHAENDLER = 030123\n" << true
      << QStringList{"Data is not equal.\n\rTransfer?", "tlf", QString::fromStdString(PartnerBlock)}
      << QStringList{"schreiben_telefonnummern 0800111 ;030123;0800222 ;0800333 ;",
                     QString::fromStdString("steuern " + PartnerBlock)}
      << QStringList{"[Process] - Telephone number - OK", "[Process] - Partner Data - OK"}
      << read + ", schreiben_telefonnummern, steuern, end";
  QTest::newRow("the user declines") << "" << false << QStringList{"Data is not equal.\n\rTransfer?"} << QStringList{}
                                     << QStringList{} << read + ", end";
  QTest::newRow("unreadable partner record, numbers differ")
      << "[G_MMI]\nstatus_lesen.fail_first = 5\n" << true
      << QStringList{"Data is not equal.\n\rTransfer?", "tlf", QString::fromStdString(PartnerBlock)}
      << QStringList{"schreiben_telefonnummern 0800111 ;030123;0800222 ;0800333 ;",
                     QString::fromStdString("steuern " + PartnerBlock)}
      << QStringList{"[Process] - Telephone number - OK", "[Process] - Partner Data - OK"}
      << "init, status_lesen x5, lesen_telefonnummern, schreiben_telefonnummern, steuern, end";
  // Numbers that could not be read are not written back as empty ones.
  QTest::newRow("unreadable numbers are left alone")
      << "[G_MMI]\nlesen_telefonnummern.fail_first = 5\n" << true
      << QStringList{"Data is not equal.\n\rTransfer?", QString::fromStdString(PartnerBlock)}
      << QStringList{QString::fromStdString("steuern " + PartnerBlock)}
      << QStringList{"[Error] - Telephone number - not read from the head unit, not written",
                     "[Process] - Partner Data - OK"}
      << "init, status_lesen, lesen_telefonnummern x5, steuern, end";
  QTest::newRow("writes that keep failing")
      << "[G_MMI]\nschreiben_telefonnummern.fail_first = 5\nsteuern.fail_first = 5\n" << true
      << QStringList{"Data is not equal.\n\rTransfer?"}
      << QStringList{"schreiben_telefonnummern 0800111 ;030123;0800222 ;0800333 ;",
                     QString::fromStdString("steuern " + PartnerBlock)}
      << QStringList{} << read + ", schreiben_telefonnummern x5, steuern x5, end";
}

void MainWindowTest::partnerCheck() {
  QFETCH(QString, car);
  QFETCH(bool, confirm);
  QFETCH(QStringList, dialogs);
  QFETCH(QStringList, writes);
  QFETCH(QStringList, log);
  QFETCH(QString, calls);
  TWindowFixture f;
  f.WriteSettings(WorkshopSettings());
  f.car.Write(car.toStdString());
  TForm1& form = f.Open();
  f.dialogs.answers.push_back(confirm ? TDialogAnswer::Ok : TDialogAnswer::Cancel);
  settings::TProgrammConfigForm& dialog = *form.ProgrammConfigForm();
  dialog.show();
  QTest::mouseClick(dialog.SendSDBtn, Qt::LeftButton);

  QStringList shown;
  for (const std::string& text : f.dialogs.Texts()) shown << QString::fromStdString(text);
  QCOMPARE(shown, dialogs);
  QStringList written;
  for (const std::string& job : f.jobs)
    if (job.rfind("schreiben_telefonnummern", 0) == 0 || job.rfind("steuern ", 0) == 0)
      written << QString::fromStdString(job);
  written.removeDuplicates();  // failing tries repeat the same write
  QCOMPARE(written, writes);
  QCOMPARE(CallSummary(f.calls), calls);
  QCOMPARE(f.Log(), log);
  // What the head unit holds afterwards.
  if (log.contains("[Process] - Partner Data - OK")) {
    QCOMPARE(f.car.State("PARTNER_BLOCK"), PartnerBlock);
    QCOMPARE(f.car.State("NR_BEREITSCHAFTSDIENST"), std::string("0800111"));
    QCOMPARE(f.car.State("NR_HEIMATHAENDLER"),
             std::string(log.contains("[Process] - Telephone number - OK") ? "030123" : "0899999"));
  } else {
    QVERIFY(!f.car.HasState());
  }
}

void MainWindowTest::connectChecksThePartnerDataBeforeTheVinLookup() {
  TWindowFixture f;
  settings::TAppSettings record = WorkshopSettings();
  record.SetFlag(settings::TSettingsFlag::VerifyPartnerData, true);
  f.WriteSettings(record);
  TForm1& form = f.Open();
  f.dialogs.answers = {TDialogAnswer::Cancel, TDialogAnswer::Cancel};
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(f.dialogs.Texts(), (std::vector<std::string>{"Data is not equal.\n\rTransfer?",
                                                        "New FGNR : WBAPH71090A123456\n\rAdd to database?"}));
  // Without a successful connect there is no partner check.
  f.dialogs.shown.clear();
  f.car.Write("[G_MMI]\ncps_lesen.fail_first = 5\n");
  form.ConnecttoHeadUnit1->trigger();
  QVERIFY(f.dialogs.shown.empty());
}

void MainWindowTest::settingsMenuShowsTheDialogModally() {
  TWindowFixture f;
  TForm1& form = f.Open();
  bool wasModal = false;
  QTimer::singleShot(0, [&] {
    settings::TProgrammConfigForm* dialog = form.ProgrammConfigForm();
    wasModal = dialog->isVisible() && dialog->isModal();
    dialog->NSDEdt->setText("Service");
    dialog->ReClCB->setChecked(true);
    QTest::mouseClick(dialog->ApplyBtn, Qt::LeftButton);
  });
  form.Settings1->trigger();
  QVERIFY(wasModal);
  QVERIFY(!form.ProgrammConfigForm()->isVisible());
  QCOMPARE(form.appSettings().Name(), std::string("Service"));
  QVERIFY(form.appSettings().RebootAfterClean());
  std::ifstream in(f.SettingsPath(), std::ios::binary);
  std::string head(8, '\0');
  in.read(head.data(), 8);
  QCOMPARE(head, std::string("\x07Service"));
}

void MainWindowTest::startWithoutSettingsFileReportsItOnce() {
  TWindowFixture f;
  std::filesystem::remove(f.SettingsPath());
  TForm1& form = f.Open();
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin - EFOpenError"));
  QCOMPARE(f.dialogs.shown[0].text, "Cannot open file \"" + f.SettingsPath() + "\". No such file or directory");
  QCOMPARE(form.windowTitle(), QString("Halvarin - 0.1.0.3 [Private build]"));
  QVERIFY(form.appSettings().Name().empty() && !form.appSettings().VerifyPartnerData());
  form.ProgrammConfigForm()->show();
  QTest::mouseClick(form.ProgrammConfigForm()->ApplyBtn, Qt::LeftButton);
  QVERIFY(std::filesystem::file_size(f.SettingsPath()) == 274);
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
}

void MainWindowTest::uncaughtErrorsAreShownAndTheProgramGoesOn() {
  TWindowFixture f;
  TForm1& form = f.Open();
  application_->SetErrorDialogs(&f.dialogs);
  QPushButton trouble("Trouble", &form);
  int clicks = 0;
  connect(&trouble, &QPushButton::clicked, [&] {
    ++clicks;
    throw std::runtime_error("'12a' is not a valid integer value");
  });
  form.show();
  QTest::mouseClick(&trouble, Qt::LeftButton);
  QTest::mouseClick(&trouble, Qt::LeftButton);
  application_->SetErrorDialogs(nullptr);
  QCOMPARE(clicks, 2);
  QCOMPARE(f.dialogs.shown.size(), std::size_t{2});
  QCOMPARE(f.dialogs.shown[0].text, std::string("'12a' is not a valid integer value"));
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin"));
  QVERIFY(f.dialogs.shown[0].icon == TMessageIcon::Error);
  form.AddLog(headunit::LogKind::System, "still running");
  QCOMPARE(f.Log().last(), QString("[System] - still running"));
}

void ScreenshotTest::rendersTheWindowsIntoTheBuildFolder() {
  const QString folder = QStringLiteral(HALVARIN_SCREENSHOT_DIR);
  QVERIFY(QDir().mkpath(folder));
  TWindowFixture f;
  f.WriteSettings(WorkshopSettings());
  TForm1& form = f.Open();
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  ConnectAndStay(f);
  form.AddLog(headunit::LogKind::Process, "Reboot - OK");
  const QImage window = form.grab().toImage();
  QCOMPARE(window.size(), QSize(574, 550));
  QVERIFY(window.save(folder + "/main-window.png"));

  f.dialogs.answers.push_back(TDialogAnswer::Ok);
  form.ConnecttoHeadUnit1->trigger();
  QCOMPARE(form.Panel6->x(), 10);
  QVERIFY(form.grab().toImage().save(folder + "/main-window-editor.png"));

  settings::TProgrammConfigForm& dialog = *form.ProgrammConfigForm();
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  const QImage settingsPicture = dialog.grab().toImage();
  QCOMPARE(settingsPicture.size(), QSize(294, 362));
  QVERIFY(settingsPicture.save(folder + "/settings-dialog.png"));
  dialog.hide();
}

void ScreenshotTest::rendersTheDemoFolderAfterAConnect() {
  // The demo folder as the run command prepares it: connect finds the car among the
  // vehicles and shows its history.
  const QString folder = QStringLiteral(HALVARIN_SCREENSHOT_DIR);
  QVERIFY(QDir().mkpath(folder));
  TWindowFixture f;
  const uitest::TToolRun demo = uitest::RunHdbTool({"demo", QString::fromStdString(f.dir.Path().string()), "--force"});
  QCOMPARE(demo.exitCode, 0);
  ::setenv("EDIABAS_SIM", f.dir.File("ediabas-sim.ini").c_str(), 1);
  TForm1& form = f.Open();
  QVERIFY(f.dialogs.shown.empty());
  QVERIFY(form.FGListCB->count() > 20);
  form.show();
  QVERIFY(QTest::qWaitForWindowExposed(&form));
  form.ConnecttoHeadUnit1->trigger();
  QVERIFY(f.dialogs.shown.empty());
  QCOMPARE(form.FGListCB->currentText(), form.FGNRLbl->text());
  QTreeWidgetItem* root = form.TreeView1->topLevelItem(0);
  QVERIFY(root != nullptr && root->text(0) == form.FGNRLbl->text() && root->childCount() > 3);
  root->child(0)->setExpanded(true);
  QVERIFY(form.grab().toImage().save(folder + "/main-window-demo-history.png"));
}

int main(int argc, char** argv) {
  app::THalvarinApplication application(argc, argv);
  int status = 0;
  {
    MainWindowTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    HistoryViewTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    RecordEditorTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    HistoryTransferTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  {
    ScreenshotTest test;
    status |= QTest::qExec(&test, argc, argv);
  }
  return status;
}

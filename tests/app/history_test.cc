// The window on its store: start-up on a missing or damaged Data.hdb or on one whose
// last commit was interrupted (the repair question and its wait window), the VIN list and
// the history tree, the VIN box's keys, the tree's clicks, the end of the connect, the
// record editor with its warnings, and the history transfer into the simulated head
// unit. Everything goes through the window's controls, the real engine on a real file
// and the real libapi32.so.
#include "history_test.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

#include "app/halvarin_application.h"
#include "store/service_status.h"
#include "store/service_store.h"
#include "window_fixture.h"

using app::EditorState;
using app::TForm1;
using headunit::TDialogAnswer;
using headunit::TMessageIcon;
using store::TServiceRecord;
using uitest::Day;
using uitest::TWindowFixture;

namespace {

constexpr char CarVin[] = "WBAPH71090A123456";  // the standard simulated car
constexpr char VinA[] = "WBA11111111111111";
constexpr char VinB[] = "WBA22222222222222";
constexpr char VinC[] = "WBS70000000000003";

constexpr std::uint16_t EngineOil = 1u << 0;
constexpr std::uint16_t BrakeFluid = 1u << 7;
constexpr std::uint16_t VehicleCheck = 1u << 9;

TServiceRecord Record(const char* vin, std::int32_t day, std::int64_t mileage, std::uint16_t sstat,
                      std::uint16_t dealer = 1, const char* agent = "4711001") {
  return TServiceRecord{vin, day, mileage, dealer, agent, sstat};
}

void Put(TWindowFixture& f, const std::vector<TServiceRecord>& records) {
  const std::string refused = uitest::PutRecords(f.StorePath(), records);
  QVERIFY2(refused.empty(), refused.c_str());
}

TForm1& OpenShown(TWindowFixture& f) {
  TForm1& form = f.Open();
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) qWarning("window not exposed");
  return form;
}

// Types into the VIN box, replacing its text, one key at a time.
void TypeVin(TForm1& form, const QString& text) {
  form.FGListCB->lineEdit()->selectAll();
  QTest::keyClicks(form.FGListCB->lineEdit(), text);
}

// The tree as indented lines: the root, its records one blank in, items two blanks in.
QStringList TreeLines(TForm1& form) {
  QStringList lines;
  std::function<void(QTreeWidgetItem*, int)> walk = [&](QTreeWidgetItem* node, int level) {
    lines << QString(level, ' ') + node->text(0);
    for (int i = 0; i < node->childCount(); ++i) walk(node->child(i), level + 1);
  };
  for (int i = 0; i < form.TreeView1->topLevelItemCount(); ++i) walk(form.TreeView1->topLevelItem(i), 0);
  return lines;
}

QStringList VinList(TForm1& form) {
  QStringList items;
  for (int i = 0; i < form.FGListCB->count(); ++i) items << form.FGListCB->itemText(i);
  return items;
}

QTreeWidgetItem* RecordNode(TForm1& form, int record) { return form.TreeView1->topLevelItem(0)->child(record); }

void Click(TForm1& form, QTreeWidgetItem* node, Qt::MouseButton button = Qt::LeftButton) {
  form.TreeView1->doItemsLayout();  // the tree lays its items out lazily
  QTest::mouseClick(form.TreeView1->viewport(), button, {}, form.TreeView1->visualItemRect(node).center());
}

// Selects a node the way a user does: a first click selects, the next one enables the
// record commands.
void Select(TForm1& form, QTreeWidgetItem* node) {
  Click(form, node);
  Click(form, node);
}

bool RecordCommandsEnabled(TForm1& form) {
  const bool edit = form.N2->isEnabled();
  const bool consistent = form.N3->isEnabled() == edit && form.N5->menuAction()->isEnabled() == edit &&
                          form.TransfertoHU1->menuAction()->isEnabled() == edit;
  if (!consistent) qWarning("the four record commands disagree");
  return edit && consistent;
}

bool Marked(QWidget* field) {
  return field->palette().color(QPalette::Base) == QColor(0xFF, 0x80, 0x80);
}

// A valid new record in the editor after "Add new record".
void FillEditor(TForm1& form, const QDate& date, const QString& mileage, int status, std::uint16_t items,
                const QString& agent = "4711001") {
  form.NHNDEdt->setText(agent);
  form.DATTP->setDate(date);
  form.MLGEdt->setText(mileage);
  form.SSTATCB->setCurrentIndex(status);
  for (int bit = 0; bit < form.SSTATLB->count(); ++bit)
    form.SSTATLB->item(bit)->setCheckState((items >> bit & 1u) != 0 ? Qt::Checked : Qt::Unchecked);
}

void Save(TForm1& form) { QTest::mouseClick(form.SaveBtn, Qt::LeftButton); }

// A CSV line of the tool's dump: FG,DAT,MLG,THND,NHND,SSTAT.
QString Line(const char* vin, const char* date, std::int64_t mileage, int dealer, const char* agent, int sstat) {
  return QString("%1,%2,%3,%4,%5,%6").arg(vin, date).arg(mileage).arg(dealer).arg(agent).arg(sstat);
}

// Closes the window (the file is free again) and runs the tool's check on it.
void CloseAndCheck(TWindowFixture& f) {
  f.form.reset();
  const uitest::TToolRun check = uitest::RunHdbTool({"check", QString::fromStdString(f.StorePath())});
  QVERIFY2(check.exitCode == 0, qPrintable(check.out));
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

// ---- start-up, VIN list, tree ---------------------------------------------------------

void HistoryViewTest::init() {
  application_ = static_cast<app::THalvarinApplication*>(QCoreApplication::instance());
}

void HistoryViewTest::startUpWithoutUsableStore_data() {
  QTest::addColumn<int>("damage");
  QTest::newRow("missing") << 0;
  QTest::newRow("not a database") << 1;
  QTest::newRow("empty file") << 2;
  QTest::newRow("store with a broken header") << 3;
}

void HistoryViewTest::startUpWithoutUsableStore() {
  QFETCH(int, damage);
  TWindowFixture f;
  if (damage != 3) std::filesystem::remove(f.StorePath());
  if (damage == 1) std::ofstream(f.StorePath(), std::ios::binary) << std::string(5000, 'x');
  if (damage == 2) std::ofstream(f.StorePath(), std::ios::binary).flush();
  if (damage == 3) {
    std::fstream file(f.StorePath(), std::ios::binary | std::ios::in | std::ios::out);
    file.write("\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 16);
  }
  const bool exists = damage != 0;
  const std::string before = ReadFile(f.StorePath());
  TForm1& form = f.Open();
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(f.dialogs.shown[0].text, f.StorePath() + " - does not exist.");
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin  - EHDBException"));
  QVERIFY(f.dialogs.shown[0].icon == TMessageIcon::Error);
  QCOMPARE(form.FGListCB->count(), 0);
  QVERIFY(!form.serviceStore().IsOpen());
  // The rest of the start-up still ran.
  QCOMPARE(form.windowTitle(), QString("Halvarin - 0.1.0.3 [Private build]"));
  QVERIFY(form.ediabasApi().RuntimeLoaded());
  f.form.reset();
  QCOMPARE(std::filesystem::exists(f.StorePath()), exists);
  QVERIFY(ReadFile(f.StorePath()) == before);
  QVERIFY(!std::filesystem::exists(f.StorePath() + "-journal"));
}

void HistoryViewTest::startUpAfterAnInterruptedCommit_data() {
  QTest::addColumn<bool>("repair");
  QTest::addColumn<bool>("copyBlocked");
  QTest::newRow("yes repairs") << true << false;
  QTest::newRow("no leaves the file") << false << false;
  QTest::newRow("repair that cannot finish") << true << true;
}

void HistoryViewTest::startUpAfterAnInterruptedCommit() {
  QFETCH(bool, repair);
  QFETCH(bool, copyBlocked);
  TWindowFixture f;
  Put(f, {Record(VinB, Day(2020, 1, 1), 100, 16385), Record(VinA, Day(2021, 2, 3), 2000, 16386),
          Record(VinB, Day(2022, 3, 4), 300, 16387)});
  const QStringList records = uitest::DumpRecords(f.StorePath());
  QCOMPARE(records.size(), 3);
  QVERIFY(uitest::MarkCommitInterrupted(f.StorePath()));
  const std::string copy = f.StorePath() + ".tmp";
  // Something in the copy's place that a file cannot replace.
  if (copyBlocked) std::filesystem::create_directories(copy + "/inside");
  const std::string before = ReadFile(f.StorePath());
  f.dialogs.answers.push_back(repair ? TDialogAnswer::Yes : TDialogAnswer::No);

  TForm1& form = f.Open();
  QVERIFY(!f.dialogs.shown.empty());
  const uitest::TShownDialog& question = f.dialogs.shown[0];
  QCOMPARE(question.text,
           std::string("Database file was not correctly closed last time. Do you want to repair it?"));
  QCOMPARE(question.caption, std::string("Halvarin"));
  QVERIFY(question.question && !question.unscripted);
  QVERIFY(question.icon == TMessageIcon::Question);

  if (!repair) {
    // The file is used as it is: the list comes up from it and nothing is written.
    QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
    QVERIFY(f.dialogs.waits.empty());
    QCOMPARE(VinList(form), (QStringList{VinA, VinB}));
    f.form.reset();
    QVERIFY(ReadFile(f.StorePath()) == before);
    QVERIFY(!std::filesystem::exists(copy));
    QVERIFY(!std::filesystem::exists(f.StorePath() + "-journal"));
    return;
  }

  // The wait window opens with its caption and is closed whatever became of the repair.
  QVERIFY(f.dialogs.waits.size() >= 2);
  QCOMPARE(f.dialogs.waits.front(), std::string("begin Repairing Database..."));
  QCOMPARE(f.dialogs.waits.back(), std::string("end"));

  if (copyBlocked) {
    // The repair's failure is the start-up's one message; the original stays as it was.
    QCOMPARE(f.dialogs.shown.size(), std::size_t{2});
    QCOMPARE(f.dialogs.shown[1].text, f.StorePath() + " - does not exist.");
    QCOMPARE(f.dialogs.shown[1].caption, std::string("Halvarin  - EHDBException"));
    QCOMPARE(form.FGListCB->count(), 0);
    QVERIFY(!form.serviceStore().IsOpen());
    f.form.reset();
    QVERIFY(ReadFile(f.StorePath()) == before);
    QVERIFY(std::filesystem::is_directory(copy + "/inside"));
    return;
  }

  // In between it climbs to 100 percent of the records copied.
  std::vector<int> percents;
  for (std::size_t i = 1; i + 1 < f.dialogs.waits.size(); ++i) percents.push_back(std::stoi(f.dialogs.waits[i]));
  QVERIFY(!percents.empty());
  QVERIFY(std::is_sorted(percents.begin(), percents.end()));
  QCOMPARE(percents.back(), 100);
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(VinList(form), (QStringList{VinA, VinB}));
  QVERIFY(form.serviceStore().IsOpen());
  QVERIFY(!std::filesystem::exists(copy));
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), records);
}

void HistoryViewTest::vinListIsSortedWithoutDuplicates() {
  TWindowFixture f;
  Put(f, {Record(VinC, Day(2020, 1, 1), 100, 16385), Record(VinB, Day(2020, 1, 1), 100, 16385),
          Record(VinC, Day(2021, 1, 1), 200, 16385), Record(VinA, Day(2020, 5, 1), 300, 16385),
          Record(VinB, Day(2019, 1, 1), 50, 16385)});
  TForm1& form = f.Open();
  QVERIFY(f.dialogs.shown.empty());
  QCOMPARE(VinList(form), (QStringList{VinA, VinB, VinC}));
  QCOMPARE(form.FGListCB->currentText(), QString(" "));  // the box's text is left alone
  QCOMPARE(form.TreeView1->topLevelItemCount(), 0);
}

void HistoryViewTest::treeShowsNewestFirstWithItemsInBitOrder() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 3, 5), 10000, store::PackServiceStatus(2, BrakeFluid | EngineOil)),
          Record(VinB, Day(2022, 1, 1), 5000, 16385),
          Record(VinA, Day(2021, 6, 1), 30000, store::PackServiceStatus(1, VehicleCheck))});
  TForm1& form = OpenShown(f);
  TypeVin(form, QString(VinA).left(16));
  QCOMPARE(form.TreeView1->topLevelItemCount(), 0);  // 16 characters show nothing yet
  QTest::keyClick(form.FGListCB->lineEdit(), VinA[16]);
  QCOMPARE(TreeLines(form), (QStringList{VinA, " 01.06.2021 - 30000", "  Vehicle check", " 05.03.2020 - 10000",
                                         "  Engine oil", "  Brake fluid"}));
  QTreeWidgetItem* root = form.TreeView1->topLevelItem(0);
  QVERIFY(root->isExpanded());
  QVERIFY(!root->child(0)->isExpanded() && !root->child(1)->isExpanded());
  QCOMPARE(form.FGListCB->palette().color(QPalette::Base), QColor(Qt::white));

  // A VIN without records: an empty root and nothing under it.
  TypeVin(form, "WBA99999999999999");
  QCOMPARE(TreeLines(form), QStringList{""});
}

void HistoryViewTest::vinBoxKeys() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 100, 16385), Record(VinB, Day(2020, 1, 1), 100, 16385),
          Record(VinC, Day(2020, 1, 1), 300, 16385), Record(VinC, Day(2021, 1, 1), 400, 16385)});
  TForm1& form = OpenShown(f);
  QLineEdit* edit = form.FGListCB->lineEdit();
  TypeVin(form, VinB);
  QCOMPARE(TreeLines(form).size(), 3);
  QVERIFY(form.serviceStore().HDBTable1.Filtered());

  // Space empties the box, swallows itself and leaves the tree; every key switches the
  // filter off.
  QTest::keyClick(edit, Qt::Key_Space);
  QCOMPARE(form.FGListCB->currentText(), QString());
  QCOMPARE(TreeLines(form), (QStringList{VinB, " 01.01.2020 - 100", "  Engine oil"}));
  QVERIFY(!form.serviceStore().HDBTable1.Filtered());

  // Enter finds the first entry holding the typed text, marks where it stands and
  // shows that vehicle. Typed text is upper-cased.
  QTest::keyClicks(edit, "s7");
  QCOMPARE(form.FGListCB->currentText(), QString("S7"));
  QTest::keyClick(edit, Qt::Key_Return);
  QCOMPARE(form.FGListCB->currentText(), QString(VinC));
  QCOMPARE(edit->selectionStart(), 2);
  QCOMPARE(edit->selectedText(), QString("S7"));
  QCOMPARE(TreeLines(form).first(), QString(VinC));
  QCOMPARE(form.TreeView1->topLevelItem(0)->childCount(), 2);

  // Without a hit nothing happens.
  QTest::keyClick(edit, Qt::Key_Space);
  QTest::keyClicks(edit, "Q");
  QTest::keyClick(edit, Qt::Key_Enter);
  QCOMPARE(form.FGListCB->currentText(), QString("Q"));
  QCOMPARE(TreeLines(form).first(), QString(VinC));
  QVERIFY(f.dialogs.shown.empty());
}

void HistoryViewTest::treeClicksEnableTheRecordCommands() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 100, 16385 | BrakeFluid), Record(VinA, Day(2021, 1, 1), 200, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);
  QTreeWidgetItem* root = form.TreeView1->topLevelItem(0);
  QTreeWidgetItem* newest = RecordNode(form, 0);
  QTreeWidgetItem* older = RecordNode(form, 1);
  older->setExpanded(true);
  QTreeWidgetItem* item = older->child(1);

  // The first click, with nothing selected yet, selects but enables nothing.
  Click(form, newest);
  QVERIFY(form.TreeView1->currentItem() == newest);
  QVERIFY(!RecordCommandsEnabled(form));
  // With a selection, a right click selects the record under the pointer and enables.
  Click(form, older, Qt::RightButton);
  QVERIFY(form.TreeView1->currentItem() == older);
  QVERIFY(RecordCommandsEnabled(form));
  QVERIFY(form.N1->isEnabled());
  Click(form, root);
  QVERIFY(!RecordCommandsEnabled(form));
  Click(form, item, Qt::RightButton);
  QVERIFY(form.TreeView1->currentItem() == item);
  QVERIFY(RecordCommandsEnabled(form));
  // Below the last node: the selection goes, and the commands with it.
  QTest::mouseClick(form.TreeView1->viewport(), Qt::LeftButton, {},
                    QPoint(5, form.TreeView1->viewport()->height() - 3));
  QVERIFY(form.TreeView1->selectedItems().isEmpty());
  QVERIFY(!RecordCommandsEnabled(form));

  // A new tree takes the selection, and what the commands would act on, away.
  Select(form, newest);
  QVERIFY(RecordCommandsEnabled(form));
  TypeVin(form, VinA);
  QVERIFY(!RecordCommandsEnabled(form));
}

void HistoryViewTest::connectOpensTheVehicleHistory() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 100, 16385), Record(CarVin, Day(2019, 4, 1), 61000, 16385 | BrakeFluid),
          Record(CarVin, Day(2020, 4, 1), 80000, 16385)});
  TForm1& form = OpenShown(f);
  form.ConnecttoHeadUnit1->trigger();
  QVERIFY(f.dialogs.shown.empty());  // a known VIN: no question
  QCOMPARE(form.FGListCB->currentText(), QString(CarVin));
  QCOMPARE(form.FGListCB->currentIndex(), 1);
  QCOMPARE(form.FGListCB->palette().color(QPalette::Base), QColor(Qt::white));
  QCOMPARE(TreeLines(form), (QStringList{CarVin, " 01.04.2020 - 80000", "  Engine oil", " 01.04.2019 - 61000",
                                         "  Engine oil", "  Brake fluid"}));
  QCOMPARE(form.Panel6->x(), 230);  // the editor stays where it is
}

// ---- record editor ----------------------------------------------------------------------

void RecordEditorTest::init() {
  application_ = static_cast<app::THalvarinApplication*>(QCoreApplication::instance());
}

void RecordEditorTest::saveWarnsInOrder_data() {
  // Row k breaks field k and every later one: only the first warning shows.
  QTest::addColumn<int>("broken");
  QTest::addColumn<QString>("warning");
  QTest::newRow("16-character VIN") << 0 << "Select from the list or write the full VIN (17 char)";
  QTest::newRow("agent number empty") << 1 << "Alias name is empty.\n\rInsert the agent number or unchecked dealer.";
  QTest::newRow("no status") << 2 << "Maintenance is Empty. ";
  QTest::newRow("mileage empty") << 3 << "Mielage is Empty. ";
  QTest::newRow("date of another record")
      << 4 << "Collision detected  in Date! \n\rAdding new record is not possible.\n\rUse editing or change the date.";
  QTest::newRow("no item") << 5 << "You should select some Maintenance items.";
}

void RecordEditorTest::saveWarnsInOrder() {
  QFETCH(int, broken);
  QFETCH(QString, warning);
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);
  form.N1->trigger();
  FillEditor(form, QDate(2021, 1, 1), "20000", 0, EngineOil);
  QWidget* marks[] = {form.FGListCB, form.NHNDEdt, form.SSTATCB, form.MLGEdt, form.DATTP, nullptr};
  for (int k = broken; k < 6; ++k) {
    switch (k) {
      case 0: form.FGListCB->setEditText(QString(VinA).left(16)); break;
      case 1: form.NHNDEdt->clear(); break;
      case 2: form.SSTATCB->setCurrentIndex(-1); break;
      case 3: form.MLGEdt->clear(); break;
      case 4: form.DATTP->setDate(QDate(2020, 1, 1)); break;
      case 5: FillEditor(form, form.DATTP->date(), form.MLGEdt->text(), form.SSTATCB->currentIndex(), 0,
                         form.NHNDEdt->text()); break;
    }
  }
  f.dialogs.shown.clear();
  Save(form);
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(QString::fromStdString(f.dialogs.shown[0].text), warning);
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin "));
  QVERIFY(f.dialogs.shown[0].icon == TMessageIcon::Warning);
  for (QWidget* field : marks)
    if (field != nullptr) QCOMPARE(Marked(field), field == marks[broken]);
  // Nothing written; the editor stays open.
  QVERIFY(form.editorState() == EditorState::esAdd);
  QCOMPARE(form.Panel6->x(), 10);
  if (marks[broken] != nullptr && marks[broken] != form.FGListCB) {
    // Entering the field (clicking the agent number) takes the mark away.
    if (marks[broken] == form.NHNDEdt) {
      QTest::mouseClick(form.NHNDEdt, Qt::LeftButton);
    } else {
      QFocusEvent enter(QEvent::FocusIn);
      QCoreApplication::sendEvent(marks[broken], &enter);
    }
    QVERIFY(!Marked(marks[broken]));
  }
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), QStringList{Line(VinA, "2020-01-01", 10000, 1, "4711001", 16385)});
}

void RecordEditorTest::mileageQuestion_data() {
  QTest::addColumn<QString>("vin");
  QTest::addColumn<QString>("mileage");
  QTest::addColumn<QString>("question");  // "" = none
  QTest::addColumn<bool>("ignore");
  QTest::addColumn<bool>("stored");
  const QString below = "Mileage is less or equal of the found records (50000km)\n\r"
                        "If you specify a lower value, you may have mistake in Service History.";
  QTest::newRow("45 000 against 50 000, abort") << VinA << "45000" << below << false << false;
  QTest::newRow("45 000 against 50 000, ignore") << VinA << "45000" << below << true << true;
  QTest::newRow("equal to the highest") << VinA << "52000" << below << true << true;
  QTest::newRow("one more") << VinA << "52001" << "" << false << true;
  QTest::newRow("first record at 0")
      << VinB << "0"
      << "Mileage is less or equal of the found records (0km)\n\r"
         "If you specify a lower value, you may have mistake in Service History."
      << true << true;
}

void RecordEditorTest::mileageQuestion() {
  QFETCH(QString, vin);
  QFETCH(QString, mileage);
  QFETCH(QString, question);
  QFETCH(bool, ignore);
  QFETCH(bool, stored);
  TWindowFixture f;
  // The highest mileage (52 000) is not the newest record's (50 000): the question names
  // the newest.
  Put(f, {Record(VinA, Day(2019, 1, 1), 52000, 16385), Record(VinA, Day(2020, 1, 1), 50000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, vin);
  form.N1->trigger();
  FillEditor(form, QDate(2021, 1, 1), mileage, 0, EngineOil);
  f.dialogs.answers.push_back(ignore ? TDialogAnswer::Ignore : TDialogAnswer::Abort);
  Save(form);
  if (question.isEmpty()) {
    QVERIFY(f.dialogs.shown.empty());
  } else {
    QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
    QCOMPARE(QString::fromStdString(f.dialogs.shown[0].text), question);
    QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin "));
  }
  QCOMPARE(form.editorState() == EditorState::esIdle, stored);
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()).join("\n").contains("2021-01-01"), stored);
}

void RecordEditorTest::addStoresTheStatusWordAndRefreshesTheView() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinB);
  form.N1->trigger();
  QVERIFY(!form.TreeView1->isEnabled());
  QCOMPARE(form.Panel6->x(), 10);
  FillEditor(form, QDate(2021, 3, 5), "45000", 1, EngineOil | BrakeFluid);  // "Carried out late"
  f.clock.now = {9, 5, 7, 42};
  Save(form);
  QVERIFY(f.dialogs.shown.empty());
  QCOMPARE(f.Log().last(), QString("[System] - Added new record - WBA22222222222222 in 05.03.2021"));
  // The editor is back under the history panel, ready for the next record.
  QCOMPARE(form.Panel6->x(), 230);
  QVERIFY(form.TreeView1->isEnabled());
  QVERIFY(form.editorState() == EditorState::esIdle);
  QCOMPARE(form.MLGEdt->text(), QString("0"));
  QCOMPARE(form.SSTATCB->currentIndex(), 0);
  for (int i = 0; i < form.SSTATLB->count(); ++i) QCOMPARE(form.SSTATLB->item(i)->checkState(), Qt::Unchecked);
  QCOMPARE(VinList(form), (QStringList{VinA, VinB}));
  QCOMPARE(TreeLines(form), (QStringList{VinB, " 05.03.2021 - 45000", "  Engine oil", "  Brake fluid"}));
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), (QStringList{Line(VinA, "2020-01-01", 10000, 1, "4711001", 16385),
                                                           Line(VinB, "2021-03-05", 45000, 1, "4711001", 32897)}));
}

void RecordEditorTest::dateCollisionRefusedOnAddAllowedOnEdit() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385), Record(VinA, Day(2021, 1, 1), 20000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);
  form.N1->trigger();
  FillEditor(form, QDate(2021, 1, 1), "30000", 0, EngineOil);
  Save(form);
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QVERIFY(f.dialogs.shown[0].text.rfind("Collision detected", 0) == 0);
  QTest::mouseClick(form.CloseBtn, Qt::LeftButton);

  // Editing the older record onto the newer one's date is not refused.
  f.dialogs.shown.clear();
  Select(form, RecordNode(form, 1));
  form.N2->trigger();
  QVERIFY(form.editorState() == EditorState::esEdit);
  QCOMPARE(form.DATTP->date(), QDate(2020, 1, 1));
  QCOMPARE(form.MLGEdt->text(), QString("10000"));
  QCOMPARE(f.Log().last(), QString("[System] - Edit record - WBA11111111111111 in 01.01.2020"));
  form.DATTP->setDate(QDate(2021, 1, 1));
  Save(form);
  QVERIFY(f.dialogs.shown.empty());
  QVERIFY(form.editorState() == EditorState::esIdle);
  QVERIFY(!f.Log().last().contains("Added"));  // an edit writes no log line
  QCOMPARE(TreeLines(form), (QStringList{VinA, " 01.01.2021 - 20000", "  Engine oil", " 01.01.2021 - 10000",
                                         "  Engine oil"}));
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()).size(), 2);
}

void RecordEditorTest::dealerBoxAndTheAliasName() {
  TWindowFixture f;
  settings::TAppSettings record;
  record.SetText(settings::TSettingsText::AliasName, "AGENT0042");
  f.WriteSettings(record);
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385, 0, "X77")});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);
  form.N1->trigger();
  form.NHNDEdt->setText("1234567");
  QTest::mouseClick(form.THNDCB, Qt::LeftButton);
  QVERIFY(!form.THNDCB->isChecked());
  QCOMPARE(form.NHNDEdt->text(), QString("AGENT0042"));
  form.NHNDEdt->setText("1234567");
  QTest::mouseClick(form.THNDCB, Qt::LeftButton);  // checking changes nothing
  QCOMPARE(form.NHNDEdt->text(), QString("1234567"));

  // Saved with the box unchecked: the alias name, cut to the field's 7 characters.
  QTest::mouseClick(form.THNDCB, Qt::LeftButton);
  FillEditor(form, QDate(2021, 1, 1), "20000", 0, EngineOil, form.NHNDEdt->text());
  Save(form);
  QVERIFY(f.dialogs.shown.empty());

  // Loading a record of a third party leaves the box unchecked and the record's number.
  Select(form, RecordNode(form, 1));
  form.N2->trigger();
  QVERIFY(!form.THNDCB->isChecked());
  QCOMPARE(form.NHNDEdt->text(), QString("X77"));
  QTest::mouseClick(form.CloseBtn, Qt::LeftButton);
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), (QStringList{Line(VinA, "2020-01-01", 10000, 0, "X77", 16385),
                                                           Line(VinA, "2021-01-01", 20000, 0, "AGENT00", 16385)}));
}

void RecordEditorTest::editAndDeleteKeepTheFileConsistent() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385), Record(VinA, Day(2021, 1, 1), 20000, 16385),
          Record(VinB, Day(2020, 6, 1), 5000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);

  // Edit the newer record through one of its item nodes.
  RecordNode(form, 0)->setExpanded(true);
  Select(form, RecordNode(form, 0)->child(0));
  form.N2->trigger();
  FillEditor(form, QDate(2021, 1, 2), "21000", 2, EngineOil | VehicleCheck, "9999");
  Save(form);
  QCOMPARE(TreeLines(form), (QStringList{VinA, " 02.01.2021 - 21000", "  Engine oil", "  Vehicle check",
                                         " 01.01.2020 - 10000", "  Engine oil"}));

  // Delete asks; Cancel changes nothing, OK deletes.
  Select(form, RecordNode(form, 1));
  f.dialogs.answers = {TDialogAnswer::Cancel};
  form.N3->trigger();
  QVERIFY(form.editorState() == EditorState::esDelete);
  QCOMPARE(f.dialogs.Texts(), std::vector<std::string>{"Delete This Record?"});
  QCOMPARE(form.TreeView1->topLevelItem(0)->childCount(), 2);
  Select(form, RecordNode(form, 1));
  f.dialogs.answers = {TDialogAnswer::Ok};
  form.N3->trigger();
  QCOMPARE(f.Log().last(), QString("[System] - Record was delete - WBA11111111111111 in 01.01.2020"));
  QCOMPARE(TreeLines(form), (QStringList{VinA, " 02.01.2021 - 21000", "  Engine oil", "  Vehicle check"}));
  Select(form, RecordNode(form, 0));
  f.dialogs.answers = {TDialogAnswer::Ok};
  form.N3->trigger();
  QCOMPARE(TreeLines(form), QStringList{""});
  QCOMPARE(VinList(form), QStringList{VinB});  // the vehicle's last record took its VIN along
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), QStringList{Line(VinB, "2020-06-01", 5000, 1, "4711001", 16385)});
}

void RecordEditorTest::editSavesTheLoadedRecordWhateverTheViewBecame() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385), Record(VinB, Day(2019, 1, 1), 7000, 16385)});
  TForm1& form = OpenShown(f);
  TypeVin(form, VinA);
  Select(form, RecordNode(form, 0));
  form.N2->trigger();
  // While the editor is open another vehicle is shown; the table moves to its records.
  TypeVin(form, VinB);
  QCOMPARE(TreeLines(form).first(), QString(VinB));
  form.FGListCB->setEditText(VinA);
  form.MLGEdt->setText("11000");
  Save(form);
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), (QStringList{Line(VinA, "2020-01-01", 11000, 1, "4711001", 16385),
                                                           Line(VinB, "2019-01-01", 7000, 1, "4711001", 16385)}));
}

void RecordEditorTest::mileageThatIsNoNumberLeavesNothingPending() {
  TWindowFixture f;
  Put(f, {Record(VinA, Day(2020, 1, 1), 10000, 16385)});
  TForm1& form = OpenShown(f);
  application_->SetErrorDialogs(&f.dialogs);
  TypeVin(form, VinA);
  form.N1->trigger();
  FillEditor(form, QDate(2021, 1, 1), "12a", 0, EngineOil);
  Save(form);
  QTest::mouseClick(form.CloseBtn, Qt::LeftButton);
  Select(form, RecordNode(form, 0));
  form.N2->trigger();
  form.DATTP->setDate(QDate(2022, 2, 2));
  form.MLGEdt->setText("1e5");
  Save(form);
  // A key in the VIN box switches the filter off; no half-made edit may be posted by it.
  QTest::keyClick(form.FGListCB->lineEdit(), Qt::Key_Space);
  application_->SetErrorDialogs(nullptr);
  QCOMPARE(f.dialogs.Texts(),
           (std::vector<std::string>{"'12a' is not a valid integer value", "'1e5' is not a valid integer value"}));
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin"));
  QVERIFY(form.editorState() == EditorState::esEdit);  // the editor stays open
  QTest::mouseClick(form.CloseBtn, Qt::LeftButton);
  CloseAndCheck(f);
  QCOMPARE(uitest::DumpRecords(f.StorePath()), QStringList{Line(VinA, "2020-01-01", 10000, 1, "4711001", 16385)});
}

// ---- history transfer -------------------------------------------------------------------

namespace {

// Three records of the car and one of another vehicle, the car shown in the tree.
TForm1& OpenCarHistory(TWindowFixture& f, const settings::TAppSettings& settings = {},
                       const std::string& runtimeLibrary = "libapi32.so") {
  f.WriteSettings(settings);
  Put(f, {Record(CarVin, Day(2020, 1, 1), 10000, 16385),
          Record(CarVin, Day(2021, 2, 3), 25000, store::PackServiceStatus(2, EngineOil | BrakeFluid), 0, "X12"),
          Record(VinA, Day(2020, 5, 5), 100, 16385),
          Record(CarVin, Day(2022, 12, 24), 41000, store::PackServiceStatus(3, VehicleCheck))});
  TForm1& form = f.Open(runtimeLibrary);
  form.show();
  if (!QTest::qWaitForWindowExposed(&form)) qWarning("window not exposed");
  TypeVin(form, CarVin);
  return form;
}

const QStringList CarEntries = {"24;12;2022;0;41000;1;4711001;0x3;1;100;0x1;0;0;",
                                "3;2;2021;0;25000;0;X12;0x2;2;1;0x1;0;0;3;0x1;0;0;",
                                "1;1;2020;0;10000;1;4711001;0x1;1;1;0x1;0;0;"};

QStringList HeadUnitHistory(TWindowFixture& f) {
  QStringList entries;
  const int count = QString::fromStdString(f.car.State("HISTORY_COUNT")).toInt();
  for (int i = 1; i <= count; ++i) entries << QString::fromStdString(f.car.State("HISTORY_" + std::to_string(i)));
  return entries;
}

}  // namespace

void HistoryTransferTest::currentServiceSendsTheSelectedRecord() {
  TWindowFixture f;
  TForm1& form = OpenCarHistory(f);
  RecordNode(form, 1)->setExpanded(true);
  Select(form, RecordNode(form, 1)->child(1));  // an item node stands for its record
  f.calls.clear();
  form.N6->trigger();
  QCOMPARE(HeadUnitHistory(f), QStringList{CarEntries[1]});
  QCOMPARE(f.Log(), (QStringList{"[Process] - Send - 03.02.2021 - Entry 1 stored", "[Process] - Success"}));
  QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
  QCOMPARE(f.dialogs.shown[0].text, std::string("Success"));
  QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin"));
  QVERIFY(f.dialogs.shown[0].icon == TMessageIcon::None);
  QVERIFY(f.calls == (std::vector<std::string>{"init", "steuern_servicehistory_add", "end"}));
  QVERIFY(f.clock.sleeps.empty());
}

void HistoryTransferTest::currentServiceStopsOnAJobError() {
  TWindowFixture f;
  f.car.Write("[G_MMI]\nsteuern_servicehistory_add.fail_first = 1\nsteuern_servicehistory_add.fail_text = SIM: busy\n");
  TForm1& form = OpenCarHistory(f);
  Select(form, RecordNode(form, 0));
  form.N6->trigger();
  QCOMPARE(f.Log(), (QStringList{"[Process] - Send - 24.12.2022 - ", "[Error] - Stop process! SIM: busy"}));
  QVERIFY(f.dialogs.shown.empty());
  QVERIFY(HeadUnitHistory(f).isEmpty());
}

void HistoryTransferTest::transferWithoutRuntimeReportsNoSuccess() {
  TWindowFixture f;
  TForm1& form = OpenCarHistory(f, {}, "libapi32-absent.so");
  Select(form, RecordNode(form, 0));
  form.N6->trigger();
  form.N7->trigger();
  const QString notLoaded = "[Error] - Runtime not loaded - libapi32-absent.so: cannot open shared object file: "
                            "No such file or directory";
  QCOMPARE(f.Log(), (QStringList{notLoaded, notLoaded}));
  QVERIFY(f.dialogs.shown.empty());
  QVERIFY(f.calls.empty());
  QCOMPARE(form.ProgressBar1->value(), 0);
}

void HistoryTransferTest::fullListSendsNewestFirst_data() {
  QTest::addColumn<int>("policy");  // 0 none, 1 reset after the last, 2 reset after each
  QTest::addColumn<QString>("calls");
  QTest::addColumn<QList<int>>("sleeps");
  const QString add = "steuern_servicehistory_add";
  QTest::newRow("no reset") << 0 << QString("init, %1, %1, %1, end").arg(add) << QList<int>{2000, 2000, 2000};
  QTest::newRow("reset after the last")
      << 1 << QString("init, %1, %1, %1, init, steuergeraete_reset, end, end").arg(add)
      << QList<int>{2000, 2000, 2000};
  // The head unit is silent for one poll after each reset; the runtime starts again
  // after each reset before it is polled.
  const QString cycle = QString("%1, init, steuergeraete_reset, end, init, ident, ident").arg(add);
  QTest::newRow("reset after each") << 2 << QString("init, %1, %1, %1, end").arg(cycle)
                                    << QList<int>{2000, 15000, 1000, 2000, 15000, 1000, 2000, 15000, 1000};
}

void HistoryTransferTest::fullListSendsNewestFirst() {
  QFETCH(int, policy);
  QFETCH(QString, calls);
  QFETCH(QList<int>, sleeps);
  TWindowFixture f;
  f.car.Write("[G_MMI]\nIDENT_SILENT_AFTER_RESET = 1\n");
  settings::TAppSettings settings;
  settings.SetFlag(settings::TSettingsFlag::RebootAfterLast, policy == 1);
  settings.SetFlag(settings::TSettingsFlag::RebootAfterEach, policy == 2);
  TForm1& form = OpenCarHistory(f, settings);
  Select(form, RecordNode(form, 2));
  QList<int> progress;
  connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { progress << v; });
  f.calls.clear();
  f.clock.sleeps.clear();
  form.N7->trigger();
  QCOMPARE(HeadUnitHistory(f), CarEntries);
  QCOMPARE(form.ProgressBar1->maximum(), 3);
  QCOMPARE(progress, (QList<int>{1, 2, 3, 0}));
  QStringList issued;
  for (const std::string& call : f.calls) issued << QString::fromStdString(call);
  QCOMPARE(issued.join(", "), calls);
  QList<int> slept;
  for (std::uint32_t ms : f.clock.sleeps) slept << static_cast<int>(ms);
  QCOMPARE(slept, sleeps);
  QStringList sent = f.Log().filter("Send - ");
  QCOMPARE(sent, (QStringList{"[Process] - Send - 24.12.2022 - Entry 1 stored",
                              "[Process] - Send - 03.02.2021 - Entry 2 stored",
                              "[Process] - Send - 01.01.2020 - Entry 3 stored"}));
  QCOMPARE(f.Log().last(), QString("[Process] - Success"));
  QCOMPARE(f.dialogs.Texts(), std::vector<std::string>{"Success"});
}

void HistoryTransferTest::jobErrorStopsTheFullList() {
  TWindowFixture f;
  f.car.Write("[G_MMI]\nsteuern_servicehistory_add.fail_after = 1\n"
              "steuern_servicehistory_add.fail_text = SIM: history memory locked\n");
  TForm1& form = OpenCarHistory(f);
  Select(form, RecordNode(form, 0));
  QList<int> progress;
  connect(form.ProgressBar1, &QProgressBar::valueChanged, [&](int v) { progress << v; });
  form.N7->trigger();
  QCOMPARE(HeadUnitHistory(f), QStringList{CarEntries[0]});
  QCOMPARE(f.Log(), (QStringList{"[Process] - Send - 24.12.2022 - Entry 1 stored", "[Process] - Send - 03.02.2021 - ",
                                 "[Error] - Stop process! SIM: history memory locked"}));
  QVERIFY(f.dialogs.shown.empty());  // no success box
  QCOMPARE(progress, (QList<int>{1, 0}));
  QCOMPARE(f.calls.back(), std::string("end"));
}

void HistoryTransferTest::fullListSendsOnlyTheShownVehicle() {
  TWindowFixture f;
  TForm1& form = OpenCarHistory(f);
  Select(form, RecordNode(form, 0));
  // A key in the VIN box switches the vehicle filter off; the tree still shows the car.
  QTest::keyClick(form.FGListCB->lineEdit(), Qt::Key_Space);
  QVERIFY(!form.serviceStore().HDBTable1.Filtered());
  QCOMPARE(TreeLines(form).first(), QString(CarVin));
  form.N7->trigger();
  QCOMPARE(HeadUnitHistory(f), CarEntries);
  QCOMPARE(form.ProgressBar1->maximum(), 3);
}

// The settings record, App.cfg and the settings dialog, driven through the dialog's own
// controls.
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "headunit/ediabas_api.h"
#include "headunit/head_unit_context.h"
#include "headunit/partner_data.h"
#include "recording_clock.h"
#include "scripted_dialogs.h"
#include "settings/app_settings.h"
#include "settings/programm_config_form.h"
#include "settings/settings_file.h"
#include "temp_dir.h"

namespace {

using settings::TAppSettings;
using Bytes = std::vector<unsigned char>;

class TLogLines : public headunit::TLogSink {
 public:
  void AddLog(headunit::LogKind, const std::string& message) override { lines.push_back(message); }
  std::vector<std::string> lines;
};

Bytes ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(bytes.data()),
                                                                 static_cast<std::streamsize>(bytes.size()));
}

// One text field in App.cfg form: length byte, text, zeros up to the capacity.
void PutText(Bytes& bytes, std::size_t offset, std::size_t capacity, const std::string& text) {
  bytes[offset] = static_cast<unsigned char>(text.size());
  for (std::size_t i = 0; i < capacity; ++i) bytes[offset + 1 + i] = i < text.size() ? text[i] : 0;
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

  struct TFixture {
    hdbtest::TempDir dir;
    std::string path = dir.File("App.cfg");
    TAppSettings record;
    uitest::TScriptedDialogs dialogs;
    uitest::TRecordingClock clock;
    TLogLines log;
    headunit::TEdiabasApi api;
    headunit::THeadUnitContext context{api, log, dialogs, clock};
    settings::TProgrammConfigForm form{nullptr, record, path, context};

    // Reads App.cfg as the program does at start and opens the dialog.
    void Start() {
      settings::ReadSettings(path, record, dialogs);
      form.show();
    }
    void Reopen() {
      form.hide();
      form.show();
    }
  };

 private slots:
  void appliedNameIsStoredWithItsLengthByte() {
    TFixture f;
    f.Start();
    f.form.NSDEdt->setText("Service");
    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    Bytes file = ReadBytes(f.path);
    QCOMPARE(file.size(), std::size_t{274});
    QCOMPARE(int(file[0]), 7);
    QCOMPARE(std::string(file.begin() + 1, file.begin() + 8), std::string("Service"));
    QVERIFY(!f.form.isVisible());
  }

  void textsAreCutToTheirCapacity() {
    TFixture f;
    f.Start();
    const QString name = QString(35, 'N');
    f.form.NSDEdt->setText(name);
    f.form.TSDEdt->setText("0301234567890123");
    f.form.AlSDEdt->setText("ABCDEFGHIJKLMNOP");
    f.form.USDEdt->setText(QString(120, 'u'));
    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    QCOMPARE(f.record.Name(), std::string(30, 'N'));
    QCOMPARE(f.record.Telephone(), std::string("030123456789"));
    QCOMPARE(f.record.AliasName(), std::string("ABCDEFGHIJ"));
    QCOMPARE(f.record.Url().size(), std::size_t{100});
    QCOMPARE(int(ReadBytes(f.path)[0]), 30);
    f.Reopen();
    QCOMPARE(f.form.NSDEdt->text(), QString(30, 'N'));
  }

  void fileOfZerosGivesEmptyTextsAndSwitchesOff() {
    TFixture f;
    WriteBytes(f.path, Bytes(274, 0));
    f.Start();
    QVERIFY(f.dialogs.shown.empty());
    for (QLineEdit* edit : {f.form.NSDEdt, f.form.TSDEdt, f.form.CoSDEdt, f.form.CiSDEdt, f.form.SSDEdt,
                            f.form.AlSDEdt, f.form.ESDEdt, f.form.USDEdt})
      QCOMPARE(edit->text(), QString());
    for (QCheckBox* box : {f.form.ReClCB, f.form.ReEOCB, f.form.ReLCB, f.form.PSDCB}) QVERIFY(!box->isChecked());
  }

  void everyFieldLoadsFromItsPlace() {
    TFixture f;
    Bytes file(274, 0);
    PutText(file, 0, 30, "Auto Service");
    PutText(file, 31, 12, "030123");
    PutText(file, 44, 20, "Germany");
    PutText(file, 65, 20, "Berlin");
    PutText(file, 86, 30, "Main Street 1");
    PutText(file, 117, 10, "4711001");
    PutText(file, 128, 40, "service@example.com");
    PutText(file, 169, 100, "www.example.com");
    file[270] = 1;  // VerifyPartnerData
    file[271] = 7;  // RebootAfterClean: any non-zero byte is on
    file[273] = 1;  // RebootAfterLast
    WriteBytes(f.path, file);
    f.Start();
    QCOMPARE(f.form.NSDEdt->text(), QString("Auto Service"));
    QCOMPARE(f.form.TSDEdt->text(), QString("030123"));
    QCOMPARE(f.form.CoSDEdt->text(), QString("Germany"));
    QCOMPARE(f.form.CiSDEdt->text(), QString("Berlin"));
    QCOMPARE(f.form.SSDEdt->text(), QString("Main Street 1"));
    QCOMPARE(f.form.AlSDEdt->text(), QString("4711001"));
    QCOMPARE(f.form.ESDEdt->text(), QString("service@example.com"));
    QCOMPARE(f.form.USDEdt->text(), QString("www.example.com"));
    QVERIFY(f.form.PSDCB->isChecked());
    QVERIFY(f.form.ReClCB->isChecked());
    QVERIFY(!f.form.ReEOCB->isChecked());
    QVERIFY(f.form.ReLCB->isChecked());
  }

  void applyWithoutChangesWritesTheFileBackUnchanged() {
    // An Apply that changes nothing writes the file back byte for byte, bytes beyond
    // each text's length included.
    TFixture f;
    Bytes file(274);
    for (std::size_t i = 0; i < file.size(); ++i) file[i] = static_cast<unsigned char>('a' + i % 26);
    PutText(file, 0, 30, "Werkstatt");
    std::fill(file.begin() + 10, file.begin() + 31, 'z');  // an earlier, longer name's rest
    PutText(file, 31, 12, "0301");
    file[32 + 4] = 'q';
    for (std::size_t at : {44u, 65u, 86u, 117u, 128u, 169u}) file[at] = 3;
    file[270] = 0;
    file[271] = 1;
    file[272] = 0;
    file[273] = 0;
    WriteBytes(f.path, file);
    f.Start();
    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    QVERIFY(ReadBytes(f.path) == file);
  }

  // A text ends at its length byte, clamped to the capacity, or at its first zero byte,
  // whichever comes first; Apply stores the text as the dialog shows it.
  void damagedLengthBytes_data() {
    QTest::addColumn<int>("lengthByte");
    QTest::addColumn<QByteArray>("field");  // the field's capacity bytes as stored
    QTest::addColumn<QString>("text");
    const QByteArray padded = QByteArray("Auto Service") + QByteArray(18, '\0');
    QTest::newRow("beyond the capacity, zero padding") << 200 << padded << "Auto Service";
    QTest::newRow("beyond the capacity, full field") << 200 << QByteArray(30, 'A') << QString(30, 'A');
    QTest::newRow("at the capacity, zero padding") << 30 << padded << "Auto Service";
    QTest::newRow("a zero within the length") << 10 << QByteArray("Auto\0Servi", 10) + QByteArray(20, 'x') << "Auto";
    QTest::newRow("a zero in front") << 255 << QByteArray(1, '\0') + QByteArray(29, 'N') << "";
    QTest::newRow("a sound field") << 4 << QByteArray("Autoxxxx") + QByteArray(22, '\0') << "Auto";
  }

  void damagedLengthBytes() {
    QFETCH(int, lengthByte);
    QFETCH(QByteArray, field);
    QFETCH(QString, text);
    TFixture f;
    Bytes file(274, 0);
    file[0] = static_cast<unsigned char>(lengthByte);
    std::copy(field.begin(), field.end(), file.begin() + 1);
    PutText(file, 31, 12, "030123");
    WriteBytes(f.path, file);
    f.Start();
    QCOMPARE(f.form.NSDEdt->text(), text);
    QCOMPARE(f.record.Name(), text.toStdString());
    QCOMPARE(f.form.TSDEdt->text(), QString("030123"));
    QCOMPARE(headunit::PartnerBlock(settings::PartnerDataOf(f.record)),
             "ID;0xD0D5;" + text.toStdString() + ";;;;030123;;" + text.toStdString() + ";;;");

    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    Bytes stored = ReadBytes(f.path);
    QCOMPARE(int(stored[0]), text.size());
    QCOMPARE(std::string(stored.begin() + 1, stored.begin() + 1 + text.size()), text.toStdString());
    f.Reopen();
    QCOMPARE(f.form.NSDEdt->text(), text);
  }

  void rebootBoxesExcludeEachOther() {
    TFixture f;
    Bytes file(274, 0);
    file[272] = 1;  // RebootAfterEach
    file[273] = 1;  // RebootAfterLast: a damaged file with both on
    WriteBytes(f.path, file);
    f.Start();
    QVERIFY(!f.form.ReEOCB->isChecked());
    QVERIFY(f.form.ReLCB->isChecked());

    QTest::mouseClick(f.form.ReEOCB, Qt::LeftButton);
    QVERIFY(f.form.ReEOCB->isChecked());
    QVERIFY(!f.form.ReLCB->isChecked());
    QTest::mouseClick(f.form.ReLCB, Qt::LeftButton);
    QVERIFY(f.form.ReLCB->isChecked());
    QVERIFY(!f.form.ReEOCB->isChecked());
    QTest::mouseClick(f.form.ReLCB, Qt::LeftButton);  // both may be clear
    QVERIFY(!f.form.ReLCB->isChecked() && !f.form.ReEOCB->isChecked());
    QTest::mouseClick(f.form.ReLCB, Qt::LeftButton);

    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    Bytes stored = ReadBytes(f.path);
    QCOMPARE(int(stored[272]), 0);
    QCOMPARE(int(stored[273]), 1);
  }

  void cancelKeepsTheRecordAndTheNextShowDiscardsTheEdits() {
    TFixture f;
    f.Start();
    f.form.NSDEdt->setText("Stored");
    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    const Bytes before = ReadBytes(f.path);
    f.form.show();
    f.form.NSDEdt->setText("Typed, then cancelled");
    QTest::mouseClick(f.form.PSDCB, Qt::LeftButton);
    QTest::mouseClick(f.form.CancelBtn, Qt::LeftButton);
    QVERIFY(!f.form.isVisible());
    QCOMPARE(f.record.Name(), std::string("Stored"));
    QVERIFY(!f.record.VerifyPartnerData());
    QVERIFY(ReadBytes(f.path) == before);
    f.form.show();
    QCOMPARE(f.form.NSDEdt->text(), QString("Stored"));
    QVERIFY(!f.form.PSDCB->isChecked());
  }

  void textsAreWindows1252OnDisk() {
    TFixture f;
    f.Start();
    f.form.NSDEdt->setText(QString::fromUtf8("Müller & Söhne"));
    f.form.CiSDEdt->setText(QString::fromUtf8("Łódź €"));
    QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
    Bytes file = ReadBytes(f.path);
    QCOMPARE(int(file[0]), 14);
    QCOMPARE(int(file[2]), 0xFC);  // ü
    QCOMPARE(int(file[65]), 6);
    QCOMPARE(int(file[66]), '?');  // Ł is not in Windows-1252
    QCOMPARE(int(file[67]), 0xF3);  // ó is
    QCOMPARE(int(file[69]), '?');
    QCOMPARE(int(file[71]), 0x80);  // €
    TFixture again;
    WriteBytes(again.path, file);
    again.Start();
    QCOMPARE(again.form.NSDEdt->text(), QString::fromUtf8("Müller & Söhne"));
  }

  void controlsDoNotCoverEachOther() {
    // The title check box of the second group sits on that group's top edge, clear of
    // the first group; the two groups and the buttons keep apart inside the client area.
    TFixture f;
    f.Start();
    auto* actions = f.form.findChild<QGroupBox*>("ActionGB");
    auto* partner = f.form.findChild<QGroupBox*>("PartnerGB");
    QVERIFY(actions && partner);
    QCOMPARE(f.form.size(), QSize(294, 362));
    const QRect client = f.form.rect();
    const QRect title = f.form.PSDCB->geometry();
    QVERIFY2(!title.intersects(actions->geometry()), qPrintable(QString("check box %1,%2 %3x%4, group bottom %5")
                                                                     .arg(title.x())
                                                                     .arg(title.y())
                                                                     .arg(title.width())
                                                                     .arg(title.height())
                                                                     .arg(actions->geometry().bottom())));
    QVERIFY(title.contains(QPoint(title.x() + 1, partner->y())));  // on the second group's edge
    QVERIFY(title.width() >= f.form.PSDCB->sizeHint().width());   // the whole caption shows
    QVERIFY(!actions->geometry().intersects(partner->geometry()));
    for (QWidget* control : {static_cast<QWidget*>(actions), static_cast<QWidget*>(partner),
                             static_cast<QWidget*>(f.form.PSDCB), static_cast<QWidget*>(f.form.ApplyBtn),
                             static_cast<QWidget*>(f.form.CancelBtn)})
      QVERIFY2(client.contains(control->geometry()), qPrintable(control->objectName()));
    for (QWidget* button : {f.form.ApplyBtn, f.form.CancelBtn})
      QVERIFY(!button->geometry().intersects(partner->geometry()));
    for (QWidget* inner : partner->findChildren<QWidget*>())
      QVERIFY2(partner->rect().contains(inner->geometry()), qPrintable(inner->objectName()));
  }

  void fileErrorsAreReportedWithTheirClassName() {
    {
      TFixture f;  // no App.cfg
      f.Start();
      QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
      QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin - EFOpenError"));
      QCOMPARE(f.dialogs.shown[0].text, "Cannot open file \"" + f.path + "\". No such file or directory");
      QVERIFY(f.dialogs.shown[0].icon == headunit::TMessageIcon::Error);
      QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);  // the first Apply creates it
      QCOMPARE(ReadBytes(f.path).size(), std::size_t{274});
      QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
    }
    {
      TFixture f;
      Bytes shortFile(100, 0);
      PutText(shortFile, 0, 30, "Half");
      WriteBytes(f.path, shortFile);
      f.record.SetText(settings::TSettingsText::EMail, "kept@example.com");
      f.Start();
      QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
      QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin - EReadError"));
      QCOMPARE(f.dialogs.shown[0].text, std::string("Stream read error"));
      QCOMPARE(f.record.Name(), std::string("Half"));
      QCOMPARE(f.record.EMail(), std::string("kept@example.com"));
    }
    {
      // A folder in the file's place cannot be opened as the file; the record stays.
      TFixture f;
      std::filesystem::create_directory(f.path);
      f.record.SetText(settings::TSettingsText::Name, "Kept");
      f.Start();
      QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
      QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin - EFOpenError"));
      QCOMPARE(f.dialogs.shown[0].text, "Cannot open file \"" + f.path + "\". Is a directory");
      QCOMPARE(f.record.Name(), std::string("Kept"));
    }
    {
      TFixture f;
      Bytes longFile(300, 0);
      PutText(longFile, 0, 30, "Long");
      WriteBytes(f.path, longFile);
      f.Start();
      QVERIFY(f.dialogs.shown.empty());
      QCOMPARE(f.record.Name(), std::string("Long"));
    }
    {
      TFixture f;
      WriteBytes(f.path, Bytes(274, 0));
      f.Start();
      std::filesystem::remove(f.path);
      std::filesystem::create_directory(f.path);  // App.cfg cannot be created now
      QTest::mouseClick(f.form.ApplyBtn, Qt::LeftButton);
      QCOMPARE(f.dialogs.shown.size(), std::size_t{1});
      QCOMPARE(f.dialogs.shown[0].caption, std::string("Halvarin - EFCreateError"));
      QCOMPARE(f.dialogs.shown[0].text, "Cannot create file \"" + f.path + "\". Is a directory");
      QVERIFY(!f.form.isVisible());  // the dialog closes all the same
    }
    {
      // A device that takes no bytes: the file opens, the write falls short.
      uitest::TScriptedDialogs dialogs;
      settings::WriteSettings("/dev/full", TAppSettings(), dialogs);
      QCOMPARE(dialogs.shown.size(), std::size_t{1});
      QCOMPARE(dialogs.shown[0].caption, std::string("Halvarin - EWriteError"));
      QCOMPARE(dialogs.shown[0].text, std::string("Stream write error"));
    }
  }
};

QTEST_MAIN(SettingsDialogTest)
#include "settings_dialog_test.moc"

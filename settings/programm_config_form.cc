#include "settings/programm_config_form.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <array>

#include "settings/ansi_text.h"
#include "settings/settings_file.h"

namespace settings {

namespace {

QFont BoldFont(QFont font) {
  font.setBold(true);
  return font;
}

QPushButton* FlatButton(QWidget* parent, const QString& text, const char* name, QRect geometry) {
  auto* button = new QPushButton(text, parent);
  button->setObjectName(name);
  button->setFlat(true);
  button->setGeometry(geometry);
  return button;
}

}  // namespace

TProgrammConfigForm::TProgrammConfigForm(QWidget* parent, TAppSettings& settings, std::string settingsPath,
                                         headunit::THeadUnitContext& headUnit)
    : QDialog(parent), settings_(settings), settingsPath_(std::move(settingsPath)), headUnit_(headUnit) {
  setObjectName("ProgrammConfigForm");
  setWindowTitle("Settings");
  setModal(true);
  // Fixed pixel layout, not scaled with the system font size.
  setFixedSize(294, 362);

  auto* actions = new QGroupBox("Action ordering", this);
  actions->setObjectName("ActionGB");
  actions->setFont(BoldFont(font()));
  actions->setGeometry(8, 6, 278, 86);
  auto makeBox = [&](QWidget* parentWidget, const QString& text, const char* name, QRect geometry) {
    auto* box = new QCheckBox(text, parentWidget);
    box->setObjectName(name);
    box->setFont(font());
    box->setGeometry(geometry);
    return box;
  };
  QFont plain = font();
  plain.setBold(false);
  ReClCB = makeBox(actions, "Reboot HU after history cleaning", "ReClCB", QRect(12, 20, 258, 20));
  ReEOCB = makeBox(actions, "Reboot after every one record", "ReEOCB", QRect(12, 41, 258, 20));
  ReLCB = makeBox(actions, "Reboot after last record", "ReLCB", QRect(12, 62, 258, 20));
  for (QCheckBox* box : {ReClCB, ReEOCB, ReLCB}) box->setFont(plain);

  // The second group carries a check box as its title: the box sits centred on the
  // group's top edge, in the gap below the first group, and is only as wide as its text
  // so that the rest of the edge stays visible.
  auto* partner = new QGroupBox(this);
  partner->setObjectName("PartnerGB");
  partner->setGeometry(8, 104, 278, 220);
  PSDCB = makeBox(this, "Personal service center data", "PSDCB", QRect(16, 95, 250, 18));
  PSDCB->setFont(BoldFont(font()));
  PSDCB->setToolTip("Verify during connection");
  PSDCB->setAutoFillBackground(true);
  PSDCB->resize(std::min(PSDCB->sizeHint().width() + 4, 250), 18);
  PSDCB->raise();

  struct TRow {
    const char* label;
    const char* name;
    QLineEdit** edit;
  };
  const std::array<TRow, 8> rows = {{{"Name", "NSDEdt", &NSDEdt},
                                     {"Telephone", "TSDEdt", &TSDEdt},
                                     {"Country", "CoSDEdt", &CoSDEdt},
                                     {"City", "CiSDEdt", &CiSDEdt},
                                     {"Street", "SSDEdt", &SSDEdt},
                                     {"Alias name", "AlSDEdt", &AlSDEdt},
                                     {"E-mail", "ESDEdt", &ESDEdt},
                                     {"URL", "USDEdt", &USDEdt}}};
  int y = 16;
  for (const TRow& row : rows) {
    auto* label = new QLabel(row.label, partner);
    label->setGeometry(10, y + 2, 70, 18);
    auto* edit = new QLineEdit(partner);
    edit->setObjectName(row.name);
    edit->setGeometry(82, y, 186, 20);
    *row.edit = edit;
    y += 22;
  }
  SendSDBtn = FlatButton(partner, "Syncronize", "SendSDBtn", QRect(178, 194, 90, 24));

  ApplyBtn = FlatButton(this, "Apply", "ApplyBtn", QRect(112, 330, 84, 26));
  CancelBtn = FlatButton(this, "Cancel", "CancelBtn", QRect(202, 330, 84, 26));
  ApplyBtn->setDefault(true);

  connect(ReEOCB, &QCheckBox::toggled, this, &TProgrammConfigForm::ReEOCBClick);
  connect(ReLCB, &QCheckBox::toggled, this, &TProgrammConfigForm::ReLCBClick);
  connect(ApplyBtn, &QPushButton::clicked, this, &TProgrammConfigForm::ApplyBtnClick);
  connect(CancelBtn, &QPushButton::clicked, this, &TProgrammConfigForm::CancelBtnClick);
  connect(SendSDBtn, &QPushButton::clicked, this, &TProgrammConfigForm::SendSDBtnClick);
}

void TProgrammConfigForm::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) FormShow();
  QDialog::showEvent(event);
}

void TProgrammConfigForm::FormShow() {
  // The check boxes in this order, so that the exclusion rule of the two reboot boxes
  // runs as they are set: a record with both on shows only "after last record".
  ReClCB->setChecked(settings_.RebootAfterClean());
  ReEOCB->setChecked(settings_.RebootAfterEach());
  ReLCB->setChecked(settings_.RebootAfterLast());
  PSDCB->setChecked(settings_.VerifyPartnerData());
  NSDEdt->setText(AnsiToQString(settings_.Name()));
  TSDEdt->setText(AnsiToQString(settings_.Telephone()));
  CoSDEdt->setText(AnsiToQString(settings_.Country()));
  CiSDEdt->setText(AnsiToQString(settings_.City()));
  SSDEdt->setText(AnsiToQString(settings_.Street()));
  AlSDEdt->setText(AnsiToQString(settings_.AliasName()));
  ESDEdt->setText(AnsiToQString(settings_.EMail()));
  USDEdt->setText(AnsiToQString(settings_.Url()));
}

void TProgrammConfigForm::ReEOCBClick(bool checked) {
  if (checked) ReLCB->setChecked(false);
}

void TProgrammConfigForm::ReLCBClick(bool checked) {
  if (checked) ReEOCB->setChecked(false);
}

void TProgrammConfigForm::ApplyBtnClick() {
  settings_.SetFlag(TSettingsFlag::RebootAfterClean, ReClCB->isChecked());
  settings_.SetFlag(TSettingsFlag::RebootAfterEach, ReEOCB->isChecked());
  settings_.SetFlag(TSettingsFlag::RebootAfterLast, ReLCB->isChecked());
  settings_.SetFlag(TSettingsFlag::VerifyPartnerData, PSDCB->isChecked());
  // Each text is cut to its field's capacity without a message.
  settings_.SetText(TSettingsText::Name, QStringToAnsi(NSDEdt->text()));
  settings_.SetText(TSettingsText::Telephone, QStringToAnsi(TSDEdt->text()));
  settings_.SetText(TSettingsText::Country, QStringToAnsi(CoSDEdt->text()));
  settings_.SetText(TSettingsText::City, QStringToAnsi(CiSDEdt->text()));
  settings_.SetText(TSettingsText::Street, QStringToAnsi(SSDEdt->text()));
  settings_.SetText(TSettingsText::AliasName, QStringToAnsi(AlSDEdt->text()));
  settings_.SetText(TSettingsText::EMail, QStringToAnsi(ESDEdt->text()));
  settings_.SetText(TSettingsText::Url, QStringToAnsi(USDEdt->text()));
  WriteSettings(settingsPath_, settings_, headUnit_.dialogs);
  if (!synchronizing_) accept();
}

void TProgrammConfigForm::CancelBtnClick() { reject(); }

void TProgrammConfigForm::SendSDBtnClick() {
  // The settings are stored and written before any job runs; the dialog stays up until
  // the synchronisation has finished.
  synchronizing_ = true;
  ApplyBtn->click();
  synchronizing_ = false;
  headunit::SyncPartnerData(headUnit_, PartnerDataOf(settings_));
  accept();
}

}  // namespace settings

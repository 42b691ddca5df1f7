// TProgrammConfigForm: the settings dialog. It edits the settings record, writes it to
// App.cfg on "Apply" and offers "Syncronize", which applies and then writes the partner
// data into the head unit. Created hidden at start and shown modally; it works on the
// record and the head-unit context the main window owns.
#pragma once

#include <QDialog>
#include <string>

#include "headunit/head_unit_context.h"
#include "settings/app_settings.h"

class QCheckBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace settings {

class TProgrammConfigForm : public QDialog {
  Q_OBJECT

 public:
  TProgrammConfigForm(QWidget* parent, TAppSettings& settings, std::string settingsPath,
                      headunit::THeadUnitContext& headUnit);

  QCheckBox* ReClCB = nullptr;
  QCheckBox* ReEOCB = nullptr;
  QCheckBox* ReLCB = nullptr;
  QCheckBox* PSDCB = nullptr;
  QLineEdit* NSDEdt = nullptr;
  QLineEdit* TSDEdt = nullptr;
  QLineEdit* CoSDEdt = nullptr;
  QLineEdit* CiSDEdt = nullptr;
  QLineEdit* SSDEdt = nullptr;
  QLineEdit* AlSDEdt = nullptr;
  QLineEdit* ESDEdt = nullptr;
  QLineEdit* USDEdt = nullptr;
  QPushButton* SendSDBtn = nullptr;
  QPushButton* ApplyBtn = nullptr;
  QPushButton* CancelBtn = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void FormShow();
  void ReEOCBClick(bool checked);
  void ReLCBClick(bool checked);
  void ApplyBtnClick();
  void CancelBtnClick();
  void SendSDBtnClick();

  TAppSettings& settings_;
  std::string settingsPath_;
  headunit::THeadUnitContext& headUnit_;
  // While "Syncronize" runs, "Apply" leaves the closing to it.
  bool synchronizing_ = false;
};

}  // namespace settings

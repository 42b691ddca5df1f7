// The program's answer to the dialog interface: modal Qt message boxes over the active
// window, and a progress dialog without a cancel button as the wait window (one at a
// time, owned while it is open). Texts arrive in Windows-1252 with "\n\r" line breaks.
#pragma once

#include <memory>

#include "headunit/dialogs.h"

class QProgressDialog;

namespace app {

class TQtDialogs : public headunit::TDialogs {
 public:
  TQtDialogs();
  ~TQtDialogs() override;

  void ShowMessage(const std::string& text, const std::string& caption, headunit::TMessageIcon icon) override;
  headunit::TDialogAnswer Ask(const std::string& text, const std::string& caption, headunit::TMessageIcon icon,
                              headunit::TDialogButtons buttons) override;
  void BeginWait(const std::string& caption) override;
  void WaitProgress(int percentDone) override;
  void EndWait() override;

 private:
  std::unique_ptr<QProgressDialog> wait_;
};

}  // namespace app

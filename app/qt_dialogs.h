// The program's answer to the dialog interface: modal Qt message boxes over the active
// window. Texts arrive in Windows-1252 with "\n\r" line breaks.
#pragma once

#include "headunit/dialogs.h"

namespace app {

class TQtDialogs : public headunit::TDialogs {
 public:
  void ShowMessage(const std::string& text, const std::string& caption, headunit::TMessageIcon icon) override;
  headunit::TDialogAnswer Ask(const std::string& text, const std::string& caption, headunit::TMessageIcon icon,
                              headunit::TDialogButtons buttons) override;
};

}  // namespace app

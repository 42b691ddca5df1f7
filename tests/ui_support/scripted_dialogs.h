// The dialog interface as the tests answer it: every message box and question is
// recorded with its text, caption and icon; questions take their answers from a script
// (an unscripted question is answered with its second button, Cancel, Abort or No, and
// marked so a test can notice). The wait window is recorded as its caption, each
// progress step and its end.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "headunit/dialogs.h"

namespace uitest {

struct TShownDialog {
  std::string text;
  std::string caption;
  headunit::TMessageIcon icon = headunit::TMessageIcon::None;
  bool question = false;
  bool unscripted = false;
};

class TScriptedDialogs : public headunit::TDialogs {
 public:
  void ShowMessage(const std::string& text, const std::string& caption, headunit::TMessageIcon icon) override {
    shown.push_back(TShownDialog{text, caption, icon, false, false});
    if (onShow) onShow(shown.back());
  }
  headunit::TDialogAnswer Ask(const std::string& text, const std::string& caption, headunit::TMessageIcon icon,
                              headunit::TDialogButtons buttons) override {
    TShownDialog dialog{text, caption, icon, true, answers.empty()};
    headunit::TDialogAnswer answer = headunit::TDialogAnswer::Cancel;
    if (buttons == headunit::TDialogButtons::AbortIgnore) answer = headunit::TDialogAnswer::Abort;
    if (buttons == headunit::TDialogButtons::YesNo) answer = headunit::TDialogAnswer::No;
    if (!answers.empty()) {
      answer = answers.front();
      answers.pop_front();
    }
    shown.push_back(dialog);
    if (onShow) onShow(shown.back());
    return answer;
  }
  void BeginWait(const std::string& caption) override {
    waits.push_back("begin " + caption);
  }
  void WaitProgress(int percentDone) override {
    waits.push_back(std::to_string(percentDone) + "%");
  }
  void EndWait() override {
    waits.push_back("end");
  }

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const TShownDialog& d : shown) texts.push_back(d.text);
    return texts;
  }

  std::vector<TShownDialog> shown;
  std::deque<headunit::TDialogAnswer> answers;
  std::function<void(const TShownDialog&)> onShow;
  // "begin <caption>", "<n>%" for each progress step, "end".
  std::vector<std::string> waits;
};

}  // namespace uitest

#include "app/dialog_database_prompts.h"

namespace app {

using headunit::AppCaption;
using headunit::TMessageIcon;

TDialogDatabasePrompts::TDialogDatabasePrompts(headunit::TDialogs& dialogs)
    : dialogs_(dialogs), previous_(hdb::SetDatabasePrompts(this)) {}

TDialogDatabasePrompts::~TDialogDatabasePrompts() { hdb::SetDatabasePrompts(previous_); }

bool TDialogDatabasePrompts::Confirm(const std::string& text) {
  return dialogs_.Ask(text, AppCaption, TMessageIcon::Question, headunit::TDialogButtons::YesNo) ==
         headunit::TDialogAnswer::Yes;
}

void TDialogDatabasePrompts::Inform(const std::string& text) {
  dialogs_.ShowMessage(text, AppCaption, TMessageIcon::Information);
}

void TDialogDatabasePrompts::Warn(const std::string& text) {
  dialogs_.ShowMessage(text, AppCaption, TMessageIcon::Warning);
}

void TDialogDatabasePrompts::ShowError(const std::string& text) {
  dialogs_.ShowMessage(text, AppCaption, TMessageIcon::Error);
}

bool TDialogDatabasePrompts::AskPassword(const std::string&, std::string&) { return false; }

void TDialogDatabasePrompts::BeginWait(const std::string& caption) { dialogs_.BeginWait(caption); }

void TDialogDatabasePrompts::WaitProgress(int percentDone) { dialogs_.WaitProgress(percentDone); }

void TDialogDatabasePrompts::EndWait() { dialogs_.EndWait(); }

}  // namespace app

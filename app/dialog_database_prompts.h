// TDialogDatabasePrompts: the database component's prompts answered through the
// program's dialog interface, so the repair question of a file that was not closed
// correctly, the notice of a conversion, the warnings of a repair and its wait window
// reach the user as the program's own boxes (and the window tests' scripted ones).
//
// Installs itself as the process-wide prompts while it lives and puts the previous ones
// back when it goes; it refers to the dialogs, which must outlive it. Used on the
// user-interface thread, where the components connect.
#pragma once

#include <string>

#include "dbengine/components/database_prompts.h"
#include "headunit/dialogs.h"

namespace app {

class TDialogDatabasePrompts final : public hdb::THDBDatabasePrompts {
 public:
  explicit TDialogDatabasePrompts(headunit::TDialogs& dialogs);
  ~TDialogDatabasePrompts() override;
  TDialogDatabasePrompts(const TDialogDatabasePrompts&) = delete;
  TDialogDatabasePrompts& operator=(const TDialogDatabasePrompts&) = delete;

  bool Confirm(const std::string& text) override;
  void Inform(const std::string& text) override;
  void Warn(const std::string& text) override;
  void ShowError(const std::string& text) override;
  // The program's Data.hdb carries no password and its dialogs have no password entry:
  // no password is given, and the engine's error stands.
  bool AskPassword(const std::string& databaseName, std::string& password) override;
  void BeginWait(const std::string& caption) override;
  void WaitProgress(int percentDone) override;
  void EndWait() override;

 private:
  headunit::TDialogs& dialogs_;
  hdb::THDBDatabasePrompts* previous_;
};

}  // namespace app

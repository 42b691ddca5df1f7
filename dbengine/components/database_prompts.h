// THDBDatabasePrompts, the dialogs a database component may show while it connects:
// the repair question, the notice that an old-format file will be converted, warnings
// a repair produced, the password dialog and the wait window of a repair. The program
// installs its own (through its dialog interface); without one the quiet default
// answers every question with No, asks for no password and shows nothing.
//
// Process-wide; install it before components connect. Used on the thread that
// connects.
#pragma once

#include <string>

namespace hdb {

class THDBDatabasePrompts {
 public:
  virtual ~THDBDatabasePrompts() = default;
  // A question with the buttons Yes and No; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // An information message with OK.
  virtual void Inform(const std::string& text) = 0;
  // A warning message with OK.
  virtual void Warn(const std::string& text) = 0;
  // An error shown instead of raised (design mode).
  virtual void ShowError(const std::string& text) = 0;
  // The password dialog for the database; true with a password entered.
  virtual bool AskPassword(const std::string& databaseName, std::string& password) = 0;
  // The wait window of a repair: opened with its caption, told the progress in
  // percent, closed.
  virtual void BeginWait(const std::string& caption) = 0;
  virtual void WaitProgress(int percentDone) = 0;
  virtual void EndWait() = 0;
};

// The prompts in use; nullptr restores the quiet default. Returns the previous ones.
THDBDatabasePrompts* SetDatabasePrompts(THDBDatabasePrompts* prompts);
THDBDatabasePrompts& DatabasePrompts();

}  // namespace hdb

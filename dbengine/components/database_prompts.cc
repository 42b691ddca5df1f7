#include "dbengine/components/database_prompts.h"

#include <atomic>

namespace hdb {

namespace {

// Without a program to ask: no repair, no password, nothing shown.
class QuietPrompts final : public THDBDatabasePrompts {
 public:
  bool Confirm(const std::string&) override { return false; }
  void Inform(const std::string&) override {}
  void Warn(const std::string&) override {}
  void ShowError(const std::string&) override {}
  bool AskPassword(const std::string&, std::string&) override { return false; }
  void BeginWait(const std::string&) override {}
  void WaitProgress(int) override {}
  void EndWait() override {}
};

QuietPrompts g_quiet;
std::atomic<THDBDatabasePrompts*> g_prompts{nullptr};

}  // namespace

THDBDatabasePrompts* SetDatabasePrompts(THDBDatabasePrompts* prompts) { return g_prompts.exchange(prompts); }

THDBDatabasePrompts& DatabasePrompts() {
  THDBDatabasePrompts* p = g_prompts.load();
  return p ? *p : g_quiet;
}

}  // namespace hdb

// The head-unit commands without a runtime they can rely on: no library, a library that
// cannot be found, or one without the runtime's entry points. Every job would then
// "pass" with empty results; each command must instead say the runtime is not loaded,
// once, and do nothing else.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "headunit/ediabas_api.h"
#include "headunit/head_unit_commands.h"
#include "headunit/partner_data.h"
#include "headunit/vehicle_connect.h"
#include "recording_clock.h"
#include "scripted_dialogs.h"

namespace {

using Lines = std::vector<std::string>;

class TLogLines : public headunit::TLogSink {
 public:
  void AddLog(headunit::LogKind kind, const std::string& message) override {
    lines.push_back(std::string(headunit::LogKindLabel(kind)) + " - " + message);
  }
  Lines lines;
};

class TNoView : public headunit::TConnectView {
 public:
  void SetProgressMaximum(int) override { ++changes; }
  void SetProgressPosition(int) override { ++changes; }
  int ProgressPosition() override { return 0; }
  void ProcessEvents() override {}
  void ShowVin(const std::string&) override { ++changes; }
  void ShowMileage(const std::string&) override { ++changes; }
  void ShowHeadUnitType(const std::string&) override { ++changes; }
  int changes = 0;
};

struct TUnit {
  headunit::TEdiabasApi api;
  TLogLines log;
  uitest::TScriptedDialogs dialogs;
  uitest::TRecordingClock clock;
  headunit::THeadUnitContext context{api, log, dialogs, clock};
  TNoView view;
  std::vector<headunit::TApiCall> calls;
};

struct TCommand {
  const char* name;
  std::function<void(TUnit&)> run;
};

const TCommand Commands[] = {
    {"connect",
     [](TUnit& unit) { EXPECT_FALSE(headunit::ConnectVehicle(unit.context, unit.view).runtimeReady); }},
    {"reboot", [](TUnit& unit) { headunit::RebootHeadUnit(unit.context); }},
    {"erase", [](TUnit& unit) { headunit::EraseServiceHistory(unit.context, false); }},
    {"erase, then reboot", [](TUnit& unit) { headunit::EraseServiceHistory(unit.context, true); }},
    // Settings that differ from whatever the unit would hold, and a user who agrees.
    {"partner data",
     [](TUnit& unit) {
       unit.dialogs.answers.push_back(headunit::TDialogAnswer::Ok);
       headunit::SyncPartnerData(unit.context, {"Auto Service", "030123", "Germany", "Berlin", "Main Street 1"});
     }},
};

struct TLibrary {
  const char* name;  // nullptr: nothing is loaded at all
  const char* reason;
};

const TLibrary Libraries[] = {
    {nullptr, "Error - Runtime not loaded - no library was loaded"},
    {"libapi32-absent.so", "Error - Runtime not loaded - libapi32-absent.so: cannot open shared object file"},
    {"libz.so.1", "Error - Runtime not loaded - libz.so.1 has no entry point __apiInit"},
    // Loads, answers some entry points, but has neither __apiEnd nor __apiJob.
    {"libcareless_runtime.so", "Error - Runtime not loaded - libcareless_runtime.so has no entry point __apiEnd"},
};

TEST(HeadUnitCommandsWithoutRuntime, EachLogsOneErrorLineAndDoesNothingElse) {
  for (const TLibrary& library : Libraries) {
    for (const TCommand& command : Commands) {
      SCOPED_TRACE(std::string(library.name ? library.name : "no library") + ", " + command.name);
      TUnit unit;
      if (library.name != nullptr) unit.api.LoadRuntimeLibrary(library.name);
      EXPECT_FALSE(unit.api.RuntimeLoaded());
      unit.api.SetCallTrace([&](const headunit::TApiCall& call) { unit.calls.push_back(call); });
      command.run(unit);
      ASSERT_EQ(unit.log.lines.size(), 1u) << unit.log.lines.back();
      EXPECT_EQ(unit.log.lines[0].rfind(library.reason, 0), 0u) << unit.log.lines[0];
      EXPECT_TRUE(unit.calls.empty());  // not even a start of the runtime
      EXPECT_TRUE(unit.dialogs.shown.empty());
      EXPECT_TRUE(unit.clock.sleeps.empty());
      EXPECT_EQ(unit.view.changes, 0);
    }
  }
}

}  // namespace

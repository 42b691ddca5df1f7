// The reset and the history erase without a runtime library: every job then passes with
// empty results, so no reset is ever acknowledged while the erase counts as done.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "headunit/ediabas_api.h"
#include "headunit/head_unit_commands.h"
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

struct TWithoutRuntime {
  headunit::TEdiabasApi api;  // no library loaded
  TLogLines log;
  uitest::TScriptedDialogs dialogs;
  uitest::TRecordingClock clock;
  headunit::THeadUnitContext context{api, log, dialogs, clock};
};

const Lines FailedReset = {"Process - Try reboot 1", "Process - Try reboot 2", "Process - Try reboot 3",
                           "Process - Try reboot 4", "Process - Try reboot 5", "Error - Reboot failure."};

TEST(HeadUnitCommandsWithoutRuntime, TheResetTriesFiveTimesAndFails) {
  TWithoutRuntime unit;
  headunit::RebootHeadUnit(unit.context);
  EXPECT_EQ(unit.log.lines, FailedReset);
  EXPECT_TRUE(unit.clock.sleeps.empty());
  EXPECT_TRUE(unit.dialogs.shown.empty());
}

TEST(HeadUnitCommandsWithoutRuntime, TheEraseCountsAsDoneWithAnEmptyStatus) {
  for (bool rebootAfterClean : {false, true}) {
    SCOPED_TRACE(rebootAfterClean);
    TWithoutRuntime unit;
    headunit::EraseServiceHistory(unit.context, rebootAfterClean);
    Lines expected = {"System - Service history erase - "};
    if (rebootAfterClean) expected.insert(expected.end(), FailedReset.begin(), FailedReset.end());
    EXPECT_EQ(unit.log.lines, expected);
  }
}

}  // namespace

// The service history transfer: service records turned into entries of the head unit's
// service history ("steuern_servicehistory_add" on G_MMI), one record at a time or a
// vehicle's whole list newest first, with the reset policy of the settings. Each
// command initialises and ends the runtime itself and reports through the log, the
// dialogs and the progress view; the pauses go through the clock.
#pragma once

#include <string>
#include <vector>

#include "headunit/head_unit_context.h"
#include "headunit/progress_view.h"
#include "store/service_record.h"

namespace headunit {

inline constexpr char HistoryAddJob[] = "steuern_servicehistory_add";

// Pauses of the full list, in milliseconds.
inline constexpr unsigned AfterEntryPause = 2000;
inline constexpr unsigned AfterResetPause = 15000;
inline constexpr unsigned SilentPollPause = 1000;
// "ident" polls after a reset until the head unit answers.
inline constexpr int ResetPolls = 5;

// The job's parameter for a record: day;month;year;0;mileage;dealer;agent;0xS;N; then
// for each item bit set, in ascending order, code;0x1;0;0; (no leading zeros, nothing
// quoted).
std::string BuildHistoryEntry(const store::TServiceRecord& record);

// The reset policy of a full list (the settings allow at most one of the two).
struct TTransferPolicy {
  bool rebootAfterEach = false;
  bool rebootAfterLast = false;
};

// Sends one record; no reset follows, whatever the settings. True when it was stored.
bool SendCurrentService(THeadUnitContext& context, const store::TServiceRecord& record);

// Sends the records in the order given (a vehicle's list, newest first), stopping at
// the first job error; the progress bar counts the records sent. After a reset the
// runtime is started again before the head unit is polled and the next record goes.
// True when every record was stored.
bool SendFullServiceList(THeadUnitContext& context, const std::vector<store::TServiceRecord>& records,
                         const TTransferPolicy& policy, TProgressView& view);

}  // namespace headunit

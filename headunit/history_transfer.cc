#include "headunit/history_transfer.h"

#include "dbengine/tables/date_time_codec.h"
#include "headunit/head_unit_commands.h"
#include "store/service_items.h"
#include "store/service_status.h"

namespace headunit {

namespace {

// Runs the add job for one record and logs what the head unit answered; false (with
// the Error line) when the job failed.
bool SendEntry(THeadUnitContext& context, const store::TServiceRecord& record) {
  TEdiabasApi& api = context.api;
  api.ApiJob(HeadUnitSgbd, HistoryAddJob, BuildHistoryEntry(record), "");
  context.log.AddLog(LogKind::Process,
                     "Send - " + hdb::DateText(record.DAT) + " - " + api.ApiResultText("STAT_SH_ADD_TEXT", 1));
  const TApiError error = api.ApiErrorCode();
  if (error.code > 0) {
    context.log.AddLog(LogKind::Error, "Stop process! " + error.text);
    return false;
  }
  return true;
}

void ReportSuccess(THeadUnitContext& context) {
  context.log.AddLog(LogKind::Process, "Success");
  context.dialogs.ShowMessage("Success", AppCaption, TMessageIcon::None);
}

// After a reset: wait for the head unit to come back, then poll it until it answers.
// A unit that stays silent is not reported; the transfer goes on.
void AwaitRestart(THeadUnitContext& context) {
  TEdiabasApi& api = context.api;
  context.clock.Sleep(AfterResetPause);
  // The reset ended the runtime's handle; the polls and the next records need a new one.
  api.ApiInit();
  for (int poll = 1; poll <= ResetPolls; ++poll) {
    api.ApiJob(HeadUnitSgbd, "ident", "", "");
    api.ApiResultText("JOB_STATUS", 1);
    if (api.ApiErrorCode().code <= 0) break;
    context.clock.Sleep(SilentPollPause);
  }
}

}  // namespace

std::string BuildHistoryEntry(const store::TServiceRecord& record) {
  int year = 0, month = 0, day = 0;
  hdb::DecodeDayNumber(record.DAT, year, month, day);
  std::string items;
  int count = 0;
  for (int bit = 0; bit < store::ServiceItemBits; ++bit) {
    if (!store::HasItem(record.SSTAT, bit)) continue;
    items += ";" + std::string(store::ServiceItems[static_cast<std::size_t>(bit)].code) + ";0x1;0;0";
    ++count;
  }
  items = "0x" + std::to_string(store::StatusOf(record.SSTAT)) + ";" + std::to_string(count) + items;
  return std::to_string(day) + ";" + std::to_string(month) + ";" + std::to_string(year) + ";0;" +
         std::to_string(record.MLG) + ";" + std::to_string(record.THND) + ";" + record.NHND + ";" + items + ";";
}

bool SendCurrentService(THeadUnitContext& context, const store::TServiceRecord& record) {
  if (!RuntimeLoaded(context)) return false;
  TEdiabasApi& api = context.api;
  api.ApiInit();
  const bool stored = SendEntry(context, record);
  api.ApiEnd();
  if (stored) ReportSuccess(context);
  return stored;
}

bool SendFullServiceList(THeadUnitContext& context, const std::vector<store::TServiceRecord>& records,
                         const TTransferPolicy& policy, TProgressView& view) {
  if (!RuntimeLoaded(context)) return false;
  TEdiabasApi& api = context.api;
  view.SetProgressMaximum(static_cast<int>(records.size()));
  view.SetProgressPosition(0);
  api.ApiInit();
  for (const store::TServiceRecord& record : records) {
    if (!SendEntry(context, record)) {
      api.ApiEnd();
      view.SetProgressPosition(0);
      return false;
    }
    context.clock.Sleep(AfterEntryPause);
    if (policy.rebootAfterEach) {
      RebootHeadUnit(context);
      AwaitRestart(context);
    }
    view.SetProgressPosition(view.ProgressPosition() + 1);
    view.ProcessEvents();
  }
  if (policy.rebootAfterLast) RebootHeadUnit(context);
  api.ApiEnd();
  ReportSuccess(context);
  view.SetProgressPosition(0);
  return true;
}

}  // namespace headunit

#include "headunit/head_unit_commands.h"

#include <string>

namespace headunit {

void RebootHeadUnit(THeadUnitContext& context) {
  if (!RuntimeLoaded(context)) return;
  TEdiabasApi& api = context.api;
  api.ApiInit();
  bool acknowledged = false;
  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    api.ApiJob(HeadUnitSgbd, "steuergeraete_reset", "", "");
    // Only the response byte counts; the job's error code is not consulted.
    std::vector<unsigned char> response = api.ApiResultBinary("_RESPONSE", 1);
    if (!response.empty() && response[0] == ResetAcknowledged) {
      context.log.AddLog(LogKind::Process, "Reboot - OK");
      acknowledged = true;
      break;
    }
    context.log.AddLog(LogKind::Process, "Try reboot " + std::to_string(attempt));
  }
  if (!acknowledged) context.log.AddLog(LogKind::Error, "Reboot failure.");
  api.ApiEnd();
}

void EraseServiceHistory(THeadUnitContext& context, bool rebootAfterClean) {
  if (!RuntimeLoaded(context)) return;
  TEdiabasApi& api = context.api;
  api.ApiInit();
  TApiError error;
  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    api.ApiJob(HeadUnitSgbd, "steuern_servicehistory_erase", "", "");
    std::string status = api.ApiResultText("JOB_STATUS", 1);
    error = api.ApiErrorCode();
    if (error.code == 0) {
      context.log.AddLog(LogKind::System, "Service history erase - " + status);
      if (rebootAfterClean) RebootHeadUnit(context);
      break;
    }
  }
  if (error.code != 0) context.log.AddLog(LogKind::Error, "Service history erase - " + error.text);
  api.ApiEnd();
}

}  // namespace headunit

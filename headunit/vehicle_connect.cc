#include "headunit/vehicle_connect.h"

namespace headunit {

namespace {

void StepProgress(TConnectView& view) {
  view.SetProgressPosition(view.ProgressPosition() + 1);
  view.ProcessEvents();
}

}  // namespace

TConnectResult ConnectVehicle(THeadUnitContext& context, TConnectView& view) {
  TEdiabasApi& api = context.api;
  TConnectResult result;
  if (!RuntimeLoaded(context)) return result;
  if (!api.ApiInit()) {
    context.log.AddLog(LogKind::Error, "Ediabas.ini - interface not correct");
    return result;
  }
  result.runtimeReady = true;
  view.SetProgressMaximum(15);
  view.SetProgressPosition(0);

  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    StepProgress(view);
    api.ApiJob(AccessSystemSgbd, "status_fahrgestellnummer", "", "");
    result.vin = api.ApiResultText("STAT_FGNR17_WERT", 1);
    if (api.ApiErrorCode().code == 0 && !result.vin.empty()) {
      view.ShowVin(result.vin);
      context.log.AddLog(LogKind::System, "FGNR : " + result.vin);
      break;
    }
  }
  view.SetProgressPosition(5);
  view.ProcessEvents();

  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    StepProgress(view);
    api.ApiJob(AccessSystemSgbd, "status_kilometerstand", "", "");
    std::string mileage = api.ApiResultText("STAT_KILOMETERSTAND_WERT", 1);
    if (api.ApiErrorCode().code == 0) {
      view.ShowMileage(mileage);
      break;
    }
  }
  view.SetProgressPosition(10);
  view.ProcessEvents();

  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    StepProgress(view);
    api.ApiJob(HeadUnitSgbd, "cps_lesen", "", "");
    std::string cps = api.ApiResultText("CPS", 1);
    if (api.ApiErrorCode().code == 0) {
      view.ShowHeadUnitType(api.ApiResultText("VARIANTE", 0));
      if (!cps.empty() && result.vin.find(cps) != std::string::npos)
        context.log.AddLog(LogKind::System, "CPS correct");
      else
        context.log.AddLog(LogKind::Error, "CPS not correct");
      break;
    }
  }

  result.finalError = api.ApiErrorCode();
  api.ApiEnd();
  view.SetProgressPosition(0);
  view.ProcessEvents();
  if (result.finalError.code > 0) context.log.AddLog(LogKind::Error, result.finalError.text);
  return result;
}

}  // namespace headunit

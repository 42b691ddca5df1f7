#include "headunit/partner_data.h"

namespace headunit {

namespace {

// One try of a partner-data job: the job, its "JOB_STATUS" (not used) and the error
// code. True when the runtime reports no error.
bool RunTry(TEdiabasApi& api, const char* job, const std::string& parameter) {
  api.ApiJob(HeadUnitSgbd, job, parameter, "");
  api.ApiResultText("JOB_STATUS", 1);
  return api.ApiErrorCode().code == 0;
}

}  // namespace

std::string PartnerBlock(const TPartnerData& partner) {
  return "ID;0xD0D5;" + partner.Name + ";" + partner.Street + ";" + partner.City + ";" + partner.Country + ";" +
         partner.Telephone + ";;" + partner.Name + ";;;";
}

std::string TelephoneNumbersParameter(const TTelephoneNumbers& numbers, const std::string& telephone) {
  return numbers.standby + " ;" + telephone + ";" + numbers.passo + " ;" + numbers.hotline + " ;";
}

void SyncPartnerData(THeadUnitContext& context, const TPartnerData& partner) {
  if (!RuntimeLoaded(context)) return;
  TEdiabasApi& api = context.api;
  api.ApiInit();
  bool differs = false;

  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    if (!RunTry(api, "status_lesen", "ID;0xD0D5")) continue;
    if (api.ApiResultText("STAT_NAME_TEXT", 1) != partner.Name) differs = true;
    if (api.ApiResultText("STAT_TELEPHONE_NUMBER_TEXT", 1) != partner.Telephone) differs = true;
    break;
  }

  TTelephoneNumbers numbers;
  bool numbersRead = false;
  for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
    if (!RunTry(api, "lesen_telefonnummern", "")) continue;
    numbers.standby = api.ApiResultText("STAT_NR_BEREITSCHAFTSDIENST", 1);
    numbers.homeDealer = api.ApiResultText("STAT_NR_HEIMATHAENDLER", 1);
    numbers.passo = api.ApiResultText("STAT_NR_PASSO", 1);
    numbers.hotline = api.ApiResultText("STAT_NR_HOTLINE", 1);
    numbersRead = true;
    if (numbers.homeDealer != partner.Telephone) differs = true;
    break;
  }

  if (differs && context.dialogs.Ask("Data is not equal.\n\rTransfer?", AppCaption, TMessageIcon::Information,
                                     TDialogButtons::OkCancel) == TDialogAnswer::Ok) {
    // The write carries the unit's other three numbers back unchanged; numbers that
    // could not be read would be written as empty and so erased in the unit.
    if (numbersRead) {
      const std::string parameter = TelephoneNumbersParameter(numbers, partner.Telephone);
      for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
        if (!RunTry(api, "schreiben_telefonnummern", parameter)) continue;
        context.dialogs.ShowMessage("tlf", AppCaption, TMessageIcon::None);
        context.log.AddLog(LogKind::Process, "Telephone number - OK");
        break;
      }
    } else {
      context.log.AddLog(LogKind::Error, "Telephone number - not read from the head unit, not written");
    }

    const std::string block = PartnerBlock(partner);
    for (int attempt = 1; attempt <= JobAttempts; ++attempt) {
      if (!RunTry(api, "steuern", block)) continue;
      context.dialogs.ShowMessage(block, AppCaption, TMessageIcon::None);
      context.log.AddLog(LogKind::Process, "Partner Data - OK");
      break;
    }
  }
  api.ApiEnd();
}

}  // namespace headunit

// What every head-unit operation works with: the runtime binding, the activity log,
// the dialogs and the clock. The main window owns all four and hands this bundle to
// the operations; it owns nothing itself.
#pragma once

#include "headunit/clock.h"
#include "headunit/dialogs.h"
#include "headunit/ediabas_api.h"
#include "headunit/log_sink.h"

namespace headunit {

inline constexpr char HeadUnitSgbd[] = "G_MMI";
inline constexpr char AccessSystemSgbd[] = "G_CAS";
// Every job is tried this many times until it succeeds.
inline constexpr int JobAttempts = 5;

struct THeadUnitContext {
  TEdiabasApi& api;
  TLogSink& log;
  TDialogs& dialogs;
  TClock& clock;
};

// Every head-unit command asks this first. Without a loaded runtime each job would
// "pass" with empty results, so the command would report what never happened: instead
// this logs the one Error line that says the runtime is not loaded, and the command
// stops.
bool RuntimeLoaded(THeadUnitContext& context);

}  // namespace headunit

#include "headunit/head_unit_context.h"

namespace headunit {

bool RuntimeLoaded(THeadUnitContext& context) {
  if (context.api.RuntimeLoaded()) return true;
  context.log.AddLog(LogKind::Error, "Runtime not loaded - " + context.api.LoadError());
  return false;
}

}  // namespace headunit

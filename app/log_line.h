// The text of one activity log line: "hh.mm.ss.zzz - [Kind] - message".
#pragma once

#include <string>

#include "headunit/clock.h"
#include "headunit/log_sink.h"

namespace app {

std::string FormatLogLine(const headunit::TTimeOfDay& time, headunit::LogKind kind, const std::string& message);

}  // namespace app

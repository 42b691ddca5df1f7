// The activity log as the head-unit operations see it: one call per line. The main
// window implements it; tests record the lines. Messages are Windows-1252 text.
#pragma once

#include <cstdint>
#include <string>

namespace headunit {

enum class LogKind : std::uint8_t { System = 0, Process = 1, Error = 2 };

// The label written into a log line for the kind.
const char* LogKindLabel(LogKind kind);

class TLogSink {
 public:
  virtual ~TLogSink() = default;
  virtual void AddLog(LogKind kind, const std::string& message) = 0;
};

}  // namespace headunit

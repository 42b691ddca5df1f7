#include "headunit/log_sink.h"

namespace headunit {

const char* LogKindLabel(LogKind kind) {
  switch (kind) {
    case LogKind::System: return "System";
    case LogKind::Process: return "Process";
    case LogKind::Error: return "Error";
  }
  return "System";
}

}  // namespace headunit

// EHDBEngineError, the error a table component raises when a write operation of its
// cursor (edit, post, cancel, delete) leaves a non-zero result code: the message is
// "HDB Engine Error # " + the code + " " + the code's text (for -8 the text the cursor
// kept, a constraint's or write's own message).
//
// A plain value; thread-safe.
#pragma once

#include <cstdint>
#include <string>

#include "dbengine/components/database_error.h"

namespace hdb {

class EHDBEngineError : public EDatabaseError {
 public:
  EHDBEngineError(std::int32_t errorCode, const std::string& text);
  std::int32_t ErrorCode() const noexcept { return errorCode_; }
  const char* ClassName() const noexcept override { return "EHDBEngineError"; }

 private:
  std::int32_t errorCode_;
};

}  // namespace hdb

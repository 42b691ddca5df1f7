// EDatabaseError, the error of the dataset layer: a state, field or conversion check
// that fails before the engine is asked (a required field left empty, a field written
// in browse state, a text that is no number). Its message is the text alone, without
// a native error number. ExceptionClassName names the class of any error the
// components raise, for captions that show it.
//
// A plain value; thread-safe.
#pragma once

#include <exception>
#include <stdexcept>
#include <string>

namespace hdb {

class EDatabaseError : public std::runtime_error {
 public:
  explicit EDatabaseError(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const noexcept { return "EDatabaseError"; }
};

// "EHDBException", "EHDBEngineError", "EDatabaseError", or "Exception" for any other.
const char* ExceptionClassName(const std::exception& error) noexcept;

}  // namespace hdb

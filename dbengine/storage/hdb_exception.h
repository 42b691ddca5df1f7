// EHDBException, the engine's one error: a five-digit native error number and a
// message built from a pattern of the message catalog (error_messages.h).
// what() gives "<message> - Native error: <number in five digits>".
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "dbengine/storage/error_messages.h"

namespace hdb {

// One argument of a message pattern: %d, %u and %x take numbers, %s takes text.
using FormatArg = std::variant<std::int64_t, std::string>;

template <class T>
FormatArg ToFormatArg(T&& v) {
  using D = std::decay_t<T>;
  if constexpr (std::is_same_v<D, bool>) {
    return FormatArg{static_cast<std::int64_t>(v)};
  } else if constexpr (std::is_integral_v<D> || std::is_enum_v<D>) {
    return FormatArg{static_cast<std::int64_t>(v)};
  } else {
    return FormatArg{std::string(std::string_view(v))};
  }
}

// Formats a pattern the way the engine's messages expect ("%d", "%s", "%5d", "%-3s",
// "%x", "%%"). A pattern whose arguments do not fit (too few, wrong kind, bad
// directive) gives the pattern itself followed by " Arguments are invalid!".
std::string FormatMessage(std::string_view pattern, const std::vector<FormatArg>& args);

template <class... Args>
std::string Format(std::string_view pattern, Args&&... args) {
  return FormatMessage(pattern, std::vector<FormatArg>{ToFormatArg(std::forward<Args>(args))...});
}

class EHDBException : public std::exception {
 public:
  EHDBException(int nativeError, std::string message);

  int NativeError() const noexcept { return nativeError_; }
  // The message without the native error suffix.
  const std::string& Message() const noexcept { return message_; }
  const char* what() const noexcept override { return full_.c_str(); }

 private:
  int nativeError_;
  std::string message_;
  std::string full_;
};

template <class... Args>
[[noreturn]] void RaiseHDB(int code, std::string_view pattern, Args&&... args) {
  throw EHDBException(code, Format(pattern, std::forward<Args>(args)...));
}

template <class... Args>
[[noreturn]] void RaiseHDB(const THDBErrorDef& def, Args&&... args) {
  RaiseHDB(def.Code, def.Text, std::forward<Args>(args)...);
}

}  // namespace hdb

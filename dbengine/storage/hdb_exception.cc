#include "dbengine/storage/hdb_exception.h"

#include <cstdio>
#include <optional>

namespace hdb {

namespace {

std::optional<std::string> TryFormat(std::string_view pattern, const std::vector<FormatArg>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c != '%') {
      out.push_back(c);
      continue;
    }
    if (++i >= pattern.size()) return std::nullopt;
    if (pattern[i] == '%') {
      out.push_back('%');
      continue;
    }
    bool leftAlign = false;
    if (pattern[i] == '-') {
      leftAlign = true;
      if (++i >= pattern.size()) return std::nullopt;
    }
    int width = 0;
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') width = width * 10 + (pattern[i++] - '0');
    int precision = -1;
    if (i < pattern.size() && pattern[i] == '.') {
      precision = 0;
      ++i;
      while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') precision = precision * 10 + (pattern[i++] - '0');
    }
    if (i >= pattern.size() || next >= args.size()) return std::nullopt;
    char type = pattern[i];
    const FormatArg& arg = args[next++];
    std::string piece;
    switch (type) {
      case 'd':
      case 'u':
      case 'x':
      case 'X': {
        const auto* n = std::get_if<std::int64_t>(&arg);
        if (!n) return std::nullopt;
        char buf[32];
        if (type == 'd') {
          std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*n));
        } else if (type == 'u') {
          std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(*n));
        } else {
          std::snprintf(buf, sizeof buf, type == 'x' ? "%llx" : "%llX", static_cast<unsigned long long>(*n));
        }
        piece = buf;
        // Precision on integers is a minimum digit count.
        if (precision > 0) {
          bool neg = !piece.empty() && piece[0] == '-';
          std::string digits = neg ? piece.substr(1) : piece;
          if (static_cast<int>(digits.size()) < precision) digits.insert(0, precision - digits.size(), '0');
          piece = neg ? "-" + digits : digits;
        }
        break;
      }
      case 's': {
        const auto* s = std::get_if<std::string>(&arg);
        if (!s) return std::nullopt;
        piece = precision >= 0 && static_cast<std::size_t>(precision) < s->size() ? s->substr(0, precision) : *s;
        break;
      }
      default:
        return std::nullopt;
    }
    if (static_cast<int>(piece.size()) < width) {
      std::string pad(width - piece.size(), ' ');
      piece = leftAlign ? piece + pad : pad + piece;
    }
    out += piece;
  }
  return out;
}

}  // namespace

std::string FormatMessage(std::string_view pattern, const std::vector<FormatArg>& args) {
  if (auto text = TryFormat(pattern, args)) return *text;
  return std::string(pattern) + " Arguments are invalid!";
}

EHDBException::EHDBException(int nativeError, std::string message)
    : nativeError_(nativeError), message_(std::move(message)) {
  char code[16];
  std::snprintf(code, sizeof code, "%05d", nativeError_);
  full_ = message_ + " - Native error: " + code;
}

}  // namespace hdb

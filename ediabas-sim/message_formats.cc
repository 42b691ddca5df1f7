#include "ediabas-sim/message_formats.h"

#include <algorithm>
#include <array>

namespace ediabas_sim {

namespace {

// The maintenance item codes the head unit knows.
constexpr std::array<int, 14> KnownItemCodes = {1, 4, 11, 12, 10, 2, 6, 3, 5, 100, 32, 33, 20, 21};

// A decimal number without sign or leading zeros, within [low, high].
bool IsCanonicalDecimal(const std::string& text, long long low, long long high, long long* value = nullptr) {
  if (text.empty() || text.size() > 18) return false;
  if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  if (text.size() > 1 && text[0] == '0') return false;
  long long number = std::stoll(text);
  if (number < low || number > high) return false;
  if (value) *value = number;
  return true;
}

int DaysInMonth(long long month, long long year) {
  static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

std::string TrimBlanks(const std::string& text) {
  std::size_t begin = text.find_first_not_of(' ');
  if (begin == std::string::npos) return {};
  std::size_t end = text.find_last_not_of(' ');
  return text.substr(begin, end - begin + 1);
}

}  // namespace

std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    std::size_t semicolon = text.find(';', start);
    if (semicolon == std::string::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, semicolon - start));
    start = semicolon + 1;
  }
}

std::optional<std::string> CheckHistoryEntry(const std::string& entry, std::string& reason) {
  if (entry.empty() || entry.back() != ';') {
    reason = "entry does not end with ';'";
    return std::nullopt;
  }
  std::vector<std::string> f = SplitFields(entry.substr(0, entry.size() - 1));
  if (f.size() < 9) {
    reason = "entry has too few fields";
    return std::nullopt;
  }
  long long day = 0, month = 0, year = 0, count = 0;
  if (!IsCanonicalDecimal(f[1], 1, 12, &month) || !IsCanonicalDecimal(f[2], 1000, 9999, &year) ||
      !IsCanonicalDecimal(f[0], 1, 31, &day) || day > DaysInMonth(month, year)) {
    reason = "bad date";
    return std::nullopt;
  }
  if (f[3] != "0") {
    reason = "field 4 is not 0";
    return std::nullopt;
  }
  if (!IsCanonicalDecimal(f[4], 0, 9999999999LL)) {
    reason = "bad mileage";
    return std::nullopt;
  }
  if (f[5] != "0" && f[5] != "1") {
    reason = "bad dealer flag";
    return std::nullopt;
  }
  if (f[6].empty() || f[6].size() > 7) {
    reason = "bad agent number";
    return std::nullopt;
  }
  if (f[7].size() != 3 || f[7][0] != '0' || f[7][1] != 'x' || f[7][2] < '0' || f[7][2] > '3') {
    reason = "bad service status";
    return std::nullopt;
  }
  if (!IsCanonicalDecimal(f[8], 0, static_cast<long long>(KnownItemCodes.size()), &count)) {
    reason = "bad item count";
    return std::nullopt;
  }
  if (f.size() != 9 + 4 * static_cast<std::size_t>(count)) {
    reason = "item groups do not match the count";
    return std::nullopt;
  }
  for (long long i = 0; i < count; ++i) {
    const std::size_t at = 9 + 4 * static_cast<std::size_t>(i);
    long long code = 0;
    if (!IsCanonicalDecimal(f[at], 0, 999, &code) ||
        std::find(KnownItemCodes.begin(), KnownItemCodes.end(), code) == KnownItemCodes.end()) {
      reason = "unknown item code";
      return std::nullopt;
    }
    if (f[at + 1] != "0x1" || f[at + 2] != "0" || f[at + 3] != "0") {
      reason = "bad item group";
      return std::nullopt;
    }
  }
  return entry;
}

std::optional<TPartnerRecord> ParsePartnerBlock(const std::string& block, std::string& reason) {
  std::vector<std::string> f = SplitFields(block);
  if (f.size() != 12 || f[0] != "ID" || f[1] != "0xD0D5") {
    reason = "not a partner record";
    return std::nullopt;
  }
  if (!f[7].empty() || f[8] != f[2] || !f[9].empty() || !f[10].empty() || !f[11].empty()) {
    reason = "partner record fields out of place";
    return std::nullopt;
  }
  // The unit's fields hold no more than the workshop data can carry.
  if (f[2].size() > 30 || f[3].size() > 30 || f[4].size() > 20 || f[5].size() > 20 || f[6].size() > 12) {
    reason = "partner record field too long";
    return std::nullopt;
  }
  return TPartnerRecord{f[2], f[3], f[4], f[5], f[6]};
}

std::optional<TPhoneNumbers> ParsePhoneNumbers(const std::string& parameter, std::string& reason) {
  std::vector<std::string> f = SplitFields(parameter);
  if (f.size() != 5 || !f[4].empty()) {
    reason = "expected four numbers";
    return std::nullopt;
  }
  for (std::string& number : f) {
    number = TrimBlanks(number);
    if (number.size() > 20) {
      reason = "number too long";
      return std::nullopt;
    }
  }
  return TPhoneNumbers{f[0], f[1], f[2], f[3]};
}

}  // namespace ediabas_sim

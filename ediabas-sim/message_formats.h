// The parameter formats the simulated head unit accepts, checked as a real control unit
// would check them before it stores anything: the service history entry, the partner
// record and the telephone numbers. Each check returns nullopt and a short reason when
// the text does not follow the format.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace ediabas_sim {

// Splits at every ';', keeping empty pieces ("a;;" gives "a", "", "").
std::vector<std::string> SplitFields(const std::string& text);

// day;month;year;0;mileage;dealer;agent;0xS;N; then N groups code;0x1;0;0;
// Returns the entry unchanged when it is well formed.
std::optional<std::string> CheckHistoryEntry(const std::string& entry, std::string& reason);

struct TPartnerRecord {
  std::string name;
  std::string street;
  std::string city;
  std::string country;
  std::string telephone;
};

// ID;0xD0D5;name;street;city;country;telephone;;name;;;
std::optional<TPartnerRecord> ParsePartnerBlock(const std::string& block, std::string& reason);

struct TPhoneNumbers {
  std::string standby;
  std::string homeDealer;
  std::string passo;
  std::string hotline;
};

// Four numbers, each followed by ';' (blanks around a number are not part of it).
std::optional<TPhoneNumbers> ParsePhoneNumbers(const std::string& parameter, std::string& reason);

}  // namespace ediabas_sim

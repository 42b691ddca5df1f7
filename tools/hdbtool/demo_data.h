// The content of a demo folder: a workshop's fleet of vehicles with their service
// history as the record editor would have stored it (a 17-character upper-case VIN, a
// status of 1 to 3 and at least one item per record, an agent number, no two records
// of one vehicle on one date, dates and mileages growing), the workshop's settings, and
// the simulated car standing in the workshop: one of the vehicles, its odometer a
// little beyond its last service. Drawn from a fixed seed, so every demo is the same.
//
// Plain values made by a pure function; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace hdbtool {

struct TDemoRecord {
  std::string Vin;
  std::int32_t Date = 0;  // day number, 0001-01-01 = 1
  std::int64_t Mileage = 0;
  std::uint16_t Dealer = 0;
  std::string Agent;
  std::uint16_t Status = 0;  // SSTAT
};

struct TDemoPartner {
  std::string Name, Telephone, Country, City, Street, AliasName, EMail, Url;
};

struct TDemoData {
  std::vector<std::string> Vins;
  // Vehicle by vehicle, each one's records oldest first.
  std::vector<TDemoRecord> Records;
  TDemoPartner Workshop;
  std::size_t CarVehicle = 0;  // index into Vins
  std::int64_t CarMileage = 0;
};

inline constexpr std::size_t DemoVehicleCount = 36;

TDemoData MakeDemoData();

// The simulated car file (ediabas-sim.ini) for the data's car.
std::string DemoCarFile(const TDemoData& data);

}  // namespace hdbtool
